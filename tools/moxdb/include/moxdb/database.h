#pragma once

// Database: one database opened through its configuration file for the administration work:
// creating it, replacing the rows of its tables, transactions. Every access goes through the
// database component; rows are written with bound values only.

#include "moxdb/progress.h"
#include "moxdb/row.h"

#include "base/status.h"
#include "kordao/bulkinsert.h"
#include "kordao/kordao.h"

#include <memory>
#include <vector>

namespace moxdb {

class Database {
public:
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    /// Opens the database that the configuration file \p iniName ("MOX.INI", "MOXENV.INI")
    /// names; with \p create a missing database is created (empty). Without \p create it must
    /// hold tables of this release's schema version, or none (KorDAO::checkSchemaVersion:
    /// kSchemaTooNew, kSchemaTooOld), unless an OlderVersionsAccepted lives.
    static mox::Result<std::unique_ptr<Database>> open(const QString& iniName, bool create);

    KorDAO::DatabaseHandle handle() const { return m_db.DBDatabase(); }
    /// Where the database is, for messages (see KorDAO::databaseLocation).
    QString location() const { return KorDAO::databaseLocation(handle()); }

    mox::Status begin();
    mox::Status commit();
    /// Undoes the open transaction; a failure to do so is ignored (the caller already fails).
    void rollback();

    /// Deletes every record of \p table, all at once.
    mox::Status clear(const QString& table);
    /// Adds \p rows to the table of their layout.
    mox::Status insertAll(const std::vector<Row>& rows);
    /// The number of records of \p table meeting \p filter (a negative status on failure).
    int count(const QString& table, const QString& filter = QString());

private:
    Database() = default;

    KorDAO::clsDbAccess m_db;
    KorDAO::clsTbAccess m_control; // begins and ends transactions
};

/// While one lives, Database::open accepts a database of an older schema version too (never a
/// newer one): moxdb upgrade takes its backup so.
class OlderVersionsAccepted {
public:
    OlderVersionsAccepted();
    ~OlderVersionsAccepted();
    OlderVersionsAccepted(const OlderVersionsAccepted&) = delete;
    OlderVersionsAccepted& operator=(const OlderVersionsAccepted&) = delete;
};

/// Refuses, as Database::open does, a database of the configuration file \p iniName that
/// records another schema version than this release's: for the commands that open a database
/// themselves.
mox::Status checkVersion(const QString& iniName, const KorDAO::DatabaseHandle& db);
/// The same for the database of \p iniName, opened for the check alone; success when it does
/// not open (the command's own open reports why).
mox::Status checkVersionOf(const QString& iniName);
/// The payroll database of MOX.INI for the commands that work bonuses out, which read the
/// environment database (MOXENV.INI) too: either refused when of another schema version.
mox::Result<std::unique_ptr<Database>> openForBonuses();

/// Adds rows of one layout to its table, many at a time. Inside a transaction of the database
/// the rows join it; otherwise finish() commits them. Given \p columns, only those are written
/// and the others take the table's defaults (0, NULL), which the rows must hold there.
class RowWriter {
public:
    RowWriter(Database& db, const RowLayout& layout, const QStringList& columns = {});
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    /// Adds \p row (of the writer's layout). After a failure every later call fails.
    mox::Status add(const Row& row);
    /// Writes what is pending.
    mox::Status finish();
    qint64 rowCount() const;

private:
    mox::Status failure(short status) const;

    const RowLayout& m_layout;
    std::vector<std::size_t> m_written; // positions in the layout of the columns written
    std::vector<std::size_t> m_skipped; // the others
    std::unique_ptr<KorDAO::BulkInsert> m_bulk;
};

/// The new rows of one table.
struct TableRows {
    const RowLayout* layout;
    const std::vector<Row>* rows;
};

/// Replaces the records of each table in \p tables by its rows, all in one transaction: on any
/// failure the database keeps its old records.
/// \p progress, when given, advances by each table's rows once they are written.
mox::Status replaceTables(Database& db, const std::vector<TableRows>& tables,
                          TerminalProgress* progress = nullptr);

} // namespace moxdb
