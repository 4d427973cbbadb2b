#include "mox110/callup.h"

#include "kortax/kortax.h"

#include <gtest/gtest.h>

using namespace mox110;
using namespace Qt::StringLiterals;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

struct Slot {
    std::int64_t start, end;
};

// An employee whose first slot is the first service period, the second slot (if any) the second
// service period and the rest the further periods in order.
JinjiRecord employee(std::initializer_list<Slot> first, std::initializer_list<Slot> further)
{
    JinjiRecord j;
    auto it = first.begin();
    j.ZKAYMD_01 = yen(it->start);
    j.ZKNYMD_01 = yen(it->end);
    if (++it != first.end()) {
        j.ZKAYMD_02 = yen(it->start);
        j.ZKNYMD_02 = yen(it->end);
    }
    std::size_t i = 0;
    for (const Slot& s : further) {
        j.KAIYMD[i] = yen(s.start);
        j.KANYMD[i] = yen(s.end);
        ++i;
    }
    return j;
}

struct Shown {
    int months, days, kimatuRate, kinbenRate;
};

Shown show(const JinjiRecord& j, std::int64_t syorid)
{
    CalcContext ctx;
    ctx.jinji = j;
    ctx.kanri.SYORID = yen(syorid);
    ctx.kanri.KM6KM = ctx.kanri.KM12KM = yen(100);
    ctx.kanri.KM6KB = ctx.kanri.KM12KB = yen(100);
    ctx.jinji.HYOKBN = 9; // the allowances are not the point here
    BonusScreen s;
    s.nu1Kankmritu = yen(100);
    s.nu1Kankbritu = yen(100);
    EXPECT_TRUE(prsDspJinji(s, ctx).ok());
    EXPECT_EQ(s.nu1Kbmm, s.nu1Kmmm);
    EXPECT_EQ(s.nu1Kbdd, s.nu1Kmdd);
    return {static_cast<int>(s.nu1Kmmm.toInteger(Rounding::Floor)),
            static_cast<int>(s.nu1Kmdd.toInteger(Rounding::Floor)),
            static_cast<int>(s.nu1Kmkikan.toInteger(Rounding::Floor)),
            static_cast<int>(s.nu1Kbkikan.toInteger(Rounding::Floor))};
}

constexpr std::int64_t kOpen = 99991231; // a service period still running

} // namespace

