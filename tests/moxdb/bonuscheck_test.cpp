// The check of a bonus month (checkBonus) on records made up here: each reason from its
// boundary, the totals, and the premium cap against the entry screen's own calculation.
#include "moxdb/bonuscheck.h"

#include "mox110/bonuscalc.h"

#include "checkrecord.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

Currency yen(std::int64_t y)
{
    return Currency::fromYen(y);
}

CheckInput district(int month = 202612)
{
    CheckInput in;
    in.month = month;
    in.kengen = yen(1000000);
    in.kosgen = yen(1500000);
    in.thresholdPercent = yen(10);
    return in;
}

std::vector<QString> codesOf(const CheckList& list, int syokcd)
{
    for (const CheckLine& l : list.lines) {
        if (l.syokcd != syokcd)
            continue;
        std::vector<QString> out;
        for (CheckReason r : l.reasons)
            out.push_back(reasonCode(r));
        EXPECT_EQ(l.figures.size(), qsizetype(l.reasons.size()));
        return out;
    }
    return {};
}

struct RecordCase {
    const char* what;
    void (*change)(CheckRecord&, CheckEmployee&, CheckInput&);
    std::vector<QString> expected;
};

class BonusCheckRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(BonusCheckRecord, ListsExactlyItsReasons)
{
    const RecordCase& c = GetParam();
    CheckInput in = district();
    CheckRecord r = plainCheckRecord(1001);
    CheckEmployee e{1001, u"甲"_s, 1, 0, true};
    c.change(r, e, in);
    in.records.push_back(r);
    in.staff.push_back(e);
    const CheckList list = checkBonus(in);
    EXPECT_EQ(codesOf(list, 1001), c.expected) << c.what;
    EXPECT_EQ(list.lines.size(), c.expected.empty() ? 0u : 1u) << c.what;
}

// clang-format off
const RecordCase kRecordCases[] = {
    {"nothing to look at", [](CheckRecord&, CheckEmployee&, CheckInput&) {}, {}},
    {"term-end period 5 months 29 days", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.kmmmdd = 529; }, {u"PERIOD"_s}},
    {"diligence period 5 months 15 days", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.kbmmdd = 515; }, {u"PERIOD"_s}},
    {"term-end rate 99.9", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.kmzrit = *Currency::parse(u"99.9"); }, {u"PERIOD"_s}},
    {"diligence rate 95", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.kbzrit = yen(95); }, {u"PERIOD"_s}},
    {"daily paid without period rates", [](CheckRecord& r, CheckEmployee& e, CheckInput&) { r.kyukbn = e.kyukbn = 4; r.kmmmdd = 0; r.kmzrit = Currency(); }, {u"DAILY"_s}},
    {"hand entered with his own tax", [](CheckRecord& r, CheckEmployee& e, CheckInput&) { e.hyokbn = 9; r.zenkaz = Currency(); }, {u"MANUAL"_s}},
    {"no deduction no cap", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.kimatu = yen(3000000); r.tokkbn = 0; r.ssikyu = yen(3300000); r.zenkaz = yen(400000); }, {}},
    {"standard one thousand below the health cap", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.tokkbn = 1; r.kimatu = yen(699999); }, {}},
    {"standard exactly at the health cap", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.tokkbn = 1; r.kimatu = yen(700999); }, {u"HEALTHCAP"_s}},
    {"above both caps", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.tokkbn = 1; r.kimatu = yen(1200000); r.ssikyu = yen(1500000); }, {u"HEALTHCAP"_s, u"PENSIONCAP"_s}},
    {"a zero cap holds every premium", [](CheckRecord& r, CheckEmployee&, CheckInput& in) { r.tokkbn = 1; in.kengen = Currency(); }, {u"HEALTHCAP"_s}},
    {"no previous month's pay", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.zenkaz = Currency(); }, {u"TAXMETHOD"_s}},
    {"bonus exactly ten times the previous pay", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.zenkaz = yen(80000); }, {}},
    {"bonus above ten times the previous pay", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.zenkaz = *Currency::parse(u"79999.9999"); }, {u"TAXMETHOD"_s}},
    {"no cash", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.sasihk = Currency(); }, {u"CASH"_s}},
    {"less than nothing", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.sasihk = yen(-1); }, {u"CASH"_s}},
    {"one yen of cash", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.sasihk = yen(1); }, {}},
    {"ten percent up exactly", [](CheckRecord& r, CheckEmployee&, CheckInput& in) { r.ssikyu = yen(880000); in.lastYear[1001] = yen(800000); }, {}},
    {"just over ten percent up", [](CheckRecord&, CheckEmployee&, CheckInput& in) { in.lastYear[1001] = yen(727272); }, {u"YOY"_s}},
    {"ten percent down exactly", [](CheckRecord& r, CheckEmployee&, CheckInput& in) { r.ssikyu = yen(900000); in.lastYear[1001] = yen(1000000); }, {}},
    {"a yen over ten percent down", [](CheckRecord& r, CheckEmployee&, CheckInput& in) { r.ssikyu = yen(899999); in.lastYear[1001] = yen(1000000); }, {u"YOY"_s}},
    {"eleven percent down", [](CheckRecord&, CheckEmployee&, CheckInput& in) { in.lastYear[1001] = yen(900000); }, {u"YOY"_s}},
    {"a larger threshold", [](CheckRecord&, CheckEmployee&, CheckInput& in) { in.lastYear[1001] = yen(900000); in.thresholdPercent = yen(12); }, {}},
    {"nothing a year earlier", [](CheckRecord&, CheckEmployee&, CheckInput& in) { in.lastYear[1001] = Currency(); }, {u"YOY"_s}},
    {"daily paid in June no longer listed", [](CheckRecord& r, CheckEmployee& e, CheckInput& in) { in.month = 202606; r.kyukbn = e.kyukbn = 4; e.listed = false; }, {u"DAILY"_s, u"UNLISTED"_s}},
    {"gone from the master", [](CheckRecord&, CheckEmployee& e, CheckInput&) { e.syokcd = 1002; e.listed = false; }, {u"UNLISTED"_s}},
    // Figures beyond the money type (about 922 trillion yen) cannot be checked: refused alone.
    {"standard bonus beyond the money type", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.tokkbn = 1; r.kimatu = yen(500'000'000'000'000); r.kinben = yen(500'000'000'000'000); r.sasihk = Currency(); }, {u"REFUSED"_s}},
    {"previous pay too large to take ten times", [](CheckRecord& r, CheckEmployee&, CheckInput&) { r.zenkaz = yen(100'000'000'000'000); r.kmmmdd = 529; }, {u"REFUSED"_s}},
    {"change from last year beyond the money type", [](CheckRecord& r, CheckEmployee&, CheckInput& in) { r.ssikyu = yen(900'000'000'000'000); in.lastYear[1001] = yen(-100'000'000'000'000); }, {u"REFUSED"_s}},
    {"change too large for its percentage", [](CheckRecord& r, CheckEmployee&, CheckInput& in) { r.ssikyu = yen(10'000'000'000'000); in.lastYear[1001] = yen(1); }, {u"REFUSED"_s}},
};
// clang-format on

