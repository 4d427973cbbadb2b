#include "values.h"

#include "connection.h"
#include "engine.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace KorDAO {

mox::Result<QVariant> storedValue(const ColumnInfo& c, const QVariant& v,
                                  const DatabaseEngine& engine)
{
    std::optional<Currency> amount;
    bool isText = false;
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt: {
        const qlonglong n = v.toLongLong();
        if (n <= kMaxYen && n >= -kMaxYen)
            amount = Currency::fromYen(n);
        break;
    }
    case QMetaType::QString:
        isText = true;
        if (c.kind != ColumnKind::Text)
            amount = Currency::parse(v.toString());
        break;
    default:
        if (v.metaType() == QMetaType::fromType<Currency>()) {
            amount = v.value<Currency>();
            break;
        }
        return mox::Status::failure(kUpdateFailed, u"項目「%1」に %2 型の値は書けません。"_s.arg(
                                                       c.name, QString::fromLatin1(v.typeName())));
    }

    switch (c.kind) {
    case ColumnKind::Text:
        // A null text is NULL on both engines; an empty one is ''.
        if (isText && isSqlNull(v))
            return QVariant();
        return QVariant(isText || !amount ? v.toString() : amount->toPlainString());
    case ColumnKind::Integer:
        if (!amount || amount->raw() % Currency::kScale != 0) {
            return mox::Status::failure(
                kUpdateFailed, u"項目「%1」に整数でない値「%2」は書けません。"_s.arg(
                                   c.name, amount ? amount->toPlainString() : v.toString()));
        }
        return QVariant(qlonglong(amount->raw() / Currency::kScale));
    case ColumnKind::Number:
        if (!amount) {
            return mox::Status::failure(
                kUpdateFailed,
                u"項目「%1」に数値でない値「%2」は書けません。"_s.arg(c.name, v.toString()));
        }
        // Whole amounts are stored as integers. A fraction goes to SQLite as the double nearest
        // to it (the raw value and 10^4 are exact, the division rounds once) and to PostgreSQL
        // as exact decimal text for its NUMERIC.
        if (amount->raw() % Currency::kScale == 0)
            return QVariant(qlonglong(amount->raw() / Currency::kScale));
        return engine.fraction(*amount);
    }
    return mox::Status::failure(kUpdateFailed, u"項目「%1」の型が不明です。"_s.arg(c.name));
}

// The exact Currency of a value as the drivers deliver it: an integer, a decimal text (SQLite
// REAL through the text the engine prints, PostgreSQL NUMERIC), or a Currency being written.
std::optional<Currency> amountOf(const QVariant& v)
{
    if (v.metaType() == QMetaType::fromType<Currency>())
        return v.value<Currency>();
    switch (v.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok || n > kMaxYen || n < -kMaxYen)
            return std::nullopt;
        return Currency::fromYen(n);
    }
    case QMetaType::Double: {
        // SQLite keeps a fractional amount as the nearest double; its exact expansion rounded
        // to four decimals gives back the decimal that was written (below 4.5e11 yen, where
        // the spacing of doubles is under 0.0001).
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        // Below 1e11 the product is within a quarter of a unit of the nearest 1/10000.
        if (std::fabs(d) < 1e11)
            return Currency::fromRaw(std::llround(d * double(Currency::kScale)));
        return Currency::parse(QString::number(d, 'f', 9));
    }
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return Currency::parse(v.toString().trimmed());
    default:
        return std::nullopt;
    }
}

bool sameStored(const ColumnInfo& c, const QVariant& read, const QVariant& written)
{
    if (c.kind == ColumnKind::Text || isSqlNull(read) || isSqlNull(written))
        return sameValue(read, written);
    const std::optional<Currency> a = amountOf(read);
    const std::optional<Currency> b = amountOf(written);
    return a && b && *a == *b;
}

} // namespace KorDAO
