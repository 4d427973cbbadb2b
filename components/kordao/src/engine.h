#pragma once

// DatabaseEngine: everything in which SQLite and PostgreSQL differ, behind one interface.
//
// A Connection (connection.h) owns one engine and goes through it for every statement: it keeps
// what both engines share (the table catalogue, the transaction state, settling a lost commit),
// the engine keeps what is its own (prepared statements, how a failure is classified, the SQL
// dialect, bulk loading and the audit trail's writer):
//
//     std::vector<Row> rows;
//     countStatement();
//     if (mox::Status s = engine.select(u"SELECT 1"_s, {}, &rows); !s.ok())
//         return engine.lost() ? reconnectAndRetry() : s; // s.code: kLockTimeout …
//
// Every operation that can fail returns a mox::Status (or a mox::Result of what it makes): the
// code is the failure's status as far as the engine can tell it (statusOf: kLockTimeout,
// kStatementTimeout, kConnectionLost), else kUpdateFailed, which an operation with a status of
// its own replaces (Connection::statusOf); the message is the engine's text.
//
// SqliteEngine (sqliteengine.cpp) and PostgresEngine (postgresengine.cpp) are the two
// implementations; nothing else in the component asks which engine it talks to.

#include "base/currency.h"
#include "base/status.h"
#include "kordao/kordao.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <vector>

namespace KorDAO {

class Connection;
struct ColumnInfo;
struct DbSettings;
struct TableDef;
struct TableInfo;

/// One record as read: integers as qlonglong, SQLite's fractional numbers as double,
/// PostgreSQL's NUMERIC as decimal text, texts as QString, NULL as a null QVariant.
using Row = std::vector<QVariant>;

/// Why the last statement failed, as far as callers must tell the cases apart.
enum class FailureKind {
    Other,            // the statement's own failure: syntax, constraint, permission …
    Unreadable,       // the data could not be read or written: I/O, a damaged file, no space
    Busy,             // a lock not granted within the lock timeout (or a deadlock)
    StatementTimeout, // a statement cut off after running for the statement timeout
    Lost,             // the connection to the server is gone
    Duplicate,        // a record with the same key exists
};

/// The status of a failure of kind \p kind in an operation whose own status is \p own: a lock
/// timeout, a statement timeout and a lost connection keep theirs; data that cannot be read makes
/// a failing read (kBadCondition) kFieldUnreadable.
short statusOf(FailureKind kind, short own);

/// One table being loaded in bulk inside the open transaction (Connection::beginBulkLoad).
struct BulkLoad {
    QString table;
    int users = 0;
    QStringList triggerSql; // the counter's insert trigger set aside (SQLite)
    bool open = true;       // false once the counter is written or the transaction undone
    bool marked = false;    // PostgreSQL: counted in the session's bulk mark
};

/// One value of a row of a bulk insert, as it is bound.
struct BulkValue {
    enum class Kind : unsigned char { Unset, Integer, Real, Text };
    Kind kind = Kind::Unset;
    qint64 integer = 0;
    double real = 0;
    QString text; // a null text is NULL
};

/// Sends the rows of one bulk insert the engine's fastest way: SQLite one prepared statement
/// bound value by value, PostgreSQL many rows per INSERT statement.
class BulkWriter {
public:
    virtual ~BulkWriter() = default;
    /// Writes \p row, or queues it; a failure when the engine refused it.
    virtual mox::Status add(const std::vector<BulkValue>& row) = 0;
    /// Sends the rows queued.
    virtual mox::Status flush() = 0;
};

class DatabaseEngine {
public:
    explicit DatabaseEngine(Connection& connection) : m_conn(connection) {}
    virtual ~DatabaseEngine() = default;
    DatabaseEngine(const DatabaseEngine&) = delete;
    DatabaseEngine& operator=(const DatabaseEngine&) = delete;

    // Statements. Each is prepared once per SQL text and kept while the connection lives.
    // select and execute do not count the statement (the connection does); begin, commit and
    // rollback count what they send. On failure each returns the engine's text with the status
    // of the failure (failed) and classifies it (lastFailure).

    /// Runs the query \p sql with \p binds and appends its rows to \p rows.
    virtual mox::Status select(const QString& sql, const QVariantList& binds,
                               std::vector<Row>* rows) = 0;
    /// Runs the statement \p sql; \p rowsAffected (may be nullptr) receives the records changed.
    virtual mox::Status execute(const QString& sql, const QVariantList& binds,
                                int* rowsAffected) = 0;
    virtual mox::Status begin() = 0;
    virtual mox::Status commit() = 0;
    /// Undoes the open transaction; success when the engine had undone it already.
    virtual mox::Status rollback() = 0;
    /// Finalizes every statement kept.
    virtual void dropStatements() = 0;

    /// Why the last failing statement failed.
    FailureKind lastFailure() const { return m_lastFailure; }
    void setLastFailure(FailureKind kind) { m_lastFailure = kind; }
    /// The failure \p message with the status of the last failure's kind (kUpdateFailed when
    /// the kind has no status of its own).
    mox::Status failed(QString message) const
    {
        return mox::Status::failure(statusOf(m_lastFailure, kUpdateFailed), std::move(message));
    }
    /// The connection to the server was lost: connect again (reconnect) before the next statement.
    bool lost() const { return m_lost; }
    /// Connects again after the connection was lost (kConnectionLost when it cannot).
    virtual mox::Status reconnect() = 0;

