#include "mox030/ruikei.h"

#include <gtest/gtest.h>

using namespace mox030;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

KyuyoRecord record(short kind, short seq, int ym)
{
    KyuyoRecord r;
    r.KYUSYU = kind;
    r.KYUSEQ = seq;
    r.SKYUYM = ym;
    return r;
}

// A record whose amount n holds n yen, so each amount's path through the grid is visible.
KyuyoRecord numbered(short kind, short seq, int ym)
{
    KyuyoRecord r = record(kind, seq, ym);
    for (int n = 1; n <= 30; ++n)
        r.Kin(n) = n == 27 ? Currency() : yen(n);
    return r;
}

KyuyoRecord withNenfus(short kind, short seq, int ym, std::int64_t nenfus)
{
    KyuyoRecord r = record(kind, seq, ym);
    r.Kin(28) = yen(nenfus);
    return r;
}

} // namespace

struct RowCase {
    const char* name;
    short kind;
    short seq;
    const char16_t* ym;
    short want;
};

constexpr RowCase kRowCases[] = {
    {"SalaryApril", 1, 1, u"202404", 1},
    {"SalaryDecember", 1, 1, u"202412", 9},
    {"SalaryJanuaryNextYear", 1, 2, u"202501", 10},
    {"SalaryMarch", 1, 1, u"202503", 12},
    {"KindFourJune", 4, 0, u"202406", 3},
    {"SalarySequenceEightLeftOutInApril", 1, 8, u"202404", kRowLeftOut},
    {"SalarySequenceEightLeftOutInDecember", 1, 8, u"202412", kRowLeftOut},
    {"KindFourSequenceEightCounts", 4, 8, u"202405", 2},
    {"SalaryMonthThirteen", 1, 1, u"202413", 0},
    {"ShortMonthText", 1, 1, u"2024", 0},
    {"BonusJune", 2, 0, u"202406", 14},
    {"BonusDecember", 2, 0, u"202412", 15},
    {"BonusMarchLeftOut", 2, 0, u"202503", kRowLeftOut},
    {"BonusJulyNoRow", 2, 0, u"202407", 0},
    {"NumberedBonusThree", 5, 3, u"202503", 16},
    {"NumberedBonusSix", 5, 6, u"202406", 14},
    {"NumberedBonusTwelve", 5, 12, u"202412", 15},
    {"NumberedBonusOtherSequence", 5, 1, u"202406", 0},
    {"SeparateAnyMonth", 3, 7, u"202409", 18},
    {"UnknownKind", 6, 1, u"202404", 0},
};

class RuikeiRowNo : public testing::TestWithParam<RowCase> {};

TEST_P(RuikeiRowNo, MapsKindSequenceAndMonth)
{
    const RowCase& c = GetParam();
    EXPECT_EQ(prfRowNo(c.kind, c.seq, QStringView(c.ym)), c.want);
}

