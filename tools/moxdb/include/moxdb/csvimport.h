#pragma once

// Bringing an office's own data in from CSV files: moxdb import.
//
//     CsvImport import(options);
//     import.add(*findExportTable(u"GKKYUYO"_s), u"GKKYUYO.csv"_s);   // one or more files
//     mox::Status s = import.run(databases, progress);                 // checks, then loads
//     out << import.report();                                          // faults or counts
//
// Each file is the format that moxdb export writes (csvread.h): a header row of field names,
// matched to the table's fields in any order (an unknown, repeated or missing field is refused),
// then one record a row. Every value is checked against its field: whole numbers of 32 bits,
// dates that exist (yyyymmdd, 0 for none), months (yyyymm, 0 for none), amounts exact to four
// decimals within the money type, NULL only in a text outside the key, key fields present, no
// key twice in the file nor, unless the table is replaced, already in the table. The faults are
// listed with their line and field (the first 100, then how many more), and then nothing is
// written.
//
// The records go in through the bulk path (KorDAO::BulkInsert, audited as a bulk load: one
// summary row), checked as they are read, in one transaction per database that stays open until
// every file has been read: a fault anywhere undoes all of it, and a process killed on the way
// leaves the tables as they were. With replace, each table is emptied first in the same
// transaction (KorDAO::clearTable). With checkOnly, nothing is begun or written.
//
// Memory stays flat in the number of records: rows are never kept, only a compact set of the
// keys read (20 bytes a payment record) for the duplicate check.

#include "moxdb/csvread.h"
#include "moxdb/exporttables.h"

#include "base/status.h"
#include "kordao/kordao.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace moxdb {

class TerminalProgress;

/// The faults of an import: every one counted, the first kListed kept as text.
class ImportFaults {
public:
    static constexpr qsizetype kListed = 100;

    /// A fault of \p file at \p line (0: the whole file) in \p field (empty: the whole record).
    void add(const QString& file, qint64 line, const QString& field, const QString& what);
    qint64 count() const { return m_count; }
    const QStringList& listed() const { return m_listed; }
    /// The listed faults one a line, then "…ほか N 件" when more were found.
    QString text() const;

private:
    QStringList m_listed;
    qint64 m_count = 0;
};

struct ImportOptions {
    bool replace = false;   // empty each table first, in the same transaction
    bool checkOnly = false; // check and report; nothing written
};

/// What was done with one file.
struct ImportedFile {
    const ExportTable* table;
    QString path;
    qint64 records = 0; // records read (and, when the import succeeded, written)
    CsvFileEncoding encoding = CsvFileEncoding::Cp932;
};

class CsvImport {
public:
    explicit CsvImport(ImportOptions options) : m_options(options) {}

    /// Adds the file \p path of \p table. Files are read in the order added.
    void add(const ExportTable& table, const QString& path);

    /// The open database of each configuration file, given by CsvImport::run.
    using OpenDatabase = std::function<mox::Result<KorDAO::DatabaseHandle>(const QString& iniName)>;

    /// Reads every file, checking each record and loading it (unless checkOnly) into the
    /// database of its table, one transaction per database, committed only when no file had a
    /// fault. Success, or a failure whose message is the listed faults (faults()) or why a
    /// database could not be used; nothing is written then. The one exception: a database that
    /// refuses its commit after another committed, which the message names with the tables each
    /// holds now. \p progress (may be null) counts the kilobytes read.
    mox::Status run(const OpenDatabase& open, TerminalProgress* progress = nullptr);

    const ImportFaults& faults() const { return m_faults; }
    const std::vector<ImportedFile>& files() const { return m_files; }
    /// The bytes of all files added, for a progress line.
    qint64 totalBytes() const;

private:
    class Loader;

    ImportOptions m_options;
    std::vector<ImportedFile> m_files;
    ImportFaults m_faults;
};

/// A key as the duplicate check keeps it: each whole-number field 4 bytes, each amount 8, each
/// text a number standing for it. KeySet::insert gives the line of an earlier equal key.
class KeySet {
public:
    /// A set of keys of \p bytes bytes each.
    explicit KeySet(int bytes);
    /// Adds \p key seen at \p line (0: a record already in the table). -1 when it is new;
    /// otherwise the line where the same key was seen first (0: in the table), the set unchanged.
    qint64 insert(const char* key, quint32 line);
    qsizetype size() const { return m_count; }

private:
    void grow();

    int m_bytes;
    int m_stride; // key bytes + the line
    std::vector<char> m_entries;
    std::vector<quint32> m_slots; // entry number + 1, 0 empty
    qsizetype m_count = 0;
};

} // namespace moxdb
