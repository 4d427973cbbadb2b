#include "mox/firststart.h"

#include "mox/frmback.h"
#include "mox/shell.h"

#include "kordao/kordao.h"
#include "kordao/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// A desk with nothing set up: no $MOX_INI_DIR, an empty current folder and an empty
// $XDG_CONFIG_HOME. Everything is restored afterwards.
class FirstStart : public testing::Test {
protected:
    void SetUp() override
    {
        if (QFileInfo::exists(u"/etc/mox/MOX.INI"_s))
            GTEST_SKIP() << "/etc/mox/MOX.INI exists on this machine";
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(u"work"_s)));
        save("MOX_INI_DIR");
        save("XDG_CONFIG_HOME");
        qunsetenv("MOX_INI_DIR");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(u"config"_s).toUtf8());
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.filePath(u"work"_s)));
    }
    void TearDown() override
    {
        if (!m_oldCwd.isEmpty())
            QDir::setCurrent(m_oldCwd);
        for (const auto& [name, value] : m_saved) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
    }
    void save(const char* name)
    {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                       ? std::optional<QByteArray>(qgetenv(name))
                                       : std::nullopt);
    }

    QTemporaryDir m_dir;
    QString m_oldCwd;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_saved;
};

TEST_F(FirstStart, NoIniAnywhereSaysHowToCreateTheDatabasesAndEnds)
{
    const QString notice = mox::missingIniNotice();
    EXPECT_TRUE(notice.contains(u"MOX.INI"_s));
    EXPECT_TRUE(notice.contains(u"moxdb init"_s));
    EXPECT_TRUE(notice.contains(QDir::toNativeSeparators(m_dir.filePath(u"config/mox"_s))))
        << "names the folders searched";

    mox::ScriptedShell shell;
    EXPECT_THROW(mox::prsIniCheck(u"個人別給与累計表印刷"_s), mox::ProgramEnded);
    ASSERT_EQ(shell.boxes().size(), 1u);
    EXPECT_EQ(shell.boxes()[0].text, notice);
    EXPECT_EQ(shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_EQ(shell.boxes()[0].title, u"個人別給与累計表印刷"_s);
}

// Where "moxdb init" puts the files on a desk of its own: the programs then start normally.
TEST_F(FirstStart, IniInTheUsersConfigFolderIsEnough)
{
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(u"config/mox"_s)));
    QFile ini(m_dir.filePath(u"config/mox/MOX.INI"_s));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Database]\nDriver=QSQLITE\nDatabase=mox.db\n");
    ini.close();
    EXPECT_TRUE(mox::missingIniNotice().isEmpty());
    mox::ScriptedShell shell;
    mox::prsIniCheck(u"個人別給与累計表印刷"_s);
    EXPECT_TRUE(shell.boxes().empty());
    EXPECT_FALSE(shell.ended());
}

// The background window names the database in use in its corner, the titles staying as they
// are, and a configuration warning comes up once in a box, not only on standard error.
TEST_F(FirstStart, BackgroundWindowNamesTheDatabaseAndShowsTheWarningOnce)
{
    const QString folder = m_dir.filePath(u"config/mox"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile ini(folder + u"/MOX.INI"_s);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Database]\nDriver=QSQLITE\nDatabase=pay.db\nPassword=secret\n");
    ini.close();
    ASSERT_TRUE(ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const auto open = [] {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(u"MOX.INI"_s);
        db.setCreateIfMissing(true);
        db.setPrivateConnection(true);
        EXPECT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
    };

    mox::ScriptedShell shell;
    {
        mox::frmBack back;
        back.showDatabaseNotices();
        const auto* label = back.findChild<QLabel*>(u"lblDatabase"_s);
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(label->text().isEmpty());
        open();
        open();
        EXPECT_TRUE(label->text().contains(u"SQLite "_s + folder + u"/pay.db"_s))
            << label->text().toStdString();
        EXPECT_TRUE(label->text().contains(u"MOX.INI"_s)) << label->text().toStdString();
        EXPECT_EQ(label->text().count(u"pay.db"_s), 1) << "one line per INI file";
        EXPECT_FALSE(label->isHidden());
        EXPECT_EQ(back.windowTitle(), u"Form2"_s);

        ASSERT_EQ(shell.boxes().size(), 1u) << "the warning is shown once";
        EXPECT_EQ(shell.boxes()[0].icon, mox::MsgIcon::Exclamation);
        EXPECT_TRUE(shell.boxes()[0].text.contains(ini.fileName()));
        EXPECT_TRUE(shell.boxes()[0].text.contains(u"Password="_s));
    }
    // The window gone, a database opened later is handed to no one.
    open();
    EXPECT_EQ(shell.boxes().size(), 1u);
}

// Sets the schema version SQLite records in \p file, outside the component.
void setUserVersion(const QString& file, int version)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"firststart-raw"_s);
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(u"PRAGMA user_version = %1"_s.arg(version)));
    }
    QSqlDatabase::removeDatabase(u"firststart-raw"_s);
}

