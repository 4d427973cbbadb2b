#include "moxdb/synthdata.h"

#include "moxdb/loading.h"
#include "moxdb/random.h"
#include "moxdb/records.h"
#include "moxdb/tables.h"

#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr int kCurrentYear = 2026;

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

/// Fiscal years of the data: oldest first, the current one last.
int firstYear(int years)
{
    return kCurrentYear - years + 1;
}

/// The months of fiscal year \p year with monthly pay for \p e, and its bonus months, in key
/// order (kind 1 before kind 2, months ascending within a kind).
template <class MonthFn, class BonusFn>
void walkYear(const Employee& e, int year, int lastMonth, MonthFn month, BonusFn bonus)
{
    for (int ym = year * 100 + 4; ym <= lastMonth && ym <= (year + 1) * 100 + 3;
         ym = nextMonth(ym)) {
        if (inServiceDuring(e, ym))
            month(ym);
    }
    const int june = year * 100 + 6;
    const int december = year * 100 + 12;
    if (e.payClass != 4 && june <= lastMonth &&
        inServiceThroughout(e, (year - 1) * 10000 + 1202, year * 10000 + 601))
        bonus(june);
    if (december <= lastMonth && inServiceThroughout(e, year * 10000 + 602, year * 10000 + 1201))
        bonus(december);
}

} // namespace

