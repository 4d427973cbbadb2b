// The SQLite databases hold every salary: whatever moxdb makes is its user's alone, 0600 files in
// 0700 folders, and another local user can read none of it.

#include "support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777u) : 0u;
}

// The folder is 0700 and each file in it 0600; a file "nobody" can still read is reported too.
void expectPrivate(const QString& folder, const QStringList& files)
{
    EXPECT_EQ(modeOf(folder), 0700u) << folder.toStdString();
    for (const QString& name : files) {
        const QString file = QDir(folder).filePath(name);
        EXPECT_EQ(modeOf(file), 0600u) << file.toStdString();
        if (::geteuid() != 0 || QStandardPaths::findExecutable(u"runuser"_s).isEmpty())
            continue;
        QProcess cat;
        cat.start(u"runuser"_s, {u"-u"_s, u"nobody"_s, u"--"_s, u"cat"_s, file});
        ASSERT_TRUE(cat.waitForFinished(30'000));
        EXPECT_NE(cat.exitCode(), 0) << "nobody read " << file.toStdString();
        EXPECT_TRUE(cat.readAllStandardOutput().isEmpty());
    }
}

const QStringList kSqliteFiles{u"MOX.INI"_s, u"MOXENV.INI"_s, u"mox.db"_s, u"moxenv.db"_s};

// A home folder others may enter (0755), as most are: only the modes moxdb sets protect the files.
class MoxdbPrivacy : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(m_home.path()).constData(), 0755), 0);
    }
    QString home(const QString& name) const { return m_home.filePath(name); }

    QTemporaryDir m_home;
};

TEST_F(MoxdbPrivacy, InitAndDemoInANewFolderMakeOnlyPrivateFiles)
{
    const QString d = home(u"kyuyo"_s);
    moxdb::test::ProgramRun r = moxdb::test::runMoxdb({u"init"_s, u"--dir"_s, d}, d);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"0600"_s)) << r.out.toStdString();
    expectPrivate(d, kSqliteFiles);

    const QString e = home(u"demo"_s);
    r = moxdb::test::runMoxdb({u"demo"_s, u"--dir"_s, e}, e);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    expectPrivate(e, kSqliteFiles);
}

// A print run before the first init left the data folder open (0755): init, with the user's own
// folders and no MOX_INI_DIR, closes it and makes the databases in it 0600.
TEST_F(MoxdbPrivacy, InitInTheUsersDataFolderClosesIt)
{
    const QString data = home(u"data/mox"_s);
    ASSERT_TRUE(QDir().mkpath(data + u"/print"_s));
    ASSERT_EQ(::chmod(QFile::encodeName(data).constData(), 0755), 0);
    QProcess p;
    p.setWorkingDirectory(m_home.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"MOX_INI_DIR"_s);
    env.insert(u"HOME"_s, m_home.path());
    env.insert(u"XDG_CONFIG_HOME"_s, home(u"config"_s));
    env.insert(u"XDG_DATA_HOME"_s, home(u"data"_s));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(MOXDB_PROGRAM), {u"init"_s});
    ASSERT_TRUE(p.waitForFinished(300'000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    expectPrivate(data, {u"mox.db"_s, u"moxenv.db"_s});
}

TEST_F(MoxdbPrivacy, InitTightensAFolderOfItsOwnFilesAndRefusesAShared)
{
    const QString own = home(u"own"_s);
    ASSERT_TRUE(QDir().mkpath(own));
    ASSERT_EQ(::chmod(QFile::encodeName(own).constData(), 0755), 0);
    moxdb::test::ProgramRun r = moxdb::test::runMoxdb({u"init"_s, u"--dir"_s, own}, own);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    expectPrivate(own, kSqliteFiles);

    const QString shared = home(u"shared"_s);
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0755), 0);
    QFile notes(QDir(shared).filePath(u"notes.txt"_s));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    r = moxdb::test::runMoxdb({u"init"_s, u"--dir"_s, shared}, shared);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(shared)) << r.err.toStdString();
    EXPECT_EQ(modeOf(shared), 0755u);
    // The folder is checked before anything is made in it.
    EXPECT_EQ(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"notes.txt"_s});

    // Configuration files that name a database in a shared folder: refused before the database
    // is made there.
    const QString config = home(u"config"_s);
    ASSERT_TRUE(QDir().mkpath(config));
    for (const QString& ini : {u"MOX.INI"_s, u"MOXENV.INI"_s}) {
        QFile f(QDir(config).filePath(ini));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Database]\nDriver=QSQLITE\nDatabase=" +
                QFile::encodeName(QDir(shared).filePath(ini.toLower() + u".db"_s)) + "\n");
    }
    r = moxdb::test::runMoxdb({u"init"_s, u"--dir"_s, config}, config);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(shared)) << r.err.toStdString();
    EXPECT_EQ(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"notes.txt"_s});
}

} // namespace
