#include "connection.h"

#include "audittrail.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSysInfo>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <mutex>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
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

// What the client's clock may lag behind the server's statement timer, in ms: the client starts
// timing before the statement is sent, so it never reads less than the server's time, but whole
// milliseconds are compared.
constexpr qint64 kClockSlackMs = 5;

// How long libpq waits for a server to answer a connection request (connect_timeout).
constexpr qint64 kConnectTimeoutMs = 10000;

// Bounds the prepared statements a connection keeps (one per distinct SQL text).
constexpr std::size_t kMaxStatements = 256;

// SQLite's page cache while a bulk load is open, in KiB (a negative cache_size): large enough
// that pages being filled are not written out and read back again and again before the commit.
constexpr int kBulkCacheKiB = 262144;

QString triggerSqlQuery()
{
    return u"SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = ?"_s;
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

// The largest whole yen a Currency holds.
constexpr qlonglong kMaxYen = std::numeric_limits<qint64>::max() / Currency::kScale;

std::atomic<qint64> g_statements{0};
std::atomic<qint64> g_connections{0};

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return u"kordao-%1"_s.arg(++counter);
}

} // namespace

void countStatement()
{
    g_statements.fetch_add(1, std::memory_order_relaxed);
}

qint64 statementsSent()
{
    return g_statements.load(std::memory_order_relaxed);
}