    // The SQL dialect.

    /// The query of a table's columns, with the table's name bound: name, declared type,
    /// NOT NULL, position in the primary key (0 = not part of it).
    virtual QString columnsQuery() const = 0;
    /// The query of which of three tables exist, their names bound.
    virtual QString tablesQuery() const = 0;
    /// The hidden column that addresses a record of a table without a primary key (SQLite
    /// rowid, PostgreSQL ctid), and how a select lists and a condition names it.
    virtual ColumnInfo rowAddressColumn() const = 0;
    virtual QString rowAddressSelected() const = 0;
    virtual QString rowAddressCompared() const = 0;
    /// What an ORDER BY term of a column that may hold NULL adds so that NULL sorts first in
    /// ascending order, as SQLite does by itself.
    virtual QString nullsFirst(bool descending) const = 0;
    /// What an UPDATE of a table without a key adds to learn the record's new address (empty
    /// when an update keeps it).
    virtual QString newAddressReturned() const = 0;
    /// The audit row's time and database login, as SQL expressions.
    virtual QString auditTimeAndLogin() const = 0;
    /// How a fractional amount is bound: SQLite the nearest double, PostgreSQL exact text.
    virtual QVariant fraction(Currency amount) const = 0;
    /// "SQLite <file>" or "PostgreSQL サーバー <host:port> のデータベース <name>".
    virtual QString location() const = 0;
    /// The file of a SQLite database; empty for a server's.
    virtual QString databaseFile() const = 0;

    // The tables' definitions.

    /// The declared type of an amount column.
    virtual QString amountType() const = 0;
    /// What CREATE TABLE of a table with a primary key adds.
    virtual QString keyedTableOptions() const = 0;
    /// Makes the record counter table (kRowCountTable) unless it exists.
    virtual QString counterTableDdl() const = 0;
    /// Makes what the triggers call, inside the open transaction: the counter functions and,
    /// with \p audited, the audit functions.
    virtual mox::Status ensureTriggerFunctions(bool audited) = 0;
    /// The triggers that keep the record count of \p table.
    virtual QStringList counterTriggerDdl(const QString& table) const = 0;
    /// The triggers that write the audit rows of \p table.
    virtual QStringList auditTriggerDdl(const TableDef& table) const = 0;
    /// The audit trail's "ID" column as CREATE TABLE declares it.
    virtual QString auditIdColumn() const = 0;
    /// Whether the index named by the bound value exists.
    virtual QString indexExistsQuery() const = 0;
    /// Whether the table named by the bound value has a "CLIENT" column.
    virtual QString clientColumnQuery() const = 0;
    /// What the audit trail needs beside its table.
    virtual QStringList auditTrailExtraDdl() const = 0;
    /// The schema version the database records (0: none), and recording \p version, inside the
    /// open transaction (schemaversion_sqlite.cpp, schemaversion_postgres.cpp).
    virtual mox::Result<int> readSchemaVersion() = 0;
    virtual mox::Status writeSchemaVersion(int version) = 0;

    // What the engine does on its own.

    /// A walk of finds fetches the sort and key fields only until a record is used (the
    /// server's index holds them, so the table is not read). Otherwise it fetches the leading
    /// field's values alone from an index, and a record served so is sought by its value when used.
    virtual bool walkFetchesKeysFirst() const = 0;
    /// The records a transaction writes are kept to settle a commit whose answer was lost.
    virtual bool keepsWrittenRecords() const = 0;
    /// A write to an audited table needs a transaction, so that its audit rows name the writer.
    virtual bool writesNameTheWriter() const = 0;

    // Bulk work and the audit trail (see Connection for the contracts).

    virtual mox::Result<std::shared_ptr<BulkLoad>> beginBulkLoad(const TableInfo& table) = 0;
    virtual mox::Status endBulkLoad(const std::shared_ptr<BulkLoad>& load) = 0;
    virtual mox::Status clearTable(const TableInfo& table) = 0;
    virtual mox::Status auditBulk(const TableInfo& table, const QString& action,
                                  qint64 records) = 0;
    virtual mox::Status noteWriter(const TableInfo& table) = 0;
    /// Right before COMMIT: writes back what a bulk load set aside and forgets the writer.
    /// A failure means the transaction must be undone.
    virtual mox::Status beforeCommit() = 0;
    /// The transaction ended (committed, undone, or gone with the connection).
    virtual void transactionEnded() = 0;
    /// A writer of rows into the table of \p insertHead ("INSERT INTO "T" ("A", "B") VALUES")
    /// with \p columns values per row.
    virtual mox::Result<std::unique_ptr<BulkWriter>> bulkWriter(const QString& insertHead,
                                                                int columns) = 0;

protected:
    Connection& m_conn;
    FailureKind m_lastFailure = FailureKind::Other;
    bool m_lost = false;
};

/// The statement "INSERT INTO ... VALUES (?, ?), (?, ?)" of \p rows rows of \p columns values.
QString insertValuesSql(const QString& insertHead, int columns, int rows);

} // namespace KorDAO
