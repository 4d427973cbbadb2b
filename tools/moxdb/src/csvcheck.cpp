#include "moxdb/csvcheck.h"

#include <QDate>

#include <limits>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// The largest whole yen the money type holds, as the database component bounds amounts.
constexpr qint64 kMaxYen = std::numeric_limits<qint64>::max() / Currency::kScale;

// A whole number of digits with an optional minus sign; nullopt for anything else or beyond
// the 32 bits of a code, date or month column.
enum class Whole { Ok, NotANumber, OutOfRange };

Whole parseWhole(QStringView s, qint32* out)
{
    qsizetype i = 0;
    const bool negative = !s.isEmpty() && s[0] == u'-';
    if (negative)
        ++i;
    if (i == s.size())
        return Whole::NotANumber;
    qint64 v = 0;
    bool tooLong = false;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return Whole::NotANumber;
        if (v > 10'000'000'000LL)
            tooLong = true;
        else
            v = v * 10 + (c - u'0');
    }
    if (negative)
        v = -v;
    if (tooLong || v > std::numeric_limits<qint32>::max() || v < std::numeric_limits<qint32>::min())
        return Whole::OutOfRange;
    *out = qint32(v);
    return Whole::Ok;
}

// An amount as export writes it: an optional minus sign, digits, and up to four decimals after a
// point. Exact: no rounding, no exponent, no thousands separators.
enum class Amount { Ok, NotAnAmount, TooManyDecimals, OutOfRange };

Amount parseAmount(QStringView s, Currency* out)
{
    qsizetype i = 0;
    const bool negative = !s.isEmpty() && s[0] == u'-';
    if (negative)
        ++i;
    qint64 whole = 0;
    qsizetype digits = 0;
    bool tooLarge = false;
    for (; i < s.size() && s[i] != u'.'; ++i, ++digits) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return Amount::NotAnAmount;
        if (whole > kMaxYen)
            tooLarge = true;
        else
            whole = whole * 10 + (c - u'0');
    }
    if (digits == 0)
        return Amount::NotAnAmount;
    qint64 fraction = 0;
    if (i < s.size()) {
        ++i; // the point
        const qsizetype decimals = s.size() - i;
        if (decimals == 0)
            return Amount::NotAnAmount;
        for (qsizetype k = 0; k < decimals; ++k) {
            const char16_t c = s[i + k].unicode();
            if (c < u'0' || c > u'9')
                return Amount::NotAnAmount;
        }
        if (decimals > 4)
            return Amount::TooManyDecimals;
        for (qsizetype k = 0; k < 4; ++k)
            fraction = fraction * 10 + (k < decimals ? s[i + k].unicode() - u'0' : 0);
    }
    if (tooLarge || whole > kMaxYen)
        return Amount::OutOfRange;
    // whole <= kMaxYen, so whole * kScale fits; the four decimals may still overflow it.
    const qint64 scaled = whole * Currency::kScale;
    if (fraction > std::numeric_limits<qint64>::max() - scaled)
        return Amount::OutOfRange;
    const qint64 raw = scaled + fraction;
    *out = Currency::fromRaw(negative ? -raw : raw);
    return Amount::Ok;
}

bool isDate(qint32 v)
{
    return v == 0 || (v > 0 && QDate::isValid(v / 10000, v / 100 % 100, v % 100));
}

bool isMonth(qint32 v)
{
    return v == 0 || (v >= 10001 && v <= 999912 && v % 100 >= 1 && v % 100 <= 12);
}

QString kindText(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Integer:
        return u"整数"_s;
    case FieldKind::Date:
        return u"年月日 (yyyymmdd、なしは 0)"_s;
    case FieldKind::Month:
        return u"年月 (yyyymm、なしは 0)"_s;
    case FieldKind::Amount:
        return u"金額 (小数は 4 桁まで)"_s;
    case FieldKind::Text:
        break;
    }
    return u"文字"_s;
}

// The fault of an amount that parseAmount refused.
QString amountFault(Amount a, QStringView text)
{
    switch (a) {
    case Amount::Ok:
        break;
    case Amount::NotAnAmount:
        return u"「%1」は金額ではありません (例: 123456、1234.5)。"_s.arg(shownValue(text));
    case Amount::TooManyDecimals:
        return u"「%1」は小数が 4 桁を超えています (金額は小数 4 桁まで)。"_s.arg(shownValue(text));
    case Amount::OutOfRange:
        return u"「%1」は金額の範囲 (±%2 円) を超えています。"_s.arg(shownValue(text)).arg(kMaxYen);
    }
    return {};
}

// The fault of a whole number, date or month; empty when \p text is one.
QString wholeFault(FieldKind kind, QStringView text, qint32* whole)
{
    switch (parseWhole(text, whole)) {
    case Whole::Ok:
        break;
    case Whole::NotANumber:
        return u"「%1」は%2ではありません。"_s.arg(shownValue(text), kindText(kind));
    case Whole::OutOfRange:
        return u"「%1」は整数の範囲 (-2147483648〜2147483647) を超えています。"_s.arg(
            shownValue(text));
    }
    if (kind == FieldKind::Date && !isDate(*whole))
        return u"「%1」はありえない日付です (年月日 yyyymmdd、なしは 0)。"_s.arg(shownValue(text));
    if (kind == FieldKind::Month && !isMonth(*whole))
        return u"「%1」はありえない年月です (yyyymm、なしは 0)。"_s.arg(shownValue(text));
    return {};
}

} // namespace

QString shownValue(QStringView text)
{
    constexpr qsizetype kShown = 40;
    return text.size() <= kShown ? text.toString() : text.left(kShown).toString() + u"…"_s;
}

QString checkField(const ExportField& field, bool key, const CsvField& value, FieldRead& read)
{
    read.null = value.null;
    read.text = value.text;
    if (value.null) {
        if (field.kind != FieldKind::Text)
            return u"値がありません (%1の項目です。空にはできません)。"_s.arg(kindText(field.kind));
        if (key || !field.nullable)
            return u"キーの項目に値がありません。"_s;
        return {};
    }
    switch (field.kind) {
    case FieldKind::Text:
        return {};
    case FieldKind::Amount:
        return amountFault(parseAmount(value.text, &read.amount), value.text);
    case FieldKind::Integer:
    case FieldKind::Date:
    case FieldKind::Month:
        break;
    }
    return wholeFault(field.kind, value.text, &read.whole);
}

} // namespace moxdb