qint64 connectionsOpened()
{
    return g_connections.load(std::memory_order_relaxed);
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
    : m_engine(settings.engine), m_settings(settings), m_db(std::move(db)), m_name(std::move(name))
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
    if (m_inTransaction) {
        QString ignored;
        rollback(&ignored);
    }
    dropStatements();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

namespace {

// A value of a libpq connection string: in single quotes, a backslash or a quote inside escaped
// with a backslash, so that blanks, quotes and backslashes reach libpq as written. (The Qt driver
// turns every ";" of the connect options into a blank; the INI reader refuses paths holding one.)
QString conninfoValue(const QString& value)
{
    QString v = value;
    v.replace(u'\\', u"\\\\"_s);
    v.replace(u'\'', u"\\'"_s);
    return u'\'' + v + u'\'';
}

// Who this process is: the desk's account and machine and the program, as the audit rows show
// them (SQLite: through the writer row; PostgreSQL: through the session's application_name).
struct Author {
    QString osUser;
    QString host;
    QString program;
};

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

// "<program> <OS user>@<host>" of this process: the program as QCoreApplication names it, or
// the executable's file name.
QString processApplicationName()
{
    static const QString name = [] {
        const Author& a = author();
        return sessionApplicationName(a.program, a.osUser, a.host);
    }();
    return name;
}

// The connect options of a PostgreSQL connection: the session's settings (no notices on the
// console; lock waits and statements bounded), who connects, and encryption.
QString postgresConnectOptions(const DbSettings& s)
{
    const int statementMs = s.statementLimit ? s.statementTimeout * 1000 : 0;
    const QString session =
        u"-c client_min_messages=warning -c lock_timeout=%1 -c statement_timeout=%2"_s
            .arg(s.lockTimeout * 1000)
            .arg(statementMs);
    QStringList options = {u"connect_timeout=%1"_s.arg(kConnectTimeoutMs / 1000),
                           u"options="_s + conninfoValue(session),
                           u"application_name="_s + conninfoValue(processApplicationName())};
    const QString sslMode = effectiveSslMode(s);
    const std::pair<const char16_t*, QString> tls[] = {
        {u"sslmode", sslMode},
        {u"sslrootcert", s.sslRootCert},
        {u"sslcert", s.sslCert},
        {u"sslkey", s.sslKey},
        {u"channel_binding", s.channelBinding},
    };
    for (const auto& [key, value] : tls) {
        if (!value.isEmpty())
            options << QString::fromUtf16(key) + u'=' + conninfoValue(value);
    }
    return options.join(u' ');
}

// "host:port" of \p s for messages ("（既定）" for libpq's default host).
QString serverName(const DbSettings& s)
{
    QString server = s.host.isEmpty() ? u"（既定）"_s : s.host;
    if (s.port > 0)
        server += u':' + QString::number(s.port);
    return server;
}

// The CA file libpq reads to verify a network server: SslRootCert=, else $PGSSLROOTCERT, else
// ~/.postgresql/root.crt. Empty when the mode verifies nothing, or over a socket.
QString caFileOf(const DbSettings& s)
{
    const QString mode = effectiveSslMode(s);
    if (s.host.isEmpty() || s.host.startsWith(u'/') ||
        (mode != u"verify-ca"_s && mode != u"verify-full"_s))
        return {};
    if (!s.sslRootCert.isEmpty())
        return s.sslRootCert;
    if (const QString env = qEnvironmentVariable("PGSSLROOTCERT"); !env.isEmpty())
        return env;
    // libpq takes the home folder from the password database, not from $HOME.
    const passwd* pw = getpwuid(geteuid());
    const QString home = pw ? QString::fromLocal8Bit(pw->pw_dir) : QDir::homePath();
    return home + u"/.postgresql/root.crt"_s;
}

// Why the server at \p s refused a connection, when encryption was the cause, told from libpq's
// text (English, or Japanese when the desk or the server speaks it) and from the CA file itself;
// empty for any other refusal.
QString tlsRefusalReason(const DbSettings& s, const QString& text)
{
    const QString server = serverName(s);
    const auto has = [&text](std::initializer_list<const char16_t*> words) {
        return std::any_of(words.begin(), words.end(), [&text](const char16_t* w) {
            return text.contains(QString::fromUtf16(w), Qt::CaseInsensitive);
        });
    };
    if (has({u"does not match host name", u"とマッチしません"}))
        return u"サーバー %1 の証明書は別のホスト名に対して発行されたものです。Host= "
               "にはサーバーの証明書にある名前を書いてください。"_s.arg(server);
    const QString ca = caFileOf(s);
    if (has({u"root certificate file", u"ルート証明書"}) ||
        (!ca.isEmpty() && !QFileInfo(ca).isReadable()))
        return u"サーバー %1 を確かめるための CA 証明書ファイル %2 がないか、読めません。"
               "管理者から事務所の CA 証明書を受け取り、その場所を SslRootCert= に書いてください。"_s
                   .arg(server, ca.isEmpty() ? s.sslRootCert : ca);
    if (has({u"certificate verify failed"}))
        return u"サーバー %1 の証明書を CA 証明書 (SslRootCert=) で確かめられませんでした "
               "(発行元が不明です)。事務所の CA 証明書ファイルを指定してください。"_s.arg(server);
    if (has({u"pg_hba.conf"}) && has({u"no encryption", u"暗号化なし"}))
        return u"サーバー %1 は暗号化されていない接続を受け付けません (pg_hba.conf "
               "に暗号化なしの接続の項目がありません)。SslMode=disable をやめて、暗号化して接続して"
               "ください。"_s.arg(server);
    if (has({u"server does not support SSL", u"SSLをサポートしていません"}))
        return u"サーバー %1 は暗号化 (SSL) に対応していません。サーバーで ssl = on "
               "にするよう管理者に依頼してください。"_s.arg(server);
    if (has({u"channel binding", u"チャネルバインディング"}))
        return u"サーバー %1 とはチャネルバインディング (ChannelBinding=) を使えません。"_s.arg(
            server);
    return {};
}

enum class Presence { Unknown, Exists, Missing, Created };

// Points \p db at the server, login and session settings of \p s. The settings of the session go
// with the connection request: no statement of its own.
void setPostgresServer(QSqlDatabase* db, const DbSettings& s)
{
    if (!s.host.isEmpty())
        db->setHostName(s.host);
    if (s.port > 0)
        db->setPort(s.port);
    if (!s.user.isEmpty())
        db->setUserName(s.user);
    if (s.hasPassword)
        db->setPassword(s.password);
    db->setConnectOptions(postgresConnectOptions(s));
}

// Whether database \p s.database exists on the server of \p s, asked of the server's "postgres"
// database, so that the answer does not depend on the language of the server's messages; with
// \p create, a missing one is created. Unknown when the server cannot be asked, or (and
// \p error says why) when the creation failed.
Presence postgresDatabasePresence(const DbSettings& s, bool create, QString* error)
{
    const QString name = nextConnectionName();
    Presence presence = Presence::Unknown;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        setPostgresServer(&db, s);
        db.setDatabaseName(u"postgres"_s);
        g_connections.fetch_add(1, std::memory_order_relaxed);
        if (db.open()) {
            QSqlQuery q(db);
            countStatement();
            q.prepare(u"SELECT 1 FROM pg_database WHERE datname = ?"_s);
            q.addBindValue(s.database);
            if (q.exec())
                presence = q.next() ? Presence::Exists : Presence::Missing;
            q.finish();
            if (presence == Presence::Missing && create) {
                countStatement();
                if (q.exec(u"CREATE DATABASE "_s + Connection::quote(s.database))) {
                    presence = Presence::Created;
                } else {
                    *error = Connection::errorText(q.lastError());
                    presence = Presence::Unknown;
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return presence;
}

} // namespace

QString effectiveSslMode(const DbSettings& s)
{
    if (!s.sslMode.isEmpty())
        return s.sslMode;
    if (!s.host.isEmpty() && !s.host.startsWith(u'/'))
        return u"verify-full"_s;
    return {};
}

QString sessionApplicationName(const QString& program, const QString& osUser, const QString& host)
{
    constexpr qsizetype kMaxBytes = 63; // NAMEDATALEN - 1
    const QByteArray utf8 = (program + u' ' + osUser + u'@' + host).toUtf8();
    if (utf8.size() <= kMaxBytes)
        return QString::fromUtf8(utf8);
    // Byte kMaxBytes is the first one dropped; while it continues a character, that character
    // began inside the kept part and goes too.
    qsizetype n = kMaxBytes;
    while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
        --n;
    return QString::fromUtf8(utf8.left(n));
}

std::shared_ptr<Connection> Connection::open(const DbSettings& s, bool createIfMissing,
                                             short* status, QString* error)
{
    const QString name = nextConnectionName();
    const bool sqlite = s.engine == Engine::Sqlite;
    if (sqlite && !QFileInfo::exists(s.database)) {
        if (!createIfMissing) {
            *status = -20;
            *error = u"データベースファイル %1 が存在しません。"_s.arg(s.database);
            return nullptr;
        }
        // The file holds salaries and belongs to one user: a folder made for it is 0700, the
        // file is made 0600 (SQLite gives its journal the same mode) and never through a link.
        const QFileInfo file(s.database);
        const QString folder = file.absolutePath();
        if (!QFileInfo(folder).isDir()) {
            QDir().mkpath(QFileInfo(folder).absolutePath());
            ::mkdir(QFile::encodeName(folder).constData(), 0700);
        }
        const int fd = ::open(QFile::encodeName(file.absoluteFilePath()).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            *status = -18;
            *error = u"データベースファイル %1 を作成できません（%2）。"_s.arg(
                s.database, QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        ::close(fd);
    }
    if (sqlite && QFileInfo(s.database).isDir()) {
        *status = -18;
        *error = u"%1 はフォルダです。データベースファイルではありません。"_s.arg(s.database);
        return nullptr;
    }

    std::shared_ptr<Connection> conn;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? u"QSQLITE"_s : u"QPSQL"_s, name);
        if (!db.isValid()) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            *status = -1;
            *error = u"データベースドライバ %1 を読み込めません。"_s.arg(sqlite ? u"QSQLITE"_s
                                                                                : u"QPSQL"_s);
            return nullptr;
        }
        db.setDatabaseName(s.database);
        if (sqlite) {
            db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(s.lockTimeout * 1000));
        } else {
            setPostgresServer(&db, s);
        }
        db.setNumericalPrecisionPolicy(QSql::HighPrecision);
        conn.reset(new Connection(s, db, name));
    }

    g_connections.fetch_add(1, std::memory_order_relaxed);
    QElapsedTimer connecting;
    connecting.start();
    if (!conn->m_db.open()) {
        const QString text = errorText(conn->m_db.lastError());
        conn.reset();
        if (sqlite) {
            *status = -1;
            *error = u"データベース %1 を開けません: %2"_s.arg(s.database, text);
            return nullptr;
        }
        if (const QString reason = tlsRefusalReason(s, text); !reason.isEmpty()) {
            *status = -1;
            *error = u"データベース %1 に接続できません。%2\n(%3)"_s.arg(s.database, reason, text);
            return nullptr;
        }
        // A server that did not answer within connect_timeout is not asked again.
        QString createError;
        const Presence presence =
            connecting.elapsed() >= kConnectTimeoutMs - 1000
                ? Presence::Unknown
                : postgresDatabasePresence(s, createIfMissing, &createError);
        if (!createError.isEmpty()) {
            *status = -1;
            *error = u"データベース %1 を作成できません: %2"_s.arg(s.database, createError);
            return nullptr;
        }
        if (presence == Presence::Created)
            return open(s, false, status, error);
        // Without an answer from the server's own database (a login allowed into the payroll
        // databases only), the server's words are all there is.
        const bool missing =
            presence == Presence::Unknown
                ? (text.contains(u"does not exist"_s) && text.contains(u"database"_s)) ||
                      (text.contains(u"データベース"_s) && text.contains(u"存在しません"_s))
                : presence == Presence::Missing;
        *status = missing ? short(-20) : short(-1);
        *error = u"データベース %1 を開けません: %2"_s.arg(s.database, text);
        return nullptr;
    }

    // An SQLite file that is not a database opens without complaint; the first read tells. (A
    // PostgreSQL server has answered already.)
    if (sqlite) {
        QSqlQuery probe(conn->m_db);
        countStatement();
        if (!probe.exec(u"SELECT count(*) FROM sqlite_master"_s)) {
            *status = -1;
            *error = u"%1 はデータベースとして読めません: %2"_s.arg(
                s.database, errorText(probe.lastError()));
            return nullptr;
        }
    }
    if (sqlite) {
        const QVariant h = conn->m_db.driver()->handle();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
            conn->m_sqlite = *static_cast<sqlite3* const*>(h.constData());
        if (!conn->m_sqlite) {
            *status = -1;
            *error = u"SQLite の接続を取得できません。"_s;
            return nullptr;
        }
    }
    *status = 0;
    return conn;
}

std::shared_ptr<const TableInfo> Connection::table(const QString& name, QString* error)
{
    if (auto it = m_catalogue.find(name); it != m_catalogue.end())
        return it->second;
    std::shared_ptr<const TableInfo> info = loadTable(name, error);
    if (info)
        m_catalogue.emplace(name, info);
    return info;
}

std::shared_ptr<TableInfo> Connection::loadTable(const QString& name, QString* error)
{
    // name, declared type, NOT NULL, position in the primary key (0 = not part of it)
    const QString sql =
        m_engine == Engine::Sqlite
            ? u"SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)"_s
            : u"SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull, "
              "COALESCE((SELECT k.n FROM pg_index i, unnest(i.indkey) WITH ORDINALITY AS k(att, n) "
              "WHERE i.indrelid = a.attrelid AND i.indisprimary AND k.att = a.attnum), 0) "
              "FROM pg_attribute a WHERE a.attrelid = to_regclass(quote_ident(?)) "
              "AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"_s;
    std::vector<Row> rows;
    if (!select(sql, {name}, &rows, error))
        return nullptr;
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
    if (info->columns.empty()) {
        *error = u"テーブル %1 が存在しません。"_s.arg(name);
        return nullptr;
    }
    std::sort(keyParts.begin(), keyParts.end());
    for (const auto& part : keyParts)
        info->primaryKey.push_back(part.second);
    if (info->primaryKey.empty()) {
        ColumnInfo address;
        address.name = m_engine == Engine::Sqlite ? u"rowid"_s : u"ctid"_s;
        address.kind = m_engine == Engine::Sqlite ? ColumnKind::Integer : ColumnKind::Text;
        address.notNull = true;
        info->rowAddress = int(info->columns.size());
        info->columns.push_back(address);
    }
    QString columns;
    for (std::size_t i = 0; i < info->columns.size(); ++i) {
        const bool address = int(i) == info->rowAddress;
        columns +=
            (i == 0 ? QString() : u", "_s) + (!address ? quote(info->columns[i].name)
                                              : m_engine == Engine::Sqlite ? u"rowid"_s
                                                                           : u"ctid::text"_s);
    }
    info->columnList = columns;
    info->selectAll = u"SELECT "_s + columns + u" FROM "_s + quote(name);

    const Facts* f = facts(error);
    if (!f)
        return nullptr;
    info->counted = f->counted.contains(name);
    return info;
}

const Connection::Facts* Connection::facts(QString* error)
{
    if (m_facts)
        return &*m_facts;
    const QString sql =
        m_engine == Engine::Sqlite
            ? u"SELECT name FROM sqlite_master WHERE type = 'table' AND name IN (?, ?, ?)"_s
            : u"SELECT relname::text FROM pg_class WHERE oid IN (to_regclass(quote_ident(?)), "
              "to_regclass(quote_ident(?)), to_regclass(quote_ident(?)))"_s;
    const QString counter = QString::fromUtf16(kRowCountTable);
    const QString audit = QString::fromUtf16(kAuditTable);
    const QString writer = QString::fromUtf16(kWriterTable);
    std::vector<Row> rows;
    if (!select(sql, {counter, audit, writer}, &rows, error))
        return nullptr;
    Facts f;
    bool counterExists = false;
    for (const Row& r : rows) {
        counterExists = counterExists || r.front().toString() == counter;
        f.audited = f.audited || r.front().toString() == audit;
        f.writer = f.writer || r.front().toString() == writer;
    }
    if (counterExists) {
        rows.clear();
        if (!select(u"SELECT \"NAME\" FROM "_s + quote(counter), {}, &rows, error))
            return nullptr;
        for (const Row& r : rows)
            f.counted.insert(r.front().toString());
    }
    m_facts = std::move(f);
    return &*m_facts;
}

void Connection::dropStatements()
{
    for (sqlite3_stmt* stmt : std::as_const(m_sqliteStatements))
        sqlite3_finalize(stmt);
    m_sqliteStatements.clear();
    m_statements.clear();
}

sqlite3_stmt* Connection::sqliteStatement(const QString& sql, QString* error)
{
    if (sqlite3_stmt* stmt = m_sqliteStatements.value(sql))
        return stmt;
    if (m_sqliteStatements.size() >= qsizetype(kMaxStatements))
        dropStatements();
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_sqlite, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(m_sqlite));
        noteSqliteFailure();
        sqlite3_finalize(stmt);
        return nullptr;
    }
    m_sqliteStatements.insert(sql, stmt);
    return stmt;
}

