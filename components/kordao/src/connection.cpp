#include "connection.h"

#include "audittrail.h"
#include "postgresengine.h"
#include "sqliteengine.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <mutex>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Every open connection, so that the program can roll back what is open before it ends at once.
std::mutex g_registryMutex;
std::vector<Connection*>& registry()
{
    static std::vector<Connection*> connections;
    return connections;
}

ColumnKind kindOfDeclaredType(const QString& declared)
{
    const QString t = declared.toUpper();
    if (t.contains(u"INT"_s))
        return ColumnKind::Integer;
    if (t.contains(u"NUM"_s) || t.contains(u"DEC"_s) || t.contains(u"REAL"_s) ||
        t.contains(u"FLOA"_s) || t.contains(u"DOUB"_s))
        return ColumnKind::Number;
    return ColumnKind::Text;
}

std::atomic<qint64> g_statements{0};
std::atomic<qint64> g_connections{0};

} // namespace

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return u"kordao-%1"_s.arg(++counter);
}

void countStatement()
{
    g_statements.fetch_add(1, std::memory_order_relaxed);
}

void countConnection()
{
    g_connections.fetch_add(1, std::memory_order_relaxed);
}

qint64 statementsSent()
{
    return g_statements.load(std::memory_order_relaxed);
}

qint64 connectionsOpened()
{
    return g_connections.load(std::memory_order_relaxed);
}

const Author& author()
{
    static const Author a = [] {
        Author r;
        if (const passwd* pw = getpwuid(geteuid()))
            r.osUser = QString::fromLocal8Bit(pw->pw_name);
        else
            r.osUser = QString::number(geteuid());
        r.host = QSysInfo::machineHostName();
        r.program = QCoreApplication::applicationName();
        if (r.program.isEmpty())
            r.program = QFileInfo(QFile::symLinkTarget(u"/proc/self/exe"_s)).fileName();
        return r;
    }();
    return a;
}

QString insertValuesSql(const QString& insertHead, int columns, int rows)
{
    QString one = u"("_s;
    for (int i = 0; i < columns; ++i)
        one += i == 0 ? u"?"_s : u", ?"_s;
    one += u')';
    QString sql = insertHead;
    for (int r = 0; r < rows; ++r)
        sql += (r == 0 ? u" "_s : u", "_s) + one;
    return sql;
}

int TableInfo::find(const QString& field) const
{
    if (const auto it = byName.constFind(field); it != byName.constEnd())
        return it.value();
    const auto it = byFoldedName.constFind(field.toCaseFolded());
    return it == byFoldedName.constEnd() ? -1 : it.value();
}

QString Connection::quote(const QString& identifier)
{
    QString q = identifier;
    q.replace(u'"', u"\"\""_s);
    return u'"' + q + u'"';
}

QString Connection::errorText(const QSqlError& e)
{
    QString text = e.databaseText().trimmed();
    const QString driver = e.driverText().trimmed();
    if (text.isEmpty())
        return driver;
    if (!driver.isEmpty() && !text.contains(driver))
        text = driver + u": "_s + text;
    return text;
}

Connection::Connection(const DbSettings& settings, QSqlDatabase db, QString name)
    : m_settings(settings), m_db(std::move(db)), m_name(std::move(name))
{
    std::lock_guard lock(g_registryMutex);
    registry().push_back(this);
}

