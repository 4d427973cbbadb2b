// Lookups in the shipped tables. Every expected figure is a cell of the published tables
// (data/tax/<edition>/*.csv) or worked out by hand from one.

#include "taxdata.h"

using namespace taxtest;
using KorTAX::bonusRate;
using KorTAX::bonusTax;
using KorTAX::monthlyTax;

struct MonthlyCase {
    const char* name;
    bool reiwa8;
    std::int64_t amount;
    int dependents;
    std::int64_t tax;
};

constexpr MonthlyCase kMonthlyCases[] = {
    // 令和2年分
    {"R2Zero", false, 0, 0, 0},
    {"R2FirstRowTop", false, 87'999, 0, 0},
    {"R2SecondRowStart", false, 88'000, 0, 130},
    {"R2BelowBracketBound", false, 88'999, 0, 130},
    {"R2BracketBound", false, 89'000, 0, 180},
    {"R2ColumnsOneDependant", false, 167'000, 1, 2'000},
    {"R2ColumnsTwoDependants", false, 168'999, 2, 390},
    {"R2ColumnsThreeDependants", false, 167'000, 3, 0},
    {"R2LastRowNoDependants", false, 739'999, 0, 73'080},
    {"R2LastRowSevenDependants", false, 737'000, 7, 27'810},
    {"R2NineDependantsLessTwoSteps", false, 737'000, 9, 27'810 - 2 * 1'610},
    {"R2EightDependantsNeverBelowZero", false, 374'000, 8, 0},
    {"R2SevenDependantsSmallTax", false, 376'999, 7, 100},
    {"R2FormulaStart", false, 740'000, 0, 73'390},
    {"R2FormulaStartSevenDependants", false, 740'000, 7, 28'120},
    // 108,540 + 50,000 × 33.693 % = 108,540 + 16,846.5
    {"R2FormulaDropsFraction", false, 1'000'000, 2, 125'386},
    // 374,180 + 469,999 × 40.84 % = 374,180 + 191,947.5916
    {"R2FormulaBelowStepUp", false, 2'169'999, 0, 566'127},
    {"R2FormulaStepUp", false, 2'170'000, 0, 571'570},
    // 1,125,620 + 100,000 × 45.945 %
    {"R2OpenTopBand", false, 3'600'000, 0, 1'171'565},
    // 1,080,350 + 100,000 × 45.945 % − 1,610
    {"R2OpenTopBandEightDependants", false, 3'600'000, 8, 1'124'685},
    // 令和8年分
    {"R8FirstRowTop", true, 104'999, 0, 0},
    {"R8SecondRowStart", true, 105'000, 0, 170},
    {"R8BracketBound", true, 107'000, 0, 280},
    {"R8ColumnsFourDependants", true, 301'999, 4, 1'470},
    {"R8ColumnsFiveDependants", true, 299'000, 5, 0},
    {"R8LastRowNoDependants", true, 737'000, 0, 71'380},
    {"R8LastRowSevenDependants", true, 739'999, 7, 26'110},
    {"R8NineDependantsLessTwoSteps", true, 737'000, 9, 26'110 - 2 * 1'610},
    {"R8EightDependantsNeverBelowZero", true, 386'000, 8, 0},
    {"R8FormulaStartSevenDependants", true, 740'000, 7, 26'410},
    // 81,890 + 10,000 × 23.483 % = 81,890 + 2,348.3
    {"R8FormulaDropsFraction", true, 800'000, 0, 84'238},
    // 1,080,000 + 100,000 × 45.945 %
    {"R8OpenTopBand", true, 3'600'000, 7, 1'125'945},
    {"R8Negative", true, -50'000, 0, 0},
};

class MonthlyTable : public testing::TestWithParam<MonthlyCase> {};

TEST_P(MonthlyTable, TaxOfPublishedCell)
{
    const MonthlyCase& c = GetParam();
    const KorTAX::Edition& e = c.reiwa8 ? reiwa8() : reiwa2();
    EXPECT_EQ(monthlyTax(e, yen(c.amount), c.dependents), yen(c.tax));
}

INSTANTIATE_TEST_SUITE_P(Shipped, MonthlyTable, testing::ValuesIn(kMonthlyCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(MonthlyTableFraction, AmountWithSenIsTaxedInItsBand)
{
    // 1,000,000.5 yen: the excess 50,000.5 × 33.693 % = 16,846.668… still drops to 16,846.
    EXPECT_EQ(monthlyTax(reiwa2(), Currency::fromRaw(10'000'005'000), 2), yen(125'386));
    EXPECT_EQ(monthlyTax(reiwa2(), Currency::fromRaw(889'999'999), 0), yen(130));
}

struct BonusCase {
    const char* name;
    bool reiwa8;
    std::int64_t prevPay;
    int dependents;
    const char16_t* rate;
};

constexpr BonusCase kBonusCases[] = {
    {"R2FirstBandTop", false, 67'999, 0, u"0.000"},
    {"R2FirstBound", false, 68'000, 0, u"2.042"},
    {"R2BelowBound", false, 78'999, 0, u"2.042"},
    {"R2Bound", false, 79'000, 0, u"4.084"},
    {"R2ZeroPay", false, 0, 3, u"0.000"},
    {"R2NegativePayReadsZero", false, -10'000, 0, u"0.000"},
    {"R2LastBelowBound", false, 3'494'999, 0, u"41.861"},
    {"R2LastBound", false, 3'495'000, 0, u"45.945"},
    {"R2SevenBelowBound", false, 307'999, 7, u"0.000"},
    {"R2SevenBound", false, 308'000, 7, u"2.042"},
    {"R2SixAtThreeHundred", false, 300'000, 6, u"2.042"},
    {"R2NineUseSevenOrMore", false, 300'000, 9, u"0.000"},
    {"R2SevenLastBound", false, 3'717'000, 7, u"45.945"},
    {"R2TwentyUseSevenOrMore", false, 3'716'999, 20, u"41.861"},
    {"R8FirstBandTop", true, 81'999, 0, u"0.000"},
    {"R8FirstBound", true, 82'000, 0, u"2.042"},
    {"R8ThreeBelowBound", true, 299'999, 3, u"2.042"},
    {"R8ThreeBound", true, 300'000, 3, u"4.084"},
    {"R8BelowMiddleBound", true, 519'999, 0, u"16.336"},
    {"R8MiddleBound", true, 520'000, 0, u"18.378"},
    {"R8LastBound", true, 3'495'000, 0, u"45.945"},
    {"R8SevenLastBelowBound", true, 3'716'999, 7, u"41.861"},
    {"R8EightUseSevenOrMore", true, 316'999, 8, u"0.000"},
};

class BonusTable : public testing::TestWithParam<BonusCase> {};

TEST_P(BonusTable, RateOfPublishedBand)
{
    const BonusCase& c = GetParam();
    const KorTAX::Edition& e = c.reiwa8 ? reiwa8() : reiwa2();
    EXPECT_EQ(bonusRate(e, yen(c.prevPay), c.dependents), percent(c.rate));
}

INSTANTIATE_TEST_SUITE_P(Shipped, BonusTable, testing::ValuesIn(kBonusCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(BonusTax, RateAppliedExactlyAndFractionDropped)
{
    // 123,457 × 4.084 % = 5,041.98388
    EXPECT_EQ(bonusTax(yen(123'457), percent(u"4.084")), yen(5'041));
    EXPECT_EQ(bonusTax(yen(500'000), percent(u"8.168")), yen(40'840));
    // 9,999,999 × 45.945 % = 4,594,499.5405
    EXPECT_EQ(bonusTax(yen(9'999'999), percent(u"45.945")), yen(4'594'499));
    EXPECT_EQ(bonusTax(yen(800'000), percent(u"0.000")), yen(0));
}

TEST(BonusTax, NegativeTaxableIsZero)
{
    EXPECT_EQ(bonusTax(yen(-1), percent(u"4.084")), yen(0));
    EXPECT_EQ(bonusTax(yen(-600'000), percent(u"45.945")), yen(0));
}

TEST(EditionChoice, NewestInForce)
{
    const std::vector<KorTAX::Edition> both{reiwa8(), reiwa2()};
    EXPECT_EQ(KorTAX::editionFor(both, QDate(2019, 12, 31)), nullptr);
    EXPECT_EQ(KorTAX::editionFor(both, QDate(2020, 1, 1))->from, QDate(2020, 1, 1));
    EXPECT_EQ(KorTAX::editionFor(both, QDate(2025, 12, 31))->from, QDate(2020, 1, 1));
    EXPECT_EQ(KorTAX::editionFor(both, QDate(2026, 1, 1))->from, QDate(2026, 1, 1));
    EXPECT_EQ(KorTAX::editionFor(both, QDate(2031, 6, 1))->from, QDate(2026, 1, 1));
}
