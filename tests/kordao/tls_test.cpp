// Desks on a server reached over the network: encrypted and verified connections, the refusals
// and what they say, and a missing database told on a server that answers in Japanese.
//
// Run by tests/scripts/tls_desk_test.sh, which makes the certificates and starts the servers:
//   MOX_TEST_TLS_PGHOST / MOX_TEST_TLS_PGPORT   server with a certificate for "localhost" (its
//                                               socket folder, trusted, for setting up)
//   MOX_TEST_TLS_OTHER_PGPORT                   server with a certificate for another name
//   MOX_TEST_TLS_CA                             the CA that signed both certificates
//   MOX_TEST_TLS_STRANGER_CA                    a CA that signed neither
// Without them the tests are skipped.
#include "connection.h"

#include "kordao/kordao.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <atomic>

using namespace Qt::StringLiterals;

namespace kordaotest {
namespace {

constexpr char16_t kLogin[] = u"mox_tls_desk";
constexpr char16_t kPassword[] = u"pa ss'wo\\rd";

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

// Runs \p sql as the superuser over the trusted socket of the localhost server.
bool adminExec(const QString& sql, const QString& database = u"postgres"_s,
               QVariant* first = nullptr)
{
    static std::atomic<int> counter{0};
    const QString name = u"tls-admin-%1"_s.arg(++counter);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        db.setHostName(env("MOX_TEST_TLS_PGHOST"));
        db.setPort(env("MOX_TEST_TLS_PGPORT").toInt());
        db.setUserName(u"postgres"_s);
        db.setDatabaseName(database);
        db.setConnectOptions(u"options='-c client_min_messages=warning'"_s);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(sql);
            if (ok && first && q.next())
                *first = q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// A desk of its own: a folder with its MOX.INI (0600: it holds the password), made
// $MOX_INI_DIR while the desk lives, and a login with a password on both servers.
class TlsDesk : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (env("MOX_TEST_TLS_PGPORT").isEmpty())
            return;
        // The login exists on the localhost server only: the other-name server refuses while
        // the connection is being encrypted, before any login is checked.
        adminExec(u"DROP DATABASE IF EXISTS mox_tls WITH (FORCE)"_s);
        adminExec(u"DROP ROLE IF EXISTS %1"_s.arg(QString::fromUtf16(kLogin)));
        ASSERT_TRUE(adminExec(u"CREATE ROLE %1 LOGIN CREATEDB PASSWORD '%2'"_s.arg(
            QString::fromUtf16(kLogin), QString::fromUtf16(kPassword).replace(u"'"_s, u"''"_s))));
        ASSERT_TRUE(
            adminExec(u"CREATE DATABASE mox_tls OWNER %1"_s.arg(QString::fromUtf16(kLogin))));
    }

    void SetUp() override
    {
        if (env("MOX_TEST_TLS_PGPORT").isEmpty())
            GTEST_SKIP() << "MOX_TEST_TLS_PGPORT is not set (tests/scripts/tls_desk_test.sh)";
        qputenv("MOX_INI_DIR", m_dir.path().toUtf8());
        // The CA under a folder name that needs quoting in libpq's connection string.
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(kCaFolder));
        ASSERT_TRUE(
            QFile::copy(env("MOX_TEST_TLS_CA"), m_dir.filePath(kCaFolder + u"/office-ca.crt"_s)));
        ASSERT_TRUE(
            QFile::copy(env("MOX_TEST_TLS_STRANGER_CA"), m_dir.filePath(u"stranger.crt"_s)));
    }

    void TearDown() override { qunsetenv("MOX_INI_DIR"); }

    // Opens the database through a MOX.INI of [Database] lines \p lines after the common ones.
    short open(const QString& lines, const QString& database = u"mox_tls"_s,
               const QString& port = env("MOX_TEST_TLS_PGPORT"))
    {
        QFile ini(m_dir.filePath(u"MOX.INI"_s));
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write((u"[Database]\nDriver=QPSQL\nDatabase=%1\nPort=%2\nUser=%3\nPassword=%4\n"_s.arg(
                       database, port, QString::fromUtf16(kLogin), QString::fromUtf16(kPassword)) +
                   lines)
                      .toUtf8());
        ini.close();
        ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        m_db = std::make_unique<KorDAO::clsDbAccess>();
        m_db->setDBIniNameString(u"MOX.INI"_s);
        m_db->setPrivateConnection(true);
        m_db->setCreateIfMissing(m_create);
        return m_db->DAO_DBOpen();
    }
    std::string lastError() const { return m_db->lastError().toStdString(); }

    // The first value of \p sql on the desk's own connection.
    QVariant ask(const QString& sql)
    {
        std::vector<KorDAO::Connection::Row> rows;
        const mox::Status read = m_db->DBDatabase()->select(sql, {}, &rows);
        EXPECT_TRUE(read.ok()) << read.message.toStdString();
        return rows.empty() ? QVariant() : rows.front().front();
    }

