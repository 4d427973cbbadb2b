#include "mox110/callup.h"

#include "mox110/bonuscalc.h"

#include "base/format.h"
#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/comkordao.h"
#include "mox110/decimal.h"

#include <vector>

namespace mox110 {

namespace {

struct Period {
    std::int64_t start = 0; // yyyymmdd; 0 = none
    std::int64_t end = 0;
};

std::int64_t ymd(Currency c)
{
    return c.toInteger(Rounding::Floor);
}

bool isLeap(std::int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

std::int64_t lastDayOfMonth(std::int64_t y, std::int64_t m)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && isLeap(y))
        return 29;
    return kDays[m - 1];
}

// The day before a date yyyymmdd; the day before the 1st is the last day of the month before.
std::int64_t dayBefore(std::int64_t date)
{
    std::int64_t y = date / 10000;
    std::int64_t m = date / 100 % 100;
    const std::int64_t d = date % 100;
    if (d > 1)
        return date - 1;
    if (m < 1 || m > 12)
        return date - 1;
    if (--m == 0) {
        m = 12;
        --y;
    }
    return y * 10000 + m * 100 + lastDayOfMonth(y, m);
}

// The ten raw service slots: the first period, the second when it has a start, then the eight
// further periods; a missing second period moves the further ones up and leaves slot ten empty.
std::vector<Period> rawSlots(const JinjiRecord& j)
{
    std::vector<Period> slots;
    slots.push_back({ymd(j.ZKAYMD_01), ymd(j.ZKNYMD_01)});
    if (j.ZKAYMD_02 > Currency())
        slots.push_back({ymd(j.ZKAYMD_02), ymd(j.ZKNYMD_02)});
    for (std::size_t i = 0; i < j.KAIYMD.size(); ++i)
        slots.push_back({ymd(j.KAIYMD[i]), ymd(j.KANYMD[i])});
    slots.resize(10);
    return slots;
}

// Joins each slot to the period before it when it starts the day after the previous slot ends.
std::vector<Period> mergeSlots(const std::vector<Period>& raw)
{
    std::vector<Period> merged{raw.front()};
    for (std::size_t s = 1; s < raw.size(); ++s) {
        if (raw[s].start == 0)
            continue;
        if (dayBefore(raw[s].start) == raw[s - 1].end)
            merged.back().end = raw[s].end;
        else
            merged.push_back(raw[s]);
    }
    return merged;
}

struct Enrollment {
    int months = 0;
    int days = 0;
    bool firstHalf = false;  // a clipped period ends exactly on the June mark Y0330
    bool secondHalf = false; // a clipped period starts exactly on the June mark Y0401
};

Enrollment enrollment(const std::vector<Period>& merged, Period allowance, bool june,
                      std::int64_t year)
{
    Enrollment e;
    for (const Period& p : merged) {
        if (p.start == 0 || p.end < allowance.start || p.start > allowance.end)
            continue;
        const Period clipped{std::max(p.start, allowance.start), std::min(p.end, allowance.end)};
        Currency first = Currency::fromYen(clipped.start);
        Currency last = Currency::fromYen(clipped.end);
        mox::prsKikan(first, last);
        e.months += static_cast<int>(first.toInteger(Rounding::Floor));
        e.days += static_cast<int>(last.toInteger(Rounding::Floor));
        if (june) {
            if (clipped.start == allowance.start && clipped.end == year * 10000 + 330)
                e.firstHalf = true;
            if (clipped.start == year * 10000 + 401 && clipped.end == allowance.end)
                e.secondHalf = true;
        }
    }
    while (e.days >= 30) {
        e.days -= 30;
        ++e.months;
    }
    if (june && e.firstHalf && e.secondHalf) {
        if (e.days == 0) {
            --e.months;
            e.days = 29;
        } else {
            --e.days;
        }
    }
    if (june && e.months >= 6) {
        --e.months;
        e.days = 29;
    }
    return e;
}

QString trimRight(const QString& s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    return s.left(n);
}

} // namespace

void prsItemClr(BonusScreen& s, CalcContext& ctx)
{
    s = BonusScreen();
    ctx.curKazeig = Currency();
}

