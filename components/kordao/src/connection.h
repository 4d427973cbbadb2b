#pragma once

// Connection: one open database shared by the table objects that use it. Holds the Qt SQL
// connection, the column catalogue of the tables opened so far, the prepared statements in use
// and the state of the transaction.
//
// Every operation that can fail returns a mox::Status, or a mox::Result of what it gives; the
// code is the status the failure has as far as the connection can tell it (kLockTimeout,
// kConnectionLost …; begin, commit and rollback their own kBeginFailed, kCommitFailed,
// kRollbackFailed), and an operation of the component with a status of its own names it through
// statusOf:
//
//     std::vector<Connection::Row> rows;
//     if (mox::Status s = db->select(info.selectAll, {}, &rows); !s.ok())
//         return mox::Status::failure(db->statusOf(kBadCondition), s.message);
//     const mox::Result<std::shared_ptr<const TableInfo>> t = db->table(u"GKJINJI"_s);
//     if (const mox::Status* failure = mox::failure(t))
//         return *failure;

#include "base/currency.h"
#include "engine.h"
#include "kordao/kordao.h"
#include "values.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace KorDAO {

enum class Engine { Sqlite, Postgres };

/// How a column's values are read and written.
enum class ColumnKind {
    Integer, // codes, counts, dates, year-months
    Number,  // amounts and rates: exact to four decimals
    Text,
};

struct ColumnInfo {
    QString name; // as declared, e.g. "kmzoge"
    ColumnKind kind = ColumnKind::Text;
    bool notNull = false;
};

/// The columns of one table. A table without a primary key is walked and written by the
/// engine's row address (SQLite rowid, PostgreSQL ctid), kept as a hidden last column.
struct TableInfo {
    QString name;
    std::vector<ColumnInfo> columns;
    std::vector<int> primaryKey; // column indexes, in key order
    int rowAddress = -1;         // index of the hidden row address column, or -1
    QString columnList;          // <every column>, as selectAll lists them
    QString selectAll;           // SELECT <every column> FROM <table>
    bool counted = false;        // kRowCountTable keeps the number of records

    /// The column index of \p field, matched without regard to case; -1 when there is none.
    int find(const QString& field) const;
    QHash<QString, int> byName;
    QHash<QString, int> byFoldedName;
};

/// The table that keeps the number of records of every table made by createTable, maintained by
/// triggers, so that opening a whole table of millions of records does not count them.
inline constexpr char16_t kRowCountTable[] = u"KORDAO_ROWS";

/// Where a database lives, as read from the configuration file.
struct DbSettings {
    Engine engine = Engine::Sqlite;
    QString database; // SQLite: absolute file path; PostgreSQL: database name
    QString host;
    int port = -1;
    QString user;
    QString password;
    bool hasPassword = false;
    int lockTimeout = 10;       // seconds a lock is waited for (LockTimeout=)
    int statementTimeout = 600; // PostgreSQL: seconds a statement may run, 0: no limit
    bool statementLimit = true; // PostgreSQL: statements are cut off after statementTimeout
    // PostgreSQL over TCP: libpq's sslmode (empty: verify-full for a network host, libpq's own
    // default over a socket), the CA, client certificate and key files (absolute paths) and
    // channel_binding (empty: libpq's default).
    QString sslMode;
    QString sslRootCert;
    QString sslCert;
    QString sslKey;
    QString channelBinding;
};

/// The sslmode a connection to \p s asks libpq for: SslMode= when given; otherwise verify-full
/// when Host= names a network host (not empty and not a socket folder starting with "/"), so that
/// a desk never talks to a server it cannot verify; otherwise empty (libpq decides).
QString effectiveSslMode(const DbSettings& s);

/// The application_name a PostgreSQL session is given: "<program> <OS user>@<host>", cut to the
/// server's 63 bytes at a UTF-8 character boundary.
QString sessionApplicationName(const QString& program, const QString& osUser, const QString& host);

/// One change recorded in the audit table.
struct AuditEntry {
    QString table;
    qlonglong syokcd = 0; // the employee of the record, 0 for a table without SYOKCD
    QString key;          // "SYOKCD=10025 KYUSYU=2 …"
    QString action;       // INSERT, UPDATE, DELETE, BULK INSERT, CLEAR
    QString changes;      // JSON: [["FIELD", old, new], …] or {"records": n}
};

