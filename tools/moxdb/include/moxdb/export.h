#pragma once

// Taking tables out as CSV (`moxdb export`): the records of one exportable table, read through
// the database component in key order a batch at a time, written by a CsvWriter with a header
// row of the field names. Memory stays flat however large the table.
//
//     mox::Result<QString> filter = exportFilter(*table, {u"SYOKCD=1001"_s});
//     mox::Result<qint64> n = exportToFile(db->handle(), *table, filter, CsvEncoding::Cp932,
//                                          u"GKJINJI.csv"_s);
//
// A failure names the table, and for a text the encoding cannot hold the record's key and the
// field; the file is then not there (nor half written) and an older file of the name stays.

#include "moxdb/command.h"
#include "moxdb/csvwrite.h"
#include "moxdb/exporttables.h"

#include "base/privatefile.h"
#include "base/status.h"
#include "kordao/kordao.h"

#include <QString>
#include <QStringList>

#include <memory>

class QIODevice;

namespace moxdb {

/// The encoding that --encoding names in \p options, CP932 when it is absent; every value
/// given must be cp932 or utf-8, else a failure (exit 2) saying so in Japanese.
mox::Result<CsvEncoding> encodingOption(const Options& options);

/// The record filter of the --where conditions \p conditions, each "FIELD=VALUE", all of which
/// a record must meet. The field must be one of \p table's (exact name); the value is checked
/// against the field's kind (a whole number, an amount) and handed to the database component as
/// a value, never as SQL. An empty list gives an empty filter. A failure says which condition is
/// wrong and why.
mox::Result<QString> exportFilter(const ExportTable& table, const QStringList& conditions);

/// Writes the header row and the records of \p table in \p db that meet \p filter, in key order
/// (a table without a key in the order its records are stored), to \p csv, with a progress line
/// on a terminal. The number of records written, or a failure naming the table (and the key and
/// field of a text the encoding cannot hold, or the reason the device refused).
mox::Result<qint64> writeTable(const KorDAO::DatabaseHandle& db, const ExportTable& table,
                               const QString& filter, CsvWriter& csv);

/// One table being written to a file of its own: made under a temporary name (0600, never
/// through a link, in a folder that is the user's own) and put in place by commit() only.
class ExportFile {
public:
    explicit ExportFile(const QString& path);
    ~ExportFile(); // drops the temporary file unless committed

    /// Creates the temporary file; a failure names the file or folder and why.
    mox::Status open();
    QIODevice* device() const;
    /// Puts the file in place.
    mox::Status commit();
    const QString& path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<mox::PrivateFile> m_file;
};

/// Writes \p table to the file \p path ("-": standard output) with writeTable, in one go: the
/// records written, or a failure after which no file \p path was made or changed.
mox::Result<qint64> exportToFile(const KorDAO::DatabaseHandle& db, const ExportTable& table,
                                 const QString& filter, CsvEncoding encoding, const QString& path);

} // namespace moxdb