Connection::~Connection()
{
    {
        std::lock_guard lock(g_registryMutex);
        auto& r = registry();
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
    if (m_inTransaction)
        (void)rollback();
    m_engine.reset(); // its statements go before the connection closes
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

std::shared_ptr<Connection> Connection::make(const DbSettings& settings, QSqlDatabase db,
                                             QString name)
{
    return std::shared_ptr<Connection>(new Connection(settings, std::move(db), std::move(name)));
}

mox::Result<std::shared_ptr<Connection>> Connection::open(const DbSettings& s, bool createIfMissing)
{
    // The one place that picks an engine: by the Driver= of the configuration.
    if (s.engine == Engine::Sqlite)
        return SqliteEngine::open(s, createIfMissing);
    return PostgresEngine::open(s, createIfMissing);
}

mox::Result<std::shared_ptr<const TableInfo>> Connection::table(const QString& name)
{
    if (auto it = m_catalogue.find(name); it != m_catalogue.end())
        return it->second;
    mox::Result<std::shared_ptr<TableInfo>> loaded = loadTable(name);
    if (const mox::Status* failure = mox::failure(loaded))
        return *failure;
    std::shared_ptr<const TableInfo> info = std::move(mox::value(loaded));
    m_catalogue.emplace(name, info);
    return info;
}

mox::Result<std::shared_ptr<TableInfo>> Connection::loadTable(const QString& name)
{
    std::vector<Row> rows;
    if (mox::Status s = select(m_engine->columnsQuery(), {name}, &rows); !s.ok())
        return s;
    auto info = std::make_shared<TableInfo>();
    info->name = name;
    std::vector<std::pair<int, int>> keyParts; // position in key, column index
    for (const Row& r : rows) {
        ColumnInfo c;
        c.name = r[0].toString();
        c.kind = kindOfDeclaredType(r[1].toString());
        c.notNull = r[2].toBool();
        const int pk = r[3].toInt();
        const int index = int(info->columns.size());
        if (pk > 0)
            keyParts.emplace_back(pk, index);
        info->byName.insert(c.name, index);
        info->byFoldedName.insert(c.name.toCaseFolded(), index);
        info->columns.push_back(std::move(c));
    }
    if (info->columns.empty())
        return mox::Status::failure(kTableMissing, u"テーブル %1 が存在しません。"_s.arg(name));
    std::sort(keyParts.begin(), keyParts.end());
    for (const auto& part : keyParts)
        info->primaryKey.push_back(part.second);
    if (info->primaryKey.empty()) {
        info->rowAddress = int(info->columns.size());
        info->columns.push_back(m_engine->rowAddressColumn());
    }
    QString columns;
    for (std::size_t i = 0; i < info->columns.size(); ++i) {
        columns += (i == 0 ? QString() : u", "_s) + (int(i) == info->rowAddress
                                                         ? m_engine->rowAddressSelected()
                                                         : quote(info->columns[i].name));
    }
    info->columnList = columns;
    info->selectAll = u"SELECT "_s + columns + u" FROM "_s + quote(name);

    const mox::Result<const Facts*> f = facts();
    if (const mox::Status* failure = mox::failure(f))
        return *failure;
    info->counted = mox::value(f)->counted.contains(name);
    return info;
}

mox::Result<const Connection::Facts*> Connection::facts()
{
    if (m_facts)
        return &*m_facts;
    const QString counter = QString::fromUtf16(kRowCountTable);
    const QString audit = QString::fromUtf16(kAuditTable);
    const QString writer = QString::fromUtf16(kWriterTable);
    std::vector<Row> rows;
    if (mox::Status s = select(m_engine->tablesQuery(), {counter, audit, writer}, &rows); !s.ok())
        return s;
    Facts f;
    bool counterExists = false;
    for (const Row& r : rows) {
        counterExists = counterExists || r.front().toString() == counter;
        f.audited = f.audited || r.front().toString() == audit;
        f.writer = f.writer || r.front().toString() == writer;
    }
    if (counterExists) {
        rows.clear();
        if (mox::Status s = select(u"SELECT \"NAME\" FROM "_s + quote(counter), {}, &rows); !s.ok())
            return s;
        for (const Row& r : rows)
            f.counted.insert(r.front().toString());
    }
    m_facts = std::move(f);
    return &*m_facts;
}

mox::Status Connection::select(const QString& sql, const QVariantList& binds,
                               std::vector<Row>* rows)
{
    if (mox::Status s = ensureConnected(); !s.ok())
        return s;
    countStatement();
    mox::Status s = m_engine->select(sql, binds, rows);
    if (s.ok())
        return s;
    // A read outside a transaction on a connection the server dropped meanwhile (restarted,
    // idle connection closed) is simply made again on a new one.
    if (m_engine->lastFailure() != FailureKind::Lost || m_inTransaction)
        return s;
    if (mox::Status again = ensureConnected(); !again.ok())
        return again;
    rows->clear();
    countStatement();
    return m_engine->select(sql, binds, rows);
}

mox::Status Connection::execute(const QString& sql, const QVariantList& binds, int* rowsAffected)
{
    if (mox::Status s = ensureConnected(); !s.ok())
        return s;
    countStatement();
    return m_engine->execute(sql, binds, rowsAffected);
}

mox::Result<std::shared_ptr<BulkLoad>> Connection::beginBulkLoad(const TableInfo& t)
{
    if (!m_inTransaction)
        return mox::Status::failure(kUpdateFailed, u"トランザクションが開始されていません。"_s);
    // Records written wholesale are not kept for settling a lost commit.
    forgetWritten();
    return m_engine->beginBulkLoad(t);
}

mox::Status Connection::clearTable(const TableInfo& t)
{
    if (!m_inTransaction)
        return mox::Status::failure(kUpdateFailed, u"トランザクションが開始されていません。"_s);
    // Records written wholesale are not kept for settling a lost commit.
    forgetWritten();
    return m_engine->clearTable(t);
}

mox::Status Connection::begin()
{
    const auto failed = [this](const mox::Status& s) {
        return mox::Status::failure(statusOf(kBeginFailed), s.message);
    };
    m_commitFailed = false;
    m_lostCommit = CommitLoss::None;
    if (m_inTransaction) {
        m_engine->setLastFailure(FailureKind::Other);
        return mox::Status::failure(kBeginFailed, u"トランザクションは既に開始されています。"_s);
    }
    m_written.clear();
    m_writtenIndex.clear();
    m_writtenComplete = true;
    for (int attempt = 0;; ++attempt) {
        if (mox::Status s = ensureConnected(); !s.ok())
            return failed(s);
        mox::Status s = m_engine->begin();
        if (s.ok())
            break;
        // Nothing is lost by beginning again on a new connection.
        if (m_engine->lastFailure() != FailureKind::Lost || attempt > 0)
            return failed(s);
    }
    m_inTransaction = true;
    return {};
}

mox::Status Connection::commit()
{
    const auto failed = [this](const mox::Status& s) {
        return mox::Status::failure(statusOf(kCommitFailed), s.message);
    };
    if (!m_inTransaction) {
        m_engine->setLastFailure(FailureKind::Other);
        return mox::Status::failure(kCommitFailed, u"トランザクションが開始されていません。"_s);
    }
    if (mox::Status s = m_engine->beforeCommit(); !s.ok()) {
        (void)rollback();
        m_commitFailed = true;
        return failed(s);
    }
    if (mox::Status s = m_engine->commit(); !s.ok()) {
        // A commit that failed leaves nothing half done: undo what is left, keeping the
        // commit's own failure.
        const FailureKind kind = m_engine->lastFailure();
        std::vector<Written> written = std::move(m_written);
        m_written.clear();
        m_writtenIndex.clear();
        const bool complete = m_writtenComplete;
        (void)rollback();
        m_engine->setLastFailure(kind);
        m_commitFailed = true;
        // Lost during COMMIT, the transaction may have been committed all the same.
        if (kind == FailureKind::Lost)
            return settleLostCommit(std::move(written), complete, s);
        return failed(s);
    }
    m_inTransaction = false;
    m_engine->transactionEnded();
    m_written.clear();
    m_writtenIndex.clear();
    return {};
}

mox::Status Connection::rollback()
{
    if (!m_inTransaction)
        return mox::Status::failure(kRollbackFailed, u"トランザクションが開始されていません。"_s);
    m_inTransaction = false;
    m_written.clear();
    m_writtenIndex.clear();
    m_engine->transactionEnded();
    if (m_engine->lost())
        return {}; // the server undid the transaction when the connection went
    if (mox::Status s = m_engine->rollback(); !s.ok())
        return mox::Status::failure(kRollbackFailed, s.message);
    return {};
}

short statusOf(FailureKind kind, short own)
{
    switch (kind) {
    case FailureKind::Busy:
        return kLockTimeout;
    case FailureKind::StatementTimeout:
        return kStatementTimeout;
    case FailureKind::Lost:
        return kConnectionLost;
    case FailureKind::Unreadable:
        // A read that failed for want of the data, not because its statement was wrong.
        return own == kBadCondition ? kFieldUnreadable : own;
    case FailureKind::Other:
    case FailureKind::Duplicate:
        break;
    }
    return own;
}

short Connection::statusOf(short own) const
{
    return KorDAO::statusOf(m_engine->lastFailure(), own);
}

mox::Status Connection::ensureConnected()
{
    if (!m_engine->lost())
        return {};
    if (m_inTransaction) {
        m_engine->setLastFailure(FailureKind::Lost);
        return mox::Status::failure(kConnectionLost, u"データベースとの接続が切れています。"_s);
    }
    m_engine->transactionEnded();
    return m_engine->reconnect();
}

mox::Result<bool> Connection::audited(const TableInfo& table)
{
    if (table.name == QString::fromUtf16(kAuditTable) ||
        table.name == QString::fromUtf16(kRowCountTable))
        return false;
    const mox::Result<const Facts*> f = facts();
    if (const mox::Status* failure = mox::failure(f))
        return *failure;
    return mox::value(f)->audited;
}

mox::Status Connection::writeAudit(const AuditEntry& e)
{
    // The server's clock and (PostgreSQL) the login that makes the change.
    const QString sql =
        u"INSERT INTO "_s + quote(QString::fromUtf16(kAuditTable)) +
        u" (\"AT\", \"DBUSER\", \"OSUSER\", \"HOST\", \"PROGRAM\", \"TABLENAME\", \"SYOKCD\", "
        "\"RECKEY\", \"ACTION\", \"CHANGES\") VALUES ("_s +
        m_engine->auditTimeAndLogin() + u", ?, ?, ?, ?, ?, ?, ?, ?)"_s;
    const Author& a = author();
    return execute(sql,
                   {a.osUser, a.host, a.program, e.table, e.syokcd, e.key, e.action, e.changes});
}

void rollbackAllOpenTransactions()
{
    std::vector<Connection*> open;
    {
        std::lock_guard lock(g_registryMutex);
        open = registry();
    }
    for (Connection* c : open) {
        if (c->inTransaction())
            (void)c->rollback();
    }
}

} // namespace KorDAO
