#include "postgresengine.h"

#include "kordao/schema.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// What the client's clock may lag behind the server's statement timer, in ms: the client starts
// timing before the statement is sent, so it never reads less than the server's time, but whole
// milliseconds are compared.
constexpr qint64 kClockSlackMs = 5;

// How long libpq waits for a server to answer a connection request (connect_timeout).
constexpr qint64 kConnectTimeoutMs = 10000;

// Bounds the prepared statements a connection keeps (one per distinct SQL text).
constexpr qsizetype kMaxStatements = 256;

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
        {u"sslmode", sslMode}, {u"sslrootcert", s.sslRootCert},        {u"sslcert", s.sslCert},
        {u"sslkey", s.sslKey}, {u"channel_binding", s.channelBinding},
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
// \p create, a missing one is created. Unknown when the server cannot be asked; a failure (the
// driver's text) when the creation failed.
mox::Result<Presence> postgresDatabasePresence(const DbSettings& s, bool create)
{
    const QString name = nextConnectionName();
    Presence presence = Presence::Unknown;
    QString createError;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        setPostgresServer(&db, s);
        db.setDatabaseName(u"postgres"_s);
        countConnection();
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
                    createError = Connection::errorText(q.lastError());
                    presence = Presence::Unknown;
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!createError.isEmpty())
        return mox::Status::failure(kOpenFailed, createError);
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

PostgresEngine::~PostgresEngine()
{
    settleCopy();
    dropStatements();
}

namespace {

// The database of \p s refused the connection: why, and whether it is missing
// (kDatabaseMissing) or refused (kOpenFailed); success when it was missing and \p created now.
// \p connecting ran while the connection was asked for.
mox::Status refusal(const DbSettings& s, const QString& text, const QElapsedTimer& connecting,
                    bool createIfMissing, bool* created)
{
    *created = false;
    if (const QString reason = tlsRefusalReason(s, text); !reason.isEmpty())
        return mox::Status::failure(
            kOpenFailed,
            u"データベース %1 に接続できません。%2\n(%3)"_s.arg(s.database, reason, text));
    // A server that did not answer within connect_timeout is not asked again.
    Presence presence = Presence::Unknown;
    if (connecting.elapsed() < kConnectTimeoutMs - 1000) {
        const mox::Result<Presence> asked = postgresDatabasePresence(s, createIfMissing);
        if (const mox::Status* failure = mox::failure(asked))
            return mox::Status::failure(kOpenFailed, u"データベース %1 を作成できません: %2"_s.arg(
                                                         s.database, failure->message));
        presence = mox::value(asked);
    }
    if (presence == Presence::Created) {
        *created = true;
        return {};
    }
    // Without an answer from the server's own database (a login allowed into the payroll
    // databases only), the server's words are all there is.
    const bool missing =
        presence == Presence::Unknown
            ? (text.contains(u"does not exist"_s) && text.contains(u"database"_s)) ||
                  (text.contains(u"データベース"_s) && text.contains(u"存在しません"_s))
            : presence == Presence::Missing;
    return mox::Status::failure(missing ? kDatabaseMissing : kOpenFailed,
                                u"データベース %1 を開けません: %2"_s.arg(s.database, text));
}

} // namespace

mox::Result<std::shared_ptr<Connection>> PostgresEngine::open(const DbSettings& s,
                                                              bool createIfMissing)
{
    const QString name = nextConnectionName();
    std::shared_ptr<Connection> conn;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        if (!db.isValid()) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            return mox::Status::failure(
                kOpenFailed, u"データベースドライバ %1 を読み込めません。"_s.arg(u"QPSQL"_s));
        }
        db.setDatabaseName(s.database);
        setPostgresServer(&db, s);
        db.setNumericalPrecisionPolicy(QSql::HighPrecision);
        conn = Connection::make(s, db, name);
    }
    countConnection();
    QElapsedTimer connecting;
    connecting.start();
    if (!conn->db().open()) {
        const QString text = Connection::errorText(conn->db().lastError());
        conn.reset();
        bool created = false;
        mox::Status refused = refusal(s, text, connecting, createIfMissing, &created);
        if (created)
            return open(s, false);
        return refused;
    }
    conn->setEngine(std::make_unique<PostgresEngine>(*conn));
    return conn;
}

void PostgresEngine::dropStatements()
{
    m_statements.clear();
}

mox::Result<QSqlQuery*> PostgresEngine::prepared(const QString& sql)
{
    // Every statement is prepared, or found prepared, right before it runs.
    settleCopy();
    m_statementClock.start();
    if (auto it = m_statements.constFind(sql); it != m_statements.constEnd())
        return it.value().get();
    if (m_statements.size() >= kMaxStatements)
        dropStatements();
    auto q = std::make_shared<QSqlQuery>(m_conn.db());
    q->setForwardOnly(true);
    countStatement(); // the server prepares it
    if (!q->prepare(sql))
        return noteFailure(q->lastError());
    m_statements.insert(sql, q);
    return q.get();
}

