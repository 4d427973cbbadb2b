#include "moxdb/paycalc.h"

#include "moxdb/random.h"
#include "moxdb/tables.h"

#include <QDate>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

QDate toDate(int yyyymmdd)
{
    return QDate(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100);
}

int toNumber(QDate d)
{
    return d.year() * 10000 + d.month() * 100 + d.day();
}

std::vector<Period> servicePeriods(const Employee& e)
{
    std::vector<Period> periods;
    if (e.first.from != 0)
        periods.push_back(e.first);
    if (e.second.from != 0)
        periods.push_back(e.second);
    for (const Period& p : e.further) {
        if (p.from != 0)
            periods.push_back(p);
    }
    return periods;
}

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

/// Int(base × percent / 100).
Currency percentOf(Currency base, Currency percent)
{
    return base.mulDiv(percent, 100, Rounding::Floor, 0);
}

void copyPersonnel(Row& row, const Employee& e)
{
    row.set(u"SYOZOK"_s, e.office);
    row.set(u"ZAIMU"_s, financeCategory(e.office));
    row.set(u"SYOSYU"_s, e.jobKind);
    row.set(u"KYUKBN"_s, e.payClass);
    row.set(u"KGOKYU"_s, e.grade);
    row.set(u"KGOGHO"_s, e.step);
    row.set(u"GENFUY"_s, e.dependants);
    row.set(u"GENHAI"_s, e.spouse);
    row.set(u"FSINSU"_s, e.dependants + e.spouse);
}

struct InsuranceRates {
    Currency health;  // per mille, care insurance included where charged
    Currency pension; // per mille
};

InsuranceRates ratesFor(const Management& m, const Employee& e, int yyyymm)
{
    const bool june = yyyymm % 100 == 6;
    InsuranceRates r;
    r.health = june ? m.juneHealthPerMille : m.otherHealthPerMille;
    if (e.careInsurance == 1)
        r.health += june ? m.juneCarePerMille : m.otherCarePerMille;
    r.pension = june ? m.junePensionPerMille : m.otherPensionPerMille;
    return r;
}

/// The employee's half of a premium of \p perMille on \p base.
Currency employeeHalf(Currency base, Currency perMille)
{
    return roundPremium(base.mulDiv(perMille, 2000, Rounding::HalfEven, 4));
}

} // namespace

Row paymentRow(const Employee& e, int kind, int yyyymm, int sequence)
{
    Row row(kyuyoLayout());
    row.set(u"SYOKCD"_s, e.code);
    row.set(u"KYUSYU"_s, kind);
    row.set(u"SKYUYM"_s, yyyymm);
    row.set(u"KYUSEQ"_s, sequence);
    copyPersonnel(row, e);
    return row;
}

const QStringList& monthlyPayColumns()
{
    static const QStringList columns = [] {
        QStringList c = {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"SYOZOK"_s,
                         u"ZAIMU"_s,  u"SYOSYU"_s, u"KYUKBN"_s, u"KGOKYU"_s, u"KGOGHO"_s,
                         u"GENFUY"_s, u"GENHAI"_s, u"FSINSU"_s};
        c += monthlyPayItems();
        c += {u"SSIKYU"_s, u"HKZEGK"_s, u"KAZEIG"_s, u"KENKO"_s,  u"KOSEI"_s, u"KOYOU"_s,
              u"SYAGOK"_s, u"SYOTOK"_s, u"KOUGOK"_s, u"SASIHK"_s, u"NENFUS"_s};
        return c;
    }();
    return columns;
}

