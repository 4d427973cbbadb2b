#include "sqliteengine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Bounds the prepared statements a connection keeps (one per distinct SQL text).
constexpr qsizetype kMaxStatements = 256;

// Makes the missing database file \p path. The file holds salaries and belongs to one user: a
// folder made for it is 0700, the file is made 0600 (SQLite gives its journal the same mode) and
// never through a link. Empty, or why it could not be made.
QString createDatabaseFile(const QString& path)
{
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
    }
    const int fd = ::open(QFile::encodeName(file.absoluteFilePath()).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return {};
}

// The engine's own handle of the Qt connection \p db; nullptr when it has none.
sqlite3* handleOf(QSqlDatabase& db)
{
    const QVariant h = db.driver()->handle();
    if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(h.constData());
    return nullptr;
}

} // namespace

SqliteEngine::SqliteEngine(Connection& connection, sqlite3* handle)
    : DatabaseEngine(connection), m_sqlite(handle)
{
}

SqliteEngine::~SqliteEngine()
{
    dropStatements();
}

mox::Result<std::shared_ptr<Connection>> SqliteEngine::open(const DbSettings& s,
                                                            bool createIfMissing)
{
    if (!QFileInfo::exists(s.database)) {
        if (!createIfMissing) {
            return mox::Status::failure(
                kDatabaseMissing, u"データベースファイル %1 が存在しません。"_s.arg(s.database));
        }
        if (const QString why = createDatabaseFile(s.database); !why.isEmpty()) {
            return mox::Status::failure(
                kBadSetting,
                u"データベースファイル %1 を作成できません（%2）。"_s.arg(s.database, why));
        }
    }
    if (QFileInfo(s.database).isDir()) {
        return mox::Status::failure(
            kBadSetting,
            u"%1 はフォルダです。データベースファイルではありません。"_s.arg(s.database));
    }
    const QString name = nextConnectionName();
    std::shared_ptr<Connection> conn;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        if (!db.isValid()) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            return mox::Status::failure(
                kOpenFailed, u"データベースドライバ %1 を読み込めません。"_s.arg(u"QSQLITE"_s));
        }
        db.setDatabaseName(s.database);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(s.lockTimeout * 1000));
        db.setNumericalPrecisionPolicy(QSql::HighPrecision);
        conn = Connection::make(s, db, name);
    }
    countConnection();
    if (!conn->db().open()) {
        return mox::Status::failure(kOpenFailed,
                                    u"データベース %1 を開けません: %2"_s.arg(
                                        s.database, Connection::errorText(conn->db().lastError())));
    }
    // A file that is not a database opens without complaint; the first read tells.
    {
        QSqlQuery probe(conn->db());
        countStatement();
        if (!probe.exec(u"SELECT count(*) FROM sqlite_master"_s)) {
            return mox::Status::failure(kOpenFailed,
                                        u"%1 はデータベースとして読めません: %2"_s.arg(
                                            s.database, Connection::errorText(probe.lastError())));
        }
    }
    sqlite3* handle = handleOf(conn->db());
    if (!handle) {
        return mox::Status::failure(kOpenFailed, u"SQLite の接続を取得できません。"_s);
    }
    conn->setEngine(std::make_unique<SqliteEngine>(*conn, handle));
    return conn;
}

void SqliteEngine::dropStatements()
{
    for (sqlite3_stmt* stmt : std::as_const(m_statements))
        sqlite3_finalize(stmt);
    m_statements.clear();
}

mox::Result<sqlite3_stmt*> SqliteEngine::statement(const QString& sql)
{
    if (sqlite3_stmt* stmt = m_statements.value(sql))
        return stmt;
    if (m_statements.size() >= kMaxStatements)
        dropStatements();
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_sqlite, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, nullptr) != SQLITE_OK) {
        mox::Status failure = noteFailure();
        sqlite3_finalize(stmt);
        return failure;
    }
    m_statements.insert(sql, stmt);
    return stmt;
}

mox::Status SqliteEngine::bind(sqlite3_stmt* stmt, const QVariantList& binds)
{
    sqlite3_reset(stmt);
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds[i];
        int rc = SQLITE_OK;
        if (isSqlNull(v)) { // a null QString too, as Qt's PostgreSQL driver binds it
            rc = sqlite3_bind_null(stmt, i + 1);
        } else {
            switch (v.metaType().id()) {
            case QMetaType::LongLong:
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Bool:
                rc = sqlite3_bind_int64(stmt, i + 1, v.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(stmt, i + 1, v.toDouble());
                break;
            default: {
                const QString text = v.toString();
                rc = sqlite3_bind_text16(stmt, i + 1, text.utf16(), int(text.size() * 2),
                                         SQLITE_TRANSIENT);
                break;
            }
            }
        }
        if (rc != SQLITE_OK)
            return failed(QString::fromUtf8(sqlite3_errmsg(m_sqlite)));
    }
    return {};
}

