#include "mox/comdate.h"
#include "mox/program.h"

#include <gtest/gtest.h>

#include <string>

using namespace Qt::StringLiterals;

namespace {

Currency n(std::int64_t v)
{
    return Currency::fromYen(v);
}

TEST(DatePart, CutsEachPicture)
{
    const Currency d = n(20240315);
    EXPECT_EQ(mox::prfDatePart(d, u"YMD"), n(20240315));
    EXPECT_EQ(mox::prfDatePart(d, u"ymd"), n(20240315));
    EXPECT_EQ(mox::prfDatePart(d, u"YM"), n(202403));
    EXPECT_EQ(mox::prfDatePart(d, u"Y"), n(2024));
    EXPECT_EQ(mox::prfDatePart(d, u"md"), n(315));
    EXPECT_EQ(mox::prfDatePart(d, u"M"), n(3));
    EXPECT_EQ(mox::prfDatePart(d, u"d"), n(15));
}

TEST(DatePart, UnknownPicturesAndMissingPartsGiveZero)
{
    const Currency d = n(20240315);
    for (const char16_t* picture : {u"Md", u"yM", u"Ymd", u"", u"YY", u"DM"})
        EXPECT_EQ(mox::prfDatePart(d, picture), Currency())
            << QString::fromUtf16(picture).toStdString();
    // A month yyyymm has no day; a year alone has no month.
    EXPECT_EQ(mox::prfDatePart(n(202403), u"D"), Currency());
    EXPECT_EQ(mox::prfDatePart(n(202403), u"M"), n(3));
    EXPECT_EQ(mox::prfDatePart(n(202403), u"Y"), n(2024));
    EXPECT_EQ(mox::prfDatePart(n(2024), u"MD"), Currency());
    EXPECT_EQ(mox::prfDatePart(Currency(), u"YMD"), Currency());
}

struct EraEditCase {
    const char* name;
    const char16_t* picture;
    const char16_t* mode;
    const char16_t* suffix;
    std::int64_t eraDate;
    const char16_t* want;
};

// Era name "平成" and code "H"; dates yymmdd.
constexpr EraEditCase kEraEdits[] = {
    {"LongDisplay", u"JYMD", u"DSP", u"", 70401, u"平成 7年 4月 1日"},
    {"LongPrint", u"JYMD", u"PRT", u"", 70401, u"平成  7 年  4 月  1 日"},
    {"LongOtherModeKeepsZeros", u"JYMD", u"X", u"", 70401, u"平成 07 年 04 月 01 日"},
    {"ShortDisplay", u"KYMD", u"DSP", u"", 70401, u"H  7. 4. 1"},
    {"ShortPrintBlanksOnlyItsPositions", u"KYMD", u"PRT", u"", 70401, u"H 07.04. 1"},
    {"YearMonthDisplay", u"JYM", u"DSP", u"B", 311205, u"平成31年12月分"},
    {"YearMonthPrint", u"JYM", u"PRT", u"", 10105, u"平成  1 年  1 月"},
    {"YearOnlyNoZeroToBlank", u"JY", u"DSP", u"B", 311231, u"平成31年分"},
    {"YearOnlyPrint", u"JY", u"PRT", u"", 90101, u"平成  9 年"},
    {"ShortYearMonth", u"KYM", u"DSP", u"", 100901, u"H 10. 9"},
    {"ShortYear", u"KY", u"PRT", u"B", 50101, u"H 05分"},
    {"UnknownPicture", u"JMD", u"DSP", u"B", 70401, u"分"},
    {"DisplayModeIsExact", u"JY", u"dsp", u"", 70401, u"平成 07 年"},
};

class EraEdit : public testing::TestWithParam<EraEditCase> {};

TEST_P(EraEdit, BuildsTheText)
{
    const EraEditCase& c = GetParam();
    mox::setProgramId(u"mox030"_s);
    EXPECT_EQ(mox::eraEdit(u"平成    "_s, u"H"_s, n(c.eraDate), c.picture, c.mode, c.suffix),
              QString::fromUtf16(c.want));
}

INSTANTIATE_TEST_SUITE_P(All, EraEdit, testing::ValuesIn(kEraEdits),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(EraEditSuffix, FiscalYearSuffixDependsOnTheProgram)
{
    mox::setProgramId(u"mox110"_s);
    EXPECT_EQ(mox::eraEdit(u"平成"_s, u"H"_s, n(311231), u"JY", u"DSP", u"NB"), u"平成31年度分"_s);
    mox::setProgramId(u"mox030"_s);
    EXPECT_EQ(mox::eraEdit(u"平成"_s, u"H"_s, n(311231), u"JY", u"DSP", u"NB"), u"平成31年"_s);
    EXPECT_EQ(mox::eraEdit(u"平成"_s, u"H"_s, n(311231), u"JY", u"PRT", u"NB"), u"平成 31 年"_s);
    EXPECT_EQ(mox::eraEdit(u"平成"_s, u"H"_s, n(311231), u"JY", u"DSP", u"b"), u"平成31年"_s);
}

struct KikanCase {
    const char* name;
    std::int64_t first;
    std::int64_t last;
    std::int64_t months;
    std::int64_t days;
};

constexpr KikanCase kKikan[] = {
    {"WholeQuarter", 20240401, 20240630, 3, 0},
    {"FromFirstToMidMonth", 20240401, 20240615, 2, 15},
    {"DayBeforeSameDay", 20240415, 20240614, 2, 0},
    {"SameDayCountsOneDay", 20240415, 20240615, 2, 1},
    {"LaterDayEarlierMonthEnd", 20240420, 20240610, 1, 22},
    {"WithinAMonth", 20240402, 20240430, 0, 29},
    {"ThirtyDaysMakeAMonth", 20240301, 20240330, 1, 0},
    {"FromMonthEndOverLeapFebruary", 20240131, 20240315, 1, 15},
    {"WholeMonth", 20240601, 20240630, 1, 0},
    {"OneDay", 20240610, 20240610, 0, 1},
    {"LeapFebruaryWhole", 20240201, 20240229, 1, 0},
    {"CommonFebruaryWhole", 20230201, 20230228, 1, 0},
    {"LeapFebruaryToTheTwentyEighth", 20240201, 20240228, 0, 28},
    {"FromCommonFebruaryEndToMonthEnd", 20230228, 20230531, 3, 4},
    {"FromLeapFebruaryEndToMonthEnd", 20240229, 20240430, 2, 2},
    {"FromMonthEndIntoNextMonth", 20240131, 20240215, 0, 16},
    {"FromMonthEndLongerThanPreviousMonth", 20240331, 20240515, 1, 15},
    {"FromShortMonthEnd", 20240430, 20240615, 1, 17},
    {"FromMonthEndPreviousMonthAsLong", 20240331, 20240615, 2, 16},
    {"FromMidMonthToAcrossYear", 20231216, 20240115, 1, 0},
    {"LaterDayPreviousMonthEndsTheDayBefore", 20240130, 20240310, 1, 10},
    {"LaterDayPreviousMonthEndsOnTheDay", 20240129, 20240310, 1, 11},
    {"FromYearEndOverLeapFebruary", 20231231, 20240310, 2, 10},
    {"LaterDayBeyondShortPreviousMonth", 20230130, 20230310, 1, 10},
    {"LaterDayWithinPreviousMonth", 20240120, 20240310, 1, 20},
    {"OpenEndCountsWithoutOverflow", 20240401, 99991231, 95709, 0},
};

class Kikan : public testing::TestWithParam<KikanCase> {};

TEST_P(Kikan, MonthsAndDays)
{
    const KikanCase& c = GetParam();
    Currency first = n(c.first);
    Currency last = n(c.last);
    mox::prsKikan(first, last);
    EXPECT_EQ(first, n(c.months));
    EXPECT_EQ(last, n(c.days));
}

INSTANTIATE_TEST_SUITE_P(All, Kikan, testing::ValuesIn(kKikan),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
