#include "moxdb/bonuscheck.h"

#include "base/format.h"

#include <stdexcept>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr int kFullPeriod = 600; // six months, no days: the key of a full period
// The pay and input classes of mox110::JinjiRecord; this library sees no program's code.
constexpr int kPayClassDaily = 4;    // KYUKBN
constexpr int kInputClassManual = 9; // HYOKBN

struct ReasonName {
    const char16_t* code;
    const char16_t* label;
};

// In the order of CheckReason.
constexpr ReasonName kReasonNames[kCheckReasonCount] = {
    {u"PERIOD", u"在職期間・期間率"},
    {u"MANUAL", u"手入力職員"},
    {u"DAILY", u"日額支給者"},
    {u"HEALTHCAP", u"健康保険上限"},
    {u"PENSIONCAP", u"厚生年金上限"},
    {u"TAXMETHOD", u"税額算出方法"},
    {u"REFUSED", u"計算不可"},
    {u"CASH", u"差引支給額0以下"},
    {u"YOY", u"前年同期比"},
    {u"NORECORD", u"賞与データなし"},
    {u"UNLISTED", u"一覧外の賞与データ"},
};

QString percent(Currency c)
{
    return c.toPlainString() + u'%';
}

// Collects the reasons of one employee in the order of CheckReason.
class Reasons {
public:
    void add(CheckReason r, QString figure) { m_found.emplace(int(r), std::move(figure)); }
    bool empty() const { return m_found.empty(); }
    void into(CheckLine& line) const
    {
        for (const auto& [r, figure] : m_found) {
            line.reasons.push_back(CheckReason(r));
            line.figures.append(figure);
        }
    }

private:
    std::map<int, QString> m_found;
};

void periodReasons(const CheckRecord& r, Reasons& out)
{
    // Pay class 4 has no period rates: its ratio is the class's own.
    if (r.kyukbn == kPayClassDaily)
        return;
    const Currency full = Currency::fromYen(100);
    if (r.kmmmdd >= kFullPeriod && r.kbmmdd >= kFullPeriod && r.kmzrit >= full && r.kbzrit >= full)
        return;
    out.add(CheckReason::Period,
            u"期末 %1 %2 / 勤勉 %3 %4"_s.arg(periodText(r.kmmmdd), percent(r.kmzrit),
                                             periodText(r.kbmmdd), percent(r.kbzrit)));
}

// A premium is at its cap when the standard bonus amount reaches it: the calculation then works
// the premium out on the cap instead (a zero cap puts every premium there).
void capReasons(const CheckRecord& r, const CheckInput& in, Reasons& out)
{
    if (r.tokkbn != 1)
        return;
    const Currency standard = standardBonus(r.kimatu, r.kinben);
    if (standard.isZero())
        return;
    if (standard >= in.kengen)
        out.add(CheckReason::HealthCap,
                u"標準賞与額 %1 ≧ 上限 %2、健康保険 %3"_s.arg(
                    listAmount(standard), listAmount(in.kengen), listAmount(r.kenko)));
    if (standard >= in.kosgen)
        out.add(CheckReason::PensionCap,
                u"標準賞与額 %1 ≧ 上限 %2、厚生年金 %3"_s.arg(
                    listAmount(standard), listAmount(in.kosgen), listAmount(r.kosei)));
}

// The method the calculation chose, told from the stored figures as it chose it: no previous
// month's pay, or a bonus above ten times it, leave the standard bonus rate aside.
void taxReasons(const CheckRecord& r, Reasons& out)
{
    if (r.zenkaz.isZero())
        out.add(CheckReason::TaxMethod,
                u"前月の課税給与なし（月額表で算出）、所得税 %1"_s.arg(listAmount(r.syotok)));
    else if (r.ssikyu > 10 * r.zenkaz)
        out.add(CheckReason::TaxMethod,
                u"総支給 %1 が前月課税 %2 の10倍超、所得税 %3"_s.arg(
                    listAmount(r.ssikyu), listAmount(r.zenkaz), listAmount(r.syotok)));
}

void yearOnYear(const CheckRecord& r, const CheckInput& in, Reasons& out)
{
    const auto it = in.lastYear.find(r.syokcd);
    if (it == in.lastYear.end())
        return;
    const Currency before = it->second;
    const Currency change = r.ssikyu - before;
    if (before.isZero()) {
        if (!change.isZero())
            out.add(CheckReason::YearOnYear, u"前年 0 → %1"_s.arg(listAmount(r.ssikyu)));
        return;
    }
    // |change| / |before| > threshold / 100, compared without a division.
    if (change.abs() * 100 <= before.abs().times(in.thresholdPercent, Rounding::Floor))
        return;
    const Currency pct = (change * 100).ratioTo(before.abs(), Rounding::HalfAwayFromZero, 1);
    out.add(CheckReason::YearOnYear,
            u"前年 %1 → %2（%3%4%）"_s.arg(listAmount(before), listAmount(r.ssikyu),
                                           pct.isNegative() ? QString() : u"+"_s,
                                           pct.toPlainString()));
}

