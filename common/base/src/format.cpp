#include "mox/format.h"

#include <QList>
#include <QRegularExpression>

namespace mox {
namespace {

// One section of a picture, split into its parts. Literals inside the digit run are not used by
// any picture of the programs and are kept in front of the digits.
struct Section {
    QString prefix;     // literals before the first digit placeholder
    QString suffix;     // literals after the last digit placeholder
    int intZeros = 0;   // "0" placeholders before the point: minimum integer digits
    int intHashes = 0;  // "#" placeholders before the point
    int decZeros = 0;   // "0" placeholders after the point
    int decHashes = 0;  // "#" placeholders after the point (shown only when not zero)
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

// Formats a non-negative magnitude with one section.
QString formatMagnitude(Currency magnitude, const Section& sec)
{
    const int decimals = sec.decZeros + sec.decHashes;
    const Currency rounded = magnitude.roundTo(decimals > 4 ? 4 : decimals, Rounding::HalfAwayFromZero);
    const std::int64_t raw = rounded.raw();
    const std::int64_t whole = raw / Currency::kScale;
    const std::int64_t frac = raw % Currency::kScale; // four digits

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

} // namespace

QString format(Currency value, QStringView picture)
{
    const QList<QStringView> parts = picture.split(u';');
    const QStringView positive = parts.value(0);

    if (value.isZero() && parts.size() >= 3)
        return formatMagnitude(value, parseSection(parts[2]));
    if (value.isNegative()) {
        if (parts.size() >= 2)
            return formatMagnitude(value.abs(), parseSection(parts[1]));
        const QString body = formatMagnitude(value.abs(), parseSection(positive));
        // A value that rounds to zero under the picture keeps no sign.
        const bool allZero = body.indexOf(QRegularExpression(QStringLiteral("[1-9]"))) < 0;
        return allZero ? body : u'-' + body;
    }
    return formatMagnitude(value, parseSection(positive));
}

QString format(std::int64_t value, QStringView picture)
{
    return format(Currency::fromYen(value), picture);
}

} // namespace mox