bool Connection::bindSqlite(sqlite3_stmt* stmt, const QVariantList& binds, QString* error)
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
        if (rc != SQLITE_OK) {
            *error = QString::fromUtf8(sqlite3_errmsg(m_sqlite));
            return false;
        }
    }
    return true;
}

QSqlQuery* Connection::prepared(const QString& sql, QString* error)
{
    // Every PostgreSQL statement is prepared, or found prepared, right before it runs.
    m_statementClock.start();
    if (auto it = m_statements.constFind(sql); it != m_statements.constEnd())
        return it.value().get();
    if (m_statements.size() >= qsizetype(kMaxStatements))
        dropStatements();
    auto q = std::make_shared<QSqlQuery>(m_db);
    q->setForwardOnly(true);
    countStatement(); // the server prepares it
    if (!q->prepare(sql)) {
        *error = errorText(q->lastError());
        notePostgresFailure(q->lastError());
        return nullptr;
    }
    m_statements.insert(sql, q);
    return q.get();
}

bool Connection::select(const QString& sql, const QVariantList& binds, std::vector<Row>* rows,
                        QString* error)
{
    if (!ensureConnected(error))
        return false;
    if (runSelect(sql, binds, rows, error))
        return true;
    // A read outside a transaction on a connection the server dropped meanwhile (restarted,
    // idle connection closed) is simply made again on a new one.
    if (m_lastFailure != FailureKind::Lost || m_inTransaction || !ensureConnected(error))
        return false;
    rows->clear();
    return runSelect(sql, binds, rows, error);
}