// A case's name: its description, letters and digits kept, the rest as "_".
std::string caseName(const testing::TestParamInfo<RecordCase>& info)
{
    std::string name = info.param.what;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Reasons, BonusCheckRecord, testing::ValuesIn(kRecordCases), caseName);

TEST(BonusCheck, StaffWithoutRecord)
{
    CheckInput in = district();
    in.staff = {{2001, u"乙"_s, 1, 0, true},
                {2002, u"丙"_s, 1, 9, true},
                {2003, u"丁"_s, 4, 0, false}, // daily paid in June: not due
                {2004, u"戊"_s, 1, 0, true}};
    in.refusals[2004] = u"令和 9年 6月分の源泉徴収税額表がありません。"_s;
    const CheckList list = checkBonus(in);
    ASSERT_EQ(list.lines.size(), 3u);
    EXPECT_EQ(codesOf(list, 2001), std::vector<QString>{u"NORECORD"_s});
    EXPECT_EQ(codesOf(list, 2002), (std::vector<QString>{u"MANUAL"_s, u"NORECORD"_s}));
    EXPECT_EQ(codesOf(list, 2004), (std::vector<QString>{u"REFUSED"_s, u"NORECORD"_s}));
    EXPECT_EQ(list.lines[2].figures.front(), in.refusals[2004]);
    EXPECT_FALSE(list.lines[0].record.has_value());
    EXPECT_EQ(list.district.headcount, 0);
    EXPECT_EQ(list.perReason[std::size_t(CheckReason::NoRecord)].headcount, 3);
}

TEST(BonusCheck, RecordBeyondTheMoneyTypeIsRefusedAndOthersStillChecked)
{
    CheckInput in = district();
    CheckRecord huge = plainCheckRecord(1), cashless = plainCheckRecord(2);
    huge.zenkaz = yen(100'000'000'000'000);
    cashless.sasihk = Currency();
    in.records = {huge, cashless};
    in.staff = {{1, u"一"_s, 1, 0, true}, {2, u"二"_s, 1, 0, true}};
    const CheckList list = checkBonus(in);
    ASSERT_EQ(list.lines.size(), 2u);
    EXPECT_EQ(list.lines[0].figures, QStringList{u"金額が大きすぎて計算できません。"_s});
    EXPECT_EQ(codesOf(list, 2), std::vector<QString>{u"CASH"_s});
    EXPECT_EQ(list.district.headcount, 2);
    EXPECT_EQ(list.perReason[std::size_t(CheckReason::Refused)].headcount, 1);
}

