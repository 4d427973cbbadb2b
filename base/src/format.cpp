#include "base/format.h"

#include <QList>

#include <algorithm>
#include <cstdint>

namespace mox {
namespace {

__extension__ typedef unsigned __int128 Magnitude;

constexpr Magnitude kScale = Currency::kScale;

// One section of a picture, split into its parts. Literals inside the digit run are not used by
// any picture of the programs and are kept in front of the digits.
struct Section {
    QString prefix;    // literals before the first digit placeholder
    QString suffix;    // literals after the last digit placeholder
    int intZeros = 0;  // "0" placeholders before the point: minimum integer digits
    int intHashes = 0; // "#" placeholders before the point
    int decZeros = 0;  // "0" placeholders after the point
    int decHashes = 0; // "#" placeholders after the point (shown only when not zero)
    bool grouping = false;
    bool hasPoint = false;
};

Section parseSection(QStringView s)
{
    Section sec;
    bool inDigits = false;
    bool afterDigits = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        const bool digit = c == u'0' || c == u'#';
        if (digit && !afterDigits) {
            inDigits = true;
            if (sec.hasPoint)
                (c == u'0' ? sec.decZeros : sec.decHashes)++;
            else
                (c == u'0' ? sec.intZeros : sec.intHashes)++;
        } else if (c == u'.' && !sec.hasPoint && !afterDigits) {
            sec.hasPoint = true;
            inDigits = true;
        } else if (c == u',' && inDigits && !sec.hasPoint && !afterDigits) {
            sec.grouping = true;
        } else if (!inDigits) {
            sec.prefix += c;
        } else {
            afterDigits = true;
            sec.suffix += c;
        }
    }
    return sec;
}

QString groupThousands(const QString& digits)
{
    QString out;
    const qsizetype n = digits.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += u',';
        out += digits[i];
    }
    return out;
}

// The magnitude of a value in raw units (1/10000), exact for the most negative value too.
std::uint64_t magnitudeOf(Currency value)
{
    const auto raw = static_cast<std::uint64_t>(value.raw());
    return value.isNegative() ? std::uint64_t(0) - raw : raw;
}

// Rounds a magnitude in raw units half away from zero to `decimals` places (0 to 4).
Magnitude roundHalfAway(std::uint64_t raw, int decimals)
{
    Magnitude step = 1;
    for (int i = decimals; i < 4; ++i)
        step *= 10;
    return (Magnitude(raw) + step / 2) / step * step;
}

int decimalsOf(const Section& sec)
{
    return sec.decZeros + sec.decHashes;
}

// Formats a magnitude in raw units that has already been rounded to the section's decimals.
QString formatMagnitude(Magnitude rounded, const Section& sec)
{
    const int decimals = decimalsOf(sec);
    const auto whole = static_cast<std::uint64_t>(rounded / kScale);
    const auto frac = static_cast<std::uint64_t>(rounded % kScale); // four digits

    QString intDigits = whole == 0 ? QString() : QString::number(whole);
    if (intDigits.size() < sec.intZeros)
        intDigits = QString(sec.intZeros - intDigits.size(), u'0') + intDigits;
    if (sec.grouping)
        intDigits = groupThousands(intDigits);

    QString decDigits;
    if (decimals > 0) {
        QString all = QString::number(frac).rightJustified(4, u'0');
        if (decimals > 4)
            all += QString(decimals - 4, u'0');
        decDigits = all.left(decimals);
        // "#" decimals drop trailing zeros, down to the "0" decimals.
        while (decDigits.size() > sec.decZeros && decDigits.endsWith(u'0'))
            decDigits.chop(1);
    }

    QString out = sec.prefix + intDigits;
    if (sec.hasPoint && (!decDigits.isEmpty() || sec.decZeros > 0))
        out += u'.' + decDigits;
    return out + sec.suffix;
}

QString formatSection(Currency value, QStringView section)
{
    const Section sec = parseSection(section);
    return formatMagnitude(roundHalfAway(magnitudeOf(value), std::min(decimalsOf(sec), 4)), sec);
}

} // namespace

QString format(Currency value, QStringView picture)
{
    const QList<QStringView> parts = picture.split(u';');
    if (value.isZero() && parts.size() >= 3)
        return formatSection(value, parts[2]);
    if (value.isNegative() && parts.size() >= 2)
        return formatSection(value, parts[1]);
    if (!value.isNegative())
        return formatSection(value, parts[0]);
    // One section: a leading "-", unless the value rounds to zero under the picture.
    const Section sec = parseSection(parts[0]);
    const Magnitude rounded = roundHalfAway(magnitudeOf(value), std::min(decimalsOf(sec), 4));
    const QString body = formatMagnitude(rounded, sec);
    return rounded == 0 ? body : u'-' + body;
}

QString format(std::int64_t value, QStringView picture)
{
    return format(Currency::fromYen(value), picture);
}

} // namespace mox