INSTANTIATE_TEST_SUITE_P(All, RuikeiRowNo, testing::ValuesIn(kRowCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(RuikeiSum, MonthsTotalCarriesEveryAmountButBonusTotalOnlyTheBonusColumns)
{
    Ruikei g;
    addKyuyoRecord(g, numbered(1, 1, 202404));
    addKyuyoRecord(g, numbered(1, 2, 202501));
    addKyuyoRecord(g, numbered(2, 0, 202406));
    finishRuikei(g);

    for (int n : {1, 18, 26, 28, 29, 30}) {
        EXPECT_EQ(g.row(1).Kin(n), yen(n)) << n;
        EXPECT_EQ(g.row(10).Kin(n), yen(n)) << n;
        EXPECT_EQ(g.row(13).Kin(n), yen(2 * n)) << n;
    }
    EXPECT_EQ(g.row(14).Kin(1), yen(1)); // the bonus row itself gets every amount
    EXPECT_EQ(g.row(17).Kin(18), Currency());
    EXPECT_EQ(g.row(17).Kin(28), Currency());
    for (int n : {19, 22, 26, 29, 30})
        EXPECT_EQ(g.row(17).Kin(n), yen(n)) << n;

    EXPECT_TRUE(g.row(1).DataFlag);
    EXPECT_TRUE(g.row(14).DataFlag);
    EXPECT_FALSE(g.row(2).DataFlag);
    EXPECT_FALSE(g.row(13).DataFlag);
    EXPECT_FALSE(g.row(17).DataFlag);
    EXPECT_FALSE(g.row(19).DataFlag);
}

TEST(RuikeiSum, AnnualTotalIsRebuiltNotSummed)
{
    Ruikei g;
    KyuyoRecord april = record(1, 1, 202404);
    april.Kin(1) = yen(300'000);
    april.Kin(22) = yen(320'000);
    april.Kin(23) = yen(15'000);
    april.Kin(26) = yen(7'000);
    april.Kin(29) = yen(99'999); // KOUGOK of the record does not reach row 19
    april.Kin(30) = yen(1);
    KyuyoRecord bonus = record(2, 0, 202412);
    bonus.Kin(19) = yen(500'000);
    bonus.Kin(22) = yen(500'000);
    bonus.Kin(24) = yen(40'000);
    KyuyoRecord separate = record(3, 1, 202410);
    separate.Kin(2) = yen(1'000);
    separate.Kin(25) = yen(300);
    for (const KyuyoRecord& r : {april, bonus, separate})
        addKyuyoRecord(g, r);
    finishRuikei(g);

    const RuikeiRow& a = g.row(19);
    EXPECT_EQ(a.Kin(1), yen(300'000));
    EXPECT_EQ(a.Kin(2), yen(1'000));
    EXPECT_EQ(a.Kin(19), yen(500'000));
    EXPECT_EQ(a.Kin(22), yen(820'000));
    // 15,000 + 40,000 + 300 + 7,000
    EXPECT_EQ(a.Kin(29), yen(62'300));
    EXPECT_EQ(a.Kin(30), yen(757'700));
    EXPECT_EQ(a.Kin(27), Currency());
}

TEST(RuikeiSum, LeftOutAndRowlessRecordsChangeNothing)
{
    for (const KyuyoRecord& r : {numbered(1, 8, 202412), numbered(2, 0, 202503),
                                 numbered(2, 0, 202409), numbered(7, 1, 202404)}) {
        Ruikei g;
        EXPECT_FALSE(addKyuyoRecord(g, r));
        finishRuikei(g);
        for (int row = 1; row <= 19; ++row) {
            EXPECT_FALSE(g.row(row).DataFlag) << row;
            for (int n = 1; n <= 30; ++n)
                EXPECT_EQ(g.row(row).Kin(n), Currency()) << row << "/" << n;
        }
    }
}

TEST(RuikeiSum, MarchNumberedBonusFillsRowSixteenOnly)
{
    Ruikei g;
    EXPECT_TRUE(addKyuyoRecord(g, numbered(5, 3, 202503)));
    finishRuikei(g);
    EXPECT_EQ(g.row(16).Kin(20), yen(20));
    EXPECT_TRUE(g.row(16).DataFlag);
    for (int row : {13, 14, 15, 17, 18, 19})
        EXPECT_EQ(g.row(row).Kin(20), Currency()) << row;
    EXPECT_EQ(g.row(19).Kin(29), Currency());
}

TEST(RuikeiYearEnd, DecemberSalaryThenSeparatePayment)
{
    struct Case {
        const char* name;
        std::int64_t december;
        std::int64_t separate;
        std::int64_t want;
    };
    const Case cases[] = {
        {"BothRefundsAddUp", -3000, -500, -3500},
        {"PositiveSeparateReplaces", -3000, 500, 500},
        {"PositiveDecemberIsReplacedEvenByARefund", 2000, -500, -500},
        {"ZeroAndRefundAddUp", 0, -500, -500},
    };
    for (const Case& c : cases) {
        Ruikei g;
        addKyuyoRecord(g, withNenfus(1, 1, 202412, c.december));
        addKyuyoRecord(g, withNenfus(3, 1, 202501, c.separate));
        EXPECT_EQ(g.row(19).Kin(28), yen(c.want)) << c.name;
        // The rows themselves keep their own figures.
        EXPECT_EQ(g.row(9).Kin(28), yen(c.december)) << c.name;
        EXPECT_EQ(g.row(13).Kin(28), yen(c.december)) << c.name;
        EXPECT_EQ(g.row(18).Kin(28), yen(c.separate)) << c.name;
    }
}

TEST(RuikeiYearEnd, OnlySequenceOneDecemberSalarySetsTheAnnualFigure)
{
    Ruikei g;
    addKyuyoRecord(g, withNenfus(1, 1, 202412, -3000));
    addKyuyoRecord(g, withNenfus(3, 1, 202412, -500));
    addKyuyoRecord(g, withNenfus(1, 1, 202412, -100)); // resets to its own figure
    EXPECT_EQ(g.row(19).Kin(28), yen(-100));
    addKyuyoRecord(g, withNenfus(1, 2, 202412, -7000)); // other sequence: row 9 only
    addKyuyoRecord(g, withNenfus(4, 1, 202412, -7000)); // other kind: row 9 only
    addKyuyoRecord(g, withNenfus(1, 1, 202411, -7000)); // other month: nothing
    EXPECT_EQ(g.row(19).Kin(28), yen(-100));
    EXPECT_EQ(g.row(9).Kin(28), yen(-3000 - 100 - 7000 - 7000));
}

TEST(RuikeiYearEnd, NegativeAnnualFigureRaisesDeductions)
{
    for (std::int64_t f : {-3000, 3000}) {
        Ruikei g;
        KyuyoRecord dec = withNenfus(1, 1, 202412, f);
        dec.Kin(22) = yen(400'000);
        dec.Kin(23) = yen(20'000);
        dec.Kin(24) = yen(30'000);
        addKyuyoRecord(g, dec);
        finishRuikei(g);
        const std::int64_t deductions = f < 0 ? 53'000 : 50'000;
        EXPECT_EQ(g.row(19).Kin(29), yen(deductions)) << f;
        EXPECT_EQ(g.row(19).Kin(30), yen(400'000 - deductions)) << f;
        EXPECT_EQ(g.row(19).Kin(28), yen(f)) << f;
    }
}