bool Connection::runSelect(const QString& sql, const QVariantList& binds, std::vector<Row>* rows,
                           QString* error)
{
    countStatement();
    if (m_engine == Engine::Sqlite) {
        sqlite3_stmt* stmt = sqliteStatement(sql, error);
        if (!stmt || !bindSqlite(stmt, binds, error))
            return false;
        const int columns = sqlite3_column_count(stmt);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            Row row;
            row.reserve(static_cast<std::size_t>(columns));
            for (int i = 0; i < columns; ++i) {
                switch (sqlite3_column_type(stmt, i)) {
                case SQLITE_INTEGER:
                    row.emplace_back(qlonglong(sqlite3_column_int64(stmt, i)));
                    break;
                case SQLITE_FLOAT:
                    row.emplace_back(sqlite3_column_double(stmt, i));
                    break;
                case SQLITE_NULL:
                    row.emplace_back();
                    break;
                default:
                    row.emplace_back(QString::fromUtf8(
                        reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                        sqlite3_column_bytes(stmt, i)));
                    break;
                }
            }
            rows->push_back(std::move(row));
        }
        const bool ok = rc == SQLITE_DONE;
        if (!ok) {
            *error = QString::fromUtf8(sqlite3_errmsg(m_sqlite));
            noteSqliteFailure();
        }
        sqlite3_reset(stmt);
        return ok;
    }
    QSqlQuery* q = prepared(sql, error);
    if (!q)
        return false;
    for (int i = 0; i < binds.size(); ++i)
        q->bindValue(i, binds[i]);
    if (!q->exec()) {
        *error = errorText(q->lastError());
        notePostgresFailure(q->lastError());
        q->finish();
        return false;
    }
    const int columns = q->record().count();
    while (q->next()) {
        Row row(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i) {
            // The driver gives NULL as a null value of the column's type (a null QString for a
            // text, equal to ''); it is kept as a plain null, as SQLite's NULL is.
            QVariant v = q->value(i);
            if (!v.isNull())
                row[std::size_t(i)] = std::move(v);
        }
        rows->push_back(std::move(row));
    }
    q->finish();
    return true;
}

bool Connection::execute(const QString& sql, const QVariantList& binds, QString* error,
                         int* rowsAffected)
{
    if (!ensureConnected(error))
        return false;
    countStatement();
    if (m_engine == Engine::Sqlite) {
        sqlite3_stmt* stmt = sqliteStatement(sql, error);
        if (!stmt || !bindSqlite(stmt, binds, error))
            return false;
        const int rc = sqlite3_step(stmt);
        const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
        if (!ok) {
            *error = QString::fromUtf8(sqlite3_errmsg(m_sqlite));
            noteSqliteFailure();
        } else if (rowsAffected) {
            *rowsAffected = sqlite3_changes(m_sqlite);
        }
        sqlite3_reset(stmt);
        return ok;
    }
    QSqlQuery* q = prepared(sql, error);
    if (!q)
        return false;
    for (int i = 0; i < binds.size(); ++i)
        q->bindValue(i, binds[i]);
    const bool ok = q->exec();
    if (!ok) {
        *error = errorText(q->lastError());
        notePostgresFailure(q->lastError());
    } else if (rowsAffected)
        *rowsAffected = q->numRowsAffected();
    q->finish();
    return ok;
}

