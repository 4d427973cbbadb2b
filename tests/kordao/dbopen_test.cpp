#include "testdatabase.h"

#include "connection.h"

#include "kordao/kordao.h"

#include <gtest/gtest.h>

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace kordaotest {
namespace {

// Opening through a configuration file; the folder of the test is $MOX_INI_DIR.
class DbOpen : public testing::Test {
protected:
    short open(const QString& ini = u"MOX.INI"_s)
    {
        m_db.setDBIniNameString(ini);
        return m_db.DAO_DBOpen();
    }
    std::string lastError() const { return m_db.lastError().toStdString(); }

    TestDatabase m_test{Backend::Sqlite};
    KorDAO::clsDbAccess m_db;
};

TEST_F(DbOpen, FindsTheDatabaseRelativeToTheIniFolder)
{
    QString error;
    ASSERT_TRUE(m_test.create(&error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(m_test.folder() + u"/data/pay.db"_s));
    EXPECT_EQ(open(), 0) << lastError();
    EXPECT_TRUE(m_db.DBDatabase());
    EXPECT_EQ(m_db.DAO_DBClose(), 0);
    EXPECT_FALSE(m_db.DBDatabase());
}

TEST_F(DbOpen, IniSyntaxToleratesCommentsCaseAndQuotes)
{
    QString error;
    ASSERT_TRUE(m_test.create(&error)) << error.toStdString();
    m_test.writeIni(u"MOX.INI"_s, u"; payroll\n[other]\nDriver=QPSQL\n\n[ database ]\n"
                                  "  ; the file engine\n"
                                  "driver = qsqlite   \n"
                                  "DATABASE=\"data/pay.db\"\n"_s);
    EXPECT_EQ(open(), 0) << lastError();
}

TEST_F(DbOpen, MissingIniIsMinus20NamingTheFile)
{
    EXPECT_EQ(open(u"NOSUCH.INI"_s), -20);
    EXPECT_NE(lastError().find("NOSUCH.INI"), std::string::npos);
}

TEST_F(DbOpen, BadIniContentsNameTheCause)
{
    struct Case {
        const char* name;
        QString text;
        short status;
        const char* mentions;
    };
    const Case cases[] = {
        {"no section", u"Driver=QSQLITE\nDatabase=x.db\n"_s, -1, "[Database]"},
        {"no driver", u"[Database]\nDatabase=x.db\n"_s, -1, "Driver"},
        {"unknown driver", u"[Database]\nDriver=QODBC\nDatabase=x.db\n"_s, -1, "QODBC"},
        {"no database", u"[Database]\nDriver=QSQLITE\n"_s, -18, "Database="},
        {"bad port", u"[Database]\nDriver=QPSQL\nDatabase=x\nPort=http\n"_s, -18, "http"},
        {"missing file", u"[Database]\nDriver=QSQLITE\nDatabase=none/x.db\n"_s, -20, "x.db"},
        {"a folder", u"[Database]\nDriver=QSQLITE\nDatabase=afolder\n"_s, -18,
         "afolder はフォルダです"},
    };
    ASSERT_TRUE(QDir(m_test.folder()).mkpath(u"afolder"_s));
    for (const Case& c : cases) {
        m_test.writeIni(u"BAD.INI"_s, c.text);
        EXPECT_EQ(open(u"BAD.INI"_s), c.status) << c.name;
        EXPECT_NE(lastError().find(c.mentions), std::string::npos) << c.name << ": " << lastError();
        EXPECT_FALSE(m_db.DBDatabase()) << c.name;
    }
    // A missing file is reported, never created.
    EXPECT_FALSE(QFileInfo::exists(m_test.folder() + u"/none"_s));
}

TEST_F(DbOpen, FileThatIsNotADatabaseIsRefused)
{
    QFile junk(m_test.folder() + u"/junk.db"_s);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    m_test.writeIni(u"JUNK.INI"_s, u"[Database]\nDriver=QSQLITE\nDatabase=junk.db\n"_s);
    EXPECT_EQ(open(u"JUNK.INI"_s), -1);
    EXPECT_NE(lastError().find("junk.db"), std::string::npos) << lastError();
}

// A database made on request is its user's alone, and never made through a link planted in its
// place: the link's target is not created.
TEST_F(DbOpen, CreatedFileIsPrivateAndNeverMadeThroughALink)
{
    m_db.setCreateIfMissing(true);
    m_test.writeIni(u"NEW.INI"_s, u"[Database]\nDriver=QSQLITE\nDatabase=new/pay.db\n"_s);
    ASSERT_EQ(open(u"NEW.INI"_s), 0) << lastError();
    EXPECT_EQ(QFile::permissions(m_test.folder() + u"/new/pay.db"_s) & 0x0077, 0);
    EXPECT_EQ(QFile::permissions(m_test.folder() + u"/new"_s) & 0x0077, 0);
    EXPECT_EQ(m_db.DAO_DBClose(), 0);

    const QString target = m_test.folder() + u"/elsewhere.db"_s;
    ASSERT_TRUE(QFile::link(target, m_test.folder() + u"/linked.db"_s));
    m_test.writeIni(u"LINK.INI"_s, u"[Database]\nDriver=QSQLITE\nDatabase=linked.db\n"_s);
    EXPECT_NE(open(u"LINK.INI"_s), 0);
    EXPECT_NE(lastError().find("linked.db"), std::string::npos) << lastError();
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST_F(DbOpen, IniFoldersAreSearchedInOrder)
{
    // The INI of the current folder names a database that does not exist, the one of the
    // configuration folder a good one: which one wins tells which folder was read.
    QString error;
    ASSERT_TRUE(m_test.create(&error)) << error.toStdString();
    QTemporaryDir cwd;
    QTemporaryDir config;
    ASSERT_TRUE(QDir().mkpath(config.path() + u"/mox"_s));
    QFile good(config.path() + u"/mox/ORDER.INI"_s);
    ASSERT_TRUE(good.open(QIODevice::WriteOnly));
    good.write((u"[Database]\nDriver=QSQLITE\nDatabase="_s + m_test.folder() + u"/data/pay.db\n"_s)
                   .toUtf8());
    good.close();
    QFile bad(cwd.path() + u"/ORDER.INI"_s);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[Database]\nDriver=QSQLITE\nDatabase=missing.db\n");
    bad.close();

    const QString oldCwd = QDir::currentPath();
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    QDir::setCurrent(cwd.path());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qunsetenv("MOX_INI_DIR");

    EXPECT_EQ(open(u"ORDER.INI"_s), -20); // the current folder comes first
    QFile::remove(cwd.path() + u"/ORDER.INI"_s);
    EXPECT_EQ(open(u"ORDER.INI"_s), 0) << lastError(); // then $XDG_CONFIG_HOME/mox
    qputenv("MOX_INI_DIR", m_test.folder().toUtf8());
    m_test.writeIni(u"ORDER.INI"_s, u"[Database]\nDriver=QSQLITE\nDatabase=gone.db\n"_s);
    EXPECT_EQ(open(u"ORDER.INI"_s), -20); // $MOX_INI_DIR before all

    QDir::setCurrent(oldCwd);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

// A PostgreSQL database of its own, opened through a MOX.INI with the [Database] lines \p extra
// added (LockTimeout=, StatementTimeout=).
class DbOpenPostgresSession : public testing::Test {
protected:
    void SetUp() override
    {
        if (!postgresAvailable())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
        QString error;
        ASSERT_TRUE(m_test.create(&error)) << error.toStdString();
    }
    void configure(const QString& extra)
    {
        m_test.writeIni(u"MOX.INI"_s,
                        u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s.arg(
                            m_test.rawScalar(u"SELECT current_database()"_s).toString(),
                            qEnvironmentVariable("MOX_TEST_PGHOST"),
                            qEnvironmentVariable("MOX_TEST_PGPORT"),
                            qEnvironmentVariable("MOX_TEST_PGUSER")) +
                            extra);
    }
    std::unique_ptr<KorDAO::clsDbAccess> open(const QString& extra)
    {
        configure(extra);
        return m_test.open();
    }
    // Runs \p sql through the component's read path; its status as the programs would get it.
    static short run(KorDAO::clsDbAccess& db, const QString& sql, QString* error)
    {
        std::vector<KorDAO::Connection::Row> rows;
        const KorDAO::DatabaseHandle c = db.DBDatabase();
        const mox::Status s = c->select(sql, {}, &rows);
        *error = s.message;
        // The failure carries the status of its kind itself (a lock wait, a statement cut off).
        if (!s.ok()) {
            EXPECT_EQ(s.code, c->statusOf(KorDAO::kUpdateFailed)) << error->toStdString();
        }
        return s.ok() ? short(0) : c->statusOf(-3);
    }

    TestDatabase m_test{Backend::Postgres};
};

TEST_F(DbOpenPostgresSession, StatementLimitIsItsOwnSettingApartFromTheLockWait)
{
    auto db = open(u"LockTimeout=1\nStatementTimeout=2\n"_s);
    ASSERT_TRUE(db);
    QString error;
    // Slower than the lock wait, within the statement limit: a slow read, not a busy desk.
    EXPECT_EQ(run(*db, u"SELECT pg_sleep(1.3)"_s, &error), 0) << error.toStdString();
    // Beyond the statement limit: its own status, not the lock wait's.
    EXPECT_EQ(run(*db, u"SELECT pg_sleep(2.5)"_s, &error), KorDAO::kStatementTimeout)
        << error.toStdString();
    // The connection goes on.
    EXPECT_EQ(run(*db, u"SELECT 1"_s, &error), 0) << error.toStdString();

    // A lock held by another connection still gives the lock wait's status after LockTimeout=.
    auto holder = m_test.open();
    ASSERT_TRUE(holder);
    const KorDAO::DatabaseHandle h = holder->DBDatabase();
    ASSERT_TRUE(h->begin().ok());
    std::vector<KorDAO::Connection::Row> rows;
    ASSERT_TRUE(h->select(u"SELECT pg_advisory_xact_lock(4242)"_s, {}, &rows).ok());
    EXPECT_EQ(run(*db, u"SELECT pg_advisory_xact_lock(4242)"_s, &error), KorDAO::kLockTimeout)
        << error.toStdString();
    EXPECT_TRUE(h->rollback().ok());
}

TEST_F(DbOpenPostgresSession, StatementLimitOfZeroAndTheBulkWorkSwitchLiftIt)
{
    auto db = open(u"LockTimeout=1\nStatementTimeout=0\n"_s);
    ASSERT_TRUE(db);
    std::vector<KorDAO::Connection::Row> rows;
    ASSERT_TRUE(
        db->DBDatabase()->select(u"SELECT current_setting('statement_timeout')"_s, {}, &rows).ok());
    EXPECT_EQ(rows.front().front().toString(), u"0"_s);

    configure(u"LockTimeout=1\nStatementTimeout=30\n"_s);
    KorDAO::clsDbAccess bulk;
    bulk.setDBIniNameString(u"MOX.INI"_s);
    bulk.setPrivateConnection(true);
    bulk.setStatementLimit(false);
    ASSERT_EQ(bulk.DAO_DBOpen(), 0) << bulk.lastError().toStdString();
    rows.clear();
    ASSERT_TRUE(
        bulk.DBDatabase()
            ->select(
                u"SELECT current_setting('statement_timeout'), current_setting('lock_timeout')"_s,
                {}, &rows)
            .ok());
    EXPECT_EQ(rows.front()[0].toString(), u"0"_s);
    EXPECT_EQ(rows.front()[1].toString(), u"1s"_s) << "lock waits stay bounded";
}

TEST_F(DbOpenPostgresSession, SessionNamesTheProgramTheUserAndTheHost)
{
    auto db = open(QString());
    ASSERT_TRUE(db);
    std::vector<KorDAO::Connection::Row> rows;
    const mox::Status read = db->DBDatabase()->select(
        u"SELECT application_name FROM pg_stat_activity WHERE pid = pg_backend_pid()"_s, {}, &rows);
    ASSERT_TRUE(read.ok()) << read.message.toStdString();
    const passwd* pw = getpwuid(geteuid());
    ASSERT_TRUE(pw);
    EXPECT_EQ(rows.front().front().toString(),
              u"kordao_test %1@%2"_s.arg(QString::fromLocal8Bit(pw->pw_name),
                                         QSysInfo::machineHostName()));
}

TEST(SessionApplicationName, IsCutToTheServersLimitOnACharacterBoundary)
{
    using KorDAO::sessionApplicationName;
    EXPECT_EQ(sessionApplicationName(u"mox110"_s, u"tanaka"_s, u"desk3"_s),
              u"mox110 tanaka@desk3"_s);
    // 63 bytes exactly stay whole.
    const QString fits = QString(50, u'a');
    EXPECT_EQ(sessionApplicationName(fits, u"user"_s, u"host12"_s).toUtf8().size(), 62);
    EXPECT_EQ(sessionApplicationName(fits, u"user"_s, u"host123"_s).toUtf8().size(), 63);
    EXPECT_EQ(sessionApplicationName(fits, u"user"_s, u"host1234"_s), fits + u" user@host123"_s);
    // Three-byte characters: 63 bytes end right after the 21st of them.
    const QString wide = u"給与計算"_s.repeated(6); // 24 characters, 72 bytes
    const QString cut = sessionApplicationName(wide, u"u"_s, u"h"_s);
    EXPECT_EQ(cut, wide.left(21));
    EXPECT_EQ(cut.toUtf8().size(), 63);
    const QString cut2 = sessionApplicationName(u"a"_s + wide, u"u"_s, u"h"_s);
    EXPECT_EQ(cut2, u"a"_s + wide.left(20)) << "61 bytes: the 21st character would need 64";
}

TEST(DbOpenPostgres, MissingDatabaseIsMinus20AndNotCreated)
{
    if (!postgresAvailable())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    TestDatabase test(Backend::Postgres);
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    EXPECT_EQ(db.DAO_DBOpen(), -20) << db.lastError().toStdString();
    EXPECT_EQ(db.DAO_DBOpen(), -20);
}

} // namespace
} // namespace kordaotest
