#include "moxdb/row.h"

#include <cassert>

namespace moxdb {

RowLayout::RowLayout(QString table, QList<Column> columns)
    : m_table(std::move(table)), m_columns(std::move(columns))
{
    for (int i = 0; i < m_columns.size(); ++i) {
        assert(!m_index.contains(m_columns[i].name));
        m_index.insert(m_columns[i].name, i);
    }
}

QStringList RowLayout::columnNames() const
{
    QStringList names;
    names.reserve(m_columns.size());
    for (const Column& c : m_columns)
        names.append(c.name);
    return names;
}

int RowLayout::indexOf(const QString& name) const
{
    return m_index.value(name, -1);
}

Row::Row(const RowLayout& layout) : m_layout(&layout)
{
    m_values.reserve(static_cast<std::size_t>(layout.columns().size()));
    for (const Column& c : layout.columns()) {
        switch (c.kind) {
        case ColumnKind::Amount:
            m_values.emplace_back(Currency());
            break;
        case ColumnKind::Integer:
            m_values.emplace_back(0);
            break;
        case ColumnKind::Text:
            m_values.emplace_back(QString());
            break;
        }
    }
}

int Row::slot(const QString& column, ColumnKind kind) const
{
    // A column the table lacks, or a value of the wrong kind, is a mistake in this program's
    // own generators: stop at once rather than write a wrong record.
    const int i = m_layout->indexOf(column);
    if (i < 0 || m_layout->columns()[i].kind != kind)
        qFatal("moxdb: column %s of %s set wrongly", qPrintable(column),
               qPrintable(m_layout->table()));
    return i;
}

void Row::set(const QString& column, Currency value)
{
    m_values[static_cast<std::size_t>(slot(column, ColumnKind::Amount))] = value;
}

void Row::set(const QString& column, int value)
{
    m_values[static_cast<std::size_t>(slot(column, ColumnKind::Integer))] = value;
}

void Row::set(const QString& column, const QString& value)
{
    m_values[static_cast<std::size_t>(slot(column, ColumnKind::Text))] = value;
}

Currency Row::money(const QString& column) const
{
    const int i = m_layout->indexOf(column);
    if (i < 0)
        return Currency();
    const FieldValue& v = m_values[static_cast<std::size_t>(i)];
    if (const Currency* c = std::get_if<Currency>(&v))
        return *c;
    if (const int* n = std::get_if<int>(&v))
        return Currency::fromYen(*n);
    return Currency();
}

int Row::integer(const QString& column) const
{
    const int i = m_layout->indexOf(column);
    if (i < 0)
        return 0;
    const FieldValue& v = m_values[static_cast<std::size_t>(i)];
    if (const int* n = std::get_if<int>(&v))
        return *n;
    return 0;
}

QString Row::text(const QString& column) const
{
    const int i = m_layout->indexOf(column);
    if (i < 0)
        return QString();
    const FieldValue& v = m_values[static_cast<std::size_t>(i)];
    if (const QString* s = std::get_if<QString>(&v))
        return *s;
    return QString();
}

} // namespace moxdb