std::shared_ptr<Connection::BulkLoad> Connection::beginBulkLoad(const TableInfo& t, QString* error)
{
    if (!m_inTransaction) {
        *error = u"トランザクションが開始されていません。"_s;
        return nullptr;
    }
    // Records written wholesale are not kept for settling a lost commit.
    m_writtenComplete = false;
    m_written.clear();
    m_writtenIndex.clear();
    if (m_engine != Engine::Sqlite) {
        // PostgreSQL's counter triggers run once per statement, not per record; its audit
        // triggers write one row per statement while the session is marked.
        auto load = std::make_shared<BulkLoad>();
        load->table = t.name;
        load->open = false;
        if (m_bulkMarks == 0 && !markBulk(true, error))
            return nullptr;
        ++m_bulkMarks;
        load->marked = true;
        return load;
    }
    if (m_bulkLoads.empty()) {
        std::vector<Row> rows;
        if (!select(u"PRAGMA cache_size"_s, {}, &rows, error) || rows.empty())
            return nullptr;
        m_cacheSize = rows.front().front().toLongLong();
        if (!execute(u"PRAGMA cache_size = %1"_s.arg(-kBulkCacheKiB), {}, error))
            return nullptr;
    }
    std::shared_ptr<BulkLoad>& load = m_bulkLoads[t.name];
    if (load) {
        ++load->users;
        return load;
    }
    auto fresh = std::make_shared<BulkLoad>();
    fresh->table = t.name;
    fresh->users = 1;
    // The trail's triggers skip the records while the writer is marked as loading in bulk; the
    // load writes one audit row at its end.
    const bool ok = (!t.counted || setTriggersAside({t.name + u"_ROWS_ADDED"_s},
                                                    &fresh->triggerSql, error)) &&
                    setWriter(true, error);
    if (!ok) {
        m_bulkLoads.erase(t.name);
        if (m_bulkLoads.empty()) {
            QString ignored;
            restoreCacheSize(&ignored);
        }
        return nullptr;
    }
    load = fresh;
    return load;
}

bool Connection::endBulkLoad(const std::shared_ptr<BulkLoad>& load, QString* error)
{
    if (load && load->marked) {
        load->marked = false;
        if (m_bulkMarks > 0 && --m_bulkMarks == 0 && m_inTransaction)
            return markBulk(false, error);
        return true;
    }
    if (!load || !load->open || --load->users > 0)
        return true;
    return restoreBulkLoad(load->table, error);
}

bool Connection::restoreBulkLoad(const QString& table, QString* error)
{
    const auto it = m_bulkLoads.find(table);
    if (it == m_bulkLoads.end())
        return true;
    const std::shared_ptr<BulkLoad> load = it->second;
    m_bulkLoads.erase(it);
    load->open = false;
    bool ok = true;
    if (!load->triggerSql.isEmpty()) {
        ok = execute(u"UPDATE "_s + quote(QString::fromUtf16(kRowCountTable)) +
                         u" SET \"N\" = (SELECT COUNT(*) FROM "_s + quote(table) +
                         u") WHERE \"NAME\" = ?"_s,
                     {table}, error);
        for (qsizetype i = 0; ok && i < load->triggerSql.size(); ++i)
            ok = execute(load->triggerSql[i], {}, error);
    }
    if (ok && m_bulkLoads.empty() && m_writerBulk)
        ok = setWriter(false, error);
    if (m_bulkLoads.empty() && !restoreCacheSize(ok ? error : nullptr))
        ok = false;
    return ok;
}

bool Connection::restoreCacheSize(QString* error)
{
    QString ignored;
    return execute(u"PRAGMA cache_size = %1"_s.arg(m_cacheSize), {}, error ? error : &ignored);
}

void Connection::forgetBulkLoads()
{
    if (m_bulkLoads.empty())
        return;
    for (auto& [table, load] : m_bulkLoads)
        load->open = false;
    m_bulkLoads.clear();
    restoreCacheSize(nullptr);
}

bool Connection::clearTable(const TableInfo& t, QString* error)
{
    if (!m_inTransaction) {
        *error = u"トランザクションが開始されていません。"_s;
        return false;
    }
    // Records written wholesale are not kept for settling a lost commit.
    m_writtenComplete = false;
    m_written.clear();
    m_writtenIndex.clear();
    const QString name = quote(t.name);
    int removed = 0;
    if (m_engine != Engine::Sqlite) {
        // The server's audit triggers write the one row "CLEAR" for the marked session.
        const bool mark = m_bulkMarks == 0;
        return (!mark || markBulk(true, error)) && execute(u"DELETE FROM "_s + name, {}, error) &&
               (!mark || markBulk(false, error));
    }
    // The counter's trigger is set aside for the statement and the counter set to 0 instead; the
    // trail's trigger skips the records while the writer is marked as loading in bulk, and one
    // audit row is written instead.
    QStringList triggerSql;
    const bool wasBulk = m_writerBulk;
    if ((t.counted && !setTriggersAside({t.name + u"_ROWS_REMOVED"_s}, &triggerSql, error)) ||
        !setWriter(true, error) || !execute(u"DELETE FROM "_s + name, {}, error, &removed) ||
        (!wasBulk && !setWriter(false, error)))
        return false;
    for (const QString& sql : std::as_const(triggerSql)) {
        if (!execute(sql, {}, error))
            return false;
    }
    if (t.counted && !execute(u"UPDATE "_s + quote(QString::fromUtf16(kRowCountTable)) +
                                  u" SET \"N\" = 0 WHERE \"NAME\" = ?"_s,
                              {t.name}, error))
        return false;
    return auditBulk(t, u"CLEAR"_s, removed, error);
}

bool Connection::setTriggersAside(const QStringList& names, QStringList* sql, QString* error)
{
    for (const QString& trigger : names) {
        std::vector<Row> rows;
        if (!select(triggerSqlQuery(), {trigger}, &rows, error))
            return false;
        if (rows.empty())
            continue;
        sql->append(rows.front().front().toString());
        if (!execute(u"DROP TRIGGER "_s + quote(trigger), {}, error))
            return false;
    }
    return true;
}

bool Connection::markBulk(bool on, QString* error)
{
    std::vector<Row> rows;
    return select(u"SELECT set_config('kordao.bulk', ?, true)"_s, {on ? u"on"_s : u"off"_s},
                  &rows, error);
}

bool Connection::auditBulk(const TableInfo& table, const QString& action, qint64 records,
                           QString* error)
{
    if (m_engine != Engine::Sqlite)
        return true;
    const std::optional<bool> yes = audited(table, error);
    if (!yes)
        return false;
    if (!*yes)
        return true;
    AuditEntry e;
    e.table = table.name;
    e.action = action;
    e.changes = u"{\"records\":%1}"_s.arg(records);
    return writeAudit(e, error);
}

