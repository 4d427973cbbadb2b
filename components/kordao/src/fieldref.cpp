#include "kordao/kordao.h"

#include "connection.h"

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace KorDAO {

const QVariant& FieldRef::value(ColumnKind* kind) const
{
    return m_column >= 0 ? m_table->fieldValueAt(m_column, m_name, kind)
                         : m_table->fieldValue(m_name, kind);
}

FieldRef Record::field(int column) const
{
    // A negative position is no field: out of range, so that reading it fails as for a name
    // the table does not have.
    return FieldRef(m_table, m_table->fieldName(column),
                    column < 0 ? std::numeric_limits<int>::max() : column);
}

Currency FieldRef::toCurrency() const
{
    ColumnKind kind{};
    const QVariant& v = value(&kind);
    if (v.isNull())
        throw DaoError(kFieldUnreadable, u"テーブル %1 の項目「%2」が空 (NULL) です。"_s.arg(
                                             m_table->TBNameString(), m_name));
    const std::optional<Currency> amount = amountOf(v);
    if (!amount)
        throw DaoError(kFieldUnreadable,
                       u"テーブル %1 の項目「%2」の値「%3」は数値ではありません。"_s.arg(
                           m_table->TBNameString(), m_name, v.toString()));
    return *amount;
}

int FieldRef::toInt() const
{
    const std::int64_t n = toCurrency().toInteger(Rounding::Truncate);
    if (n > std::numeric_limits<int>::max() || n < std::numeric_limits<int>::min())
        throw DaoError(kFieldUnreadable,
                       u"テーブル %1 の項目「%2」の値 %3 は整数の範囲を超えています。"_s
                           .arg(m_table->TBNameString(), m_name)
                           .arg(n));
    return int(n);
}

QString FieldRef::toString() const
{
    ColumnKind kind{};
    const QVariant& v = value(&kind);
    if (v.isNull())
        return {};
    if (kind != ColumnKind::Text || v.metaType() == QMetaType::fromType<Currency>()) {
        // Numbers read as the plain decimal: PostgreSQL's "45000.0000" reads "45000".
        if (const std::optional<Currency> amount = amountOf(v))
            return amount->toPlainString();
    }
    return v.toString();
}

bool FieldRef::isNull() const
{
    ColumnKind kind{};
    return value(&kind).isNull();
}

QVariant FieldRef::variant() const
{
    ColumnKind kind{};
    return value(&kind);
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
