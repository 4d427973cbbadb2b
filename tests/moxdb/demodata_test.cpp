// The demo district and the figures of its records: what the programs and the documentation
// rely on, and the arithmetic of the generated pay and bonus records worked by hand.
#include "moxdb/demodata.h"
#include "moxdb/paycalc.h"
#include "moxdb/tables.h"

#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

const DatasetRows& demoData()
{
    static const test::FlatTax tax;
    static const DatasetRows rows = demoRows(tax);
    return rows;
}

const Row* jinji(int code)
{
    for (const Row& r : demoData().jinji)
        if (r.integer(u"SYOKCD"_s) == code)
            return &r;
    return nullptr;
}

std::vector<const Row*> payments(int code)
{
    std::vector<const Row*> out;
    for (const Row& r : demoData().kyuyo)
        if (r.integer(u"SYOKCD"_s) == code)
            out.push_back(&r);
    return out;
}

const Row* payment(int code, int kind, int month, int sequence)
{
    for (const Row* r : payments(code))
        if (r->integer(u"KYUSYU"_s) == kind && r->integer(u"SKYUYM"_s) == month &&
            r->integer(u"KYUSEQ"_s) == sequence)
            return r;
    return nullptr;
}

int count(const std::vector<Row>& rows, const QString& field, int value)
{
    return static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                          [&](const Row& r) { return r.integer(field) == value; }));
}

} // namespace

TEST(DemoDistrict, ManagementRecordIsDecember2026)
{
    ASSERT_EQ(demoData().kanri.size(), 1u);
    const Row& k = demoData().kanri.front();
    EXPECT_EQ(k.text(u"KEY"_s), u"KANRI"_s);
    EXPECT_EQ(k.integer(u"SYORID"_s), 202612);
    EXPECT_EQ(k.money(u"KENTK2"_s), *Currency::parse(u"101.3"));
    EXPECT_EQ(k.money(u"KAITK2"_s), *Currency::parse(u"16.2"));
    EXPECT_EQ(k.money(u"KOSTK2"_s), yen(183));
    EXPECT_EQ(k.money(u"KENGEN"_s), yen(5'730'000));
    EXPECT_EQ(k.money(u"KOSGEN"_s), yen(1'500'000));
}

TEST(DemoDistrict, StaffCoverEveryClassAndCase)
{
    const std::vector<Row>& staff = demoData().jinji;
    EXPECT_GE(staff.size(), 55u);
    for (int payClass : {1, 2, 3, 4})
        EXPECT_GT(count(staff, u"KYUKBN"_s, payClass), 0) << "pay class " << payClass;
    EXPECT_GE(count(staff, u"HYOKBN"_s, 9), 2);
    EXPECT_GT(count(staff, u"KAIKBN"_s, 1), 0);
    EXPECT_GT(count(staff, u"KAIKBN"_s, 0), 0);
    for (int job = 1; job <= 10; ++job)
        EXPECT_GT(count(staff, u"SYOSYU"_s, job), 0) << "job kind " << job;
    EXPECT_TRUE(std::any_of(staff.begin(), staff.end(), [](const Row& r) {
        return r.integer(u"GENFUY"_s) + r.integer(u"GENHAI"_s) > 7;
    }));
    std::set<int> categories;
    for (const Row& r : staff)
        categories.insert(financeCategory(r.text(u"SYOZOK"_s)));
    EXPECT_TRUE(categories.count(0) && categories.count(1) && categories.count(5));
    std::set<int> codes;
    for (const Row& r : staff) {
        const int code = r.integer(u"SYOKCD"_s);
        EXPECT_TRUE(code >= 10'000 && code <= 9'999'999) << code;
        EXPECT_TRUE(codes.insert(code).second) << "duplicate " << code;
        EXPECT_FALSE(r.text(u"SIMKNJ"_s).isEmpty());
    }
}

TEST(DemoDistrict, NamedEmployeesHaveTheirServiceHistory)
{
    const Row* split = jinji(demo::kSplitService);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->integer(u"ZKNYMD_01"_s), 20260929);
    EXPECT_EQ(split->integer(u"ZKAYMD_02"_s), 20261001);
    const Row* merged = jinji(demo::kMergedService);
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->integer(u"ZKNYMD_01"_s), 20260930);
    EXPECT_EQ(merged->integer(u"ZKAYMD_02"_s), 0);
    EXPECT_EQ(merged->integer(u"KAIYMD_01"_s), 20261001);
    const Row* slots = jinji(demo::kTenSlots);
    ASSERT_TRUE(slots);
    EXPECT_NE(slots->integer(u"ZKAYMD_02"_s), 0);
    EXPECT_NE(slots->integer(u"KAIYMD_08"_s), 0);
    const Row* daily = jinji(demo::kDailyPaid);
    ASSERT_TRUE(daily);
    EXPECT_EQ(daily->integer(u"KYUKBN"_s), 4);
    EXPECT_EQ(daily->money(u"NITANK"_s), yen(9'000));
    const Row* full = jinji(demo::kFullService);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->integer(u"ZKNYMD_01"_s), 99991231);
    EXPECT_EQ(jinji(demo::kJoinedInAugust)->integer(u"ZKAYMD_01"_s), 20260801);
}

