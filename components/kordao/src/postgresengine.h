#pragma once

// PostgresEngine: a database on a PostgreSQL server through Qt's driver (libpq).
//
// Statements are Qt's prepared queries, prepared on the server once per SQL text. The session
// bounds lock waits (lock_timeout) and statements (statement_timeout) and names the desk in its
// application_name, which the server's audit triggers read. A failure is classified by its
// SQLSTATE; a connection found lost is opened again before the next statement (a read outside a
// transaction is made once more by the connection).

#include "connection.h"
#include "engine.h"

#include <QElapsedTimer>
#include <QHash>

#include <memory>

class QSqlError;
class QSqlQuery;

namespace KorDAO {

class PostgresCopyWriter;

class PostgresEngine final : public DatabaseEngine {
public:
    explicit PostgresEngine(Connection& connection) : DatabaseEngine(connection) {}
    ~PostgresEngine() override;

    /// Connects to the database of \p settings; with \p createIfMissing a missing database is
    /// created. On failure kDatabaseMissing, or kOpenFailed (refused, not created).
    static mox::Result<std::shared_ptr<Connection>> open(const DbSettings& settings,
                                                         bool createIfMissing);

    mox::Status select(const QString& sql, const QVariantList& binds,
                       std::vector<Row>* rows) override;
    mox::Status execute(const QString& sql, const QVariantList& binds, int* rowsAffected) override;
    mox::Status begin() override;
    mox::Status commit() override;
    mox::Status rollback() override;
    void dropStatements() override;
    mox::Status reconnect() override;

    QString columnsQuery() const override;
    QString tablesQuery() const override;
    ColumnInfo rowAddressColumn() const override;
    QString rowAddressSelected() const override;
    QString rowAddressCompared() const override;
    QString nullsFirst(bool descending) const override;
    QString newAddressReturned() const override;
    QString auditTimeAndLogin() const override;
    QVariant fraction(Currency amount) const override;
    QString location() const override;
    QString databaseFile() const override { return {}; }

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

    bool walkFetchesKeysFirst() const override { return true; }
    bool keepsWrittenRecords() const override { return true; }
    bool writesNameTheWriter() const override { return false; }

    mox::Result<std::shared_ptr<BulkLoad>> beginBulkLoad(const TableInfo& table) override;
    mox::Status endBulkLoad(const std::shared_ptr<BulkLoad>& load) override;
    mox::Status clearTable(const TableInfo& table) override;
    mox::Status auditBulk(const TableInfo&, const QString&, qint64) override { return {}; }
    mox::Status noteWriter(const TableInfo&) override { return {}; }
    mox::Status beforeCommit() override;
    void transactionEnded() override { m_bulkMarks = 0; }
    mox::Result<std::unique_ptr<BulkWriter>> bulkWriter(const QString& insertHead,
                                                        int columns) override;

    /// Classifies a failure the server reported with the SQLSTATE \p state (empty when the
    /// client library reported it) and gives it with \p text: the statements sent through the
    /// client library itself (COPY) fail as those sent through Qt's driver do.
    mox::Status noteFailure(const QString& state, const QString& text);
    /// A statement sent through the client library itself starts now (for noteFailure's
    /// telling of a statement timeout from a cancel).
    void statementStarts() { m_statementClock.start(); }
    /// \p writer sends a COPY on the connection from a thread of its own (nullptr: no more).
    void copyInFlight(PostgresCopyWriter* writer) { m_copying = writer; }
    /// Waits for the COPY in flight on the connection, whichever writer sent it: nothing else
    /// may use the connection meanwhile, another COPY neither.
    void settleCopy();

private:
    mox::Result<QSqlQuery*> prepared(const QString& sql);
    // Classifies \p e by its SQLSTATE (and, for a cancel, by how long the statement ran) and
    // gives it with the driver's text.
    mox::Status noteFailure(const QSqlError& e);
    bool serverAlive();
    // Marks the session's transaction as a bulk load of the administration tool (kordao.bulk),
    // which the server's audit triggers honour for a login that may empty the table.
    mox::Status markBulk(bool on);

    QHash<QString, std::shared_ptr<QSqlQuery>> m_statements;
    QElapsedTimer m_statementClock;          // started as a statement is sent
    int m_bulkMarks = 0;                     // loads open under the session's bulk mark
    PostgresCopyWriter* m_copying = nullptr; // the writer whose COPY is in flight
};

} // namespace KorDAO