Dataset syntheticDistrict(int staff, std::uint64_t seed)
{
    static const QStringList surnames = {u"佐藤"_s, u"鈴木"_s, u"高橋"_s,   u"田中"_s, u"伊藤"_s,
                                         u"渡辺"_s, u"山本"_s, u"中村"_s,   u"小林"_s, u"加藤"_s,
                                         u"吉田"_s, u"山田"_s, u"佐々木"_s, u"山口"_s, u"松本"_s,
                                         u"井上"_s, u"木村"_s, u"林"_s,     u"清水"_s, u"森"_s};
    static const QStringList givenNames = {u"健"_s,   u"誠"_s,   u"拓也"_s, u"浩二"_s, u"隆"_s,
                                           u"直樹"_s, u"翔太"_s, u"裕子"_s, u"陽子"_s, u"由美"_s,
                                           u"美咲"_s, u"直子"_s, u"恵美"_s, u"彩花"_s};
    static const QStringList offices = {u"E4201"_s, u"4180"_s, u"5136"_s,  u"3100"_s,
                                        u"5210"_s,  u"2300"_s, u"E4215"_s, u"6400"_s};

    Dataset d = demoDistrict();
    d.staff.clear();
    d.staff.reserve(static_cast<std::size_t>(staff));
    Random rnd(seed);
    for (int i = 0; i < staff; ++i) {
        Employee e;
        e.code = 1'000'000 + i * 97 + rnd.between(0, 96);
        e.name = surnames[rnd.between(0, static_cast<int>(surnames.size()) - 1)] + u"　"_s +
                 givenNames[rnd.between(0, static_cast<int>(givenNames.size()) - 1)];
        e.jobKind = rnd.chance(70) ? 3 : rnd.between(1, 10);
        e.payClass = rnd.chance(3) ? 4 : (e.jobKind == 7 || e.jobKind == 8 ? 2 : 1);
        e.inputClass = rnd.chance(2) ? 9 : 0;
        e.careInsurance = rnd.chance(55) ? 1 : 0;
        if (e.payClass == 4) {
            e.dailyWage = yen(rnd.between(80, 100) * 100);
        } else {
            e.salary = yen(rnd.between(1'800, 4'800) * 100);
            if (e.jobKind >= 3 && e.jobKind != 7 && e.jobKind != 8 && e.jobKind != 9)
                e.teachingAdjustment = e.salary.mulDiv(yen(4), 100, Rounding::Floor, 0);
        }
        if (rnd.chance(20))
            e.adjustment = yen(rnd.between(10, 90) * 100);
        e.dependants = rnd.chance(50) ? rnd.between(1, 4) : 0;
        e.spouse = rnd.chance(40) ? 1 : 0;
        e.dependantsAllowance = yen(10'000) * std::min(e.dependants, 3);
        e.office = offices[rnd.between(0, static_cast<int>(offices.size()) - 1)];
        e.grade = rnd.between(1, 4);
        e.step = rnd.between(1, 120);
        // Most staff serve throughout; some join at an April inside the span of the data.
        const int start = rnd.chance(90) ? rnd.between(1980, 2000) : rnd.between(2001, 2026);
        e.first = {start * 10000 + 401, kOpenEnd};
        FixedAllowances& a = e.allowances;
        if (rnd.chance(60))
            a.commuteFree = yen(rnd.between(20, 300) * 100);
        if (rnd.chance(25))
            a.housing = yen(rnd.between(100, 280) * 100);
        a.children = e.dependants > 0 && rnd.chance(50) ? std::min(e.dependants, 3) : 0;
        a.overtime = e.jobKind >= 7;
        a.nightDuty = rnd.chance(20);
        a.clubDuty = e.jobKind == 3 && rnd.chance(50);
        d.staff.push_back(e);
    }
    return d;
}

mox::Status forEachSyntheticPayment(const Dataset& d, int years, const WithholdingTax& tax,
                                    std::uint64_t seed,
                                    const std::function<mox::Status(const Row&)>& sink)
{
    const PayContext pc{d.management, d.bands, tax, seed};
    const int lastMonth = previousMonth(d.management.processingMonth);
    for (const Employee& current : d.staff) {
        for (int year = firstYear(years); year <= kCurrentYear; ++year) {
            const Employee e = asOfYearsBack(current, kCurrentYear - year);
            std::vector<Row> monthly;
            std::vector<Row> bonuses;
            walkYear(
                e, year, lastMonth, [&](int ym) { monthly.push_back(monthlyPayRow(pc, e, ym)); },
                [&](int ym) {
                    const int before = previousMonth(ym);
                    const auto prev =
                        std::find_if(monthly.begin(), monthly.end(), [&](const Row& r) {
                            return r.integer(u"SKYUYM"_s) == before;
                        });
                    bonuses.push_back(
                        bonusRow(pc, e, ym, prev == monthly.end() ? nullptr : &*prev));
                });
            for (const Row& r : monthly) {
                if (mox::Status s = sink(r); !s.ok())
                    return s;
            }
            for (const Row& r : bonuses) {
                if (mox::Status s = sink(r); !s.ok())
                    return s;
            }
        }
    }
    return mox::Status::success();
}

qint64 syntheticPaymentCount(const Dataset& d, int years)
{
    const int lastMonth = previousMonth(d.management.processingMonth);
    qint64 n = 0;
    for (const Employee& e : d.staff) {
        for (int year = firstYear(years); year <= kCurrentYear; ++year)
            walkYear(
                e, year, lastMonth, [&](int) { ++n; }, [&](int) { ++n; });
    }
    return n;
}

mox::Status writeSynthetic(Database& payroll, Database& environment, const Dataset& d, int years,
                           const WithholdingTax& tax, std::uint64_t seed, qint64* written)
{
    std::vector<Row> kanri{kanriRow(d.management)};
    std::vector<Row> koyou{koyouRow(d.bands)};
    std::vector<Row> jinji;
    jinji.reserve(d.staff.size());
    for (const Employee& e : d.staff)
        jinji.push_back(jinjiRow(e));

    if (mox::Status s = payroll.begin(); !s.ok())
        return s;
    auto fail = [&](mox::Status s) {
        payroll.rollback();
        return s;
    };
    std::vector<Row> mark = loadMark(u"synth"_s);
    for (const RowLayout* layout :
         {&kanriLayout(), &jinjiLayout(), &kyuyoLayout(), &koyouLayout(), &loadMarkLayout()}) {
        if (mox::Status s = payroll.clear(layout->table()); !s.ok())
            return fail(s);
    }
    for (const std::vector<Row>* rows : {&kanri, &koyou, &jinji, &mark}) {
        if (mox::Status s = payroll.insertAll(*rows); !s.ok())
            return fail(s);
    }
    // Monthly and bonus records fill different columns; each writer binds only its own.
    RowWriter monthly(payroll, kyuyoLayout(), monthlyPayColumns());
    RowWriter bonuses(payroll, kyuyoLayout(), bonusColumns());
    mox::Status s = forEachSyntheticPayment(d, years, tax, seed, [&](const Row& r) {
        return (r.integer(u"KYUSYU"_s) == 2 ? bonuses : monthly).add(r);
    });
    if (s.ok())
        s = monthly.finish();
    if (s.ok())
        s = bonuses.finish();
    if (!s.ok())
        return fail(s);
    *written = monthly.rowCount() + bonuses.rowCount();
    if (s = payroll.commit(); !s.ok())
        return fail(s);
    const std::vector<Row> names{nameTableRow()};
    return replaceTables(environment, {{&nameLayout(), &names}, {&loadMarkLayout(), &mark}});
}

} // namespace moxdb
