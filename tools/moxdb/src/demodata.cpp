#include "moxdb/demodata.h"

#include "moxdb/paycalc.h"
#include "moxdb/random.h"
#include "moxdb/records.h"
#include "moxdb/tables.h"

#include <QSet>

#include <algorithm>
#include <map>
#include <tuple>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr int kProcessingMonth = 202612;
constexpr int kFiscalYear = 2026;

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

Currency percent(const char16_t* text)
{
    return *Currency::parse(QStringView(text));
}

bool teaches(int jobKind)
{
    return jobKind == 3 || jobKind == 4 || jobKind == 5 || jobKind == 6 || jobKind == 10;
}

/// A regular member of staff in service since \p since, with the teaching adjustment of 4 %
/// where the job kind earns it.
Employee employee(int code, const QString& name, int jobKind, std::int64_t salary, int since)
{
    Employee e;
    e.code = code;
    e.name = name;
    e.jobKind = jobKind;
    e.payClass = jobKind == 7 || jobKind == 8 ? 2 : (jobKind >= 9 ? 3 : 1);
    e.salary = yen(salary);
    if (teaches(jobKind))
        e.teachingAdjustment = yen(salary * 4 / 100);
    e.first = {since, kOpenEnd};
    e.office = u"E4201"_s;
    e.grade = jobKind <= 2 ? 4 : 2;
    e.step = 41;
    return e;
}

Employee dailyPaid(int code, const QString& name, int jobKind, std::int64_t wage, int since)
{
    Employee e = employee(code, name, jobKind, 0, since);
    e.payClass = 4;
    e.salary = Currency();
    e.teachingAdjustment = Currency();
    e.dailyWage = yen(wage);
    e.grade = 1;
    e.step = 1;
    return e;
}