bool Connection::begin(QString* error)
{
    m_commitFailed = false;
    m_lostCommit = CommitLoss::None;
    if (m_inTransaction) {
        *error = u"トランザクションは既に開始されています。"_s;
        m_lastFailure = FailureKind::Other;
        return false;
    }
    if (m_engine == Engine::Sqlite) {
        // The write lock is taken now, waiting up to the lock timeout, so that two writers queue
        // here instead of one failing at its first write.
        if (!execute(u"BEGIN IMMEDIATE"_s, {}, error))
            return false;
        m_inTransaction = true;
        return true;
    }
    m_written.clear();
    m_writtenIndex.clear();
    m_writtenComplete = true;
    for (int attempt = 0;; ++attempt) {
        if (!ensureConnected(error))
            return false;
        countStatement();
        if (m_db.transaction())
            break;
        *error = errorText(m_db.lastError());
        notePostgresFailure(m_db.lastError());
        // Nothing is lost by beginning again on a new connection.
        if (m_lastFailure != FailureKind::Lost || attempt > 0)
            return false;
    }
    m_inTransaction = true;
    return true;
}

bool Connection::commit(QString* error)
{
    if (!m_inTransaction) {
        *error = u"トランザクションが開始されていません。"_s;
        m_lastFailure = FailureKind::Other;
        return false;
    }
    // Loads still open are written back first, so the committed counters and triggers are whole;
    // the writer of the transaction goes, so that a later write by other means has none.
    while (!m_bulkLoads.empty() || m_writerNoted) {
        bool ok;
        if (!m_bulkLoads.empty()) {
            const QString table = m_bulkLoads.begin()->first; // a copy: the entry goes
            ok = restoreBulkLoad(table, error);
        } else {
            m_writerNoted = false;
            m_writerBulk = false;
            ok = execute(u"DELETE FROM "_s + quote(QString::fromUtf16(kWriterTable)), {}, error);
        }
        if (!ok) {
            forgetBulkLoads();
            QString ignored;
            rollback(&ignored);
            m_commitFailed = true;
            return false;
        }
    }
    m_bulkMarks = 0; // the mark was local to the transaction
    bool ok;
    if (m_engine == Engine::Sqlite) {
        ok = execute(u"COMMIT"_s, {}, error);
    } else {
        countStatement();
        ok = m_db.commit();
        if (!ok) {
            *error = errorText(m_db.lastError());
            notePostgresFailure(m_db.lastError());
        }
    }
    if (!ok) {
        // A commit that failed leaves nothing half done: undo what is left, keeping the
        // commit's own failure.
        const FailureKind kind = m_lastFailure;
        std::vector<Written> written = std::move(m_written);
        m_written.clear();
        m_writtenIndex.clear();
        const bool complete = m_writtenComplete;
        QString ignored;
        rollback(&ignored);
        m_lastFailure = kind;
        m_commitFailed = true;
        // Lost during COMMIT, the transaction may have been committed all the same.
        if (kind == FailureKind::Lost)
            return settleLostCommit(std::move(written), complete, error);
        return false;
    }
    m_inTransaction = false;
    m_written.clear();
    m_writtenIndex.clear();
    return true;
}

void Connection::noteWritten(const std::shared_ptr<const TableInfo>& table,
                             const std::vector<QVariant>& row, bool deleted,
                             const std::vector<QVariant>* before)
{
    if (!m_inTransaction || m_engine != Engine::Postgres || !m_writtenComplete)
        return;
    // A transaction of many records (a load) is not worth the memory: past this many, a lost
    // commit is simply unknown.
    constexpr std::size_t kMaxWritten = 1000;
    if (table->rowAddress >= 0 || table->primaryKey.empty() || m_written.size() >= kMaxWritten) {
        // A record without a key cannot be found again for sure.
        m_writtenComplete = false;
        m_written.clear();
        m_writtenIndex.clear();
        return;
    }
    QString key = table->name;
    for (int column : table->primaryKey)
        key += QChar(0x1f) + row[std::size_t(column)].toString();
    // The last write of a key is what the record must be; the first one knew what it was.
    if (const auto it = m_writtenIndex.constFind(key); it != m_writtenIndex.constEnd()) {
        Written& w = m_written[it.value()];
        w.row = row;
        w.deleted = deleted;
        return;
    }
    m_writtenIndex.insert(key, m_written.size());
    Written w{table, row, deleted, std::nullopt};
    if (before)
        w.before = *before;
    m_written.push_back(std::move(w));
}

namespace {

// Whether a value read back is the value written: NULL only equals NULL, amounts and codes by
// their amount (PostgreSQL reads NUMERIC back as decimal text), texts exactly.
bool sameStored(const ColumnInfo& c, const QVariant& read, const QVariant& written)
{
    if (c.kind == ColumnKind::Text || isSqlNull(read) || isSqlNull(written))
        return sameValue(read, written);
    const std::optional<Currency> a = amountOf(read);
    const std::optional<Currency> b = amountOf(written);
    return a && b && *a == *b;
}

// Whether the record \p read (nullptr: none) is \p expected (nullptr: none).
bool sameRecord(const TableInfo& t, const std::vector<QVariant>* read,
                const std::vector<QVariant>* expected)
{
    if (!read || !expected)
        return !read && !expected;
    for (std::size_t i = 0; i < t.columns.size(); ++i)
        if (int(i) != t.rowAddress && !sameStored(t.columns[i], (*read)[i], (*expected)[i]))
            return false;
    return true;
}

} // namespace

// Reads the record of \p w's key back and tells whether it is as the transaction wrote it, as it
// was before, or neither.
bool Connection::readBack(const Written& w, Outcome* outcome, QString* error)
{
    const TableInfo& t = *w.table;
    QString where;
    QVariantList binds;
    for (int column : t.primaryKey) {
        where += (where.isEmpty() ? QString() : u" AND "_s) +
                 quote(t.columns[std::size_t(column)].name) + u" = ?"_s;
        binds.push_back(w.row[std::size_t(column)]);
    }
    std::vector<Row> rows;
    if (!select(t.selectAll + u" WHERE "_s + where, binds, &rows, error))
        return false;
    const Row* now = rows.empty() ? nullptr : &rows.front();
    const bool asWritten = sameRecord(t, now, w.deleted ? nullptr : &w.row);
    const bool asBefore = sameRecord(t, now, w.before ? &*w.before : nullptr);
    *outcome = asWritten && asBefore ? Outcome::Either
               : asWritten           ? Outcome::Written
               : asBefore            ? Outcome::Before
                                     : Outcome::Neither;
    return true;
}