mox::Status PostgresEngine::select(const QString& sql, const QVariantList& binds,
                                   std::vector<Row>* rows)
{
    const mox::Result<QSqlQuery*> found = prepared(sql);
    if (const mox::Status* failure = mox::failure(found))
        return *failure;
    QSqlQuery* q = mox::value(found);
    for (int i = 0; i < binds.size(); ++i)
        q->bindValue(i, binds[i]);
    if (!q->exec()) {
        mox::Status failure = noteFailure(q->lastError());
        q->finish();
        return failure;
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
    return {};
}

mox::Status PostgresEngine::execute(const QString& sql, const QVariantList& binds,
                                    int* rowsAffected)
{
    const mox::Result<QSqlQuery*> found = prepared(sql);
    if (const mox::Status* failure = mox::failure(found))
        return *failure;
    QSqlQuery* q = mox::value(found);
    for (int i = 0; i < binds.size(); ++i)
        q->bindValue(i, binds[i]);
    mox::Status result;
    if (!q->exec())
        result = noteFailure(q->lastError());
    else if (rowsAffected)
        *rowsAffected = q->numRowsAffected();
    q->finish();
    return result;
}

mox::Status PostgresEngine::begin()
{
    settleCopy();
    countStatement();
    if (m_conn.db().transaction())
        return {};
    return noteFailure(m_conn.db().lastError());
}

mox::Status PostgresEngine::commit()
{
    settleCopy();
    countStatement();
    if (m_conn.db().commit())
        return {};
    return noteFailure(m_conn.db().lastError());
}

mox::Status PostgresEngine::rollback()
{
    settleCopy();
    countStatement();
    if (m_conn.db().rollback())
        return {};
    return noteFailure(m_conn.db().lastError());
}

mox::Status PostgresEngine::noteFailure(const QSqlError& e)
{
    return noteFailure(e.nativeErrorCode(), Connection::errorText(e));
}

mox::Status PostgresEngine::noteFailure(const QString& state, const QString& text)
{
    if (state == u"55P03"_s || state == u"40P01"_s || state == u"40001"_s) {
        // lock_timeout, deadlock, serialization failure
        m_lastFailure = FailureKind::Busy;
    } else if (state == u"57014"_s) {
        // query_canceled: the statement timeout when the statement ran that long, otherwise a
        // cancel from outside (an administrator's pg_cancel_backend), which is a failure of
        // the operation like any other. Only the server's text, in the server's language, tells
        // the two apart; the time the statement ran does so in any language.
        const DbSettings& s = m_conn.settings();
        const qint64 limitMs = s.statementLimit ? qint64(s.statementTimeout) * 1000 : 0;
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
    return failed(text);
}

bool PostgresEngine::serverAlive()
{
    settleCopy();
    QSqlQuery probe(m_conn.db());
    countStatement();
    if (probe.exec(u"SELECT 1"_s))
        return true;
    // A server that answers with a state (an aborted transaction, say) is there.
    return !probe.lastError().nativeErrorCode().isEmpty();
}

mox::Status PostgresEngine::reconnect()
{
    // Statements prepared on the old connection are gone with it.
    settleCopy();
    dropStatements();
    m_bulkMarks = 0;
    QSqlDatabase& db = m_conn.db();
    db.close();
    if (!db.open()) {
        m_lastFailure = FailureKind::Lost;
        return failed(u"データベース %1 に接続し直せません: %2"_s.arg(
            m_conn.settings().database, Connection::errorText(db.lastError())));
    }
    m_lost = false;
    return {};
}

QString PostgresEngine::columnsQuery() const
{
    return u"SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull, "
           "COALESCE((SELECT k.n FROM pg_index i, unnest(i.indkey) WITH ORDINALITY AS k(att, n) "
           "WHERE i.indrelid = a.attrelid AND i.indisprimary AND k.att = a.attnum), 0) "
           "FROM pg_attribute a WHERE a.attrelid = to_regclass(quote_ident(?)) "
           "AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"_s;
}

QString PostgresEngine::tablesQuery() const
{
    return u"SELECT relname::text FROM pg_class WHERE oid IN (to_regclass(quote_ident(?)), "
           "to_regclass(quote_ident(?)), to_regclass(quote_ident(?)))"_s;
}

ColumnInfo PostgresEngine::rowAddressColumn() const
{
    return {u"ctid"_s, ColumnKind::Text, true};
}

QString PostgresEngine::rowAddressSelected() const
{
    return u"ctid::text"_s;
}

QString PostgresEngine::rowAddressCompared() const
{
    return u"ctid"_s;
}

QString PostgresEngine::nullsFirst(bool descending) const
{
    return descending ? u" NULLS LAST"_s : u" NULLS FIRST"_s;
}

QString PostgresEngine::newAddressReturned() const
{
    return u" RETURNING ctid::text"_s;
}

QString PostgresEngine::auditTimeAndLogin() const
{
    return u"to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS'), session_user"_s;
}

QVariant PostgresEngine::fraction(Currency amount) const
{
    return amount.toPlainString(); // exact decimal text for NUMERIC
}

QString PostgresEngine::location() const
{
    return u"PostgreSQL サーバー %1 のデータベース %2"_s.arg(serverName(m_conn.settings()),
                                                             m_conn.settings().database);
}

bool isPostgres(const DatabaseHandle& db)
{
    return db && db->settings().engine == Engine::Postgres;
}

} // namespace KorDAO
