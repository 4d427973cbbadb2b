#include "kordao/kordao.h"

#include "connection.h"

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// The exact Currency of a value as the drivers deliver it: an integer, a decimal text (SQLite
// REAL through the text the engine prints, PostgreSQL NUMERIC), or a Currency being written.
std::optional<Currency> toAmount(const QVariant& v)
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
        constexpr qlonglong limit = std::numeric_limits<qint64>::max() / Currency::kScale;
        if (!ok || n > limit || n < -limit)
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

} // namespace

Currency FieldRef::toCurrency() const
{
    ColumnKind kind{};
    const QVariant& v = m_table->fieldValue(m_name, &kind);
    if (v.isNull())
        throw DaoError(-3, u"テーブル %1 の項目「%2」が空 (NULL) です。"_s.arg(
                               m_table->TBNameString(), m_name));
    const std::optional<Currency> amount = toAmount(v);
    if (!amount)
        throw DaoError(-3, u"テーブル %1 の項目「%2」の値「%3」は数値ではありません。"_s.arg(
                               m_table->TBNameString(), m_name, v.toString()));
    return *amount;
}

int FieldRef::toInt() const
{
    const std::int64_t n = toCurrency().toInteger(Rounding::Truncate);
    if (n > std::numeric_limits<int>::max() || n < std::numeric_limits<int>::min())
        throw DaoError(-3, u"テーブル %1 の項目「%2」の値 %3 は整数の範囲を超えています。"_s
                               .arg(m_table->TBNameString(), m_name)
                               .arg(n));
    return int(n);
}

QString FieldRef::toString() const
{
    ColumnKind kind{};
    const QVariant& v = m_table->fieldValue(m_name, &kind);
    if (v.isNull())
        return {};
    if (kind != ColumnKind::Text || v.metaType() == QMetaType::fromType<Currency>()) {
        // Numbers read as the plain decimal: PostgreSQL's "45000.0000" reads "45000".
        if (const std::optional<Currency> amount = toAmount(v))
            return amount->toPlainString();
    }
    return v.toString();
}

bool FieldRef::isNull() const
{
    ColumnKind kind{};
    return m_table->fieldValue(m_name, &kind).isNull();
}

QVariant FieldRef::variant() const
{
    ColumnKind kind{};
    return m_table->fieldValue(m_name, &kind);
}

FieldRef& FieldRef::operator=(Currency v)
{
    m_table->assignField(m_name, QVariant::fromValue(v));
    return *this;
}

FieldRef& FieldRef::operator=(int v)
{
    m_table->assignField(m_name, QVariant(qlonglong(v)));
    return *this;
}

FieldRef& FieldRef::operator=(const QString& v)
{
    m_table->assignField(m_name, QVariant(v));
    return *this;
}

} // namespace KorDAO