// The connection was lost during COMMIT: connects again and reads back what the transaction
// wrote. The server commits a transaction whole or not at all, so records as written mean it
// committed and records as they were before mean it did not (a record written as it already was
// tells nothing); a mixture (another desk changed some since) or a server out of reach leaves
// it unknown.
bool Connection::settleLostCommit(std::vector<Written> written, bool complete, QString* error)
{
    const QString lost = *error;
    m_lostCommit = CommitLoss::Unknown;
    const auto unknown = [&](const QString& why) {
        *error = u"確定（COMMIT）の途中でデータベースとの接続が切れたため、保存されたかどうか"
                 "分かりません (%1): %2"_s.arg(why, lost);
        m_lastFailure = FailureKind::Lost;
        return false;
    };
    if (!complete || written.empty())
        return unknown(u"書き込んだレコードを確かめられません"_s);
    std::size_t saved = 0;
    std::size_t notSaved = 0;
    for (const Written& w : written) {
        Outcome outcome = Outcome::Neither;
        QString readError;
        if (!readBack(w, &outcome, &readError))
            return unknown(u"読み直せません: "_s + readError);
        if (outcome == Outcome::Neither)
            return unknown(u"書き込んだレコードが他の端末で変更されています"_s);
        saved += outcome == Outcome::Written;
        notSaved += outcome == Outcome::Before;
    }
    if (saved > 0 && notSaved > 0)
        return unknown(u"書き込んだレコードの一部が他の端末で変更されています"_s);
    if (notSaved == 0) {
        m_lostCommit = CommitLoss::Saved;
        m_commitFailed = false;
        m_lastFailure = FailureKind::Other;
        *error = u"確定（COMMIT）の途中でデータベースとの接続が切れましたが、接続し直して読み直し、"
                 "保存されていることを確かめました。"_s;
        return true;
    }
    m_lostCommit = CommitLoss::NotSaved;
    m_lastFailure = FailureKind::Lost;
    *error = lost;
    return false;
}

bool Connection::rollback(QString* error)
{
    if (!m_inTransaction) {
        *error = u"トランザクションが開始されていません。"_s;
        return false;
    }
    m_inTransaction = false;
    m_written.clear();
    m_writtenIndex.clear();
    m_writerNoted = false;
    m_writerBulk = false;
    m_bulkMarks = 0;
    forgetBulkLoads();
    if (m_lost)
        return true; // the server undid the transaction when the connection went
    bool ok;
    if (m_engine == Engine::Sqlite) {
        // SQLite may have undone the transaction itself (after an I/O or memory failure).
        ok = sqlite3_get_autocommit(m_sqlite) != 0 || execute(u"ROLLBACK"_s, {}, error);
    } else {
        countStatement();
        ok = m_db.rollback();
        if (!ok) {
            *error = errorText(m_db.lastError());
            notePostgresFailure(m_db.lastError());
        }
    }
    return ok;
}

short Connection::statusOf(short own) const
{
    switch (m_lastFailure) {
    case FailureKind::Busy:
        return kLockTimeout;
    case FailureKind::StatementTimeout:
        return kStatementTimeout;
    case FailureKind::Lost:
        return kConnectionLost;
    case FailureKind::Unreadable:
        // A read that failed for want of the data, not because its statement was wrong.
        return own == -66 ? short(-3) : own;
    case FailureKind::Other:
    case FailureKind::Duplicate:
        break;
    }
    return own;
}

void Connection::noteSqliteFailure()
{
    const int code = sqlite3_extended_errcode(m_sqlite);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        m_lastFailure = FailureKind::Busy;
        return;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
        m_lastFailure = FailureKind::Unreadable;
        return;
    default:
        break;
    }
    m_lastFailure = code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE
                        ? FailureKind::Duplicate
                        : FailureKind::Other;
}

void Connection::notePostgresFailure(const QSqlError& e)
{
    const QString state = e.nativeErrorCode();
    if (state == u"55P03"_s || state == u"40P01"_s || state == u"40001"_s) {
        // lock_timeout, deadlock, serialization failure
        m_lastFailure = FailureKind::Busy;
    } else if (state == u"57014"_s) {
        // query_canceled: the statement timeout when the statement ran that long, otherwise a
        // cancel from outside (an administrator's pg_cancel_backend), which is a failure of
        // the operation like any other. Only the server's text, in the server's language, tells
        // the two apart; the time the statement ran does so in any language.
        const qint64 limitMs =
            m_settings.statementLimit ? qint64(m_settings.statementTimeout) * 1000 : 0;
        m_lastFailure = limitMs > 0 && m_statementClock.isValid() &&
                                m_statementClock.elapsed() >= limitMs - kClockSlackMs
                            ? FailureKind::StatementTimeout
                            : FailureKind::Other;
    } else if (state == u"23505"_s) {
        m_lastFailure = FailureKind::Duplicate;
    } else if (state.startsWith(u"53"_s) || state.startsWith(u"58"_s) ||
               state.startsWith(u"XX"_s)) {
        // Insufficient resources (disk full, memory), a system (I/O) error, data corrupted.
        m_lastFailure = FailureKind::Unreadable;
    } else if (state.startsWith(u"08"_s) || state == u"57P01"_s || state == u"57P02"_s ||
               state == u"57P03"_s || (state.isEmpty() && !serverAlive())) {
        // Connection failures, the server shutting down; or a failure the client library
        // reported without a server state, on a connection that no longer answers.
        m_lastFailure = FailureKind::Lost;
        m_lost = true;
    } else {
        m_lastFailure = FailureKind::Other;
    }
}

bool Connection::serverAlive()
{
    QSqlQuery probe(m_db);
    countStatement();
    if (probe.exec(u"SELECT 1"_s))
        return true;
    // A server that answers with a state (an aborted transaction, say) is there.
    return !probe.lastError().nativeErrorCode().isEmpty();
}

bool Connection::ensureConnected(QString* error)
{
    if (!m_lost)
        return true;
    if (m_inTransaction) {
        *error = u"データベースとの接続が切れています。"_s;
        m_lastFailure = FailureKind::Lost;
        return false;
    }
    // Statements prepared on the old connection are gone with it.
    dropStatements();
    forgetBulkLoads();
    m_db.close();
    if (!m_db.open()) {
        *error = u"データベース %1 に接続し直せません: %2"_s.arg(m_settings.database,
                                                                   errorText(m_db.lastError()));
        m_lastFailure = FailureKind::Lost;
        return false;
    }
    m_lost = false;
    return true;
}