TEST(DemoDistrict, PaymentRecordsExerciseTheLedgerRules)
{
    const std::vector<Row>& kyuyo = demoData().kyuyo;
    EXPECT_TRUE(payments(demo::kNoPayment).empty());
    for (const Row* r : payments(demo::kOlderYearOnly)) {
        EXPECT_GE(r->integer(u"SKYUYM"_s), 202404);
        EXPECT_LE(r->integer(u"SKYUYM"_s), 202503);
    }
    EXPECT_FALSE(payments(demo::kOlderYearOnly).empty());
    // No December 2026 bonus but the one to view or correct.
    std::vector<int> december;
    for (const Row& r : kyuyo)
        if (r.integer(u"KYUSYU"_s) == 2 && r.integer(u"SKYUYM"_s) == 202612)
            december.push_back(r.integer(u"SYOKCD"_s));
    EXPECT_EQ(december, std::vector<int>{demo::kDecemberBonus});
    EXPECT_GT(count(kyuyo, u"KYUSYU"_s, 4), 0);
    EXPECT_GT(count(kyuyo, u"KYUSYU"_s, 3), 0);
    EXPECT_TRUE(std::any_of(kyuyo.begin(), kyuyo.end(), [](const Row& r) {
        return r.integer(u"KYUSYU"_s) == 1 && r.integer(u"KYUSEQ"_s) == 8;
    }));
    for (int sequence : {3, 6}) {
        EXPECT_TRUE(std::any_of(kyuyo.begin(), kyuyo.end(),
                                [&](const Row& r) {
                                    return r.integer(u"KYUSYU"_s) == 5 &&
                                           r.integer(u"KYUSEQ"_s) == sequence;
                                }))
            << "kind 5 sequence " << sequence;
    }
    // The records docs/demo-data.md points at.
    EXPECT_TRUE(payment(114267, 4, 202608, 1));
    EXPECT_TRUE(payment(114267, 5, 202609, 3));
    EXPECT_TRUE(payment(127008, 4, 202611, 1));
    EXPECT_TRUE(payment(127008, 1, 202607, 8));
    EXPECT_TRUE(payment(143338, 5, 202606, 6));
    // The year-end figures: −3,000 in December 2025, −500 more on the kind-3 record.
    EXPECT_EQ(payment(demo::kYearEnd, 1, 202512, 1)->money(u"NENFUS"_s), yen(-3'000));
    EXPECT_EQ(payment(demo::kYearEnd, 3, 202601, 1)->money(u"NENFUS"_s), yen(-500));
    // Every employee in service from April to November 2026 has all eight months.
    for (int month = 202604; month <= 202611; ++month)
        EXPECT_TRUE(payment(demo::kFullService, 1, month, 1)) << month;
    EXPECT_FALSE(payment(demo::kTenSlots, 1, 202608, 1)); // out of service in August
    EXPECT_FALSE(payment(demo::kJoinedInAugust, 1, 202607, 1));
    EXPECT_TRUE(payment(demo::kJoinedInAugust, 1, 202608, 1));
    // Daily-paid staff get no June bonus.
    EXPECT_FALSE(payment(demo::kDailyPaid, 2, 202606, 0));
}

TEST(DemoDistrict, KeysAreUniqueAndInOrder)
{
    const std::vector<Row>& kyuyo = demoData().kyuyo;
    auto key = [](const Row& r) {
        return std::make_tuple(r.integer(u"SYOKCD"_s), r.integer(u"KYUSYU"_s),
                               r.integer(u"SKYUYM"_s), r.integer(u"KYUSEQ"_s));
    };
    for (std::size_t i = 1; i < kyuyo.size(); ++i)
        EXPECT_LT(key(kyuyo[i - 1]), key(kyuyo[i])) << "record " << i;
    // The first record in key order is the full-service teacher's April salary.
    EXPECT_EQ(kyuyo.front().integer(u"SYOKCD"_s), demo::kFullService);
    EXPECT_EQ(kyuyo.front().money(u"KYURYO"_s), yen(312'400));
}

TEST(DemoDistrict, SameRowsEveryTime)
{
    const test::FlatTax tax;
    const DatasetRows again = demoRows(tax);
    ASSERT_EQ(again.kyuyo.size(), demoData().kyuyo.size());
    for (std::size_t i = 0; i < again.kyuyo.size(); ++i)
        EXPECT_EQ(again.kyuyo[i].values(), demoData().kyuyo[i].values()) << "record " << i;
    ASSERT_EQ(again.jinji.size(), demoData().jinji.size());
    for (std::size_t i = 0; i < again.jinji.size(); ++i)
        EXPECT_EQ(again.jinji[i].values(), demoData().jinji[i].values()) << "employee " << i;
}

TEST(PaymentRecord, TotalsAgreeInEveryRecord)
{
    for (const Row& r : demoData().kyuyo) {
        const int kind = r.integer(u"KYUSYU"_s);
        Currency pay;
        if (kind == 1 || kind == 4) {
            for (const QString& item : monthlyPayItems())
                pay += r.money(item);
        } else {
            pay = r.money(u"KIMATU"_s) + r.money(u"kmzoge"_s) + r.money(u"KINBEN"_s);
        }
        const Currency social = r.money(u"KENKO"_s) + r.money(u"KOSEI"_s) + r.money(u"KOYOU"_s);
        const Currency deductions = social + r.money(u"SYOTOK"_s);
        SCOPED_TRACE(testing::Message() << r.integer(u"SYOKCD"_s) << " kind " << kind << " "
                                        << r.integer(u"SKYUYM"_s));
        EXPECT_EQ(r.money(u"SSIKYU"_s), pay);
        EXPECT_EQ(r.money(u"KAZEIG"_s), r.money(u"SSIKYU"_s) - r.money(u"HKZEGK"_s));
        EXPECT_EQ(r.money(u"SYAGOK"_s), social);
        EXPECT_EQ(r.money(u"KOUGOK"_s), deductions);
        EXPECT_EQ(r.money(u"SASIHK"_s), r.money(u"SSIKYU"_s) - deductions);
        EXPECT_FALSE(r.money(u"SSIKYU"_s).isNegative());
    }
}

TEST(PaymentRecord, FullServiceJuneBonusWorkedByHand)
{
    // Salary 312,400 + adjustment 2,100 + teaching adjustment 12,496 = 326,996; with the
    // dependants allowance 10,000: 336,996. Regional 10 %: 33,699 and 32,699 (yen cut off).
    // Term-end 122.5 % of 370,695 = 454,101.375 → 454,101; diligence 102.5 % of 359,695 =
    // 368,687.375 → 368,687. Total 822,788; standard amount 822,000.
    // Health with care (101.3 + 16.2 = 117.5 ‰, half): 48,292.5 → 48,293 (half a yen up);
    // pension 183 ‰ half: 75,213; employment 5 ‰ of 822,788 = 4,113.94 → 4,113.
    // Tax at the flat bonus rate 4.084 % of 822,788 − 127,619 = 695,169: 28,390.7 → 28,390.
    const Row* b = payment(demo::kFullService, 2, 202606, 0);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->money(u"KMCHIIKI"_s), yen(33'699));
    EXPECT_EQ(b->money(u"KBCHIIKI"_s), yen(32'699));
    EXPECT_EQ(b->money(u"KIMATU"_s), yen(454'101));
    EXPECT_EQ(b->money(u"KINBEN"_s), yen(368'687));
    EXPECT_EQ(b->money(u"SSIKYU"_s), yen(822'788));
    EXPECT_EQ(b->money(u"KENKO"_s), yen(48'293));
    EXPECT_EQ(b->money(u"KOSEI"_s), yen(75'213));
    EXPECT_EQ(b->money(u"KOYOU"_s), yen(4'113));
    EXPECT_EQ(b->money(u"SYOTOK"_s), yen(28'390));
    EXPECT_EQ(b->money(u"ZEIRT2"_s), *Currency::parse(u"4.084"));
    EXPECT_EQ(b->money(u"KMRITU"_s), yen(12'250'000));
    EXPECT_EQ(b->money(u"KBRITU"_s), yen(10'250'000));
    EXPECT_EQ(b->integer(u"KMMMDD"_s), 600);
    EXPECT_EQ(b->integer(u"FSINSU"_s), 2);
    EXPECT_EQ(b->integer(u"ZAIMU"_s), 1); // office E4201
    // The previous month's figures are May's pay less its social insurance, and its tax.
    const Row* may = payment(demo::kFullService, 1, 202605, 1);
    ASSERT_TRUE(may);
    EXPECT_EQ(b->money(u"ZENKAZ"_s), may->money(u"KAZEIG"_s) - may->money(u"SYAGOK"_s));
    EXPECT_EQ(b->money(u"ZENZEI"_s), may->money(u"SYOTOK"_s));
}

TEST(PaymentRecord, MonthlyPremiumsWorkedByHand)
{
    // April 2026 of the full-service teacher: regional allowance 10 % of 336,996 = 33,699;
    // premiums on the pay cut to thousands, employment insurance on the whole pay.
    const Row* april = payment(demo::kFullService, 1, 202604, 1);
    ASSERT_TRUE(april);
    EXPECT_EQ(april->money(u"CHIIKI"_s), yen(33'699));
    const Currency pay = april->money(u"SSIKYU"_s);
    EXPECT_EQ(pay,
              yen(312'400 + 2'100 + 12'496 + 10'000 + 33'699 + 8'300) + april->money(u"TOKGYO"_s));
    const std::int64_t base = pay.toInteger(Rounding::Floor) / 1000 * 1000;
    // 117.5 ‰ / 2 and 183 ‰ / 2 of the base, halves rounded up: (x × 1175 + 10000) / 20000.
    EXPECT_EQ(april->money(u"KENKO"_s), yen((base * 1175 + 10'000) / 20'000));
    EXPECT_EQ(april->money(u"KOSEI"_s), yen((base * 1830 + 10'000) / 20'000));
    EXPECT_EQ(april->money(u"KOYOU"_s), yen(pay.toInteger(Rounding::Floor) * 5 / 1000));
    EXPECT_EQ(april->money(u"HKZEGK"_s), yen(8'300));
}

TEST(EmploymentBands, DerivedFromTheRoundingRule)
{
    // 5 ‰: a premium of 0.5 yen or less is dropped (wages up to 100), above it rounds up.
    const EmploymentBands b = EmploymentBands::derived(5);
    EXPECT_EQ(b.upper[0], yen(101));
    EXPECT_EQ(b.upper[1], yen(301));
    EXPECT_EQ(b.upper[59], yen(11'901));
    EXPECT_EQ(b.premium[0], yen(0));
    EXPECT_EQ(b.premium[59], yen(59));
    struct Case {
        std::int64_t wage, premium;
    };
    for (const Case c : {Case{0, 0},
                         {100, 0},
                         {101, 1},
                         {300, 1},
                         {301, 2},
                         {11'900, 59},
                         {11'901, 59},
                         {12'000, 60},
                         {1'234'567, 6'172}}) {
        EXPECT_EQ(b.premiumFor(yen(c.wage)), yen(c.premium)) << "wage " << c.wage;
    }
    // 6 ‰: 83 yen gives 0.498 (dropped), 84 gives 0.504 (1); 250 gives exactly 1.5 (1 yen),
    // 251 gives 1.506 (2 yen).
    const EmploymentBands six = EmploymentBands::derived(6);
    EXPECT_EQ(six.upper[0], yen(84));
    EXPECT_EQ(six.upper[1], yen(251));
    EXPECT_EQ(six.premiumFor(yen(250)), yen(1));
    EXPECT_EQ(six.premiumFor(yen(251)), yen(2));
}

TEST(FinanceCategory, FromOfficeCode)
{
    struct Case {
        const char16_t* code;
        int category;
    };
    for (const Case c : {Case{u"e4201", 1},
                         {u"41800", 0},
                         {u"E4180", 5},
                         {u"4179", 5},
                         {u"4182", 5},
                         {u"4183", 1},
                         {u"4300", 3},
                         {u"5136", 5},
                         {u"5299", 1},
                         {u"3100", 1},
                         {u"ABCD", 0},
                         {u" 5210 ", 1}}) {
        EXPECT_EQ(financeCategory(QString::fromUtf16(c.code)), c.category)
            << QString::fromUtf16(c.code).toStdString();
    }
}

TEST(ServicePeriods, TouchingPeriodsCountAsOne)
{
    Employee e;
    e.first = {20050401, 20260930};
    e.further[0] = {20261001, kOpenEnd};
    EXPECT_TRUE(inServiceThroughout(e, 20260602, 20261201));
    e.first.to = 20260929; // one day missing
    EXPECT_FALSE(inServiceThroughout(e, 20260602, 20261201));
    EXPECT_TRUE(inServiceDuring(e, 202609));
    EXPECT_TRUE(inServiceDuring(e, 202610));
    e.first = {20260801, kOpenEnd};
    e.further[0] = {};
    EXPECT_FALSE(inServiceDuring(e, 202607));
    EXPECT_TRUE(inServiceDuring(e, 202608));
}

TEST(PremiumRounding, HalfYenUp)
{
    EXPECT_EQ(roundPremium(*Currency::parse(u"4100.4999")), yen(4'100));
    EXPECT_EQ(roundPremium(*Currency::parse(u"4100.5")), yen(4'101));
    EXPECT_EQ(roundPremium(*Currency::parse(u"-4100.5")), yen(-4'101));
    EXPECT_EQ(roundPremium(*Currency::parse(u"-4100.4")), yen(-4'100));
}