TEST(DspJinji, EnrollmentPeriodsFromTheServiceHistory)
{
    struct Case {
        const char* what;
        JinjiRecord jinji;
        std::int64_t syorid;
        Shown shown;
    };
    const Case cases[] = {
        {"June, long service: 6 months 0 days held at 5 months 29 days",
         employee({{20000401, kOpen}}, {}),
         202606,
         {5, 29, 80, 95}},
        {"December, full service is not capped",
         employee({{20000401, kOpen}}, {}),
         202612,
         {6, 0, 100, 100}},
        {"June, a one-day gap at the end of March: 3/29 + 2/1 less the day of the two marks",
         employee({{20000401, 20260330}, {20260401, kOpen}}, {}),
         202606,
         {5, 29, 80, 95}},
        {"end March 31 and restart April 1 are one period",
         employee({{20000401, 20260331}, {20260401, kOpen}}, {}),
         202606,
         {5, 29, 80, 95}},
        {"common year: February 28 and March 1 are one period",
         employee({{20000401, 20260228}, {20260301, kOpen}}, {}),
         202606,
         {5, 29, 80, 95}},
        {"leap year: ending February 28 leaves the 29th out (2/27 + 3/1)",
         employee({{20000401, 20280228}, {20280301, kOpen}}, {}),
         202806,
         {5, 28, 80, 95}},
        {"leap year: February 29 and March 1 are one period",
         employee({{20000401, 20280229}, {20280301, kOpen}}, {}),
         202806,
         {5, 29, 80, 95}},
        {"45 days summed become 1 month 15 days (24 + 21 days)",
         employee({{20000401, 20260625}}, {{20261110, 20261130}}),
         202612,
         {1, 15, 30, 20}},
        {"further periods follow the first directly when there is no second period",
         employee({{20000401, 20260228}}, {{20260301, kOpen}}),
         202606,
         {5, 29, 80, 95}},
        {"with a second period the chain 2/27 + 1/0 + 2/1 is merged into one",
         employee({{20000401, 20260228}, {20260301, 20260331}}, {{20260401, kOpen}}),
         202606,
         {5, 29, 80, 95}},
        {"service starting after the period counts nothing",
         employee({{20270401, kOpen}}, {}),
         202612,
         {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Shown got = show(c.jinji, c.syorid);
        EXPECT_EQ(got.months, c.shown.months);
        EXPECT_EQ(got.days, c.shown.days);
        EXPECT_EQ(got.kimatuRate, c.shown.kimatuRate);
        EXPECT_EQ(got.kinbenRate, c.shown.kinbenRate);
    }
}

TEST(DspJinji, TheTenthSlotIsUsedOnlyWithASecondPeriod)
{
    // Old periods fill slots up to nine; the last further period starts 2026-09-01: 3 months 1
    // day of the December period (60 and 50).
    std::initializer_list<Slot> further = {
        {20140401, 20150331}, {20150501, 20160331}, {20160501, 20170331}, {20170501, 20180331},
        {20180501, 20190331}, {20190501, 20200331}, {20200501, 20210331}, {20260901, kOpen}};
    const Shown withSecond =
        show(employee({{20100401, 20110331}, {20120401, 20130331}}, further), 202612);
    EXPECT_EQ(withSecond.months, 3);
    EXPECT_EQ(withSecond.days, 1);
    EXPECT_EQ(withSecond.kimatuRate, 60);
    EXPECT_EQ(withSecond.kinbenRate, 50);
    const Shown withoutSecond = show(employee({{20100401, 20110331}}, further), 202612);
    EXPECT_EQ(withoutSecond.months, 3);
    EXPECT_EQ(withoutSecond.days, 1);
}

TEST(DspJinji, PayClassFourIsPaidOnTwentyOneDailyWagesWithoutPeriods)
{
    KorTAX::clsTax tax;
    CalcContext ctx;
    ctx.tax = &tax;
    ctx.jinji = employee({{20000401, kOpen}}, {});
    ctx.jinji.KYUKBN = 4;
    ctx.jinji.NITANK = yen(8'000);
    ctx.jinji.KYURYO = yen(999'999);
    ctx.jinji.GENFUY = 2;
    ctx.jinji.GENHAI = 1;
    ctx.jinji.HYOKBN = 9;
    ctx.kanri.SYORID = yen(202612);
    ctx.kanri.NKM12KM = yen(25);
    ctx.kanri.CHIRIT = yen(10);
    BonusScreen s;
    ASSERT_TRUE(prsDspJinji(s, ctx).ok());
    EXPECT_EQ(s.nu1Kyuryo, yen(168'000));
    EXPECT_EQ(s.nu1Fsinsu, yen(3));
    EXPECT_EQ(s.nu1Kmmm, yen(0));
    EXPECT_EQ(s.nu1Kmkikan, yen(0));
    EXPECT_EQ(s.txtKmritu, u"25.00000"_s);
    EXPECT_EQ(s.txtKbritu, u"0.00000"_s);

    ctx.jinji.HYOKBN = 0;
    ctx.koyou = [](Currency) -> mox::Result<Currency> { return Currency(); };
    KorTAX::Edition none;
    none.from = QDate(2000, 1, 1);
    none.monthly.push_back(KorTAX::MonthlyBand{});
    tax.setEditions({none});
    s = BonusScreen();
    ASSERT_TRUE(prsDspJinji(s, ctx).ok());
    EXPECT_EQ(s.nu1Kmchiiki, yen(0));
    EXPECT_EQ(s.nu1Kimatu, yen(42'000)); // 25 % of 168,000
    EXPECT_EQ(s.nu1Kinben, yen(0));
}
