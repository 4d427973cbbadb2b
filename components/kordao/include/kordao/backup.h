#pragma once

// What a backup needs of the database component: each engine's own way to take a consistent copy,
// the record counts of every table as that copy holds them, and a restore's summary in the
// audit trail.
//
//     // SQLite: a copy made while desks write, checked before it is used
//     mox::Result<KorDAO::TableCounts> counts = KorDAO::copySqliteDatabase(db, u"/tmp/x"_s);
//     // PostgreSQL: the counts of one snapshot that pg_dump --snapshot then dumps
//     auto snap = KorDAO::ServerSnapshot::take(db);
//     run("pg_dump", {"--snapshot=" + value(snap)->id()}, KorDAO::clientEnvironment(db));
//
// Every function gives a mox::Status (or Result) whose message names the file or database.

#include "base/status.h"
#include "kordao/kordao.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

namespace KorDAO {

/// The number of records of one table.
struct TableCount {
    QString table;
    qint64 records = 0;
    friend bool operator==(const TableCount&, const TableCount&) = default;
};
/// Every table of a database (the component's own included), sorted by name.
using TableCounts = std::vector<TableCount>;

/// The record count of every table of \p db, counted (not the kept counts), sorted by name.
mox::Result<TableCounts> tableCounts(const DatabaseHandle& db);

/// SQLite: writes a consistent copy of \p db, as one read transaction sees it while other
/// connections go on writing, to the new file \p file (VACUUM INTO; the file must not exist),
/// then checks the copy (checkSqliteFile) and gives its counts. Refused on PostgreSQL.
mox::Result<TableCounts> copySqliteDatabase(const DatabaseHandle& db, const QString& file);

/// Opens the SQLite file \p file read-only, runs PRAGMA integrity_check and gives the record
/// count of every table. A file that is not a SQLite database, or a damaged one, is a failure
/// naming it.
mox::Result<TableCounts> checkSqliteFile(const QString& file);

/// SQLite: replaces the whole database \p db (tables, triggers, records, user_version) by the
/// SQLite file \p file, in one step through SQLite's online backup: a failure, or a process
/// killed meanwhile, leaves \p db as it was. No transaction may be open on \p db.
mox::Status replaceSqliteDatabase(const DatabaseHandle& db, const QString& file);

/// PostgreSQL: a read-only REPEATABLE READ transaction on \p db, held open while the object
/// lives, whose snapshot is exported (id(), for pg_dump --snapshot) and whose record counts are
/// those of that snapshot. The transaction is undone when the object goes.
class ServerSnapshot {
public:
    static mox::Result<std::unique_ptr<ServerSnapshot>> take(const DatabaseHandle& db);
    ~ServerSnapshot();
    ServerSnapshot(const ServerSnapshot&) = delete;
    ServerSnapshot& operator=(const ServerSnapshot&) = delete;

    const QString& id() const { return m_id; }
    const TableCounts& counts() const { return m_counts; }

private:
    explicit ServerSnapshot(DatabaseHandle db) : m_db(std::move(db)) {}
    DatabaseHandle m_db;
    QString m_id;
    TableCounts m_counts;
};

/// PostgreSQL: the libpq environment variables (PGHOST, PGPORT, PGUSER, PGDATABASE, PGSSLMODE,
/// PGSSLROOTCERT, PGSSLCERT, PGSSLKEY, PGCHANNELBINDING, PGAPPNAME and, only when the INI file
/// holds Password=, PGPASSWORD) that connect a client tool such as pg_dump to \p db as the
/// component does. For a child process's environment alone: a password never goes on a command
/// line. Empty for SQLite.
QHash<QString, QString> clientEnvironment(const DatabaseHandle& db);

/// "TRUNCATE "A", "B" …" of the tables of \p tables, each name quoted as an identifier: what a
/// restore into a PostgreSQL database empties before it loads the backup's records.
QString truncateStatement(const TableCounts& tables);

/// Writes one row of \p action ("RESTORE") with \p changes (JSON) for \p table into the audit
/// trail of \p db, in a transaction of its own. On PostgreSQL it needs a login that may write
/// the audit table (the server's superuser). Nothing when \p db keeps no audit trail.
mox::Status writeAuditSummary(const DatabaseHandle& db, const QString& table, const QString& action,
                              const QString& changes);

} // namespace KorDAO
