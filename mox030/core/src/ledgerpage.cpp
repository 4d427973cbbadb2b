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

constexpr int kYearEndX = 175;
constexpr short kYearEndWidth = 8;

// Every text of the page carries the same operands: 3, 0, 100 and 100.
void text(SUB_PRT& prt, Currency x, Currency y, const QString& s)
{
    prt.prsOvlText(x, y, 3, Currency(), 100, 100, s);
}

// The column of the cell at \p x on the upper or lower line.
int columnAt(int x, bool upper)
{
    for (int i = 0; i < kLedgerColumnCount; ++i) {
        const LedgerColumn& c = kLedgerColumns[std::size_t(i)];
        if (c.x == x && c.upper == upper)
            return i;
    }
    Q_UNREACHABLE();
}

void addCells(std::vector<LedgerCell>& out, int r, const RuikeiRow& row, const auto& cells,
              bool showZero)
{
    for (const Cell& c : cells)
        out.push_back({r, columnAt(c.x, c.upper), row.Kin(c.kin), c.width, true, showZero});
}

} // namespace

const std::array<LedgerColumn, kLedgerColumnCount> kLedgerColumns = {{
    {u"給料", 13, false},         {u"教職調整額", 23, false},   {u"地域手当", 31, false},
    {u"管理職手当", 39, false},   {u"通勤非課税", 47, true},    {u"通勤課税", 47, false},
    {u"住居手当", 55, false},     {u"扶養手当", 63, true},      {u"単身赴任", 63, false},
    {u"宿日直非課税", 71, true},  {u"宿日直課税", 71, false},   {u"へき地手当", 79, false},
    {u"準へき地手当", 87, false}, {u"特殊業務手当", 95, false}, {u"多学年担当", 103, true},
    {u"児童手当", 103, false},    {u"時間外勤務", 111, true},   {u"休日勤務", 111, false},
    {u"期末手当", 122, true},     {u"勤勉手当", 122, false},    {u"総支給額", 132, false},
    {u"健康保険", 143, false},    {u"厚生年金", 151, false},    {u"雇用保険", 159, false},
    {u"所得税", 167, false},      {u"年調過納", 175, true},     {u"年調不足", 175, false},
    {u"控除合計", 183, false},    {u"差引支給額", 191, false},
}};

QString ledgerRowCaption(int row)
{
    static const char16_t* const months[] = {u"4月",  u"5月",  u"6月",  u"7月", u"8月", u"9月",
                                             u"10月", u"11月", u"12月", u"1月", u"2月", u"3月"};
    if (row >= 1 && row <= 12)
        return QString::fromUtf16(months[row - 1]);
    switch (row) {
    case 13:
        return u"月計"_s;
    case 14:
        return u"6月賞与"_s;
    case 15:
        return u"12月賞与"_s;
    case 17:
        return u"賞与計"_s;
    case 18:
        return u"差額等"_s;
    case 19:
        return u"年計"_s;
    default:
        return QString();
    }
}

std::vector<LedgerCell> ledgerCells(Ruikei& grid)
{
    std::vector<LedgerCell> cells;
    cells.reserve(kPrintedRows.size() * 30);
    const int refund = columnAt(kYearEndX, true);
    const int charge = columnAt(kYearEndX, false);
    for (int r : kPrintedRows) {
        RuikeiRow& row = grid.row(r);
        const bool showZero = r == 13 || r == 17 || r == 19 || row.DataFlag;
        if (r != 14 && r != 15 && r != 17) {
            addCells(cells, r, row, kGroupA, showZero);
            // The year-end figure: a refund on the upper line, a further charge (shown as its
            // magnitude) on the lower line, which also counts among the row's deductions.
            const Currency f = row.Kin(28);
            if (f < Currency()) {
                if (r != 19) {
                    row.Kin(29) = row.Kin(29) - f;
                    row.Kin(30) = row.Kin(22) - row.Kin(29);
                }
                cells.push_back({r, refund, Currency(), kYearEndWidth, false, showZero});
                cells.push_back({r, charge, -f, kYearEndWidth, false, showZero});
            } else {
                cells.push_back({r, refund, f, kYearEndWidth, false, showZero});
                cells.push_back({r, charge, Currency(), kYearEndWidth, false, showZero});
            }
        }
        addCells(cells, r, row, kGroupB, showZero);
    }
    return cells;
}

QString ledgerCellText(const LedgerCell& cell)
{
    return prfOvlNum(cell.value, cell.width, 0, cell.minus, /*comma=*/true, /*hashFill=*/true,
                     cell.showZero);
}

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

QString codeText(int code)
{
    return mox::format(code, u"0000000").right(7);
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
    text(prt, Currency::fromYen(35), line1, codeText(header.SYOKCD));
    text(prt, Currency::fromYen(20), line2, syokuName(strSyokuMei, header.SYOSYU));
    text(prt, Currency::fromYen(35), line2, header.SIMKNJ);
    text(prt, Currency::fromYen(166), line2, header.GKNAME);
    text(prt, Currency::fromYen(188), line2, u'(' + header.SYOZOKU + u')');
}

void prsPrint_Meisai(SUB_PRT& prt, Ruikei& grid)
{
    prsPrint_Cells(prt, ledgerCells(grid));
}

void prsPrint_Cells(SUB_PRT& prt, const std::vector<LedgerCell>& cells)
{
    for (const LedgerCell& c : cells) {
        const LedgerColumn& column = kLedgerColumns[std::size_t(c.column)];
        const Currency y = prfLinePos(c.row);
        text(prt, Currency::fromYen(column.x), column.upper ? y - Currency::fromYen(1) : y,
             ledgerCellText(c));
    }
}

} // namespace mox030