class Connection {
public:
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    /// Opens the database. On failure kOpenFailed, kBadSetting or kDatabaseMissing.
    static mox::Result<std::shared_ptr<Connection>> open(const DbSettings& settings,
                                                         bool createIfMissing);
    /// A connection to \p settings over the Qt connection \p db named \p name, not opened yet
    /// and without an engine: the engines' open functions make it and give it theirs.
    static std::shared_ptr<Connection> make(const DbSettings& settings, QSqlDatabase db,
                                            QString name);
    void setEngine(std::unique_ptr<DatabaseEngine> engine) { m_engine = std::move(engine); }

    DatabaseEngine& engine() const { return *m_engine; }
    QSqlDatabase& db() { return m_db; }

    /// The database objects (clsDbAccess) that opened this connection and have not closed it.
    void addUser() { ++m_users; }
    int removeUser() { return --m_users; }
    const DbSettings& settings() const { return m_settings; }

    /// Why the last failing statement (select, execute, begin, commit) failed.
    FailureKind lastFailure() const { return m_engine->lastFailure(); }
    /// The status of the last failure: kLockTimeout, kStatementTimeout or kConnectionLost when
    /// it was that, else \p own (the operation's own status).
    short statusOf(short own) const;

    /// The column catalogue of \p table; kTableMissing when the table does not exist (or the
    /// status of the failing query).
    mox::Result<std::shared_ptr<const TableInfo>> table(const QString& table);
    /// Forgets the catalogue, after the tables were created or altered.
    void forgetCatalogue()
    {
        m_catalogue.clear();
        m_facts.reset();
    }

    using Row = KorDAO::Row;

    /// Runs the query \p sql with \p binds and appends its rows to \p rows: integers as
    /// qlonglong, SQLite's fractional numbers as double, PostgreSQL's NUMERIC as decimal text,
    /// texts as QString, NULL as a null QVariant. A read outside a transaction that finds the
    /// connection dropped connects again and is made once more.
    mox::Status select(const QString& sql, const QVariantList& binds, std::vector<Row>* rows);
    /// Runs the statement \p sql with \p binds; \p rowsAffected receives the records changed.
    mox::Status execute(const QString& sql, const QVariantList& binds, int* rowsAffected = nullptr);

    using BulkLoad = KorDAO::BulkLoad;

    /// Starts loading \p table in bulk inside the open transaction. On SQLite the counter's
    /// per-record insert trigger is set aside, the writer marked as loading in bulk (the load
    /// writes one audit row at its end: auditBulk) and the page cache enlarged while a load is
    /// open; the counter is set to the records the table then holds (one count, exact whatever
    /// else was written meanwhile), and the triggers put back, when the last load of the table
    /// ends, or at the latest just before the transaction commits. On PostgreSQL the session is
    /// marked as loading in bulk (kordao.bulk) while a load is open.
    /// Every change is part of the transaction: a rollback, or a process killed on the way,
    /// leaves the database as it was.
    mox::Result<std::shared_ptr<BulkLoad>> beginBulkLoad(const TableInfo& table);
    /// Ends one load begun by beginBulkLoad. A failure when the counter or trigger could not be
    /// written back: the transaction must then be undone.
    mox::Status endBulkLoad(const std::shared_ptr<BulkLoad>& load)
    {
        return m_engine->endBulkLoad(load);
    }

    /// Deletes every record of \p table inside the open transaction, keeping its record count
    /// right, without visiting the records one by one; an audited table records it in one row.
    mox::Status clearTable(const TableInfo& table);
    /// Records in one audit row that \p records were loaded into \p table in bulk (SQLite; on
    /// PostgreSQL the server's triggers write it, and this does nothing).
    mox::Status auditBulk(const TableInfo& table, const QString& action, qint64 records)
    {
        return m_engine->auditBulk(table, action, records);
    }

    bool inTransaction() const { return m_inTransaction; }
    /// The last transaction ended in a commit that failed (and was undone).
    bool commitFailed() const { return m_commitFailed; }
    /// Begins a transaction; statusOf(kBeginFailed) when it cannot (one is open already).
    mox::Status begin();
    /// Commits; a failure (statusOf(kCommitFailed)) leaves the transaction undone. When the
    /// connection is lost during COMMIT the server may have committed or not: the records the
    /// transaction wrote (noteWritten) are read back on a new connection. As written: success
    /// with a message saying so, and lostCommit() says CommitLoss::Saved. As before:
    /// kConnectionLost, CommitLoss::NotSaved. Anything else, or the server out of reach:
    /// kConnectionLost, CommitLoss::Unknown, and the message says it is unknown whether the
    /// transaction was saved.
    mox::Status commit();
    /// Undoes the open transaction; kRollbackFailed when none is open or the engine refused.
    mox::Status rollback();
    /// How the last commit ended when the connection was lost during it (None otherwise).
    CommitLoss lostCommit() const { return m_lostCommit; }