namespace {

// Column \p i of the row \p stmt stands on, as the connection delivers values.
QVariant columnValue(sqlite3_stmt* stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, i);
    case SQLITE_NULL:
        return {};
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                 sqlite3_column_bytes(stmt, i));
    }
}

} // namespace

mox::Status SqliteEngine::select(const QString& sql, const QVariantList& binds,
                                 std::vector<Row>* rows)
{
    const mox::Result<sqlite3_stmt*> prepared = statement(sql);
    if (const mox::Status* failure = mox::failure(prepared))
        return *failure;
    sqlite3_stmt* stmt = mox::value(prepared);
    if (mox::Status bound = bind(stmt, binds); !bound.ok())
        return bound;
    const int columns = sqlite3_column_count(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        Row row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i)
            row.push_back(columnValue(stmt, i));
        rows->push_back(std::move(row));
    }
    mox::Status result;
    if (rc != SQLITE_DONE)
        result = noteFailure();
    sqlite3_reset(stmt);
    return result;
}

mox::Status SqliteEngine::execute(const QString& sql, const QVariantList& binds, int* rowsAffected)
{
    const mox::Result<sqlite3_stmt*> prepared = statement(sql);
    if (const mox::Status* failure = mox::failure(prepared))
        return *failure;
    sqlite3_stmt* stmt = mox::value(prepared);
    if (mox::Status bound = bind(stmt, binds); !bound.ok())
        return bound;
    const int rc = sqlite3_step(stmt);
    mox::Status result;
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        result = noteFailure();
    else if (rowsAffected)
        *rowsAffected = sqlite3_changes(m_sqlite);
    sqlite3_reset(stmt);
    return result;
}

mox::Status SqliteEngine::begin()
{
    // The write lock is taken now, waiting up to the lock timeout, so that two writers queue
    // here instead of one failing at its first write.
    countStatement();
    return execute(u"BEGIN IMMEDIATE"_s, {}, nullptr);
}

mox::Status SqliteEngine::commit()
{
    countStatement();
    return execute(u"COMMIT"_s, {}, nullptr);
}

mox::Status SqliteEngine::rollback()
{
    // SQLite may have undone the transaction itself (after an I/O or memory failure).
    if (sqlite3_get_autocommit(m_sqlite) != 0)
        return {};
    countStatement();
    return execute(u"ROLLBACK"_s, {}, nullptr);
}

mox::Status SqliteEngine::noteFailure()
{
    const int code = sqlite3_extended_errcode(m_sqlite);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        m_lastFailure = FailureKind::Busy;
        break;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
        m_lastFailure = FailureKind::Unreadable;
        break;
    default:
        m_lastFailure = code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE
                            ? FailureKind::Duplicate
                            : FailureKind::Other;
        break;
    }
    return failed(QString::fromUtf8(sqlite3_errmsg(m_sqlite)));
}

QString SqliteEngine::columnsQuery() const
{
    return u"SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)"_s;
}

QString SqliteEngine::tablesQuery() const
{
    return u"SELECT name FROM sqlite_master WHERE type = 'table' AND name IN (?, ?, ?)"_s;
}

ColumnInfo SqliteEngine::rowAddressColumn() const
{
    return {u"rowid"_s, ColumnKind::Integer, true};
}

QString SqliteEngine::rowAddressSelected() const
{
    return u"rowid"_s;
}

QString SqliteEngine::rowAddressCompared() const
{
    return u"rowid"_s;
}

QString SqliteEngine::auditTimeAndLogin() const
{
    return u"strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), NULL"_s;
}

QVariant SqliteEngine::fraction(Currency amount) const
{
    // The double nearest to the amount: the raw value and 10^4 are exact, the division rounds
    // once.
    return double(amount.raw()) / double(Currency::kScale);
}

QString SqliteEngine::location() const
{
    return u"SQLite "_s + m_conn.settings().database;
}

QString SqliteEngine::databaseFile() const
{
    return m_conn.settings().database;
}

} // namespace KorDAO