std::vector<Employee> namedStaff()
{
    std::vector<Employee> s;

    Employee full = employee(demo::kFullService, u"青木　真理子"_s, 3, 312'400, 19980401);
    full.adjustment = yen(2'100);
    full.dependantsAllowance = yen(10'000);
    full.dependants = 1;
    full.spouse = 1;
    full.careInsurance = 1;
    full.grade = 2;
    full.step = 85;
    full.allowances.commuteFree = yen(8'300);
    full.allowances.clubDuty = true;
    s.push_back(full);

    Employee split = employee(demo::kSplitService, u"石川　大輔"_s, 3, 285'600, 20080401);
    split.first = {20080401, 20260929};
    split.second = {20261001, kOpenEnd};
    split.office = u"4180"_s;
    split.step = 61;
    split.allowances.commuteFree = yen(4'200);
    s.push_back(split);

    Employee merged = employee(demo::kMergedService, u"上田　恵美"_s, 4, 301'900, 20050401);
    merged.first = {20050401, 20260930};
    merged.further[0] = {20261001, kOpenEnd};
    merged.office = u"3100"_s;
    merged.careInsurance = 1;
    merged.step = 73;
    s.push_back(merged);

    Employee daily = dailyPaid(demo::kDailyPaid, u"松本　和子"_s, 9, 9'000, 20200401);
    daily.office = u"5136"_s;
    daily.careInsurance = 1;
    s.push_back(daily);

    Employee dailyManual = dailyPaid(demo::kDailyPaidManual, u"村上　修"_s, 10, 8'800, 20220401);
    dailyManual.inputClass = 9;
    dailyManual.office = u"5137"_s;
    s.push_back(dailyManual);

    Employee slots = employee(demo::kTenSlots, u"長谷川　博"_s, 6, 236'700, 20170401);
    slots.first = {20170401, 20180331};
    slots.second = {20180402, 20190331};
    for (int i = 0; i < 6; ++i)
        slots.further[static_cast<std::size_t>(i)] = {(2019 + i) * 10000 + 401,
                                                      (2020 + i) * 10000 + 331};
    slots.further[6] = {20250401, 20260731};
    slots.further[7] = {20260901, kOpenEnd};
    slots.office = u"2300"_s;
    slots.allowances.remote = yen(18'000);
    s.push_back(slots);

    Employee none = employee(demo::kNoPayment, u"岡田　直樹"_s, 7, 186'000, 20261201);
    none.office = u"E5201"_s;
    s.push_back(none);

    Employee retired = employee(demo::kOlderYearOnly, u"藤田　宏"_s, 1, 468'000, 19850401);
    retired.first = {19850401, 20250331};
    retired.careInsurance = 1;
    retired.allowances.special = yen(9'000);
    s.push_back(retired);

    Employee december = employee(demo::kDecemberBonus, u"高橋　健一"_s, 3, 348'200, 20010401);
    december.dependantsAllowance = yen(20'000);
    december.dependants = 2;
    december.spouse = 1;
    december.careInsurance = 1;
    december.office = u"5210"_s;
    december.allowances.commuteFree = yen(12'600);
    december.allowances.housing = yen(16'000);
    s.push_back(december);

    Employee august = employee(demo::kJoinedInAugust, u"新井　彩花"_s, 6, 198'300, 20260801);
    august.office = u"4181"_s;
    s.push_back(august);

    Employee yearEnd = employee(demo::kYearEnd, u"小林　誠"_s, 1, 455'100, 19880401);
    yearEnd.inputClass = 9;
    yearEnd.careInsurance = 1;
    yearEnd.dependants = 7;
    yearEnd.spouse = 1;
    yearEnd.dependantsAllowance = yen(40'000);
    yearEnd.allowances.special = yen(9'000);
    yearEnd.allowances.singlePosting = yen(30'000);
    s.push_back(yearEnd);

    Employee july = employee(1502028, u"森　翔太"_s, 7, 182'400, 20260701);
    july.office = u"E4215"_s;
    july.allowances.overtime = true;
    s.push_back(july);

    Employee career = employee(1203366, u"中島　裕子"_s, 3, 322'800, 19960401);
    career.first = {19960401, 20100331};
    career.second = {20120401, 20210930};
    career.further[0] = {20211001, kOpenEnd};
    career.dependants = 8;
    career.dependantsAllowance = yen(40'000);
    career.careInsurance = 1;
    career.office = u"41800"_s;
    s.push_back(career);

    Employee returned = employee(1203374, u"佐々木　亮"_s, 7, 251'300, 20000401);
    returned.first = {20000401, 20150331};
    returned.further[0] = {20160401, 20230331};
    returned.further[1] = {20230401, kOpenEnd};
    returned.office = u"6400"_s;
    returned.allowances.overtime = true;
    returned.allowances.remoteQuasi = yen(4'000);
    s.push_back(returned);
    return s;
}

std::vector<Employee> generatedStaff(const std::vector<Employee>& named, int count)
{
    static const QStringList surnames = {
        u"佐藤"_s, u"鈴木"_s, u"田中"_s, u"伊藤"_s, u"渡辺"_s, u"山本"_s, u"中村"_s,
        u"加藤"_s, u"吉田"_s, u"山田"_s, u"山口"_s, u"斎藤"_s, u"井上"_s, u"木村"_s,
        u"林"_s,   u"清水"_s, u"山崎"_s, u"池田"_s, u"橋本"_s, u"阿部"_s, u"山下"_s,
        u"石井"_s, u"小川"_s, u"前田"_s, u"後藤"_s, u"近藤"_s, u"遠藤"_s, u"坂本"_s,
        u"西村"_s, u"福田"_s, u"太田"_s, u"三浦"_s, u"原田"_s, u"中野"_s, u"小野"_s};
    static const QStringList givenNames = {
        u"健"_s,   u"誠一"_s, u"拓也"_s, u"浩二"_s, u"隆"_s,   u"和也"_s,   u"達也"_s, u"悠斗"_s,
        u"雅人"_s, u"剛"_s,   u"哲也"_s, u"陽介"_s, u"亮太"_s, u"博之"_s,   u"康弘"_s, u"裕子"_s,
        u"陽子"_s, u"由美"_s, u"美咲"_s, u"直子"_s, u"智子"_s, u"久美子"_s, u"明美"_s, u"さくら"_s,
        u"麻衣"_s, u"理恵"_s, u"香織"_s, u"舞"_s,   u"千尋"_s, u"奈々"_s,   u"綾"_s,   u"幸子"_s};
    static const QStringList offices = {u"E4201"_s, u"E4215"_s, u"4180"_s, u"4182"_s,
                                        u"5136"_s,  u"5210"_s,  u"3100"_s, u"2300"_s,
                                        u"4300"_s,  u"E5201"_s, u"6400"_s, u"4179"_s};
    // Job kinds weighted like a school: mostly teachers, a few of every other kind.
    static const int jobKinds[] = {1, 2, 3, 3, 3, 3, 3, 3, 3, 4, 5, 6, 6, 7, 7, 8, 9, 10};
    static const std::int64_t low[] = {420'000, 390'000, 200'000, 220'000, 220'000,
                                       180'000, 180'000, 190'000, 180'000, 180'000};
    static const std::int64_t high[] = {480'000, 440'000, 420'000, 400'000, 380'000,
                                        300'000, 400'000, 330'000, 280'000, 300'000};

    QSet<QString> names;
    QSet<int> codes;
    for (const Employee& e : named) {
        names.insert(e.name);
        codes.insert(e.code);
    }
    Random rnd(demo::kSeed);
    std::vector<Employee> s;
    int code = 1010000;
    while (static_cast<int>(s.size()) < count) {
        code += rnd.between(1'200, 19'000);
        // A few six-digit codes among the seven-digit ones.
        const int actual = rnd.chance(10) ? code / 10 : code;
        QString name = surnames[rnd.between(0, static_cast<int>(surnames.size()) - 1)] + u"　"_s +
                       givenNames[rnd.between(0, static_cast<int>(givenNames.size()) - 1)];
        if (names.contains(name) || codes.contains(actual))
            continue;
        names.insert(name);
        codes.insert(actual);

        const int job = jobKinds[rnd.between(0, static_cast<int>(std::size(jobKinds)) - 1)];
        const auto j = static_cast<std::size_t>(job - 1);
        const std::int64_t salary =
            rnd.between(static_cast<int>(low[j] / 100), static_cast<int>(high[j] / 100)) * 100;
        const int since = rnd.between(1988, 2025) * 10000 + 401;
        Employee e = employee(actual, name, job, salary, since);
        e.step = rnd.between(5, 120);
        e.grade = job <= 2 ? 4 : rnd.between(1, 3);
        e.office = offices[rnd.between(0, static_cast<int>(offices.size()) - 1)];
        e.careInsurance = rnd.chance(60) ? 1 : 0;
        if (rnd.chance(30))
            e.adjustment = yen(rnd.between(10, 90) * 100);
        e.dependants = rnd.chance(55) ? rnd.between(1, 4) : 0;
        e.spouse = rnd.chance(40) ? 1 : 0;
        e.dependantsAllowance = yen(10'000) * std::min(e.dependants, 3);
        FixedAllowances& a = e.allowances;
        if (job <= 2)
            a.special = yen(9'000);
        if (rnd.chance(60))
            a.commuteFree = yen(rnd.between(20, 300) * 100);
        if (rnd.chance(5))
            a.commuteTaxed = yen(rnd.between(10, 50) * 100);
        if (rnd.chance(25))
            a.housing = yen(rnd.between(100, 280) * 100);
        if (e.office == u"6400"_s || e.office == u"2300"_s)
            a.remote = yen(rnd.between(120, 250) * 100);
        if (teaches(job) && rnd.chance(10))
            a.manyClasses = yen(2'500);
        a.children = e.dependants > 0 && rnd.chance(50) ? std::min(e.dependants, 3) : 0;
        a.overtime = job >= 7 && job <= 10;
        a.nightDuty = rnd.chance(20);
        a.clubDuty = (job == 3 || job == 6) && rnd.chance(50);
        if (s.size() == 10)
            e.inputClass = 9; // a third HYOKBN 9, a regular teacher or clerk
        s.push_back(e);
    }
    return s;
}

/// Fiscal years before the current one that an employee's records go back to.
std::vector<int> historyYears(const Employee& e, int index)
{
    if (e.code == demo::kOlderYearOnly)
        return {2024};
    if (e.code == demo::kYearEnd || e.code == demo::kTenSlots)
        return {2024, 2025};
    if (e.code == demo::kFullService || e.code == demo::kSplitService ||
        e.code == demo::kMergedService || e.code == demo::kDailyPaid)
        return {};
    if (index % 6 == 0)
        return {2024, 2025};
    if (index % 3 == 0)
        return {2025};
    return {};
}

/// A small kind-4 payment of arrears: \p amount of salary and its regional allowance.
Row arrearsRow(const PayContext& pc, const Employee& e, int yyyymm, std::int64_t amount)
{
    Row r = paymentRow(e, 4, yyyymm, 1);
    const Currency salary = yen(amount);
    const Currency regional = salary.mulDiv(pc.management.regionalPercent, 100, Rounding::Floor, 0);
    r.set(u"KYURYO"_s, salary);
    r.set(u"CHIIKI"_s, regional);
    r.set(u"SSIKYU"_s, salary + regional);
    r.set(u"KOYOU"_s, pc.bands.premiumFor(salary + regional));
    settleTotals(r);
    return r;
}

/// A kind-5 bonus payment of \p amount, numbered \p sequence.
Row numberedBonusRow(const PayContext& pc, const Employee& e, int yyyymm, int sequence,
                     std::int64_t amount)
{
    Row r = paymentRow(e, 5, yyyymm, sequence);
    r.set(u"KIMATU"_s, yen(amount));
    r.set(u"SSIKYU"_s, yen(amount));
    r.set(u"KOYOU"_s, pc.bands.premiumFor(yen(amount)));
    settleTotals(r);
    return r;
}

/// A kind-3 record: the re-done year-end adjustment, only its NENFUS.
Row yearEndRow(const Employee& e, int yyyymm, std::int64_t nenfus)
{
    Row r = paymentRow(e, 3, yyyymm, 1);
    r.set(u"NENFUS"_s, yen(nenfus));
    return r;
}

/// The monthly pay and the bonuses of one fiscal year. \p lastMonth ends the year early.
void addFiscalYear(std::vector<Row>& out, const PayContext& pc, const Employee& e, int year,
                   int lastMonth)
{
    const Employee paid = asOfYearsBack(e, kFiscalYear - year);
    std::map<int, std::size_t> monthly; // yyyymm → index in out
    for (int ym = year * 100 + 4; ym <= lastMonth && ym <= (year + 1) * 100 + 3;
         ym = nextMonth(ym)) {
        if (!inServiceDuring(paid, ym))
            continue;
        monthly[ym] = out.size();
        out.push_back(monthlyPayRow(pc, paid, ym));
    }
    auto bonus = [&](int ym, int periodFrom, int periodTo) {
        if (ym > lastMonth || !inServiceThroughout(paid, periodFrom, periodTo))
            return;
        if (paid.payClass == 4 && ym % 100 == 6)
            return; // daily-paid staff have a term-end allowance in December only
        const auto prev = monthly.find(previousMonth(ym));
        const Row* previous = prev == monthly.end() ? nullptr : &out[prev->second];
        Row b = bonusRow(pc, paid, ym, previous);
        out.push_back(std::move(b));
    };
    bonus(year * 100 + 6, (year - 1) * 10000 + 1202, year * 10000 + 601);
    bonus(year * 100 + 12, year * 10000 + 602, year * 10000 + 1201);
}

} // namespace

Dataset demoDistrict()
{
    Dataset d;
    Management& m = d.management;
    m.processingMonth = kProcessingMonth;
    m.juneTermEndRate = percent(u"122.5");
    m.decemberTermEndRate = percent(u"122.5");
    m.juneDiligenceRate = percent(u"102.5");
    m.decemberDiligenceRate = percent(u"102.5");
    m.dailyPaidTermEndRate = percent(u"122.5");
    m.regionalPercent = percent(u"10");
    m.healthCap = yen(5'730'000);
    m.pensionCap = yen(1'500'000);
    // Per mille of the whole premium, FY2026 (see docs/demo-data.md for the sources): health
    // 9.90 % national average + 0.23 % child-rearing support levy, care 1.62 %, pension 18.3 %.
    m.juneHealthPerMille = percent(u"101.3");
    m.otherHealthPerMille = percent(u"101.3");
    m.juneCarePerMille = percent(u"16.2");
    m.otherCarePerMille = percent(u"16.2");
    m.junePensionPerMille = percent(u"183.0");
    m.otherPensionPerMille = percent(u"183.0");
    m.districtName = u"○○県教育委員会"_s;
    m.workplace = u"教職員課"_s;

    // Worker's share of the employment insurance premium, FY2026: 5 per mille. The 60 bands are
    // derived from that rate and the rounding rule, not copied from a published table.
    d.bands = EmploymentBands::derived(5);

    d.staff = namedStaff();
    const std::vector<Employee> more = generatedStaff(d.staff, 47);
    d.staff.insert(d.staff.end(), more.begin(), more.end());
    std::sort(d.staff.begin(), d.staff.end(),
              [](const Employee& a, const Employee& b) { return a.code < b.code; });
    return d;
}

DatasetRows demoRows(const WithholdingTax& tax)
{
    const Dataset d = demoDistrict();
    const PayContext pc{d.management, d.bands, tax, demo::kSeed};
    DatasetRows rows;
    rows.kanri.push_back(kanriRow(d.management));
    rows.koyou.push_back(koyouRow(d.bands));
    rows.names.push_back(nameTableRow());

    const int lastPaidMonth = previousMonth(kProcessingMonth);
    for (std::size_t i = 0; i < d.staff.size(); ++i) {
        const Employee& e = d.staff[i];
        rows.jinji.push_back(jinjiRow(e));
        for (int year : historyYears(e, static_cast<int>(i)))
            addFiscalYear(rows.kyuyo, pc, e, year, 999912);
        addFiscalYear(rows.kyuyo, pc, e, kFiscalYear, lastPaidMonth);
    }

    auto find = [&](int code) -> const Employee& {
        return *std::find_if(d.staff.begin(), d.staff.end(),
                             [code](const Employee& e) { return e.code == code; });
    };
    auto recordOf = [&](int code, int kind, int month) -> Row* {
        for (Row& r : rows.kyuyo) {
            if (r.integer(u"SYOKCD"_s) == code && r.integer(u"KYUSYU"_s) == kind &&
                r.integer(u"SKYUYM"_s) == month)
                return &r;
        }
        return nullptr;
    };

    // Year-end adjustment of 2025 in every December 2025 salary; the employee kYearEnd owes
    // 3,000 yen and 500 more on the re-done adjustment (kind 3), others get small refunds.
    for (Row& r : rows.kyuyo) {
        if (r.integer(u"KYUSYU"_s) == 1 && r.integer(u"SKYUYM"_s) == 202512) {
            const int code = r.integer(u"SYOKCD"_s);
            Random rnd(Random::mix(demo::kSeed, static_cast<std::uint64_t>(code), 202512));
            r.set(u"NENFUS"_s,
                  code == demo::kYearEnd ? yen(-3'000) : yen(rnd.between(-150, 2'400) * 10));
        }
    }
    rows.kyuyo.push_back(yearEndRow(find(demo::kYearEnd), 202601, -500));

    // Arrears paid as kind 4 (one in November, so the bonus program's previous month sums two
    // records), a kind-1 record of sequence 8 that the ledger leaves out, and two numbered
    // bonus payments of kind 5 (sequence 6 joins the June bonus row, 3 the unprinted row).
    QSet<int> named;
    for (const Employee& e : namedStaff())
        named.insert(e.code);
    std::vector<const Employee*> regular; // generated staff in service all year
    for (const Employee& e : d.staff) {
        if (!named.contains(e.code) && e.payClass != 4 && e.first.from < 20250401 &&
            e.first.to == kOpenEnd && e.second.from == 0)
            regular.push_back(&e);
    }
    rows.kyuyo.push_back(arrearsRow(pc, *regular[0], 202608, 1'200));
    rows.kyuyo.push_back(arrearsRow(pc, *regular[2], 202608, 900));
    rows.kyuyo.push_back(arrearsRow(pc, *regular[1], 202611, 2'400));
    if (Row* july = recordOf(regular[1]->code, 1, 202607)) {
        Row corrected = *july;
        corrected.set(u"KYUSEQ"_s, 8);
        rows.kyuyo.push_back(corrected);
    }
    rows.kyuyo.push_back(numberedBonusRow(pc, *regular[2], 202606, 6, 15'000));
    rows.kyuyo.push_back(numberedBonusRow(pc, *regular[0], 202609, 3, 8'000));

    // The one stored December 2026 bonus, so the view-or-correct dialog can be shown.
    const Employee& december = find(demo::kDecemberBonus);
    rows.kyuyo.push_back(
        bonusRow(pc, december, kProcessingMonth, recordOf(december.code, 1, lastPaidMonth)));

    std::sort(rows.kyuyo.begin(), rows.kyuyo.end(), [](const Row& a, const Row& b) {
        auto key = [](const Row& r) {
            return std::make_tuple(r.integer(u"SYOKCD"_s), r.integer(u"KYUSYU"_s),
                                   r.integer(u"SKYUYM"_s), r.integer(u"KYUSEQ"_s));
        };
        return key(a) < key(b);
    });
    return rows;
}

} // namespace moxdb
