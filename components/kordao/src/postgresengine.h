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

class PostgresEngine final : public DatabaseEngine {
public:
    explicit PostgresEngine(Connection& connection) : DatabaseEngine(connection) {}
    ~PostgresEngine() override;

    /// Connects to the database of \p settings; with \p createIfMissing a missing database is
    /// created. nullptr (and \p status: -20 missing, -1 refused; \p error) on failure.
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
    bool reconnect(QString* error) override;

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
    bool ensureTriggerFunctions(bool audited, QString* error) override;
    QStringList counterTriggerDdl(const QString& table) const override;
    QStringList auditTriggerDdl(const TableDef& table) const override;
    QString auditIdColumn() const override;
    QString indexExistsQuery() const override;
    QString clientColumnQuery() const override;
    QStringList auditTrailExtraDdl() const override;

    bool walkFetchesKeysFirst() const override { return true; }
    bool keepsWrittenRecords() const override { return true; }
    bool writesNameTheWriter() const override { return false; }

    std::shared_ptr<BulkLoad> beginBulkLoad(const TableInfo& table, QString* error) override;
    bool endBulkLoad(const std::shared_ptr<BulkLoad>& load, QString* error) override;
    bool clearTable(const TableInfo& table, QString* error) override;
    bool auditBulk(const TableInfo&, const QString&, qint64, QString*) override { return true; }
    bool noteWriter(const TableInfo&, QString*) override { return true; }
    bool beforeCommit(QString*) override;
    void transactionEnded() override { m_bulkMarks = 0; }
    std::unique_ptr<BulkWriter> bulkWriter(const QString& insertHead, int columns,
                                           QString* error) override;

private:
    QSqlQuery* prepared(const QString& sql, QString* error);
    // Classifies \p e by its SQLSTATE (and, for a cancel, by how long the statement ran).
    void noteFailure(const QSqlError& e);
    bool serverAlive();
    // Marks the session's transaction as a bulk load of the administration tool (kordao.bulk),
    // which the server's audit triggers honour for the table owner's logins.
    bool markBulk(bool on, QString* error);

    QHash<QString, std::shared_ptr<QSqlQuery>> m_statements;
    QElapsedTimer m_statementClock; // started as a statement is sent
    int m_bulkMarks = 0;            // loads open under the session's bulk mark
};

} // namespace KorDAO