static mox::Status dspJinji(BonusScreen& s, CalcContext& ctx)
{
    const JinjiRecord& j = ctx.jinji;
    const std::int64_t syorid = ctx.kanri.SYORID.toInteger(Rounding::Floor);
    const std::int64_t year = syorid / 100;
    const std::int64_t month = syorid % 100;

    Period period;
    if (month == 6)
        period = {(year - 1) * 10000 + 1202, year * 10000 + 601};
    else if (month == 12)
        period = {year * 10000 + 602, year * 10000 + 1201};
    const bool june = month == 6;

    const std::vector<Period> merged = mergeSlots(rawSlots(j));
    // Both allowances share one period, so one count serves both.
    const Enrollment kimatu = enrollment(merged, period, june, year);
    const Enrollment kinben = kimatu;

    s.nu1Kyuryo = j.KYUKBN == kPayClassDaily ? j.NITANK * 21 : j.KYURYO;
    s.nu1Ktyogk = j.TYOSEI;
    s.nu1Styogk = j.KTYOSE;
    s.nu1Fuyote = j.FUYO;
    s.nu1Fsinsu = Currency::fromYen(std::int64_t{j.GENFUY} + j.GENHAI);

    if (j.KYUKBN != kPayClassDaily) {
        s.nu1Kmmm = Currency::fromYen(kimatu.months);
        s.nu1Kmdd = Currency::fromYen(kimatu.days);
        s.nu1Kbmm = Currency::fromYen(kinben.months);
        s.nu1Kbdd = Currency::fromYen(kinben.days);
        const mox::Status st = prsZaiseki(s, ctx);
        if (!st.ok())
            return st;
    } else {
        s.txtKmritu = mox::format(ctx.kanri.NKM12KM, u"0.00000");
        s.txtKbritu = u"0.00000"_s;
    }
    return prsKeisan(s, ctx);
}

mox::Status prsDspJinji(BonusScreen& s, CalcContext& ctx)
{
    // A daily wage of more than a 21st of the money type's range cannot become a salary.
    return refuseOverflow([&] { return dspJinji(s, ctx); });
}

mox::Status prsDspKyuyo(BonusScreen& s, CalcContext& ctx, KorDAO::Record r)
{
    const mox::Status read = KorDAO::readFields([&] {
        // A stored value the screen cannot show stops the display like an unreadable field.
        const auto unshowable = [](QStringView field) {
            return KorDAO::DaoError(KorDAO::kFieldUnreadable,
                                    field.toString() + u"の値が画面に表示できません。"_s);
        };
        const auto listChoice = [&](QStringView field) {
            const int index = r[field].toInt();
            if (index < -1 || index > 1)
                throw unshowable(field);
            return deductionChoice(index);
        };
        // months × 100 + days formatted "000": the first digit is the months, the last two the
        // days.
        const auto mmdd = [&](QStringView field, Currency& months, Currency& days) {
            const QString t = mox::format(r[field].toCurrency(), u"000");
            const std::optional<Currency> m = Currency::parse(t.left(1));
            const std::optional<Currency> d = Currency::parse(t.right(2));
            if (!m || !d || t.startsWith(u'-'))
                throw unshowable(field);
            months = *m;
            days = *d;
        };
        s.cboTokkbn = listChoice(u"TOKKBN");
        s.cboRoukbn = listChoice(u"ROUKBN");
        s.nu1Kyuryo = r[u"KYURYO"].toCurrency();
        s.nu1Ktyogk = r[u"KTYOGK"].toCurrency();
        s.nu1Styogk = r[u"STYOGK"].toCurrency();
        s.nu1Fuyote = r[u"FUYOTE"].toCurrency();
        s.nu1Kmchiiki = r[u"KMCHIIKI"].toCurrency();
        s.nu1Kbchiiki = r[u"KBCHIIKI"].toCurrency();
        s.nu1Kimatu = r[u"KIMATU"].toCurrency();
        s.nu1Kinben = r[u"KINBEN"].toCurrency();
        s.nu1Ssikyu = r[u"SSIKYU"].toCurrency();
        ctx.curKazeig = r[u"KAZEIG"].toCurrency();
        s.nu1Kenko = r[u"KENKO"].toCurrency();
        s.nu1Kosei = r[u"KOSEI"].toCurrency();
        s.nu1Koyou = r[u"KOYOU"].toCurrency();
        s.nu1Syotok = r[u"SYOTOK"].toCurrency();
        s.nu1Kougok = r[u"KOUGOK"].toCurrency();
        s.nu1Syagok = r[u"SYAGOK"].toCurrency();
        s.nu1Hkzegk = r[u"HKZEGK"].toCurrency();
        s.nu1Sasihk = r[u"SASIHK"].toCurrency();
        s.nu1Zenkaz = r[u"ZENKAZ"].toCurrency();
        s.nu1Zenzei = r[u"ZENZEI"].toCurrency();
        s.txtKmritu = storedRatioText(
            r[ctx.jinji.KYUKBN == kPayClassDaily ? u"NMRITU" : u"KMRITU"].toCurrency());
        s.txtKbritu = storedRatioText(r[u"KBRITU"].toCurrency());
        s.nu1Fsinsu = r[u"FSINSU"].toCurrency();
        s.nu1Zeirit = r[u"ZEIRT2"].toCurrency();
        mmdd(u"KMMMDD", s.nu1Kmmm, s.nu1Kmdd);
        s.nu1Kmkikan = r[u"KMZRIT"].toCurrency();
        mmdd(u"KBMMDD", s.nu1Kbmm, s.nu1Kbdd);
        s.nu1Kbkikan = r[u"KBZRIT"].toCurrency();
        s.txtTxt1 = trimRight(r[u"NIREM1"].toString());
        s.txtTxt2 = trimRight(r[u"NIREM2"].toString());
        s.txtTxt3 = trimRight(r[u"NIREM3"].toString());
    });
    if (!read.ok())
        return read;
    // Every stored figure is on screen by now; only the taxable amount may not be computable.
    return refuseOverflow([&] {
        s.nu1Kazeig = s.nu1Ssikyu - s.nu1Hkzegk - s.nu1Syagok;
        return mox::Status::success();
    });
}