const QStringList& bonusColumns()
{
    static const QStringList columns = {
        u"SYOKCD"_s,   u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"SYOZOK"_s, u"ZAIMU"_s,
        u"SYOSYU"_s,   u"KYUKBN"_s, u"KGOKYU"_s, u"KGOGHO"_s, u"GENFUY"_s, u"GENHAI"_s,
        u"FSINSU"_s,   u"KYURYO"_s, u"KTYOGK"_s, u"STYOGK"_s, u"FUYOTE"_s, u"KMCHIIKI"_s,
        u"KBCHIIKI"_s, u"KIMATU"_s, u"KINBEN"_s, u"KMRITU"_s, u"NMRITU"_s, u"KBRITU"_s,
        u"KMMMDD"_s,   u"KBMMDD"_s, u"KMZRIT"_s, u"KBZRIT"_s, u"TOKKBN"_s, u"ROUKBN"_s,
        u"SSIKYU"_s,   u"HKZEGK"_s, u"KAZEIG"_s, u"KENKO"_s,  u"KOSEI"_s,  u"KOYOU"_s,
        u"SYAGOK"_s,   u"SYOTOK"_s, u"ZEIRT2"_s, u"KOUGOK"_s, u"SASIHK"_s, u"ZENKAZ"_s,
        u"ZENZEI"_s};
    return columns;
}

Currency roundPremium(Currency premium)
{
    const Currency half = Currency::fromRaw(Currency::kScale / 2);
    return premium.isNegative() ? -((-premium) + half).intPart() : (premium + half).intPart();
}

int nextMonth(int yyyymm)
{
    return yyyymm % 100 == 12 ? (yyyymm / 100 + 1) * 100 + 1 : yyyymm + 1;
}

int previousMonth(int yyyymm)
{
    return yyyymm % 100 == 1 ? (yyyymm / 100 - 1) * 100 + 12 : yyyymm - 1;
}

bool inServiceDuring(const Employee& e, int yyyymm)
{
    const int first = yyyymm * 100 + 1;
    const int last = yyyymm * 100 + toDate(first).daysInMonth();
    for (const Period& p : servicePeriods(e)) {
        if (p.from <= last && p.to >= first)
            return true;
    }
    return false;
}

bool inServiceThroughout(const Employee& e, int from, int to)
{
    std::vector<Period> periods = servicePeriods(e);
    std::sort(periods.begin(), periods.end(),
              [](const Period& a, const Period& b) { return a.from < b.from; });
    std::vector<Period> merged;
    for (const Period& p : periods) {
        if (!merged.empty() && (p.from <= merged.back().to ||
                                toNumber(toDate(p.from).addDays(-1)) == merged.back().to)) {
            merged.back().to = std::max(merged.back().to, p.to);
        } else {
            merged.push_back(p);
        }
    }
    return std::any_of(merged.begin(), merged.end(),
                       [&](const Period& p) { return p.from <= from && p.to >= to; });
}

