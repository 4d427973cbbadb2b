#include "base/currency.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

Currency c(const char16_t* text)
{
    const std::optional<Currency> v = Currency::parse(text);
    if (!v)
        throw std::invalid_argument("test value does not parse");
    return *v;
}

struct ParseCase {
    const char* name;
    const char16_t* text;
    std::int64_t raw;
};

constexpr ParseCase kParseCases[] = {
    {"FiveDecimals", u"104.00000", 1'040'000},
    {"NegativeHalf", u"-3.5", -35'000},
    {"BlanksAndGrouping", u"  12,345.6789 ", 123'456'789},
    {"PlusSign", u"+7", 70'000},
    {"TrailingPoint", u"8.", 80'000},
    {"LeadingPoint", u".25", 2'500},
    {"FifthDecimalTieToEvenDown", u"0.00005", 0},
    {"FifthDecimalTieToEvenUp", u"0.00015", 2},
    {"FifthDecimalAboveTie", u"0.000051", 1},
    {"NegativeTieToEven", u"-0.00015", -2},
    {"LongFractionRoundsOnce", u"0.123450000000000000000000000000000000001", 1'235},
    {"LargestValue", u"922337203685477.5807", kMax},
    {"SmallestValue", u"-922337203685477.5808", kMin},
    {"NegativeZero", u"-0", 0},
};

class CurrencyParse : public testing::TestWithParam<ParseCase> {};

TEST_P(CurrencyParse, ReadsExactly)
{
    const ParseCase& p = GetParam();
    const std::optional<Currency> v = Currency::parse(p.text);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->raw(), p.raw);
}

INSTANTIATE_TEST_SUITE_P(All, CurrencyParse, testing::ValuesIn(kParseCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CurrencyParseRejects, MalformedAndOutOfRange)
{
    for (const char16_t* bad :
         {u"", u"   ", u"-", u".", u"1e5", u"1.2.3", u"12a", u"1 000", u",5", u"--1", u"- 1",
          u"922337203685477.5808", u"-922337203685477.5809", u"922337203685477.58075",
          u"99999999999999999999999999999999999999999"}) {
        EXPECT_FALSE(Currency::parse(bad).has_value()) << QString::fromUtf16(bad).toStdString();
    }
}

TEST(CurrencyArithmetic, SumsAndWholeMultiplesAreExact)
{
    EXPECT_EQ((c(u"0.1") + c(u"0.2")).raw(), 3'000);
    EXPECT_EQ((Currency::fromYen(45'000) - c(u"0.0001")).raw(), 449'999'999);
    EXPECT_EQ((6 * c(u"-1234.5678")).raw(), -74'074'068);
    EXPECT_EQ((-Currency::fromYen(3)).raw(), -30'000);
    EXPECT_LT(c(u"-0.0001"), Currency());
    EXPECT_EQ(c(u"4.084").toPlainString(), QStringLiteral("4.084"));
    EXPECT_EQ(c(u"-0.0001").toPlainString(), QStringLiteral("-0.0001"));
    EXPECT_EQ(Currency().toPlainString(), QStringLiteral("0"));
    EXPECT_EQ(Currency::fromRaw(kMin).toPlainString(), QStringLiteral("-922337203685477.5808"));
}

struct RoundCase {
    const char* name;
    const char16_t* value;
    Rounding how;
    int decimals;
    const char16_t* want;
};

constexpr RoundCase kRoundCases[] = {
    {"FloorTie", u"2.5", Rounding::Floor, 0, u"2"},
    {"FloorNegativeTie", u"-2.5", Rounding::Floor, 0, u"-3"},
    {"FloorTinyNegative", u"-0.0001", Rounding::Floor, 0, u"-1"},
    {"FloorTinyPositive", u"0.0001", Rounding::Floor, 0, u"0"},
    {"CeilTie", u"2.5", Rounding::Ceil, 0, u"3"},
    {"CeilNegativeTie", u"-2.5", Rounding::Ceil, 0, u"-2"},
    {"CeilTinyPositive", u"0.0001", Rounding::Ceil, 0, u"1"},
    {"TruncateTie", u"2.5", Rounding::Truncate, 0, u"2"},
    {"TruncateNegative", u"-2.9999", Rounding::Truncate, 0, u"-2"},
    {"HalfEvenDown", u"2.5", Rounding::HalfEven, 0, u"2"},
    {"HalfEvenUp", u"3.5", Rounding::HalfEven, 0, u"4"},
    {"HalfEvenNegativeDown", u"-2.5", Rounding::HalfEven, 0, u"-2"},
    {"HalfEvenNegativeUp", u"-3.5", Rounding::HalfEven, 0, u"-4"},
    {"HalfEvenBelowTie", u"2.4999", Rounding::HalfEven, 0, u"2"},
    {"HalfEvenAboveTie", u"2.5001", Rounding::HalfEven, 0, u"3"},
    {"HalfEvenHundredthsUp", u"1.235", Rounding::HalfEven, 2, u"1.24"},
    {"HalfEvenHundredthsDown", u"1.225", Rounding::HalfEven, 2, u"1.22"},
    {"HalfAwayTie", u"2.5", Rounding::HalfAwayFromZero, 0, u"3"},
    {"HalfAwayNegativeTie", u"-2.5", Rounding::HalfAwayFromZero, 0, u"-3"},
    {"HalfAwayNegativeBelowTie", u"-2.4999", Rounding::HalfAwayFromZero, 0, u"-2"},
    {"HalfAwayThousandths", u"-1.2345", Rounding::HalfAwayFromZero, 3, u"-1.235"},
    {"FourDecimalsUnchanged", u"-1.2345", Rounding::Floor, 4, u"-1.2345"},
};

class CurrencyRounding : public testing::TestWithParam<RoundCase> {};

TEST_P(CurrencyRounding, RoundTo)
{
    const RoundCase& r = GetParam();
    EXPECT_EQ(c(r.value).roundTo(r.decimals, r.how), c(r.want));
}

INSTANTIATE_TEST_SUITE_P(All, CurrencyRounding, testing::ValuesIn(kRoundCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CurrencyProducts, RoundOnceInTheNamedMode)
{
    // 312,400 yen at 4.084 %: 12,758.416 yen.
    EXPECT_EQ(Currency::fromYen(312'400).mulDiv(c(u"4.084"), 100, Rounding::Floor, 0),
              Currency::fromYen(12'758));
    EXPECT_EQ(Currency::fromYen(312'400).times(c(u"0.0408"), Rounding::Floor), c(u"12745.92"));
    EXPECT_EQ(Currency::fromYen(312'400).times(c(u"0.0408"), Rounding::Ceil, 0),
              Currency::fromYen(12'746));
    // 0.0001 x 0.5 = 0.00005: a tie below the last kept decimal.
    EXPECT_EQ(c(u"0.0001").times(c(u"0.5"), Rounding::HalfEven), Currency());
    EXPECT_EQ(c(u"0.0001").times(c(u"0.5"), Rounding::HalfAwayFromZero), c(u"0.0001"));
    EXPECT_EQ(c(u"-0.0001").times(c(u"0.5"), Rounding::Floor), c(u"-0.0001"));
    EXPECT_EQ(Currency::fromYen(-1).times(c(u"0.5"), Rounding::Floor, 0), Currency::fromYen(-1));
    EXPECT_EQ(Currency::fromYen(-1).times(c(u"0.5"), Rounding::Truncate, 0), Currency());
}

TEST(CurrencyProducts, QuotientsAndRatios)
{
    EXPECT_EQ(Currency::fromYen(10).dividedBy(3, Rounding::HalfEven), c(u"3.3333"));
    EXPECT_EQ(Currency::fromYen(-10).dividedBy(3, Rounding::Floor, 0), Currency::fromYen(-4));
    EXPECT_EQ(Currency::fromYen(10).dividedBy(-4, Rounding::HalfEven, 0), Currency::fromYen(-2));
    EXPECT_EQ(Currency::fromYen(2).ratioTo(Currency::fromYen(3), Rounding::HalfAwayFromZero),
              c(u"0.6667"));
    EXPECT_EQ(Currency::fromYen(1).ratioTo(c(u"-0.3"), Rounding::Truncate), c(u"-3.3333"));
    EXPECT_THROW((void)Currency::fromYen(1).dividedBy(0, Rounding::Floor), std::domain_error);
    EXPECT_THROW((void)Currency::fromYen(1).ratioTo(Currency(), Rounding::Floor),
                 std::domain_error);
    EXPECT_THROW((void)Currency::fromYen(1).roundTo(5, Rounding::Floor), std::invalid_argument);
}

TEST(CurrencyProducts, MulDivIsOneExactRational)
{
    // 10,000 x 7 / 3 = 23,333.33...: one rounding of the exact quotient.
    EXPECT_EQ(
        Currency::fromYen(10'000).mulDiv(Currency::fromYen(7), 3, Rounding::HalfAwayFromZero, 0),
        Currency::fromYen(23'333));
    // 1 x 0.0001 / 3 would be 0 if the product were rounded first; the exact value is 0.0000333.
    EXPECT_EQ(Currency::fromYen(1).mulDiv(c(u"0.0001"), 3, Rounding::Ceil), c(u"0.0001"));
    // The intermediate 9e15 x 1e7 (raw) is far beyond 64 bits; the result is exact.
    const Currency big = Currency::fromYen(900'000'000'000);
    EXPECT_EQ(big.mulDiv(Currency::fromYen(1'000), 1'000, Rounding::Floor), big);
    const Currency largest = Currency::fromRaw(kMax);
    EXPECT_EQ(largest.mulDiv(Currency::fromYen(3), 3, Rounding::Floor), largest);
}

TEST(CurrencyLimits, OverflowIsReportedNotWrapped)
{
    const Currency largest = Currency::fromRaw(kMax);
    const Currency smallest = Currency::fromRaw(kMin);
    EXPECT_THROW((void)largest.times(Currency::fromYen(2), Rounding::Floor), std::overflow_error);
    EXPECT_THROW((void)largest.roundTo(0, Rounding::HalfAwayFromZero), std::overflow_error);
    EXPECT_THROW((void)smallest.roundTo(0, Rounding::Floor), std::overflow_error);
    EXPECT_EQ(largest.roundTo(0, Rounding::Floor).raw(), 9'223'372'036'854'770'000);
    EXPECT_EQ(largest.toInteger(Rounding::Floor), 922'337'203'685'477);
    EXPECT_EQ(largest.toInteger(Rounding::HalfEven), 922'337'203'685'478);
    EXPECT_EQ(smallest.toInteger(Rounding::Floor), -922'337'203'685'478);
    EXPECT_EQ(smallest.toInteger(Rounding::Truncate), -922'337'203'685'477);
    EXPECT_EQ(largest.times(Currency::fromYen(1), Rounding::Floor), largest);
    EXPECT_EQ(smallest.times(c(u"-0.5"), Rounding::Floor).raw(), 4'611'686'018'427'387'904);
}

TEST(CurrencyLimits, SumsDifferencesMultiplesAndYenThrowInsteadOfWrapping)
{
    const Currency largest = Currency::fromRaw(kMax);
    const Currency smallest = Currency::fromRaw(kMin);
    const Currency unit = Currency::fromRaw(1);
    EXPECT_THROW((void)(largest + unit), std::overflow_error);
    EXPECT_THROW((void)(smallest - unit), std::overflow_error);
    EXPECT_THROW((void)(-smallest), std::overflow_error);
    EXPECT_THROW((void)smallest.abs(), std::overflow_error);
    EXPECT_THROW((void)(largest * 2), std::overflow_error);
    EXPECT_THROW((void)(-2 * largest), std::overflow_error);
    Currency sum = largest;
    EXPECT_THROW(sum += unit, std::overflow_error);
    EXPECT_EQ(sum, largest); // a refused step leaves the value as it was
    Currency difference = smallest;
    EXPECT_THROW(difference -= unit, std::overflow_error);
    EXPECT_EQ(difference, smallest);
    // The last yen that fits, and the first that does not (a bound of 922,337,203,686 thousand
    // yen in a table file).
    constexpr std::int64_t maxYen = kMax / Currency::kScale;
    EXPECT_EQ(Currency::fromYen(maxYen).raw(), maxYen * Currency::kScale);
    EXPECT_EQ(Currency::fromYen(-maxYen).raw(), -maxYen * Currency::kScale);
    EXPECT_THROW((void)Currency::fromYen(maxYen + 1), std::overflow_error);
    EXPECT_THROW((void)Currency::fromYen(922'337'203'686 * 1'000), std::overflow_error);
    EXPECT_EQ(Currency::tryFromYen(maxYen), Currency::fromYen(maxYen));
    EXPECT_FALSE(Currency::tryFromYen(maxYen + 1).has_value());
    EXPECT_FALSE(Currency::tryFromYen(-maxYen - 1).has_value());
    // Up to the limits every operation is exact.
    EXPECT_EQ((largest - unit) + unit, largest);
    EXPECT_EQ((smallest + unit) - unit, smallest);
    EXPECT_EQ(-(largest), smallest + unit);
    EXPECT_EQ(Currency::fromRaw(kMax / 2) * 2, largest - unit);
}

} // namespace
