#include "mox030/ledgerpage.h"

#include "mox030/sub_prt.h"

#include "base/format.h"

using namespace Qt::StringLiterals;

namespace mox030 {
namespace {

// One amount cell: amount number, column, whether it sits on the upper line Y - 1, width.
struct Cell {
    int kin;
    int x;
    bool upper;
    short width;
};

// Group A: pay items, written for rows 1 to 13, 18 and 19 (amount 28 is written apart).
constexpr Cell kGroupA[] = {
    {1, 13, false, 10}, {2, 23, false, 8},   {3, 31, false, 8},  {4, 39, false, 8},
    {5, 47, true, 8},   {6, 47, false, 8},   {7, 55, false, 8},  {8, 63, true, 8},
    {12, 63, false, 8}, {13, 71, true, 8},   {14, 71, false, 8}, {9, 79, false, 8},
    {10, 87, false, 8}, {11, 95, false, 8},  {17, 103, true, 8}, {18, 103, false, 8},
    {16, 111, true, 8}, {15, 111, false, 8},
};

// Group B: bonus, totals and deductions, written for every printed row.
constexpr Cell kGroupB[] = {
    {19, 122, true, 9},   {20, 122, false, 9}, {23, 143, false, 8},
    {24, 151, false, 8},  {25, 159, false, 8}, {26, 167, false, 8},
    {22, 132, false, 10}, {29, 183, false, 8}, {30, 191, false, 10},
};

constexpr int kPrintedRows[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19};

constexpr int kYearEndX = 175;
constexpr short kYearEndWidth = 8;

// Every text of the page carries the same operands: 3, 0, 100 and 100.
void text(SUB_PRT& prt, Currency x, Currency y, const QString& s)
{
    prt.prsOvlText(x, y, 3, Currency(), 100, 100, s);
}

QString amount(Currency v, short width, bool showZero, bool minus = true)
{
    return prfOvlNum(v, width, 0, minus, /*comma=*/true, /*hashFill=*/true, showZero);
}

void writeCells(SUB_PRT& prt, const RuikeiRow& row, const auto& cells, Currency y, bool showZero)
{
    const Currency upper = y - Currency::fromYen(1);
    for (const Cell& c : cells)
        text(prt, Currency::fromYen(c.x), c.upper ? upper : y,
             amount(row.Kin(c.kin), c.width, showZero));
}

} // namespace

Currency prfLinePos(int row)
{
    // Rows 1 to 13 are two lines apart from 11.5 on; the bonus rows and totals stand apart.
    const Currency half = Currency::fromRaw(Currency::kScale / 2);
    if (row >= 1 && row <= 13)
        return Currency::fromYen(11 + 2 * (row - 1)) + half;
    switch (row) {
    case 14:
        return Currency::fromYen(39) + half;
    case 15:
        return Currency::fromYen(41) + half;
    case 17:
        return Currency::fromYen(43) + half;
    case 18:
        return Currency::fromYen(47) + half;
    case 19:
        return Currency::fromYen(51) + half;
    default:
        return Currency();
    }
}

QString syokuName(const SyokuMei& strSyokuMei, int syosyu)
{
    if (syosyu < 1 || syosyu > 10)
        return QString(20, u' ');
    return strSyokuMei[static_cast<std::size_t>(syosyu)];
}

void prsPrint_Header(SUB_PRT& prt, const LedgerHeader& header, const SyokuMei& strSyokuMei)
{
    const Currency line1 = *Currency::parse(u"5.5");
    const Currency line2 = *Currency::parse(u"6.5");
    text(prt, Currency::fromYen(12), line1, header.strNendoPrt);
    text(prt, Currency::fromYen(35), line1, mox::format(header.SYOKCD, u"0000000").right(7));
    text(prt, Currency::fromYen(20), line2, syokuName(strSyokuMei, header.SYOSYU));
    text(prt, Currency::fromYen(35), line2, header.SIMKNJ);
    text(prt, Currency::fromYen(166), line2, header.GKNAME);
    text(prt, Currency::fromYen(188), line2, u'(' + header.SYOZOKU + u')');
}

void prsPrint_Meisai(SUB_PRT& prt, Ruikei& grid)
{
    for (int r : kPrintedRows) {
        RuikeiRow& row = grid.row(r);
        const Currency y = prfLinePos(r);
        const bool showZero = r == 13 || r == 17 || r == 19 || row.DataFlag;
        if (r != 14 && r != 15 && r != 17) {
            writeCells(prt, row, kGroupA, y, showZero);
            // The year-end figure: a refund on the upper line, a further charge (shown as its
            // magnitude) on the lower line, which also counts among the row's deductions.
            const Currency f = row.Kin(28);
            const Currency x = Currency::fromYen(kYearEndX);
            const Currency upper = y - Currency::fromYen(1);
            if (f < Currency()) {
                if (r != 19) {
                    row.Kin(29) = row.Kin(29) - f;
                    row.Kin(30) = row.Kin(22) - row.Kin(29);
                }
                text(prt, x, upper, amount(Currency(), kYearEndWidth, showZero, false));
                text(prt, x, y, amount(-f, kYearEndWidth, showZero, false));
            } else {
                text(prt, x, upper, amount(f, kYearEndWidth, showZero, false));
                text(prt, x, y, amount(Currency(), kYearEndWidth, showZero, false));
            }
        }
        writeCells(prt, row, kGroupB, y, showZero);
    }
}

} // namespace mox030