mox::Status prsReadZenge(BonusScreen& s, KorDAO::DatabaseHandle db, int syokcd, Currency syorid)
{
    const std::int64_t previous = syorid.toInteger(Rounding::Floor) - 1;
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(std::move(db));
    tb.setTBNameString(u"GKKYUYO"_s);
    const int n =
        tb.DAO_TableOpen(u"SYOKCD = "_s + QString::number(syokcd) + u" AND KYUSYU in(1,4)"_s +
                             u" AND SKYUYM = "_s + QString::number(previous),
                         u"KYUSYU,KYUSEQ"_s);
    // A failing open would otherwise read as "no pay last month" and change the tax.
    mox::prsDaoStatus(static_cast<short>(n < 0 ? n : 0), false);
    PreviousMonthPay pay;
    // Sums beyond the money type refuse the previous month's figures, which then stay as they
    // were on screen; the temporary table is closed either way.
    const mox::Status read = refuseOverflow([&] {
        return KorDAO::readFields([&] {
            short st = tb.DAO_RecRead(1);
            for (int i = 1; i <= n && st == 0; ++i) {
                pay.add(tb.TBRec());
                st = tb.DAO_RecRead(2);
            }
        });
    });
    mox::prsDaoStatus(tb.DAO_TableClose(), false);
    if (!read.ok())
        return read;
    return pay.show(s);
}

void PreviousMonthPay::add(KorDAO::Record r)
{
    // All three read before any is added: a field that cannot be read adds nothing.
    const Currency k = r[u"KAZEIG"].toCurrency();
    const Currency g = r[u"SYAGOK"].toCurrency();
    const Currency t = r[u"SYOTOK"].toCurrency();
    kazeig += k;
    syagok += g;
    syotok += t;
}

mox::Status PreviousMonthPay::show(BonusScreen& s) const
{
    return refuseOverflow([&] {
        const Currency zenkaz = kazeig - syagok;
        s.nu1Zenkaz = zenkaz;
        s.nu1Zenzei = syotok;
        return mox::Status::success();
    });
}

mox::Status setProcessingMonth(const KanriRecord& kanri)
{
    if (mox::Status s = refuseOverflow([&] {
            mox::prfEraDate(kanri.SYORID * 100 + Currency::fromYen(1));
            return mox::Status::success();
        });
        !s.ok())
        return s;
    const std::int64_t month = kanri.SYORID.toInteger(Rounding::Floor) % 100;
    if (month != 6 && month != 12)
        return mox::Status::failure(-1, u"期末・勤勉手当処理月ではありません。"_s);
    return mox::Status::success();
}

mox::Status callUpNew(BonusScreen& s, CalcContext& ctx, KorDAO::DatabaseHandle db)
{
    const std::int64_t month = ctx.kanri.SYORID.toInteger(Rounding::Floor) % 100;
    if (ctx.jinji.KYUKBN == kPayClassDaily) {
        s.nu1Kankmritu = ctx.kanri.NKM12KM;
        s.nu1Kankbritu = Currency();
    } else if (month == 6) {
        s.nu1Kankmritu = ctx.kanri.KM6KM;
        s.nu1Kankbritu = ctx.kanri.KM6KB;
    } else if (month == 12) {
        s.nu1Kankmritu = ctx.kanri.KM12KM;
        s.nu1Kankbritu = ctx.kanri.KM12KB;
    } else {
        return mox::Status::failure(-1, u"期末・勤勉手当処理月ではありません。"_s);
    }
    // Setting each list raises its click, which recalculates when the selection changed.
    for (ListChoice* list : {&s.cboTokkbn, &s.cboRoukbn}) {
        if (list->listIndex != 0) {
            *list = deductionChoice(0);
            const mox::Status st = prsKeisan(s, ctx);
            if (!st.ok())
                return st;
        }
    }
    if (mox::Status st = prsDspJinji(s, ctx); !st.ok())
        return st;
    const mox::Status zenge =
        ctx.previousPay ? ctx.previousPay(s)
                        : prsReadZenge(s, std::move(db), ctx.jinji.SYOKCD, ctx.kanri.SYORID);
    if (!zenge.ok())
        return zenge;
    return prsGokei(s, ctx);
}

} // namespace mox110
