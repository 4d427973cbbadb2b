#include "base/format.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

struct PictureCase {
    const char* name;
    const char16_t* value;
    const char16_t* picture;
    const char16_t* want;
};

constexpr PictureCase kPictureCases[] = {
    {"CodeSevenDigits", u"7", u"0000000", u"0000007"},
    {"CodeFull", u"1234567", u"0000000", u"1234567"},
    {"CodeLongerThanPicture", u"12345678", u"0000000", u"12345678"},
    {"CodeZero", u"0", u"0000000", u"0000000"},
    {"ThreeDigits", u"5", u"000", u"005"},
    {"TwoDigits", u"3", u"00", u"03"},
    {"TwoDigitsFull", u"12", u"00", u"12"},
    {"OneDigitZero", u"0", u"0", u"0"},
    {"OneDigitTieAway", u"2.5", u"0", u"3"},
    {"OneDigitNegativeTieAway", u"-2.5", u"0", u"-3"},
    {"OneDigitBelowTie", u"1.4999", u"0", u"1"},
    {"NegativeRoundingToZeroHasNoSign", u"-0.4", u"0", u"0"},
    {"FiveDecimals", u"104", u"0.00000", u"104.00000"},
    {"FiveDecimalsOfRate", u"4.084", u"0.00000", u"4.08400"},
    {"FiveDecimalsZero", u"0", u"0.00000", u"0.00000"},
    {"FiveDecimalsNegative", u"-1.5", u"0.00000", u"-1.50000"},
    {"GroupedDecimals", u"1234567.891", u"#,##0.0000", u"1,234,567.8910"},
    {"GroupedBelowThousand", u"999", u"#,##0.0000", u"999.0000"},
    {"GroupedThousand", u"1000", u"#,##0.0000", u"1,000.0000"},
    {"GroupedZero", u"0", u"#,##0.0000", u"0.0000"},
    {"GroupedNegative", u"-1234.5", u"#,##0.0000", u"-1,234.5000"},
    {"ThreeSectionPositiveTie", u"1.2345", u"#0.000;#0.000;#", u"1.235"},
    {"ThreeSectionNegativeHidesSign", u"-1.2345", u"#0.000;#0.000;#", u"1.235"},
    {"ThreeSectionZeroEmpty", u"0", u"#0.000;#0.000;#", u""},
    {"ThreeSectionNearZeroIsNotZero", u"0.0004", u"#0.000;#0.000;#", u"0.000"},
    {"ThreeSectionWhole", u"12.5", u"#0.000;#0.000;#", u"12.500"},
    {"LedgerCellMillions", u"1234567", u"#,#####0;-#,#####0; ", u"1,234,567"},
    {"LedgerCellNegative", u"-1234567", u"#,#####0;-#,#####0; ", u"-1,234,567"},
    {"LedgerCellZeroBlank", u"0", u"#,#####0;-#,#####0; ", u" "},
    {"LedgerCellSmall", u"999", u"#,#####0;-#,#####0; ", u"999"},
    {"LedgerCellSmallNegative", u"-5", u"#,#####0;-#,#####0; ", u"-5"},
    {"LedgerCellEightDigits", u"12345678", u"#,#####0;-#,#####0; ", u"12,345,678"},
    {"LedgerCellFractionTieAway", u"1999.5", u"#,#####0;-#,#####0; ", u"2,000"},
    {"LedgerHiddenMinusNegative", u"-1234", u"#,#####0;#,#####0", u"1,234"},
    {"LedgerHiddenMinusZero", u"0", u"#,#####0;#,#####0", u"0"},
    {"LedgerHiddenMinusPositive", u"1234", u"#,#####0;#,#####0", u"1,234"},
    {"LargestValue", u"922337203685477.5807", u"#,##0.0000", u"922,337,203,685,477.5807"},
    {"LargestValueRoundedUp", u"922337203685477.5807", u"0", u"922337203685478"},
    {"SmallestValue", u"-922337203685477.5808", u"#,##0.0000", u"-922,337,203,685,477.5808"},
    {"SmallestValueNegativeSection", u"-922337203685477.5808", u"0;(0)", u"(922337203685478)"},
};

class NumberPicture : public testing::TestWithParam<PictureCase> {};

TEST_P(NumberPicture, Formats)
{
    const PictureCase& p = GetParam();
    const std::optional<Currency> v = Currency::parse(p.value);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(mox::format(*v, p.picture), QString::fromUtf16(p.want));
}

INSTANTIATE_TEST_SUITE_P(All, NumberPicture, testing::ValuesIn(kPictureCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(NumberPictureInteger, WholeNumbersFormatLikeAmounts)
{
    EXPECT_EQ(mox::format(std::int64_t{42}, u"0000000"), QStringLiteral("0000042"));
    EXPECT_EQ(mox::format(std::int64_t{-7}, u"#,#####0;-#,#####0; "), QStringLiteral("-7"));
}

} // namespace
