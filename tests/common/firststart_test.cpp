#include "mox/firststart.h"

#include "mox/frmback.h"
#include "mox/shell.h"

#include "kordao/kordao.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>

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

} // namespace