std::optional<bool> Connection::audited(const TableInfo& table, QString* error)
{
    if (table.name == QString::fromUtf16(kAuditTable) ||
        table.name == QString::fromUtf16(kRowCountTable))
        return false;
    const Facts* f = facts(error);
    if (!f)
        return std::nullopt;
    return f->audited;
}


bool Connection::writeAudit(const AuditEntry& e, QString* error)
{
    // The server's clock and (PostgreSQL) the login that makes the change.
    const QString sql =
        u"INSERT INTO "_s + quote(QString::fromUtf16(kAuditTable)) +
        u" (\"AT\", \"DBUSER\", \"OSUSER\", \"HOST\", \"PROGRAM\", \"TABLENAME\", \"SYOKCD\", "
        "\"RECKEY\", \"ACTION\", \"CHANGES\") VALUES ("_s +
        (m_engine == Engine::Sqlite
             ? u"strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), NULL"_s
             : u"to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS'), session_user"_s) +
        u", ?, ?, ?, ?, ?, ?, ?, ?)"_s;
    const Author& a = author();
    return execute(sql, {a.osUser, a.host, a.program, e.table, e.syokcd, e.key, e.action, e.changes},
                   error);
}

bool Connection::noteWriter(const TableInfo& table, QString* error)
{
    if (m_engine != Engine::Sqlite || m_writerNoted || !m_inTransaction)
        return true;
    const std::optional<bool> yes = audited(table, error);
    if (!yes)
        return false;
    return !*yes || setWriter(false, error);
}

bool Connection::setWriter(bool bulk, QString* error)
{
    if (m_writerNoted && m_writerBulk == bulk)
        return true;
    const Facts* f = facts(error);
    if (!f)
        return false;
    if (!f->writer)
        return true;
    const Author& a = author();
    if (!execute(u"INSERT OR REPLACE INTO "_s + quote(QString::fromUtf16(kWriterTable)) +
                     u" (\"ONE\", \"PROGRAM\", \"OSUSER\", \"HOST\", \"BULK\") "
                     "VALUES (1, ?, ?, ?, ?)"_s,
                 {a.program, a.osUser, a.host, bulk ? 1 : 0}, error))
        return false;
    m_writerNoted = true;
    m_writerBulk = bulk;
    return true;
}

bool storedValue(const ColumnInfo& c, const QVariant& v, Engine engine, QVariant* out,
                 QString* error)
{
    std::optional<Currency> amount;
    bool isText = false;
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt: {
        const qlonglong n = v.toLongLong();
        if (n <= kMaxYen && n >= -kMaxYen)
            amount = Currency::fromYen(n);
        break;
    }
    case QMetaType::QString:
        isText = true;
        if (c.kind != ColumnKind::Text)
            amount = Currency::parse(v.toString());
        break;
    default:
        if (v.metaType() == QMetaType::fromType<Currency>()) {
            amount = v.value<Currency>();
            break;
        }
        *error = u"項目「%1」に %2 型の値は書けません。"_s.arg(c.name,
                                                               QString::fromLatin1(v.typeName()));
        return false;
    }

    switch (c.kind) {
    case ColumnKind::Text:
        // A null text is NULL on both engines; an empty one is ''.
        if (isText && isSqlNull(v))
            *out = QVariant();
        else
            *out = isText || !amount ? v.toString() : amount->toPlainString();
        return true;
    case ColumnKind::Integer:
        if (!amount || amount->raw() % Currency::kScale != 0) {
            *error = u"項目「%1」に整数でない値「%2」は書けません。"_s.arg(
                c.name, amount ? amount->toPlainString() : v.toString());
            return false;
        }
        *out = qlonglong(amount->raw() / Currency::kScale);
        return true;
    case ColumnKind::Number:
        if (!amount) {
            *error = u"項目「%1」に数値でない値「%2」は書けません。"_s.arg(c.name, v.toString());
            return false;
        }
        // Whole amounts are stored as integers. A fraction goes to SQLite as the double nearest
        // to it (the raw value and 10^4 are exact, the division rounds once) and to PostgreSQL
        // as exact decimal text for its NUMERIC.
        if (amount->raw() % Currency::kScale == 0)
            *out = qlonglong(amount->raw() / Currency::kScale);
        else if (engine == Engine::Sqlite)
            *out = double(amount->raw()) / double(Currency::kScale);
        else
            *out = amount->toPlainString();
        return true;
    }
    return false;
}

// The exact Currency of a value as the drivers deliver it: an integer, a decimal text (SQLite
// REAL through the text the engine prints, PostgreSQL NUMERIC), or a Currency being written.
std::optional<Currency> amountOf(const QVariant& v)
{
    if (v.metaType() == QMetaType::fromType<Currency>())
        return v.value<Currency>();
    switch (v.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        constexpr qlonglong limit = std::numeric_limits<qint64>::max() / Currency::kScale;
        if (!ok || n > limit || n < -limit)
            return std::nullopt;
        return Currency::fromYen(n);
    }
    case QMetaType::Double: {
        // SQLite keeps a fractional amount as the nearest double; its exact expansion rounded
        // to four decimals gives back the decimal that was written (below 4.5e11 yen, where
        // the spacing of doubles is under 0.0001).
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        // Below 1e11 the product is within a quarter of a unit of the nearest 1/10000.
        if (std::fabs(d) < 1e11)
            return Currency::fromRaw(std::llround(d * double(Currency::kScale)));
        return Currency::parse(QString::number(d, 'f', 9));
    }
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return Currency::parse(v.toString().trimmed());
    default:
        return std::nullopt;
    }
}

void rollbackAllOpenTransactions()
{
    std::vector<Connection*> open;
    {
        std::lock_guard lock(g_registryMutex);
        open = registry();
    }
    for (Connection* c : open) {
        if (c->inTransaction()) {
            QString ignored;
            c->rollback(&ignored);
        }
    }
}

} // namespace KorDAO
