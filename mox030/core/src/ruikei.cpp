#include "mox030/ruikei.h"

namespace mox030 {

const std::array<KinField, 33> kKinFields{{
    {1, u"KYURYO"},  {1, u"KTYOGK"},  {2, u"STYOGK"},  {3, u"CHIIKI"},  {4, u"KTOKUB"},
    {5, u"TUKINH"},  {6, u"TUKINK"},  {7, u"JYUKYO"},  {8, u"FUYOTE"},  {9, u"HEKICI"},
    {10, u"HEKJUN"}, {11, u"TOKGYO"}, {12, u"TANSIN"}, {13, u"SYUKUH"}, {13, u"KISYUH"},
    {14, u"SYUKUK"}, {14, u"KISYUK"}, {15, u"KYUJIT"}, {16, u"ZANGYO"}, {17, u"TAGAKU"},
    {18, u"JIDOU"},  {19, u"KIMATU"}, {19, u"kmzoge"}, {20, u"KINBEN"}, {21, u"KAZEIG"},
    {22, u"SSIKYU"}, {23, u"KENKO"},  {24, u"KOSEI"},  {25, u"KOYOU"},  {26, u"SYOTOK"},
    {28, u"NENFUS"}, {29, u"KOUGOK"}, {30, u"SASIHK"},
}};

namespace {

constexpr int kMonthsTotal = 13;
constexpr int kBonusTotal = 17;
constexpr int kAnnual = 19;
constexpr int kDecember = 9;
constexpr int kSeparate = 18;
constexpr int kYearEnd = 28;
constexpr int kDeductions = 29;
constexpr int kCash = 30;

void addInto(RuikeiRow& row, const KyuyoRecord& rec, int from, int to)
{
    for (int n = from; n <= to; ++n)
        row.Kin(n) += rec.Kin(n);
}

} // namespace

short prfRowNo(short kind, short seq, QStringView ym)
{
    if (kind == 1 && seq == 8)
        return kRowLeftOut;
    const QStringView month = ym.size() >= 6 ? ym.mid(4, 2) : QStringView();
    switch (kind) {
    case 1:
    case 4: {
        // The fiscal year starts in April: April is row 1, March row 12.
        static constexpr const char16_t* kMonths[] = {u"04", u"05", u"06", u"07", u"08", u"09",
                                                      u"10", u"11", u"12", u"01", u"02", u"03"};
        for (short i = 0; i < 12; ++i) {
            if (month == QStringView(kMonths[i]))
                return static_cast<short>(i + 1);
        }
        return 0;
    }
    case 2:
        if (month == u"06")
            return 14;
        if (month == u"12")
            return 15;
        if (month == u"03")
            return kRowLeftOut;
        return 0;
    case 5:
        switch (seq) {
        case 3:
            return 16;
        case 6:
            return 14;
        case 12:
            return 15;
        default:
            return 0;
        }
    case 3:
        return kSeparate;
    default:
        return 0;
    }
}

bool addKyuyoRecord(Ruikei& grid, const KyuyoRecord& rec)
{
    const short r = prfRowNo(rec.KYUSYU, rec.KYUSEQ, QString::number(rec.SKYUYM));
    if (r == kRowLeftOut || r == 0)
        return false;
    RuikeiRow& row = grid.row(r);
    addInto(row, rec, 1, 26);
    row.Kin(kYearEnd) += rec.Kin(kYearEnd);

    // The annual year-end figure follows the December salary, then the separate kind-3 payment:
    // a positive figure on either side replaces it, two figures of 0 or less add up.
    if ((rec.KYUSYU == 1 && rec.KYUSEQ == 1) || rec.KYUSYU == 3) {
        Currency& annual = grid.row(kAnnual).Kin(kYearEnd);
        const Currency nenfus = rec.Kin(kYearEnd);
        if (r == kDecember) {
            annual = nenfus;
        } else if (r == kSeparate) {
            if (annual > Currency() || nenfus > Currency())
                annual = nenfus;
            else
                annual += nenfus;
        }
    }

    row.Kin(kDeductions) += rec.Kin(kDeductions);
    row.Kin(kCash) += rec.Kin(kCash);
    row.DataFlag = true;

    if (r >= 1 && r <= 12) {
        RuikeiRow& months = grid.row(kMonthsTotal);
        addInto(months, rec, 1, 26);
        addInto(months, rec, kYearEnd, kCash);
    } else if (r == 14 || r == 15) {
        RuikeiRow& bonus = grid.row(kBonusTotal);
        addInto(bonus, rec, 19, 26);
        addInto(bonus, rec, kDeductions, kCash);
    }
    return true;
}

void finishRuikei(Ruikei& grid)
{
    RuikeiRow& annual = grid.row(kAnnual);
    for (int n = 1; n <= 26; ++n)
        annual.Kin(n) = grid.row(kMonthsTotal).Kin(n) + grid.row(kBonusTotal).Kin(n) +
                        grid.row(kSeparate).Kin(n);
    annual.Kin(kDeductions) = annual.Kin(23) + annual.Kin(24) + annual.Kin(25) + annual.Kin(26);
    if (annual.Kin(kYearEnd) < Currency())
        annual.Kin(kDeductions) -= annual.Kin(kYearEnd);
    annual.Kin(kCash) = annual.Kin(22) - annual.Kin(kDeductions);
}

} // namespace mox030