TEST(BonusCheck, TotalsPerReasonAndDistrict)
{
    CheckInput in = district();
    CheckRecord a = plainCheckRecord(1), b = plainCheckRecord(2), c = plainCheckRecord(3);
    b.sasihk = Currency();
    b.ssikyu = yen(100);
    b.kougok = yen(100);
    c.sasihk = yen(-5);
    c.zenkaz = Currency();
    c.ssikyu = yen(50);
    c.kougok = yen(55);
    in.records = {a, b, c};
    in.staff = {{1, u"一"_s, 1, 0, true}, {2, u"二"_s, 1, 0, true}, {3, u"三"_s, 1, 0, true}};
    const CheckList list = checkBonus(in);
    const CheckTotal& cash = list.perReason[std::size_t(CheckReason::Cash)];
    EXPECT_EQ(cash.headcount, 2);
    EXPECT_EQ(cash.ssikyu, yen(150));
    EXPECT_EQ(cash.kougok, yen(155));
    EXPECT_EQ(cash.sasihk, yen(-5));
    EXPECT_EQ(list.perReason[std::size_t(CheckReason::TaxMethod)].headcount, 1);
    EXPECT_EQ(list.perReason[std::size_t(CheckReason::Period)].headcount, 0);
    EXPECT_EQ(list.district.headcount, 3);
    EXPECT_EQ(list.district.ssikyu, yen(800150));
    EXPECT_EQ(list.district.kougok, yen(30155));
    EXPECT_EQ(list.district.sasihk, yen(769995));
    ASSERT_EQ(list.lines.size(), 2u);
    EXPECT_EQ(list.lines[0].syokcd, 2);
}

TEST(BonusCheck, CodesAreStableAndDistinct)
{
    QStringList seen;
    for (int r = 0; r < kCheckReasonCount; ++r) {
        const QString code = reasonCode(CheckReason(r));
        EXPECT_FALSE(seen.contains(code));
        for (QChar ch : code)
            EXPECT_TRUE(ch >= u'A' && ch <= u'Z') << code.toStdString();
        EXPECT_FALSE(reasonLabel(CheckReason(r)).isEmpty());
        seen.append(code);
    }
    EXPECT_EQ(periodText(515), u"5月15日"_s);
}

// The health premium the entry screen works out for a bonus of \p total with deductions on.
Currency screenPremium(Currency total, bool health)
{
    mox110::BonusScreen s;
    mox110::CalcContext ctx;
    ctx.kanri.SYORID = Currency::fromYen(202612);
    ctx.kanri.KENGEN = yen(1000000);
    ctx.kanri.KOSGEN = yen(1500000);
    ctx.kanri.KENTK2 = yen(100);
    ctx.kanri.KOSTK2 = yen(183);
    ctx.roundingComplements = [] {
        return std::pair{Currency::fromRaw(5000), Currency::fromRaw(5000)};
    };
    s.nu1Kyuryo = total;
    s.txtKmritu = u"100.00000"_s; // the term-end allowance is the salary itself
    s.txtKbritu = u"0.00000"_s;
    s.cboTokkbn = mox110::deductionChoice(1);
    // Without a tax object the totals stop at the tax; the premiums are worked out before.
    (void)mox110::prsKeisan(s, ctx);
    EXPECT_EQ(s.nu1Kimatu, total);
    return health ? s.nu1Kenko : s.nu1Kosei;
}

// The cap as the check sees it agrees with the calculation: a premium is listed at its cap
// exactly when a larger bonus would not raise it.
TEST(BonusCheck, CapAgreesWithTheScreensCalculation)
{
    const Currency far = yen(50000000);
    for (std::int64_t total :
         {998999, 999999, 1000000, 1000999, 1499999, 1500000, 1500001, 2300000}) {
        CheckInput in = district();
        CheckRecord r = plainCheckRecord(1);
        r.tokkbn = 1;
        r.kimatu = yen(total);
        r.kinben = Currency();
        in.records = {r};
        in.staff = {{1, u"一"_s, 1, 0, true}};
        const std::vector<QString> codes = codesOf(checkBonus(in), 1);
        const auto has = [&](const QString& c) {
            return std::find(codes.begin(), codes.end(), c) != codes.end();
        };
        EXPECT_EQ(has(u"HEALTHCAP"_s), screenPremium(yen(total), true) == screenPremium(far, true))
            << total;
        EXPECT_EQ(has(u"PENSIONCAP"_s),
                  screenPremium(yen(total), false) == screenPremium(far, false))
            << total;
    }
}

} // namespace
