#pragma once

// The tables an office may take out of its databases as CSV and bring back in: the payroll
// tables of "MOX.INI" (GKKANRI, GKJINJI, GKKYUYO, GKKOYOU), the name table 名設定 and the
// withholding tax tables (ZEIHAN, ZEIGETU, ZEISYO) of "MOXENV.INI". The component's own tables
// (the audit trail, the record counter, the writer table) are not among them: they travel in
// backups only.
//
// Each table lists its fields in the order of the table's definition, which is the order of the
// CSV header that `moxdb export` writes, and its key fields in key order:
//
//     const ExportTable* t = findExportTable(u"GKKYUYO"_s);
//     // t->which == DatabaseKind::Payroll, t->key == {SYOKCD, KYUSYU, SKYUYM, KYUSEQ}
//     for (const ExportField& f : t->fields) ...
//
// A table without a key (GKKOYOU, 名設定) is exported in the order its records are stored, and an
// import into an empty table stores them in the order of the file.

#include "kordao/schema.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace moxdb {

/// Which database holds a table: KorDAO::DatabaseKind::Payroll ("MOX.INI") or Environment
/// ("MOXENV.INI"). (moxdb::Database is the class of an open database.)
using KorDAO::DatabaseKind;

/// The configuration file of \p which: "MOX.INI" or "MOXENV.INI".
QString iniNameOf(DatabaseKind which);

/// What a field holds, and so how its value is written and checked.
enum class FieldKind {
    Integer, // a code, count or flag: a whole number (32-bit)
    Date,    // a whole number yyyymmdd of a day that exists, or 0 for none
    Month,   // a whole number yyyymm of a month 01-12
    Amount,  // yen or a rate, exact to four decimals (the money type)
    Text,
};

/// True for the kinds stored as whole numbers (Integer, Date, Month).
bool isWholeNumber(FieldKind kind);

struct ExportField {
    QString name;
    FieldKind kind;
    bool nullable; // only texts outside the key may be NULL; every number is NOT NULL
};

struct ExportTable {
    QString table;
    DatabaseKind which;
    QStringList key; // empty for a table without a key
    std::vector<ExportField> fields;

    /// The field called \p name (exact, case included: "kmzoge" is lower case), or nullptr.
    const ExportField* field(const QString& name) const;
    QStringList fieldNames() const;
    /// The file `export --all` writes this table into, and `import --all` reads: "<TABLE>.csv".
    QString fileName() const;
};

/// Every exportable table, in the order `export --all` writes them: the payroll tables, the name
/// table, the tax tables (ZEIHAN before the tables of its editions).
const std::vector<ExportTable>& exportTables();

/// The exportable table called \p name (exact), or nullptr for any other name, the component's
/// own tables included.
const ExportTable* findExportTable(const QString& name);

} // namespace moxdb