Employee asOfYearsBack(const Employee& e, int yearsBack)
{
    Employee past = e;
    if (yearsBack <= 0)
        return past;
    if (!e.salary.isZero()) {
        past.salary = e.salary - yen(3'100) * yearsBack;
        if (!e.teachingAdjustment.isZero())
            past.teachingAdjustment = percentOf(past.salary, yen(4));
    }
    if (!e.dailyWage.isZero())
        past.dailyWage = e.dailyWage - yen(100) * yearsBack;
    return past;
}

void settleTotals(Row& row)
{
    const Currency social = row.money(u"KENKO"_s) + row.money(u"KOSEI"_s) + row.money(u"KOYOU"_s);
    const Currency deductions = social + row.money(u"SYOTOK"_s);
    row.set(u"KAZEIG"_s, row.money(u"SSIKYU"_s) - row.money(u"HKZEGK"_s));
    row.set(u"SYAGOK"_s, social);
    row.set(u"KOUGOK"_s, deductions);
    row.set(u"SASIHK"_s, row.money(u"SSIKYU"_s) - deductions);
}

Row monthlyPayRow(const PayContext& pc, const Employee& e, int yyyymm)
{
    const Management& m = pc.management;
    const FixedAllowances& a = e.allowances;
    Random rnd(Random::mix(pc.seed, static_cast<std::uint64_t>(e.code),
                           static_cast<std::uint64_t>(yyyymm)));
    const int month = yyyymm % 100;

    Row row = paymentRow(e, 1, yyyymm, 1);

    const Currency salary = e.payClass == 4 ? e.dailyWage * rnd.between(17, 21) : e.salary;
    row.set(u"KYURYO"_s, salary);
    row.set(u"KTYOGK"_s, e.adjustment);
    row.set(u"STYOGK"_s, e.teachingAdjustment);
    row.set(u"FUYOTE"_s, e.dependantsAllowance);
    if (e.payClass != 4) {
        row.set(u"CHIIKI"_s,
                percentOf(salary + e.adjustment + e.teachingAdjustment + e.dependantsAllowance,
                          m.regionalPercent));
    }
    row.set(u"KTOKUB"_s, a.special);
    row.set(u"TUKINH"_s, a.commuteFree);
    row.set(u"TUKINK"_s, a.commuteTaxed);
    row.set(u"JYUKYO"_s, a.housing);
    row.set(u"HEKICI"_s, a.remote);
    row.set(u"HEKJUN"_s, a.remoteQuasi);
    row.set(u"TANSIN"_s, a.singlePosting);
    row.set(u"TAGAKU"_s, a.manyClasses);
    if (a.children > 0 && (month == 6 || month == 10))
        row.set(u"JIDOU"_s, yen(40'000) * a.children);
    if (a.clubDuty)
        row.set(u"TOKGYO"_s, yen(2'700) * rnd.between(0, 4));
    if (a.nightDuty) {
        row.set(u"SYUKUH"_s, yen(4'400) * rnd.between(0, 2));
        row.set(u"KISYUH"_s, yen(1'100) * rnd.between(0, 1));
        row.set(u"SYUKUK"_s, yen(4'400) * rnd.between(0, 1));
        row.set(u"KISYUK"_s, yen(1'100) * rnd.between(0, 1));
    }
    if (a.overtime) {
        // Hourly pay: monthly salary over 155 hours; overtime at 125 %, holidays at 135 %.
        const Currency hourly = (salary + e.adjustment).dividedBy(155, Rounding::Floor, 0);
        row.set(u"ZANGYO"_s, percentOf(hourly, yen(125)) * rnd.between(0, 20));
        if (rnd.chance(30))
            row.set(u"KYUJIT"_s, percentOf(hourly, yen(135)) * rnd.between(4, 8));
    }

    Currency total;
    for (const QString& item : monthlyPayItems())
        total += row.money(item);
    const Currency nonTaxable = row.money(u"TUKINH"_s) + row.money(u"JIDOU"_s);
    row.set(u"SSIKYU"_s, total);
    row.set(u"HKZEGK"_s, nonTaxable);

    // Premiums on the month's wages cut to whole thousands of yen (child allowance excluded).
    const Currency wages = total - row.money(u"JIDOU"_s);
    const Currency base = wages.dividedBy(1000, Rounding::Floor, 0) * 1000;
    const InsuranceRates rates = ratesFor(m, e, yyyymm);
    row.set(u"KENKO"_s, employeeHalf(base, rates.health));
    row.set(u"KOSEI"_s, employeeHalf(base, rates.pension));
    row.set(u"KOYOU"_s, pc.bands.premiumFor(wages));
    const Currency social = row.money(u"KENKO"_s) + row.money(u"KOSEI"_s) + row.money(u"KOYOU"_s);
    row.set(u"SYOTOK"_s,
            pc.tax.monthly(total - nonTaxable - social, e.dependants + e.spouse, yyyymm));
    settleTotals(row);
    return row;
}

Row bonusRow(const PayContext& pc, const Employee& e, int yyyymm, const Row* previousPay)
{
    const Management& m = pc.management;
    const bool june = yyyymm % 100 == 6;
    const bool daily = e.payClass == 4;

    Row row = paymentRow(e, 2, yyyymm, 0);

    const Currency salary = daily ? e.dailyWage * 21 : e.salary;
    const Currency base = salary + e.adjustment + e.teachingAdjustment;
    row.set(u"KYURYO"_s, salary);
    row.set(u"KTYOGK"_s, e.adjustment);
    row.set(u"STYOGK"_s, e.teachingAdjustment);
    row.set(u"FUYOTE"_s, e.dependantsAllowance);

    const Currency termEndRegional =
        daily ? Currency() : percentOf(base + e.dependantsAllowance, m.regionalPercent);
    const Currency diligenceRegional = daily ? Currency() : percentOf(base, m.regionalPercent);
    // Full service: period rates 100, so the proportions are the management rates themselves.
    const Currency termEndRatio =
        daily ? m.dailyPaidTermEndRate : (june ? m.juneTermEndRate : m.decemberTermEndRate);
    const Currency diligenceRatio =
        daily ? Currency() : (june ? m.juneDiligenceRate : m.decemberDiligenceRate);
    row.set(u"KMCHIIKI"_s, termEndRegional);
    row.set(u"KBCHIIKI"_s, diligenceRegional);
    const Currency termEnd =
        percentOf(base + e.dependantsAllowance + termEndRegional, termEndRatio);
    const Currency diligence = percentOf(base + diligenceRegional, diligenceRatio);
    row.set(u"KIMATU"_s, termEnd);
    row.set(u"KINBEN"_s, diligence);
    row.set(daily ? u"NMRITU"_s : u"KMRITU"_s, termEndRatio * 100'000);
    row.set(u"KBRITU"_s, diligenceRatio * 100'000);
    if (!daily) {
        row.set(u"KMMMDD"_s, 600);
        row.set(u"KBMMDD"_s, 600);
        row.set(u"KMZRIT"_s, yen(100));
        row.set(u"KBZRIT"_s, yen(100));
    }
    row.set(u"TOKKBN"_s, 1);
    row.set(u"ROUKBN"_s, 1);

    const Currency gross = termEnd + diligence;
    row.set(u"SSIKYU"_s, gross);
    const Currency standard = gross.dividedBy(1000, Rounding::Floor, 0) * 1000;
    const InsuranceRates rates = ratesFor(m, e, yyyymm);
    row.set(u"KENKO"_s, employeeHalf(std::min(standard, m.healthCap), rates.health));
    row.set(u"KOSEI"_s, employeeHalf(std::min(standard, m.pensionCap), rates.pension));
    row.set(u"KOYOU"_s, pc.bands.premiumFor(gross));
    const Currency social = row.money(u"KENKO"_s) + row.money(u"KOSEI"_s) + row.money(u"KOYOU"_s);

    const Currency previous =
        previousPay ? previousPay->money(u"KAZEIG"_s) - previousPay->money(u"SYAGOK"_s)
                    : Currency();
    const Currency previousTax = previousPay ? previousPay->money(u"SYOTOK"_s) : Currency();
    row.set(u"ZENKAZ"_s, previous);
    row.set(u"ZENZEI"_s, previousTax);

    // Withholding tax as the bonus program works it out: no previous pay → six times the
    // monthly tax on a sixth; more than ten times the previous pay → six times the monthly tax
    // on a sixth plus the previous pay, less the previous tax; otherwise the bonus rate.
    const int dependants = e.dependants + e.spouse;
    const Currency taxable = gross - social;
    const Currency sixth = taxable.dividedBy(6, Rounding::Floor, 0);
    Currency tax;
    if (previous.isZero()) {
        tax = pc.tax.monthly(sixth, dependants, yyyymm) * 6;
    } else if (gross > previous * 10) {
        const Currency d = pc.tax.monthly(sixth + previous, dependants, yyyymm) - previousTax;
        tax = d > Currency() ? d * 6 : Currency();
    } else {
        const Currency rate = pc.tax.bonusRate(previous, dependants, yyyymm);
        row.set(u"ZEIRT2"_s, rate);
        tax = taxable.mulDiv(rate, 100, Rounding::Floor, 0);
    }
    row.set(u"SYOTOK"_s, tax);
    settleTotals(row);
    return row;
}

} // namespace moxdb