void recordReasons(const CheckRecord& r, const CheckEmployee* e, const CheckInput& in, Reasons& out)
{
    periodReasons(r, out);
    const bool manual = e != nullptr && e->hyokbn == kInputClassManual;
    if (manual)
        out.add(CheckReason::Manual, u"入力区分 9"_s);
    if (r.kyukbn == kPayClassDaily)
        out.add(CheckReason::Daily, u"給与区分 4"_s);
    capReasons(r, in, out);
    if (!manual) // hand-entered staff have the tax typed in as well
        taxReasons(r, out);
    if (r.sasihk <= Currency())
        out.add(CheckReason::Cash, u"差引支給額 %1"_s.arg(listAmount(r.sasihk)));
    yearOnYear(r, in, out);
    if (e == nullptr)
        out.add(CheckReason::Unlisted, u"人事マスターにない職員"_s);
    else if (!e->listed)
        out.add(CheckReason::Unlisted,
                u"%1月は一覧にない給与区分 %2"_s.arg(in.month % 100).arg(e->kyukbn));
}

// The reasons of one stored record. Figures beyond the money type (a bonus or a change of about
// 922 trillion yen) cannot be checked: the record is listed as refused, with the calculation's
// message, instead of its other reasons.
void checkedReasons(const CheckRecord& r, const CheckEmployee* e, const CheckInput& in,
                    Reasons& out)
{
    try {
        recordReasons(r, e, in, out);
    } catch (const std::overflow_error&) {
        out = Reasons();
        out.add(CheckReason::Refused, amountTooLargeText());
    }
}

void withoutRecord(const CheckEmployee& e, const CheckInput& in, Reasons& out)
{
    if (!e.listed)
        return; // not due a bonus this month (pay class 4 outside December)
    if (e.hyokbn == kInputClassManual)
        out.add(CheckReason::Manual, u"入力区分 9"_s);
    if (e.kyukbn == kPayClassDaily)
        out.add(CheckReason::Daily, u"給与区分 4"_s);
    const auto refused = in.refusals.find(e.syokcd);
    if (refused != in.refusals.end())
        out.add(CheckReason::Refused, refused->second);
    out.add(CheckReason::NoRecord, refused != in.refusals.end() ? u"計算できないため未作成"_s
                                                                : u"今日の計算では作成できます"_s);
}

void addTo(CheckTotal& t, const std::optional<CheckRecord>& r)
{
    ++t.headcount;
    if (r) {
        t.ssikyu += r->ssikyu;
        t.kougok += r->kougok;
        t.sasihk += r->sasihk;
    }
}

} // namespace

QString reasonCode(CheckReason reason)
{
    return QString::fromUtf16(kReasonNames[int(reason)].code);
}

QString reasonLabel(CheckReason reason)
{
    return QString::fromUtf16(kReasonNames[int(reason)].label);
}

Currency standardBonus(Currency kimatu, Currency kinben)
{
    return (kimatu + kinben).dividedBy(1000, Rounding::Floor, 0) * 1000;
}

QString listAmount(Currency c)
{
    return mox::format(c, u"#,##0;-#,##0");
}

QString periodText(int key)
{
    return u"%1月%2日"_s.arg(key / 100).arg(key % 100);
}

CheckList checkBonus(const CheckInput& in)
{
    CheckList list;
    std::unordered_map<int, const CheckEmployee*> staff;
    for (const CheckEmployee& e : in.staff)
        staff.emplace(e.syokcd, &e);
    std::map<int, CheckLine> lines;
    std::map<int, bool> hasRecord;
    for (const CheckRecord& r : in.records) {
        addTo(list.district, r);
        hasRecord[r.syokcd] = true;
        const auto it = staff.find(r.syokcd);
        const CheckEmployee* e = it == staff.end() ? nullptr : it->second;
        Reasons reasons;
        checkedReasons(r, e, in, reasons);
        if (reasons.empty())
            continue;
        CheckLine& line = lines[r.syokcd];
        line = {r.syokcd, e ? e->name : QString(), {}, {}, r};
        reasons.into(line);
    }
    for (const CheckEmployee& e : in.staff) {
        if (hasRecord.contains(e.syokcd))
            continue;
        Reasons reasons;
        withoutRecord(e, in, reasons);
        if (reasons.empty())
            continue;
        CheckLine& line = lines[e.syokcd];
        line = {e.syokcd, e.name, {}, {}, std::nullopt};
        reasons.into(line);
    }
    for (auto& [code, line] : lines) {
        for (CheckReason r : line.reasons)
            addTo(list.perReason[std::size_t(r)], line.record);
        list.lines.push_back(std::move(line));
    }
    return list;
}

} // namespace moxdb
