#pragma once

// SqliteEngine: a SQLite database file through the engine's own C interface.
//
// Statements are SQLite's own, prepared once per SQL text (reading through Qt would rebuild a
// record description on every execution); Qt's driver only opens the file. A write transaction
// takes the write lock when it begins (BEGIN IMMEDIATE), so two writers queue for up to the lock
// timeout instead of one failing at its first write. The audit triggers take the writer from
// the one-row table kWriterTable, which the engine fills before the first write of a
// transaction and empties before its commit. The statements of the bulk loads, the clear and
// the writer are in bulkload_sqlite.cpp.

#include "connection.h"
#include "engine.h"

#include <QHash>

#include <map>

struct sqlite3;
struct sqlite3_stmt;

namespace KorDAO {

class SqliteEngine final : public DatabaseEngine {
public:
    SqliteEngine(Connection& connection, sqlite3* handle);
    ~SqliteEngine() override;

    /// Opens the file of \p settings; with \p createIfMissing a missing file is made (0600, its
    /// folder 0700, never through a link). On failure kDatabaseMissing, kBadSetting (the file
    /// cannot be made, a folder) or kOpenFailed.
    static mox::Result<std::shared_ptr<Connection>> open(const DbSettings& settings,
                                                         bool createIfMissing);

    mox::Status select(const QString& sql, const QVariantList& binds,
                       std::vector<Row>* rows) override;
    mox::Status execute(const QString& sql, const QVariantList& binds, int* rowsAffected) override;
    mox::Status begin() override;
    mox::Status commit() override;
    mox::Status rollback() override;
    void dropStatements() override;
    mox::Status reconnect() override { return {}; } // a file is never lost

    QString columnsQuery() const override;
    QString tablesQuery() const override;
    ColumnInfo rowAddressColumn() const override;
    QString rowAddressSelected() const override;
    QString rowAddressCompared() const override;
    QString nullsFirst(bool) const override { return {}; }
    QString newAddressReturned() const override { return {}; }
    QString auditTimeAndLogin() const override;
    QVariant fraction(Currency amount) const override;
    QString location() const override;
    QString databaseFile() const override;

    QString amountType() const override;
    QString keyedTableOptions() const override;
    QString counterTableDdl() const override;
    mox::Status ensureTriggerFunctions(bool audited) override;
    QStringList counterTriggerDdl(const QString& table) const override;
    QStringList auditTriggerDdl(const TableDef& table) const override;
    QString auditIdColumn() const override;
    QString indexExistsQuery() const override;
    QString clientColumnQuery() const override;
    QStringList auditTrailExtraDdl() const override;
    mox::Result<int> readSchemaVersion() override;
    mox::Status writeSchemaVersion(int version) override;

    bool walkFetchesKeysFirst() const override { return false; }
    bool keepsWrittenRecords() const override { return false; }
    bool writesNameTheWriter() const override { return true; }

    mox::Result<std::shared_ptr<BulkLoad>> beginBulkLoad(const TableInfo& table) override;
    mox::Status endBulkLoad(const std::shared_ptr<BulkLoad>& load) override;
    mox::Status clearTable(const TableInfo& table) override;
    mox::Status auditBulk(const TableInfo& table, const QString& action, qint64 records) override;
    mox::Status noteWriter(const TableInfo& table) override;
    mox::Status beforeCommit() override;
    void transactionEnded() override;
    mox::Result<std::unique_ptr<BulkWriter>> bulkWriter(const QString& insertHead,
                                                        int columns) override;

private:
    mox::Result<sqlite3_stmt*> statement(const QString& sql);
    mox::Status bind(sqlite3_stmt* stmt, const QVariantList& binds);
    // Classifies the failure SQLite reports for the last call and gives it with SQLite's text.
    mox::Status noteFailure();

    mox::Status restoreBulkLoad(const QString& table);
    void forgetBulkLoads();
    mox::Status restoreCacheSize();
    // Names this program in the writer table for the open transaction, with the mark \p bulk
    // that makes the trail's insert and delete triggers skip the records.
    mox::Status setWriter(bool bulk);
    // Drops the triggers \p names of the open transaction, keeping their SQL in \p sql.
    mox::Status setTriggersAside(const QStringList& names, QStringList* sql);

    sqlite3* m_sqlite;
    QHash<QString, sqlite3_stmt*> m_statements;
    std::map<QString, std::shared_ptr<BulkLoad>> m_bulkLoads;
    qlonglong m_cacheSize = 0;  // the page cache setting before bulk loading enlarged it
    qlonglong m_tempStore = 0;  // where temporary files went before bulk loading (0 default)
    bool m_writerNoted = false; // the writer table holds this transaction's writer
    bool m_writerBulk = false;  // … marked as loading in bulk
};

} // namespace KorDAO
