// The tax object as the bonus entry program calls it, on the shipped editions given directly.

#include "taxdata.h"

using namespace taxtest;
using namespace Qt::StringLiterals;

namespace {

Currency day(std::int64_t yyyymmdd)
{
    return Currency::fromYen(yyyymmdd);
}

class TaxObject : public testing::Test {
protected:
    TaxObject()
    {
        tax.setEditions({reiwa2(), reiwa8(), reiwa9()});
        tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
    }
    KorTAX::clsTax tax;
    Currency out = yen(-1);
};

} // namespace

TEST_F(TaxObject, BonusByRateOfPreviousPay)
{
    // R8 d0: 300,000 yen lies in 260 千円以上 309 千円未満 → 6.126 %; 500,000 × 6.126 % = 30,630.
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, day(20261201), out), 0);
    EXPECT_EQ(out, yen(30'630));
    EXPECT_EQ(tax.TaxRate(), percent(u"6.126"));
    EXPECT_TRUE(tax.lastError().isEmpty());
}

TEST_F(TaxObject, SpouseIndicatorCountsAsOneDependant)
{
    // R8 at 300,000 yen: d2 (276–321) → 4.084 %; d3 (300–354) → 4.084 %; d1 (289–346) → 6.126 %.
    ASSERT_EQ(tax.TaxBonus(yen(100'000), yen(300'000), 0, 1, day(20260601), out), 0);
    EXPECT_EQ(tax.TaxRate(), percent(u"6.126"));
    ASSERT_EQ(tax.TaxBonus(yen(100'000), yen(300'000), 1, 1, day(20260601), out), 0);
    EXPECT_EQ(tax.TaxRate(), percent(u"4.084"));
    EXPECT_EQ(out, yen(4'084));
    // R8 monthly 299,000 row: d3 3,080, d4 1,470.
    ASSERT_EQ(tax.TaxMonthly(yen(299'000), 3, 1, day(20260601), out), 0);
    EXPECT_EQ(out, yen(1'470));
}

TEST_F(TaxObject, EditionChangesOnItsFirstDay)
{
    // Bonus d0 at 80,000 yen: R2 79–252 → 4.084 %; R8 below 82 → 0 %.
    ASSERT_EQ(tax.TaxBonus(yen(200'000), yen(80'000), 0, 0, day(20251231), out), 0);
    EXPECT_EQ(tax.TaxRate(), percent(u"4.084"));
    EXPECT_EQ(out, yen(8'168));
    ASSERT_EQ(tax.TaxBonus(yen(200'000), yen(80'000), 0, 0, day(20260101), out), 0);
    EXPECT_EQ(tax.TaxRate(), yen(0));
    EXPECT_EQ(out, yen(0));
    // Monthly d0 at 100,000 yen: R2 row 99,000–101,000 → 720; R8 below 105,000 → 0.
    ASSERT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, day(20251231), out), 0);
    EXPECT_EQ(out, yen(720));
    ASSERT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, day(20260101), out), 0);
    EXPECT_EQ(out, yen(0));
    ASSERT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, day(20200101), out), 0);
    EXPECT_EQ(out, yen(720));
}

TEST_F(TaxObject, MonthlyTableOfReiwa9From2027)
{
    struct Row {
        std::int64_t amount;
        short dependents;
        short spouse;
        std::int64_t reiwa8; // tax on 2026-12-01
        std::int64_t reiwa9; // tax on 2027-06-01 and on 2031-06-01, after the newest start
    };
    // Cells of monthly-table-kou.csv and monthly-table-kou-formula.csv of both editions.
    const Row rows[] = {
        {110'999, 0, 0, 380, 0},         // R9's first band now ends at 111,000
        {111'000, 0, 0, 480, 140},       // row 111,000–113,000
        {239'250, 0, 0, 5'790, 5'620},   // row 239,000–242,000
        {339'250, 0, 0, 10'750, 10'410}, // row 338,000–341,000
        {300'000, 2, 1, 3'080, 2'910},   // row 299,000–302,000, three dependants
        {800'000, 0, 0, 84'238, 83'558}, // 81,890 / 81,210 + 10,000 × 23.483 %
        // R8: 374,520 + 5,000 × 40.84 %; R9's band still runs to 1,720,000:
        // 121,130 + 755,000 × 33.693 % = 121,130 + 254,382.15
        {1'715'000, 0, 0, 376'562, 375'512},
        // d7 1,080,000 / 1,079,980 + 100,000 × 45.945 % − 2 × 1,610
        {3'600'000, 8, 1, 1'122'725, 1'122'705},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(tax.TaxMonthly(yen(r.amount), r.dependents, r.spouse, day(20261201), out), 0);
        EXPECT_EQ(out, yen(r.reiwa8)) << r.amount;
        ASSERT_EQ(tax.TaxMonthly(yen(r.amount), r.dependents, r.spouse, day(20270601), out), 0);
        EXPECT_EQ(out, yen(r.reiwa9)) << r.amount;
        ASSERT_EQ(tax.TaxMonthly(yen(r.amount), r.dependents, r.spouse, day(20310601), out), 0);
        EXPECT_EQ(out, yen(r.reiwa9)) << r.amount;
    }
}

TEST_F(TaxObject, TableTheEditionLacksIsRefusedNotBorrowed)
{
    // December 2026: the R8 bonus table, 260–309 千円 → 6.126 %.
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, day(20261201), out), 0);
    EXPECT_EQ(out, yen(30'630));
    out = yen(-1);
    for (const std::int64_t date : {20270101, 20270601, 20310601}) {
        EXPECT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, day(date), out),
                  KorTAX::kStatusNoTable)
            << date;
        EXPECT_EQ(out, yen(-1));
        EXPECT_EQ(tax.TaxRate(), percent(u"6.126"));
        EXPECT_EQ(tax.lastError(),
                  u"令和9年分の賞与に対する源泉徴収税額の算出率の表がありません。"_s);
    }

    KorTAX::Edition bonusOnly = reiwa8();
    bonusOnly.from = QDate(2028, 1, 1);
    bonusOnly.monthly.clear();
    tax.setEditions({reiwa8(), bonusOnly});
    EXPECT_EQ(tax.TaxMonthly(yen(300'000), 0, 0, day(20280601), out), KorTAX::kStatusNoTable);
    EXPECT_EQ(out, yen(-1));
    EXPECT_EQ(tax.lastError(), u"令和10年分の給与所得の源泉徴収税額表（月額表）がありません。"_s);
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, day(20280601), out), 0);
    EXPECT_EQ(out, yen(30'630));
}

TEST_F(TaxObject, DateBeforeOldestEditionIsAnError)
{
    tax.TaxBonus(yen(100'000), yen(300'000), 0, 0, day(20260601), out);
    const Currency rateBefore = tax.TaxRate();
    out = yen(-1);
    EXPECT_EQ(tax.TaxBonus(yen(100'000), yen(300'000), 0, 0, day(20191231), out),
              KorTAX::kStatusNoEdition);
    EXPECT_EQ(out, yen(-1));
    EXPECT_EQ(tax.TaxRate(), rateBefore);
    EXPECT_TRUE(tax.lastError().contains(QStringLiteral("2019年12月31日")))
        << tax.lastError().toStdString();
    EXPECT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, day(20191201), out), KorTAX::kStatusNoEdition);
    EXPECT_TRUE(tax.lastError().contains(QStringLiteral("2019年12月1日")));
}

TEST_F(TaxObject, MalformedArgumentsAreErrors)
{
    EXPECT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, day(20261301), out), KorTAX::kStatusBadArgument);
    EXPECT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, day(0), out), KorTAX::kStatusBadArgument);
    EXPECT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, Currency::fromRaw(202'612'015'000), out),
              KorTAX::kStatusBadArgument);
    EXPECT_EQ(tax.TaxBonus(yen(100'000), yen(300'000), -2, 1, day(20261201), out),
              KorTAX::kStatusBadArgument);
    EXPECT_FALSE(tax.lastError().isEmpty());
    EXPECT_EQ(out, yen(-1));
}

TEST_F(TaxObject, NegativeAmountsAreTaxedZero)
{
    ASSERT_EQ(tax.TaxBonus(yen(-50'000), yen(300'000), 0, 0, day(20261201), out), 0);
    EXPECT_EQ(out, yen(0));
    ASSERT_EQ(tax.TaxMonthly(yen(-1), 0, 0, day(20261201), out), 0);
    EXPECT_EQ(out, yen(0));
}

TEST(TaxObjectDatabase, MissingConfigurationIsAnError)
{
    qputenv("MOX_INI_DIR", QByteArrayLiteral("/nonexistent-mox-ini-dir"));
    KorTAX::clsTax tax;
    tax.setTaxIniName(QStringLiteral("NOSUCH.INI"));
    Currency out = yen(-1);
    const short st = tax.TaxMonthly(yen(100'000), 0, 0, day(20261201), out);
    qunsetenv("MOX_INI_DIR");
    EXPECT_LT(st, 0);
    EXPECT_EQ(out, yen(-1));
    EXPECT_TRUE(tax.lastError().contains(QStringLiteral("NOSUCH.INI")));
}
