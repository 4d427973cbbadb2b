#include "base/currency.h"

#include <limits>
#include <stdexcept>

namespace {

__extension__ typedef __int128 Wide;

constexpr std::int64_t kPow10[] = {1, 10, 100, 1'000, 10'000};

// num ÷ den rounded to an integer by how; den must not be 0.
Wide divideRounded(Wide num, Wide den, Rounding how)
{
    if (den == 0)
        throw std::domain_error("Currency: division by zero");
    if (den < 0) {
        num = -num;
        den = -den;
    }
    Wide q = num / den; // truncates towards zero
    Wide r = num % den; // same sign as num
    if (r == 0)
        return q;
    const bool negative = num < 0;
    switch (how) {
    case Rounding::Truncate:
        return q;
    case Rounding::Floor:
        return negative ? q - 1 : q;
    case Rounding::Ceil:
        return negative ? q : q + 1;
    case Rounding::HalfEven:
    case Rounding::HalfAwayFromZero: {
        const Wide twice = (r < 0 ? -r : r) * 2;
        bool up = twice > den;
        if (twice == den)
            up = how == Rounding::HalfAwayFromZero || (q % 2 != 0);
        if (!up)
            return q;
        return negative ? q - 1 : q + 1;
    }
    }
    return q;
}

std::int64_t narrow(Wide v)
{
    if (v > std::numeric_limits<std::int64_t>::max() ||
        v < std::numeric_limits<std::int64_t>::min())
        throw std::overflow_error("Currency: result does not fit 64 bits");
    return static_cast<std::int64_t>(v);
}

std::int64_t stepFor(int decimals)
{
    if (decimals < 0 || decimals > 4)
        throw std::invalid_argument("Currency: decimals must be 0 to 4");
    return kPow10[4 - decimals];
}

// value (in raw units) ÷ den, rounded to `decimals` places, returned in raw units.
std::int64_t toRaw(Wide num, Wide den, Rounding how, int decimals)
{
    const std::int64_t step = stepFor(decimals);
    return narrow(divideRounded(num, den * step, how) * step);
}

} // namespace

Currency Currency::times(Currency factor, Rounding how, int decimals) const
{
    return Currency(toRaw(Wide(m_raw) * factor.m_raw, kScale, how, decimals));
}

Currency Currency::dividedBy(std::int64_t divisor, Rounding how, int decimals) const
{
    return Currency(toRaw(Wide(m_raw), divisor, how, decimals));
}

Currency Currency::mulDiv(Currency factor, std::int64_t divisor, Rounding how, int decimals) const
{
    return Currency(toRaw(Wide(m_raw) * factor.m_raw, Wide(kScale) * divisor, how, decimals));
}

Currency Currency::ratioTo(Currency divisor, Rounding how, int decimals) const
{
    return Currency(toRaw(Wide(m_raw) * kScale, divisor.m_raw, how, decimals));
}

Currency Currency::roundTo(int decimals, Rounding how) const
{
    return Currency(toRaw(Wide(m_raw), 1, how, decimals));
}

std::int64_t Currency::toInteger(Rounding how) const
{
    return narrow(divideRounded(Wide(m_raw), kScale, how));
}

std::optional<Currency> Currency::parse(QStringView text)
{
    QStringView t = text.trimmed();
    bool negative = false;
    if (!t.isEmpty() && (t.front() == u'-' || t.front() == u'+')) {
        negative = t.front() == u'-';
        t = t.mid(1);
    }
    // The magnitude in raw units may reach 2^63 (the most negative value); anything larger is
    // rejected as soon as it is seen, so arbitrarily long texts cannot overflow.
    const Wide limit = Wide(std::numeric_limits<std::int64_t>::max()) + 1;
    Wide whole = 0;
    std::int64_t frac = 0; // the first four decimals, as an integer
    int fracDigits = 0;
    int roundingDigit = 0; // the fifth decimal
    bool sticky = false;   // any non-zero decimal after the fifth
    bool seenPoint = false;
    bool seenDigit = false;
    for (QChar c : t) {
        if (c == u',' && !seenPoint && seenDigit)
            continue;
        if (c == u'.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            return std::nullopt;
        seenDigit = true;
        const int d = c.unicode() - u'0';
        if (!seenPoint) {
            whole = whole * 10 + d;
            if (whole * kScale > limit)
                return std::nullopt;
        } else if (fracDigits < 4) {
            frac = frac * 10 + d;
            ++fracDigits;
        } else if (fracDigits == 4) {
            roundingDigit = d;
            ++fracDigits;
        } else if (d != 0) {
            sticky = true;
        }
    }
    if (!seenDigit)
        return std::nullopt;
    for (int i = fracDigits; i < 4; ++i)
        frac *= 10;
    Wide magnitude = whole * kScale + frac;
    // Decimals beyond the fourth are rounded half to even.
    if (roundingDigit > 5 || (roundingDigit == 5 && (sticky || magnitude % 2 != 0)))
        ++magnitude;
    if (magnitude > limit || (!negative && magnitude == limit))
        return std::nullopt;
    if (negative)
        return Currency(static_cast<std::int64_t>(-magnitude));
    return Currency(static_cast<std::int64_t>(magnitude));
}

QString Currency::toPlainString() const
{
    const bool negative = m_raw < 0;
    // Work in unsigned so that the most negative value prints too.
    const std::uint64_t magnitude = negative ? std::uint64_t(0) - static_cast<std::uint64_t>(m_raw)
                                             : static_cast<std::uint64_t>(m_raw);
    const std::uint64_t whole = magnitude / kScale;
    std::uint64_t frac = magnitude % kScale;
    QString s = negative ? QStringLiteral("-") : QString();
    s += QString::number(whole);
    if (frac != 0) {
        QString f = QString::number(frac).rightJustified(4, u'0');
        while (f.endsWith(u'0'))
            f.chop(1);
        s += u'.';
        s += f;
    }
    return s;
}

QString amountTooLargeText()
{
    return QStringLiteral("金額が大きすぎて計算できません。");
}
