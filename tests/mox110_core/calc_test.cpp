#include "mox110/bonuscalc.h"

#include "kortax/kortax.h"

#include <gtest/gtest.h>

using namespace mox110;
using namespace Qt::StringLiterals;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

Currency dec(const char16_t* text)
{
    return *Currency::parse(QStringView(text));
}

// Tables simple enough to work by hand: monthly tax 10 % of the amount; bonus rate 2.042 % below
// 200,000 yen of previous pay and 4.084 % from there, for every dependants count.
KorTAX::Edition simpleEdition(QDate from)
{
    KorTAX::Edition e;
    e.from = from;
    KorTAX::MonthlyBand band;
    band.rate = yen(10);
    e.monthly.push_back(band);
    for (auto& column : e.bonus)
        column = {{Currency(), dec(u"2.042")}, {yen(200'000), dec(u"4.084")}};
    return e;
}

KorTAX::clsTax& simpleTax()
{
    static KorTAX::clsTax tax;
    static const bool loaded = [] {
        tax.setEditions({simpleEdition(QDate(2026, 1, 1))});
        return true;
    }();
    (void)loaded;
    return tax;
}

// A December context with no regional allowance, no caps in reach, plain rounding points and
// the simple tax tables.
CalcContext context()
{
    CalcContext ctx;
    ctx.kanri.SYORID = yen(202612);
    ctx.kanri.KENGEN = yen(100'000'000);
    ctx.kanri.KOSGEN = yen(100'000'000);
    ctx.roundingComplements = [] { return std::pair{dec(u"0.5"), dec(u"0.5")}; };
    ctx.koyou = [](Currency) -> mox::Result<Currency> { return Currency(); };
    ctx.tax = &simpleTax();
    return ctx;
}

} // namespace

TEST(Zaiseki, PeriodKeysPickTheStepOfEachTable)
{
    struct Row {
        int months, days, kimatu, kinben;
    };
    const Row rows[] = {
        {9, 99, 100, 100}, {6, 0, 100, 100}, {5, 29, 80, 95}, {5, 15, 80, 95}, {5, 14, 80, 90},
        {5, 0, 80, 90},    {4, 15, 60, 80},  {4, 14, 60, 70}, {4, 0, 60, 70},  {3, 15, 60, 60},
        {3, 14, 60, 50},   {3, 0, 60, 50},   {2, 29, 30, 40}, {2, 15, 30, 40}, {2, 14, 30, 30},
        {2, 0, 30, 30},    {1, 99, 30, 20},  {1, 15, 30, 20}, {1, 14, 30, 15}, {1, 0, 30, 15},
        {0, 20, 30, 10},   {0, 15, 30, 10},  {0, 14, 30, 5},  {0, 1, 30, 5},   {0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        CalcContext ctx = context();
        BonusScreen s;
        s.nu1Kmmm = s.nu1Kbmm = yen(r.months);
        s.nu1Kmdd = s.nu1Kbdd = yen(r.days);
        ASSERT_TRUE(prsZaiseki(s, ctx).ok());
        EXPECT_EQ(s.nu1Kmkikan, yen(r.kimatu)) << r.months << "/" << r.days;
        EXPECT_EQ(s.nu1Kbkikan, yen(r.kinben)) << r.months << "/" << r.days;
    }
}

TEST(Zaiseki, RatioTextsHaveFiveDecimalsRoundedHalfAwayFromZero)
{
    struct Row {
        const char16_t* rate;
        int months, days;
        const char16_t *kimatu, *kinben;
    };
    const Row rows[] = {
        {u"130", 5, 0, u"104.00000", u"117.00000"},       // period rates 80 and 90
        {u"130.0001", 5, 15, u"104.00008", u"123.50010"}, // 95: 123.500095
        {u"130.0001", 0, 14, u"39.00003", u"6.50001"},    // 30: 39.00003, 5: 6.500005
        {u"127.5", 6, 0, u"127.50000", u"127.50000"},     {u"130", 0, 0, u"0.00000", u"0.00000"},
    };
    for (const Row& r : rows) {
        CalcContext ctx = context();
        BonusScreen s;
        s.nu1Kankmritu = s.nu1Kankbritu = dec(r.rate);
        s.nu1Kmmm = s.nu1Kbmm = yen(r.months);
        s.nu1Kmdd = s.nu1Kbdd = yen(r.days);
        ASSERT_TRUE(prsZaiseki(s, ctx).ok());
        EXPECT_EQ(s.txtKmritu, QString::fromUtf16(r.kimatu));
        EXPECT_EQ(s.txtKbritu, QString::fromUtf16(r.kinben));
    }
}

TEST(Zaiseki, PayClassFourTakesItsOwnRatioAndKeepsThePeriods)
{
    CalcContext ctx = context();
    ctx.jinji.KYUKBN = 4;
    ctx.kanri.NKM12KM = yen(25);
    BonusScreen s;
    s.nu1Kmmm = yen(3);
    s.nu1Kmkikan = yen(77);
    s.nu1Kankbritu = yen(95);
    s.nu1Kbkikan = yen(100);
    ASSERT_TRUE(prsZaiseki(s, ctx).ok());
    EXPECT_EQ(s.txtKmritu, u"25.00000"_s);
    EXPECT_EQ(s.txtKbritu, u"0.00000"_s);
    EXPECT_EQ(s.nu1Kmkikan, yen(77));
    EXPECT_EQ(s.nu1Kmmm, yen(3));
}

TEST(Zaiseki, NegativePeriodIsReportedAndLeavesTheRatiosAlone)
{
    CalcContext ctx = context();
    BonusScreen s;
    s.nu1Kmmm = yen(-1);
    s.txtKmritu = u"1.00000"_s;
    EXPECT_FALSE(prsZaiseki(s, ctx).ok());
    EXPECT_EQ(s.txtKmritu, u"1.00000"_s);
}

TEST(Keisan, AllowancesAreExactProductsCutToWholeYen)
{
    struct Row {
        const char16_t* ratio;
        std::int64_t salary;
        std::int64_t allowance;
    };
    const Row rows[] = {
        {u"33.33333", 300'000, 99'999},  // 99,999.99
        {u"33.33334", 300'000, 100'000}, // 100,000.02
        {u"4.35000", 10'000, 435},       // exactly 435; binary floating point gives 434
        {u"0.00000", 300'000, 0},        {u"100.00000", -1'001, -1'001},
        {u"50.00000", -1'001, -501}, // -500.5 floors to -501
    };
    for (const Row& r : rows) {
        CalcContext ctx = context();
        BonusScreen s;
        s.nu1Kyuryo = yen(r.salary);
        s.txtKmritu = s.txtKbritu = QString::fromUtf16(r.ratio);
        ASSERT_TRUE(prsKeisan(s, ctx).ok());
        EXPECT_EQ(s.nu1Kimatu, yen(r.allowance)) << QString::fromUtf16(r.ratio).toStdString();
        EXPECT_EQ(s.nu1Kinben, yen(r.allowance));
    }
}

TEST(Keisan, AmountBeyondTheMoneyTypeIsReportedNotThrown)
{
    CalcContext ctx = context();
    BonusScreen s;
    s.nu1Kyuryo = yen(900'000'000'000'000);
    s.txtKmritu = u"999.00000"_s;
    const mox::Status st = prsKeisan(s, ctx);
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(s.nu1Kimatu, yen(0));
}

TEST(Keisan, RegionalAllowanceEntersBothBasesButDependantsOnlyTheTermEnd)
{
    CalcContext ctx = context();
    ctx.kanri.CHIRIT = yen(10);
    BonusScreen s;
    s.nu1Kyuryo = yen(312'345);
    s.nu1Styogk = yen(12'494);
    s.nu1Fuyote = yen(13'000);
    s.txtKmritu = u"104.00000"_s;
    s.txtKbritu = u"95.00000"_s;
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(s.nu1Kmchiiki, yen(33'783)); // 337,839 × 10 %
    EXPECT_EQ(s.nu1Kimatu, yen(386'486));  // 371,622 × 1.04 = 386,486.88
    EXPECT_EQ(s.nu1Kbchiiki, yen(32'483)); // 324,839 × 10 %
    EXPECT_EQ(s.nu1Kinben, yen(339'455));  // 357,322 × 0.95 = 339,455.9

    ctx.jinji.KYUKBN = 4;
    s.txtKbritu = u"0.00000"_s;
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(s.nu1Kmchiiki, yen(0));
    EXPECT_EQ(s.nu1Kbchiiki, yen(0));
    EXPECT_EQ(s.nu1Kimatu, yen(351'352)); // 337,839 × 1.04 = 351,352.56
    EXPECT_EQ(s.nu1Kinben, yen(0));
}

namespace {

// Bonus of `total` yen (term-end only), health and pension deducted.
BonusScreen insuredBonus(std::int64_t total)
{
    BonusScreen s;
    s.nu1Kyuryo = yen(total);
    s.txtKmritu = u"100.00000"_s;
    s.cboTokkbn = deductionChoice(1);
    return s;
}

} // namespace

TEST(Keisan, StandardBonusAmountIsCutToThousandsAndCappedOnlyAboveTheCap)
{
    CalcContext ctx = context();
    ctx.kanri.KENGEN = yen(1'000'000);
    ctx.kanri.KOSGEN = yen(1'500'000);
    ctx.kanri.KENTK2 = yen(100);
    ctx.kanri.KOSTK2 = yen(100);
    BonusScreen s = insuredBonus(1'234'999);
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(s.nu1Kenko, yen(50'000)); // cap 1,000,000 × 100 / 2000
    EXPECT_EQ(s.nu1Kosei, yen(61'700)); // 1,234,000 × 100 / 2000

    s = insuredBonus(999);
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(s.nu1Kenko, yen(0)); // under a thousand yen the standard amount is 0
}

TEST(Keisan, JuneAndCareInsuranceChooseTheRates)
{
    struct Row {
        int syorid, kaikbn;
        std::int64_t kenko, kosei;
    };
    const Row rows[] = {
        {202606, 1, 59'000, 91'500}, // (100 + 18) and 183 per mille of 1,000,000, halved
        {202606, 0, 50'000, 91'500},
        {202612, 1, 53'000, 91'000}, // (90 + 16) and 182
        {202612, 0, 45'000, 91'000},
    };
    for (const Row& r : rows) {
        CalcContext ctx = context();
        ctx.kanri.SYORID = yen(r.syorid);
        ctx.kanri.KENTOK = yen(100);
        ctx.kanri.KAITOK = yen(18);
        ctx.kanri.KOSTOK = yen(183);
        ctx.kanri.KENTK2 = yen(90);
        ctx.kanri.KAITK2 = yen(16);
        ctx.kanri.KOSTK2 = yen(182);
        ctx.jinji.KAIKBN = r.kaikbn;
        BonusScreen s = insuredBonus(1'000'000);
        ASSERT_TRUE(prsKeisan(s, ctx).ok());
        EXPECT_EQ(s.nu1Kenko, yen(r.kenko)) << r.syorid << " " << r.kaikbn;
        EXPECT_EQ(s.nu1Kosei, yen(r.kosei)) << r.syorid << " " << r.kaikbn;
    }
}

TEST(Keisan, SocialInsuranceRoundingFollowsTheRoundingPoint)
{
    // A bonus of 1,000 yen makes the premium half the rate: rate 8201.0002 gives 4,100.5001.
    struct Row {
        std::int64_t bonus;
        const char16_t *rate, *point;
        std::int64_t premium;
    };
    const Row rows[] = {
        {1'000, u"8200.9998", u"0.5", 4'100},
        {1'000, u"8201", u"0.5", 4'101},
        {1'000, u"8201.0002", u"0.5", 4'101},
        {1'000, u"8200.9998", u"0.5001", 4'100},
        {1'000, u"8201", u"0.5001", 4'100},
        {1'000, u"8201.0002", u"0.5001", 4'101},
        {1'000, u"8201.9998", u"1", 4'100},
        {1'000, u"8201", u"1", 4'100},
        {1'000, u"8201.0001", u"0.5001", 4'100}, // 4,100.50005 ties to 4,100.5000
        {1'000, u"8201.0003", u"0.5001", 4'101}, // 4,100.50015 ties to 4,100.5002
        // Negative premiums mirror the positive ones: -4,100.5 - 0.5 cut towards zero.
        {-1'000, u"8201", u"0.5", -4'101},
        {-1'000, u"8200.9998", u"0.5", -4'100}, // -4,100.4999 - 0.5 = -4,100.9999
        {-1'000, u"8200", u"0.5", -4'100},      // a whole-yen refund stays as it is
        {-1'000, u"8201.0002", u"1", -4'100},   // rounding point 1 drops the fraction
        {-1'000, u"8201.0002", u"0.5001", -4'101},
    };
    for (const Row& r : rows) {
        CalcContext ctx = context();
        const Currency c = yen(1) - dec(r.point);
        ctx.roundingComplements = [c] { return std::pair{c, c}; };
        ctx.kanri.KENTK2 = dec(r.rate);
        ctx.kanri.KOSTK2 = dec(r.rate);
        BonusScreen s = insuredBonus(r.bonus);
        ASSERT_TRUE(prsKeisan(s, ctx).ok());
        EXPECT_EQ(s.nu1Kenko, yen(r.premium)) << QString::fromUtf16(r.rate).toStdString();
        EXPECT_EQ(s.nu1Kosei, yen(r.premium));
    }
}

TEST(Keisan, DeductionListsSwitchTheInsurances)
{
    int loads = 0;
    Currency koyouAsked;
    CalcContext ctx = context();
    ctx.kanri.KENTK2 = yen(100);
    ctx.kanri.KOSTK2 = yen(100);
    ctx.roundingComplements = [&loads] {
        ++loads;
        return std::pair{dec(u"0.5"), dec(u"0.5")};
    };
    ctx.koyou = [&koyouAsked](Currency amount) -> mox::Result<Currency> {
        koyouAsked = amount;
        return yen(6'000);
    };

    BonusScreen s = insuredBonus(100'000);
    s.txtKbritu = u"50.00000"_s; // 50,000 of diligence allowance
    s.nu1Kenko = yen(111);
    s.nu1Kosei = yen(222);
    s.nu1Koyou = yen(333);
    s.cboTokkbn = ListChoice{};
    ASSERT_TRUE(prsKeisan(s, ctx).ok()); // nothing selected: typed premiums survive
    EXPECT_EQ(s.nu1Kenko, yen(111));
    EXPECT_EQ(s.nu1Kosei, yen(222));
    EXPECT_EQ(s.nu1Koyou, yen(333));
    EXPECT_EQ(loads, 0);

    s.cboTokkbn = deductionChoice(0);
    s.cboRoukbn = deductionChoice(0);
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(s.nu1Kenko, yen(0));
    EXPECT_EQ(s.nu1Kosei, yen(0));
    EXPECT_EQ(s.nu1Koyou, yen(0));
    EXPECT_EQ(loads, 0);

    s.cboTokkbn = deductionChoice(1);
    s.cboRoukbn = deductionChoice(1);
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(loads, 2);               // the rounding points are read again on every run
    EXPECT_EQ(s.nu1Kenko, yen(7'500)); // 150,000 × 100 / 2000
    EXPECT_EQ(koyouAsked, yen(150'000));
    EXPECT_EQ(s.nu1Koyou, yen(6'000));
    EXPECT_EQ(s.nu1Syagok, yen(21'000));
}

TEST(Keisan, ManualEntryChangesNothingButTheTotals)
{
    CalcContext ctx = context();
    ctx.tax = nullptr; // the tax step must not run
    ctx.jinji.HYOKBN = 9;
    ctx.kanri.CHIRIT = yen(10);
    BonusScreen s = insuredBonus(300'000);
    s.cboRoukbn = deductionChoice(1);
    s.nu1Kmchiiki = yen(1);
    s.nu1Kimatu = yen(500'000);
    s.nu1Kinben = yen(400'000);
    s.nu1Kenko = yen(40'000);
    s.nu1Kosei = yen(70'000);
    s.nu1Koyou = yen(7'200);
    s.nu1Syotok = yen(30'000);
    s.nu1Zeirit = dec(u"4.084");
    s.nu1Zenkaz = yen(300'000);
    const BonusScreen before = s;
    ASSERT_TRUE(prsKeisan(s, ctx).ok());
    EXPECT_EQ(s.nu1Kmchiiki, before.nu1Kmchiiki);
    EXPECT_EQ(s.nu1Kimatu, before.nu1Kimatu);
    EXPECT_EQ(s.nu1Kenko, before.nu1Kenko);
    EXPECT_EQ(s.nu1Koyou, before.nu1Koyou);
    EXPECT_EQ(s.nu1Syotok, yen(30'000));
    EXPECT_EQ(s.nu1Zeirit, dec(u"4.084"));
    EXPECT_EQ(s.txtKmritu, before.txtKmritu);
    // The totals of the example bonus, to the yen.
    EXPECT_EQ(s.nu1Ssikyu, yen(900'000));
    EXPECT_EQ(s.nu1Hkzegk, yen(0));
    EXPECT_EQ(s.nu1Syagok, yen(117'200));
    EXPECT_EQ(s.nu1Kazeig, yen(782'800));
    EXPECT_EQ(s.nu1Kougok, yen(147'200));
    EXPECT_EQ(s.nu1Sasihk, yen(752'800));
    EXPECT_EQ(ctx.curKazeig, yen(900'000));
}

TEST(Gokei, TaxMethodFollowsThePreviousMonthsPay)
{
    struct Row {
        std::int64_t bonus, zenkaz, zenzei, tax;
        const char16_t* rate;
    };
    const Row rows[] = {
        {600'005, 0, 0, 60'000, u"0"},              // 6 × 10 % of Int(600,005 / 6)
        {1'000'000, 100'000, 0, 20'420, u"2.042"},  // exactly ten times: standard method
        {1'000'001, 100'000, 5'000, 129'996, u"0"}, // 6 × (10 % of 266,666 − 5,000)
        {1'000'001, 100'000, 30'000, 0, u"0"},      // monthly tax not above last month's
        {1'000'000, 200'000, 0, 40'840, u"4.084"},
    };
    for (const Row& r : rows) {
        CalcContext ctx = context();
        BonusScreen s;
        s.nu1Kimatu = yen(r.bonus);
        s.nu1Zenkaz = yen(r.zenkaz);
        s.nu1Zenzei = yen(r.zenzei);
        s.nu1Zeirit = yen(99);
        ASSERT_TRUE(prsGokei(s, ctx).ok());
        EXPECT_EQ(s.nu1Syotok, yen(r.tax)) << r.bonus << " " << r.zenkaz;
        EXPECT_EQ(s.nu1Zeirit, dec(r.rate));
        EXPECT_EQ(s.nu1Kougok, yen(r.tax));
        EXPECT_EQ(s.nu1Sasihk, yen(r.bonus - r.tax));
    }
}

TEST(Gokei, MissingTaxTableNamesTheMonthAndKeepsTheOldTax)
{
    KorTAX::clsTax tax;
    tax.setEditions({simpleEdition(QDate(2027, 1, 1))});
    CalcContext ctx = context();
    ctx.tax = &tax;
    BonusScreen s;
    s.nu1Kimatu = yen(500'000);
    s.nu1Syotok = yen(1'234);
    s.nu1Zeirit = dec(u"2.042");
    s.nu1Kougok = yen(1'234);
    s.nu1Sasihk = yen(1);
    const mox::Status st = prsGokei(s, ctx);
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(st.message, u"2026年12月分の源泉徴収税額表がありません。"_s);
    EXPECT_EQ(s.nu1Ssikyu, yen(500'000)); // the steps before the tax ran
    EXPECT_EQ(ctx.curKazeig, yen(500'000));
    EXPECT_EQ(s.nu1Syotok, yen(1'234));
    EXPECT_EQ(s.nu1Zeirit, dec(u"2.042"));
    EXPECT_EQ(s.nu1Kougok, yen(1'234));
    EXPECT_EQ(s.nu1Sasihk, yen(1));

    ctx.monthCaption = u"令和 8年12月分"_s;
    EXPECT_EQ(prsGokei(s, ctx).message, u"令和 8年12月分の源泉徴収税額表がありません。"_s);
}
