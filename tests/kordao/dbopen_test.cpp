#include "testdatabase.h"

#include "kordao/kordao.h"

#include <gtest/gtest.h>

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
    };
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