// At start-up, before any table is read, a database of another release's schema version ends
// the program with the database component's message: a newer one naming both versions, an
// older one saying to run moxdb upgrade.
TEST_F(FirstStart, ADatabaseOfAnotherSchemaVersionEndsTheProgramWithItsMessage)
{
    const QString folder = m_dir.filePath(u"config/mox"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const auto& [ini, file] :
         {std::pair{u"MOX.INI"_s, u"pay.db"_s}, std::pair{u"MOXENV.INI"_s, u"env.db"_s}}) {
        QFile f(folder + u'/' + ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(u"[Database]\nDriver=QSQLITE\nDatabase=%1\n"_s.arg(file).toUtf8());
        f.close();
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(ini);
        db.setCreateIfMissing(true);
        db.setPrivateConnection(true);
        ASSERT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
        const mox::Status made = ini == u"MOX.INI"_s
                                     ? KorDAO::createPayrollSchema(db.DBDatabase())
                                     : KorDAO::createEnvironmentSchema(db.DBDatabase());
        ASSERT_TRUE(made.ok()) << made.message.toStdString();
    }
    const QString title = u"期末勤勉手当計算結果入力"_s;
    {
        mox::ScriptedShell shell;
        mox::prsSchemaCheck(title);
        EXPECT_TRUE(shell.boxes().empty());
        EXPECT_FALSE(shell.ended());
    }
    setUserVersion(folder + u"/env.db"_s, 2);
    {
        mox::ScriptedShell shell;
        EXPECT_THROW(mox::prsSchemaCheck(title), mox::ProgramEnded);
        ASSERT_EQ(shell.boxes().size(), 1u);
        const QString text = shell.boxes()[0].text;
        EXPECT_TRUE(text.contains(u"環境データベース"_s)) << text.toStdString();
        EXPECT_TRUE(text.contains(folder + u"/env.db"_s)) << text.toStdString();
        EXPECT_TRUE(text.contains(u"バージョン 2"_s) && text.contains(u"バージョン 1"_s))
            << text.toStdString();
        EXPECT_EQ(shell.boxes()[0].icon, mox::MsgIcon::Critical);
        EXPECT_EQ(shell.boxes()[0].title, title);
    }
    setUserVersion(folder + u"/env.db"_s, 1);
    setUserVersion(folder + u"/pay.db"_s, 0);
    {
        mox::ScriptedShell shell;
        EXPECT_THROW(mox::prsSchemaCheck(title), mox::ProgramEnded);
        ASSERT_EQ(shell.boxes().size(), 1u);
        EXPECT_TRUE(shell.boxes()[0].text.contains(u"給与データベース"_s));
        EXPECT_TRUE(shell.boxes()[0].text.contains(u"moxdb upgrade"_s))
            << shell.boxes()[0].text.toStdString();
    }
}

// The same on a PostgreSQL server: the version kept in its table, a newer one refused.
TEST_F(FirstStart, APostgresDatabaseOfANewerVersionEndsTheProgram)
{
    if (qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST"))
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QString folder = m_dir.filePath(u"config/mox"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QStringList names = {u"firststart_pay_"_s + pid, u"firststart_env_"_s + pid};
    const auto onServer = [](const QString& database, const QString& sql) {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, u"firststart-pg"_s);
            db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
            db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
            db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER"));
            db.setDatabaseName(database);
            ok = db.open() && QSqlQuery(db).exec(sql);
        }
        QSqlDatabase::removeDatabase(u"firststart-pg"_s);
        return ok;
    };
    struct Drop {
        std::function<void()> run;
        ~Drop() { run(); }
    } drop{[&] {
        for (const QString& n : names)
            onServer(u"postgres"_s, u"DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)"_s.arg(n));
    }};
    for (int i = 0; i < 2; ++i) {
        const QString ini = i == 0 ? u"MOX.INI"_s : u"MOXENV.INI"_s;
        QFile f(folder + u'/' + ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s
                    .arg(names[i], qEnvironmentVariable("MOX_TEST_PGHOST"),
                         qEnvironmentVariable("MOX_TEST_PGPORT"),
                         qEnvironmentVariable("MOX_TEST_PGUSER"))
                    .toUtf8());
        f.close();
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(ini);
        db.setCreateIfMissing(true);
        db.setPrivateConnection(true);
        ASSERT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
        const mox::Status made = i == 0 ? KorDAO::createPayrollSchema(db.DBDatabase())
                                        : KorDAO::createEnvironmentSchema(db.DBDatabase());
        ASSERT_TRUE(made.ok()) << made.message.toStdString();
    }
    ASSERT_TRUE(onServer(names[0], u"UPDATE \"KORDAO_VERSION\" SET \"VERSION\" = 2"_s));
    mox::ScriptedShell shell;
    EXPECT_THROW(mox::prsSchemaCheck(u"個人別給与累計表印刷"_s), mox::ProgramEnded);
    ASSERT_EQ(shell.boxes().size(), 1u);
    const QString text = shell.boxes()[0].text;
    EXPECT_TRUE(text.contains(names[0])) << text.toStdString();
    EXPECT_TRUE(text.contains(u"バージョン 2"_s) && text.contains(u"バージョン 1"_s))
        << text.toStdString();
}

} // namespace