    /// Remembers that the open transaction wrote \p row (every column, as stored) into \p table,
    /// or deleted the record of that key, so that a commit whose answer is lost can be settled.
    /// \p before is the record as it was (nullptr: there was none). Nothing is kept outside a
    /// transaction or on SQLite, which has no connection to lose.
    void noteWritten(const std::shared_ptr<const TableInfo>& table,
                     const std::vector<QVariant>& row, bool deleted,
                     const std::vector<QVariant>* before);
    /// Forgets the records the open transaction wrote: a bulk write is not settled record by
    /// record, so its lost commit is unknown.
    void forgetWritten();

    /// True when the database keeps the audit table; changes to its other tables are then
    /// recorded (the audit table and the record counter excepted). A failure when it cannot be
    /// told: the write must then fail.
    mox::Result<bool> audited(const TableInfo& table);
    /// Writes \p entry into the audit table, inside the open transaction (SQLite).
    mox::Status writeAudit(const AuditEntry& entry);
    /// Before a write to \p table inside the open transaction: on an audited SQLite database,
    /// names this program, its user and host in the writer table for the audit triggers, once
    /// per transaction (commit empties it again). Nothing on PostgreSQL, where the server
    /// takes the writer from the session.
    mox::Status noteWriter(const TableInfo& table) { return m_engine->noteWriter(table); }

    // What the component's own tables say about the database, read once per connection.
    struct Facts {
        bool audited = false;  // the audit table exists
        bool writer = false;   // the writer table exists (SQLite)
        QSet<QString> counted; // tables whose record count kRowCountTable keeps
    };
    mox::Result<const Facts*> facts();

    /// Quotes an identifier for this engine: "KEY", "名設定".
    static QString quote(const QString& identifier);

    /// The text of a driver error, with the driver's own message.
    static QString errorText(const QSqlError& e);

private:
    Connection(const DbSettings& settings, QSqlDatabase db, QString name);
    mox::Result<std::shared_ptr<TableInfo>> loadTable(const QString& table);
    mox::Status ensureConnected();

    // What the open transaction wrote through the table objects, to be read back when the
    // answer to its COMMIT is lost: the record of each key as last written, or its deletion.
    struct Written {
        std::shared_ptr<const TableInfo> table;
        std::vector<QVariant> row;
        bool deleted = false;
        std::optional<std::vector<QVariant>> before; // the record before the transaction, or none
    };
    // What a record read back says of the commit.
    enum class Outcome { Written, Before, Either, Neither };
    // \p lost is the failure of the COMMIT.
    mox::Status settleLostCommit(std::vector<Written> written, bool complete,
                                 const mox::Status& lost);
    mox::Result<Outcome> readBack(const Written& w);

    std::unique_ptr<DatabaseEngine> m_engine;
    DbSettings m_settings;
    QSqlDatabase m_db;
    QString m_name;
    bool m_inTransaction = false;
    bool m_commitFailed = false;
    CommitLoss m_lostCommit = CommitLoss::None;
    std::vector<Written> m_written;
    QHash<QString, std::size_t> m_writtenIndex; // table and key values: index in m_written
    bool m_writtenComplete = true;              // every write of the transaction is in m_written
    int m_users = 0;
    std::optional<Facts> m_facts;
    std::map<QString, std::shared_ptr<const TableInfo>> m_catalogue;
};

/// Who this process is: the desk's account and machine and the program, as the audit rows show
/// them (SQLite: through the writer row; PostgreSQL: through the session's application_name).
struct Author {
    QString osUser;
    QString host;
    QString program;
};
const Author& author();

/// Counts one connection opened (see KorDAO::connectionsOpened).
void countConnection();
/// A name for a new Qt connection, unique in the process.
QString nextConnectionName();

/// Counts one statement sent to a database (see KorDAO::statementsSent).
void countStatement();

} // namespace KorDAO
