#include "mox110/bonuscalc.h"

#include "mox110/decimal.h"

#include "base/format.h"
#include "kortax/kortax.h"
#include "mox/bascmnname.h"

#include <limits>

namespace mox110 {

namespace {

struct Step {
    int keyAtLeast;
    int rate;
};

// Period rate steps of the term-end allowance, first matching row wins.
constexpr Step kKimatuSteps[] = {{600, 100}, {500, 80}, {300, 60}, {1, 30}};
// Period rate steps of the diligence allowance.
constexpr Step kKinbenSteps[] = {{600, 100}, {515, 95}, {500, 90}, {415, 80}, {400, 70},
                                 {315, 60},  {300, 50}, {215, 40}, {200, 30}, {115, 20},
                                 {100, 15},  {15, 10},  {1, 5}};

template <std::size_t N> int periodRate(const Step (&steps)[N], int key)
{
    for (const Step& s : steps) {
        if (key >= s.keyAtLeast)
            return s.rate;
    }
    return 0;
}

mox::Status unreadable(const QString& caption)
{
    return mox::Status::failure(KorDAO::kFieldUnreadable,
                                caption + u"の値が数値として読めません。"_s);
}

int monthOf(Currency yyyymm)
{
    return static_cast<int>(yyyymm.toInteger(Rounding::Floor) % 100);
}

Currency referenceDate(const CalcContext& ctx)
{
    return ctx.kanri.SYORID * 100 + Currency::fromYen(1);
}

QString monthCaption(const CalcContext& ctx)
{
    if (!ctx.monthCaption.isEmpty())
        return ctx.monthCaption;
    const std::int64_t ym = ctx.kanri.SYORID.toInteger(Rounding::Floor);
    return QString::number(ym / 100) + u'年' + QString::number(ym % 100) + u"月分"_s;
}

// Social-insurance rounding with the complement c = 1 − rounding point: Int(a + c) for a premium
// of 0 or more; a negative premium is rounded as the mirror image, a − c cut towards zero. Taking
// the floor there instead would move every negative premium one yen further down (a refund of
// exactly −4,100 would become −4,101, and a rounding point of 1 would not drop the fraction).
Currency socialRound(Currency a, Currency c)
{
    if (a.isNegative())
        return (a - c).roundToYen(Rounding::Truncate);
    return (a + c).intPart();
}

struct TaxInputs {
    Currency taxable; // T: bonus less non-taxable and social insurance
    Currency refDate; // D: first day of the processing month
    short dependents = 0;
    short spouse = 0;
};

mox::Result<TaxInputs> taxInputs(const BonusScreen& s, CalcContext& ctx)
{
    if (ctx.tax == nullptr)
        return mox::Status::failure(KorDAO::kBadArgument, u"所得税の計算部品がありません。"_s);
    const auto fits = [](int v) {
        return v >= std::numeric_limits<short>::min() && v <= std::numeric_limits<short>::max();
    };
    if (!fits(ctx.jinji.GENFUY) || !fits(ctx.jinji.GENHAI))
        return unreadable(u"扶養親族等"_s);
    ctx.tax->setTaxIniName(u"MOXENV.INI"_s);
    return TaxInputs{s.nu1Ssikyu - s.nu1Hkzegk - s.nu1Syagok, referenceDate(ctx),
                     static_cast<short>(ctx.jinji.GENFUY), static_cast<short>(ctx.jinji.GENHAI)};
}

mox::Status taxFailure(short status, const CalcContext& ctx)
{
    if (status == KorTAX::kStatusNoEdition)
        return mox::Status::failure(status,
                                    monthCaption(ctx) + u"の源泉徴収税額表がありません。"_s);
    return mox::Status::failure(status, u"所得税が計算できません。"_s + ctx.tax->lastError());
}

mox::Result<Currency> monthlyTax(Currency monthly, const TaxInputs& in, CalcContext& ctx)
{
    Currency t;
    const short st = ctx.tax->TaxMonthly(monthly, in.dependents, in.spouse, in.refDate, t);
    if (st != 0)
        return taxFailure(st, ctx);
    return t;
}

} // namespace

std::pair<Currency, Currency> nameTableComplements()
{
    mox::prsNameRead(6);
    return {mox::roundingAdjustHealth(), mox::roundingAdjustPension()};
}

static mox::Status zaiseki(BonusScreen& s, CalcContext& ctx)
{
    if (ctx.jinji.KYUKBN == kPayClassDaily) {
        s.txtKmritu = mox::format(ctx.kanri.NKM12KM, u"0.00000");
        s.txtKbritu = u"0.00000"_s;
        return mox::Status::success();
    }
    const std::optional<int> kmKey = periodKey(s.nu1Kmmm, s.nu1Kmdd);
    if (!kmKey)
        return unreadable(u"期末手当在職期間"_s);
    s.nu1Kmkikan = Currency::fromYen(periodRate(kKimatuSteps, *kmKey));
    const std::optional<int> kbKey = periodKey(s.nu1Kbmm, s.nu1Kbdd);
    if (!kbKey)
        return unreadable(u"勤勉手当在職期間"_s);
    s.nu1Kbkikan = Currency::fromYen(periodRate(kKinbenSteps, *kbKey));
    s.txtKmritu = paymentRatioText(s.nu1Kankmritu, s.nu1Kmkikan);
    s.txtKbritu = paymentRatioText(s.nu1Kankbritu, s.nu1Kbkikan);
    return mox::Status::success();
}

static mox::Status gokei(BonusScreen& s, CalcContext& ctx);

static mox::Status keisan(BonusScreen& s, CalcContext& ctx)
{
    const JinjiRecord& j = ctx.jinji;
    const KanriRecord& k = ctx.kanri;
    if (j.HYOKBN != kInputClassManual) {
        const bool daily = j.KYUKBN == kPayClassDaily;
        const Currency kmBase = s.nu1Kyuryo + s.nu1Ktyogk + s.nu1Styogk + s.nu1Fuyote;
        s.nu1Kmchiiki = daily ? Currency() : kmBase.mulDiv(k.CHIRIT, 100, Rounding::Floor, 0);

        const std::optional<ExactDecimal> r = parseExact(s.txtKmritu);
        if (!r)
            return unreadable(u"期末手当支給割合"_s);
        s.nu1Kimatu =
            allowance(*r, s.nu1Kyuryo + s.nu1Ktyogk + s.nu1Styogk + s.nu1Fuyote + s.nu1Kmchiiki);

        const Currency kbBase = s.nu1Kyuryo + s.nu1Ktyogk + s.nu1Styogk;
        s.nu1Kbchiiki = daily ? Currency() : kbBase.mulDiv(k.CHIRIT, 100, Rounding::Floor, 0);

        const std::optional<ExactDecimal> r2 = parseExact(s.txtKbritu);
        if (!r2)
            return unreadable(u"勤勉手当支給割合"_s);
        s.nu1Kinben = allowance(*r2, s.nu1Kyuryo + s.nu1Ktyogk + s.nu1Styogk + s.nu1Kbchiiki);

        if (s.cboTokkbn.listIndex >= 0) {
            if (s.cboTokkbn.itemData != 1) {
                s.nu1Kenko = Currency();
                s.nu1Kosei = Currency();
            } else {
                const auto [cH, cP] =
                    ctx.roundingComplements ? ctx.roundingComplements() : nameTableComplements();
                const Currency standard =
                    (s.nu1Kimatu + s.nu1Kinben).dividedBy(1000, Rounding::Floor, 0) * 1000;
                const Currency healthBase = standard > k.KENGEN ? k.KENGEN : standard;
                const Currency pensionBase = standard > k.KOSGEN ? k.KOSGEN : standard;
                const bool june = monthOf(k.SYORID) == 6;
                Currency health = june ? k.KENTOK : k.KENTK2;
                if (j.KAIKBN == 1)
                    health += june ? k.KAITOK : k.KAITK2;
                const Currency x = healthBase.mulDiv(health, 2000, Rounding::HalfEven, 4);
                s.nu1Kenko = socialRound(x, cH);
                const Currency pension = june ? k.KOSTOK : k.KOSTK2;
                const Currency y = pensionBase.mulDiv(pension, 2000, Rounding::HalfEven, 4);
                s.nu1Kosei = socialRound(y, cP);
            }
        }

        if (s.cboRoukbn.listIndex >= 0) {
            if (s.cboRoukbn.itemData == 1) {
                const mox::Result<Currency> premium = ctx.koyou
                                                          ? ctx.koyou(s.nu1Kimatu + s.nu1Kinben)
                                                          : prfKoyou(s.nu1Kimatu + s.nu1Kinben);
                if (const mox::Status* failed = mox::failure(premium))
                    return *failed;
                s.nu1Koyou = mox::value(premium);
            } else {
                s.nu1Koyou = Currency();
            }
        }
    }
    return gokei(s, ctx);
}

mox::Result<Currency> prfSyotoku(const BonusScreen& s, CalcContext& ctx)
{
    const mox::Result<TaxInputs> in = taxInputs(s, ctx);
    if (const mox::Status* failed = mox::failure(in))
        return *failed;
    const TaxInputs& v = mox::value(in);
    Currency tax;
    const short st =
        ctx.tax->TaxBonus(v.taxable, s.nu1Zenkaz, v.dependents, v.spouse, v.refDate, tax);
    if (st != 0)
        return taxFailure(st, ctx);
    return tax;
}

mox::Result<Currency> prfNoSyotoku(const BonusScreen& s, CalcContext& ctx)
{
    const mox::Result<TaxInputs> in = taxInputs(s, ctx);
    if (const mox::Status* failed = mox::failure(in))
        return *failed;
    const TaxInputs& v = mox::value(in);
    const mox::Result<Currency> t = monthlyTax(v.taxable.dividedBy(6, Rounding::Floor, 0), v, ctx);
    if (const mox::Status* failed = mox::failure(t))
        return *failed;
    return 6 * mox::value(t);
}

mox::Result<Currency> prf10Syotoku(const BonusScreen& s, CalcContext& ctx)
{
    const mox::Result<TaxInputs> in = taxInputs(s, ctx);
    if (const mox::Status* failed = mox::failure(in))
        return *failed;
    const TaxInputs& v = mox::value(in);
    const mox::Result<Currency> t =
        monthlyTax(v.taxable.dividedBy(6, Rounding::Floor, 0) + s.nu1Zenkaz, v, ctx);
    if (const mox::Status* failed = mox::failure(t))
        return *failed;
    const Currency d = mox::value(t) - s.nu1Zenzei;
    return d > Currency() ? 6 * d : Currency();
}

static mox::Status gokei(BonusScreen& s, CalcContext& ctx)
{
    s.nu1Ssikyu = s.nu1Kimatu + s.nu1Kinben;
    s.nu1Hkzegk = Currency();
    s.nu1Syagok = s.nu1Kenko + s.nu1Kosei + s.nu1Koyou;
    ctx.curKazeig = s.nu1Ssikyu - s.nu1Hkzegk;
    s.nu1Kazeig = s.nu1Ssikyu - s.nu1Hkzegk - s.nu1Syagok;

    if (ctx.jinji.HYOKBN != kInputClassManual) {
        mox::Result<Currency> tax = Currency();
        bool standard = false;
        if (s.nu1Zenkaz.isZero()) {
            tax = prfNoSyotoku(s, ctx);
        } else if (s.nu1Ssikyu > 10 * s.nu1Zenkaz) {
            tax = prf10Syotoku(s, ctx);
        } else {
            tax = prfSyotoku(s, ctx);
            standard = true;
        }
        if (const mox::Status* failed = mox::failure(tax))
            return *failed;
        s.nu1Syotok = mox::value(tax);
        s.nu1Zeirit = standard ? ctx.tax->TaxRate() : Currency();
    }

    s.nu1Kougok = s.nu1Syotok + s.nu1Syagok;
    s.nu1Sasihk = s.nu1Ssikyu - s.nu1Syagok - s.nu1Syotok;
    return mox::Status::success();
}

mox::Status amountOverflow()
{
    return mox::Status::failure(KorDAO::kFieldUnreadable, amountTooLargeText());
}

bool isAmountOverflow(const mox::Status& s)
{
    const mox::Status overflow = amountOverflow();
    return s.code == overflow.code && s.message == overflow.message;
}

mox::Status prsZaiseki(BonusScreen& s, CalcContext& ctx)
{
    return refuseOverflow([&] { return zaiseki(s, ctx); });
}

mox::Status prsKeisan(BonusScreen& s, CalcContext& ctx)
{
    return refuseOverflow([&] { return keisan(s, ctx); });
}

mox::Status prsGokei(BonusScreen& s, CalcContext& ctx)
{
    return refuseOverflow([&] { return gokei(s, ctx); });
}

} // namespace mox110