    static inline const QString kCaFolder = u"ca dir's \\copy"_s;
    static inline const QString kCa = u"SslRootCert="_s + kCaFolder + u"/office-ca.crt\n"_s;
    QTemporaryDir m_dir;
    std::unique_ptr<KorDAO::clsDbAccess> m_db;
    bool m_create = false;
};

TEST_F(TlsDesk, VerifiedDeskConnectsEncrypted)
{
    ASSERT_EQ(open(u"Host=localhost\nSslMode=verify-full\n"_s + kCa), 0) << lastError();
    EXPECT_EQ(ask(u"SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()"_s).toBool(), true);
    EXPECT_EQ(ask(u"SELECT session_user"_s).toString(), QString::fromUtf16(kLogin));
}

TEST_F(TlsDesk, NetworkHostIsVerifiedWithoutBeingAsked)
{
    // No SslMode=: a desk naming a network host verifies the server all the same, so a CA file
    // that is not there stops it (libpq's own default would connect unverified).
    qputenv("PGSSLROOTCERT", m_dir.filePath(u"nowhere/root.crt"_s).toUtf8());
    const short st = open(u"Host=localhost\n"_s);
    qunsetenv("PGSSLROOTCERT");
    EXPECT_EQ(st, -1);
    EXPECT_NE(lastError().find("CA 証明書ファイル"), std::string::npos) << lastError();

    // With the CA named it connects, encrypted.
    ASSERT_EQ(open(u"Host=localhost\n"_s + kCa), 0) << lastError();
    EXPECT_EQ(ask(u"SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()"_s).toBool(), true);
}

TEST_F(TlsDesk, RefusalsNameTheHostAndTheReason)
{
    const QString port = env("MOX_TEST_TLS_PGPORT");
    const struct {
        const char* name;
        QString lines;
        QString port;
        const char* reason;
        const char* also; // a further word of the reason: the file, the key to change
    } cases[] = {
        {"certificate for another name", u"Host=localhost\n"_s + kCa,
         env("MOX_TEST_TLS_OTHER_PGPORT"), "別のホスト名", "Host="},
        {"CA file missing", u"Host=localhost\nSslRootCert=missing/office-ca.crt\n"_s, port,
         "CA 証明書ファイル", "missing/office-ca.crt"},
        {"CA that did not sign the certificate", u"Host=localhost\nSslRootCert=stranger.crt\n"_s,
         port, "確かめられませんでした", "発行元が不明"},
        {"unencrypted connection to a server that requires encryption",
         u"Host=localhost\nSslMode=disable\n"_s, port, "暗号化されていない接続を受け付けません",
         "SslMode=disable"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(open(c.lines, u"mox_tls"_s, c.port), -1) << c.name << ": " << lastError();
        const std::string server = "localhost:" + c.port.toStdString();
        EXPECT_NE(lastError().find(server), std::string::npos) << c.name << ": " << lastError();
        EXPECT_NE(lastError().find(c.reason), std::string::npos) << c.name << ": " << lastError();
        EXPECT_NE(lastError().find(c.also), std::string::npos) << c.name << ": " << lastError();
        EXPECT_FALSE(m_db->DBDatabase()) << c.name;
    }
}

TEST_F(TlsDesk, MissingDatabaseIsToldWhateverLanguageTheServerSpeaks)
{
    QVariant language;
    ASSERT_TRUE(adminExec(u"SHOW lc_messages"_s, u"postgres"_s, &language));
    if (!language.toString().startsWith(u"ja_JP"_s))
        GTEST_SKIP() << "the server does not answer in Japanese (lc_messages "
                     << language.toString().toStdString() << "): no ja_JP.UTF-8 locale";
    adminExec(u"DROP DATABASE IF EXISTS mox_tls_new WITH (FORCE)"_s);

    // Missing: -20, and nothing created.
    EXPECT_EQ(open(u"Host=localhost\n"_s + kCa, u"mox_tls_new"_s), -20) << lastError();
    QVariant count;
    ASSERT_TRUE(adminExec(u"SELECT count(*) FROM pg_database WHERE datname = 'mox_tls_new'"_s,
                          u"postgres"_s, &count));
    EXPECT_EQ(count.toInt(), 0);

    // Created when asked, then open.
    m_create = true;
    EXPECT_EQ(open(u"Host=localhost\n"_s + kCa, u"mox_tls_new"_s), 0) << lastError();
    EXPECT_EQ(ask(u"SELECT current_database()"_s).toString(), u"mox_tls_new"_s);
    m_db.reset();
    adminExec(u"DROP DATABASE IF EXISTS mox_tls_new WITH (FORCE)"_s);
}

} // namespace
} // namespace kordaotest
