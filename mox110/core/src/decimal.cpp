#include "mox110/decimal.h"

#include "base/format.h"

#include <limits>

namespace mox110 {

namespace {

__extension__ typedef __int128 Wide;

constexpr int kMaxDecimals = 18;

Wide pow10(int n)
{
    Wide p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// Floor of a / b for b > 0.
Wide floorDiv(Wide a, Wide b)
{
    Wide q = a / b;
    if (a % b != 0 && a < 0)
        --q;
    return q;
}

// a / b for b > 0, rounded half away from zero.
Wide roundHalfAway(Wide a, Wide b)
{
    const bool neg = a < 0;
    const Wide m = neg ? -a : a;
    Wide q = m / b;
    if ((m % b) * 2 >= b)
        ++q;
    return neg ? -q : q;
}

// A count of hundred-thousandths as "0.00000" text.
QString fiveDecimals(Wide r5)
{
    const bool neg = r5 < 0;
    const Wide m = neg ? -r5 : r5;
    const auto whole = static_cast<std::int64_t>(m / 100000);
    const auto frac = static_cast<std::int64_t>(m % 100000);
    QString s = QString::number(whole) + u'.' + QString::number(frac).rightJustified(5, u'0');
    return neg ? u'-' + s : s;
}

} // namespace

std::optional<ExactDecimal> parseExact(QStringView text)
{
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
        negative = t[i] == u'-';
        ++i;
    }
    Wide digits = 0;
    int decimals = 0;
    int count = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c == u'.' && !point) {
            point = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            return std::nullopt;
        digits = digits * 10 + (c.unicode() - u'0');
        ++count;
        if (point)
            ++decimals;
        if (decimals > kMaxDecimals || digits > std::numeric_limits<std::int64_t>::max())
            return std::nullopt;
    }
    if (count == 0)
        return std::nullopt;
    return ExactDecimal{static_cast<std::int64_t>(negative ? -digits : digits), decimals};
}

QString paymentRatioText(Currency rate, Currency periodRate)
{
    // rate and periodRate carry four decimals each, so the product has eight; taking ÷ 100 and
    // keeping five decimals is one division by 10^5.
    const Wide product = Wide(rate.raw()) * Wide(periodRate.raw());
    return fiveDecimals(roundHalfAway(product, Wide(100'000)));
}

QString storedRatioText(Currency stored)
{
    // stored / 100000 in hundred-thousandths is the stored value itself in whole units.
    return fiveDecimals(roundHalfAway(Wide(stored.raw()), Wide(Currency::kScale)));
}

Currency allowance(const ExactDecimal& ratio, Currency base)
{
    const Wide num = Wide(ratio.digits) * Wide(base.raw());
    const Wide den = pow10(ratio.decimals) * 100 * Currency::kScale;
    const Wide yen = floorDiv(num, den);
    if (yen > std::numeric_limits<std::int64_t>::max() / Currency::kScale ||
        yen < std::numeric_limits<std::int64_t>::min() / Currency::kScale)
        throw std::overflow_error("allowance out of range");
    return Currency::fromYen(static_cast<std::int64_t>(yen));
}

std::optional<int> periodKey(Currency months, Currency days)
{
    const QString text = mox::format(months, u"0") + mox::format(days, u"00");
    bool ok = false;
    const int key = text.toInt(&ok);
    if (!ok || text.startsWith(u'-') || text.contains(u'-'))
        return std::nullopt;
    return key;
}

} // namespace mox110
