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
    /// folder 0700, never through a link). nullptr (and \p status, \p error) on failure.
    static std::shared_ptr<Connection> open(const DbSettings& settings, bool createIfMissing,
                                            short* status, QString* error);

    bool select(const QString& sql, const QVariantList& binds, std::vector<Row>* rows,
                QString* error) override;
    bool execute(const QString& sql, const QVariantList& binds, QString* error,
                 int* rowsAffected) override;
    bool begin(QString* error) override;
    bool commit(QString* error) override;
    bool rollback(QString* error) override;
    void dropStatements() override;
    bool reconnect(QString*) override { return true; } // a file is never lost

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
    bool ensureTriggerFunctions(bool audited, QString* error) override;
    QStringList counterTriggerDdl(const QString& table) const override;
    QStringList auditTriggerDdl(const TableDef& table) const override;
    QString auditIdColumn() const override;
    QString indexExistsQuery() const override;
    QString clientColumnQuery() const override;
    QStringList auditTrailExtraDdl() const override;

    bool walkFetchesKeysFirst() const override { return false; }
    bool keepsWrittenRecords() const override { return false; }
    bool writesNameTheWriter() const override { return true; }

    std::shared_ptr<BulkLoad> beginBulkLoad(const TableInfo& table, QString* error) override;
    bool endBulkLoad(const std::shared_ptr<BulkLoad>& load, QString* error) override;
    bool clearTable(const TableInfo& table, QString* error) override;
    bool auditBulk(const TableInfo& table, const QString& action, qint64 records,
                   QString* error) override;
    bool noteWriter(const TableInfo& table, QString* error) override;
    bool beforeCommit(QString* error) override;
    void transactionEnded() override;
    std::unique_ptr<BulkWriter> bulkWriter(const QString& insertHead, int columns,
                                           QString* error) override;

private:
    sqlite3_stmt* statement(const QString& sql, QString* error);
    bool bind(sqlite3_stmt* stmt, const QVariantList& binds, QString* error);
    // Classifies the failure SQLite reports for the last call.
    void noteFailure();

    bool restoreBulkLoad(const QString& table, QString* error);
    void forgetBulkLoads();
    bool restoreCacheSize(QString* error);
    // Names this program in the writer table for the open transaction, with the mark \p bulk
    // that makes the trail's insert and delete triggers skip the records.
    bool setWriter(bool bulk, QString* error);
    // Drops the triggers \p names of the open transaction, keeping their SQL.
    bool setTriggersAside(const QStringList& names, QStringList* sql, QString* error);

    sqlite3* m_sqlite;
    QHash<QString, sqlite3_stmt*> m_statements;
    std::map<QString, std::shared_ptr<BulkLoad>> m_bulkLoads;
    qlonglong m_cacheSize = 0;  // the page cache setting before bulk loading enlarged it
    bool m_writerNoted = false; // the writer table holds this transaction's writer
    bool m_writerBulk = false;  // … marked as loading in bulk
};

} // namespace KorDAO
