#pragma once

// Rows for the payroll and environment databases, built in memory before they are written.
//
// A RowLayout names the table and the columns written to it, each with its kind (amount, whole
// number or text). A Row holds one value per column of its layout and starts with every amount
// and number at 0 and every text empty, so a row written with only some columns set still gives
// clean records:
//
//     RowLayout layout(u"GKKOYOU"_s, {{u"KAISHI"_s, ColumnKind::Amount}, ...});
//     Row row(layout);
//     row.set(u"KAKRIT"_s, Currency::fromYen(5));

#include "base/currency.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <variant>
#include <vector>

namespace moxdb {

enum class ColumnKind {
    Amount,  // yen or a rate, a Currency value
    Integer, // a code, count, date yyyymmdd or month yyyymm
    Text,
};

struct Column {
    QString name;
    ColumnKind kind;
};

using FieldValue = std::variant<Currency, int, QString>;

/// The columns written to one table, in order. Column names are unique.
class RowLayout {
public:
    RowLayout(QString table, QList<Column> columns);

    const QString& table() const { return m_table; }
    const QList<Column>& columns() const { return m_columns; }
    QStringList columnNames() const;
    /// Position of \p name, or -1 when the layout has no such column.
    int indexOf(const QString& name) const;

private:
    QString m_table;
    QList<Column> m_columns;
    QHash<QString, int> m_index;
};

/// One record of a layout. Setting a column the layout lacks, or a value of another kind, is a
/// programming error that stops the program; reading a column the layout lacks gives 0 or an
/// empty text.
class Row {
public:
    explicit Row(const RowLayout& layout);

    const RowLayout& layout() const { return *m_layout; }
    const std::vector<FieldValue>& values() const { return m_values; }

    void set(const QString& column, Currency value);
    void set(const QString& column, int value);
    void set(const QString& column, const QString& value);

    Currency money(const QString& column) const;
    int integer(const QString& column) const;
    QString text(const QString& column) const;

private:
    int slot(const QString& column, ColumnKind kind) const;

    const RowLayout* m_layout;
    std::vector<FieldValue> m_values;
};

} // namespace moxdb
