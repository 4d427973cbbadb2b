#include "mox/printfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777u) : 0u;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A temporary $XDG_DATA_HOME, restored afterwards.
class PrintFolder : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldData = qgetenv("XDG_DATA_HOME");
        m_hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_dir.filePath(u"data"_s).toUtf8());
    }
    void TearDown() override
    {
        if (m_hadData)
            qputenv("XDG_DATA_HOME", m_oldData);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    QString userFolder() const { return m_dir.filePath(u"data/mox/print"_s); }

    QTemporaryDir m_dir;
    QByteArray m_oldData;
    bool m_hadData = false;
};

TEST_F(PrintFolder, WritableProgramFolderIsKept)
{
    const QString program = m_dir.filePath(u"bin"_s);
    ASSERT_TRUE(QDir().mkpath(program));
    const mox::Result<QString> r = mox::printFolder(program, {});
    ASSERT_FALSE(mox::failure(r));
    EXPECT_EQ(mox::value(r), program);
    EXPECT_FALSE(QFileInfo::exists(userFolder()));
}

// /usr/bin stands for an installed program: even a user who may write there (root) gets the
// per-user folder, so that salaries never land among the system's programs.
TEST_F(PrintFolder, InstalledOrMissingProgramFolderGivesThePrivateUserFolder)
{
    for (const QString& program : {u"/usr/bin"_s, m_dir.filePath(u"gone"_s)}) {
        const mox::Result<QString> r = mox::printFolder(program, {});
        ASSERT_FALSE(mox::failure(r)) << mox::failure(r)->message.toStdString();
        EXPECT_EQ(mox::value(r), userFolder()) << program.toStdString();
        EXPECT_EQ(modeOf(userFolder()), 0700u);
    }
    // A folder opened to others by hand is closed again.
    ASSERT_TRUE(QFile::setPermissions(
        userFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther));
    ASSERT_FALSE(mox::failure(mox::printFolder(u"/usr/bin"_s, {})));
    EXPECT_EQ(modeOf(userFolder()), 0700u);
}

TEST_F(PrintFolder, ConfiguredFolderWinsAndIsMadeWhenMissing)
{
    const QString program = m_dir.filePath(u"bin"_s);
    ASSERT_TRUE(QDir().mkpath(program));
    mox::PrintSettings s;
    s.folder = m_dir.filePath(u"office/print"_s);
    const mox::Result<QString> r = mox::printFolder(program, s);
    ASSERT_FALSE(mox::failure(r));
    EXPECT_EQ(mox::value(r), s.folder);
    EXPECT_EQ(modeOf(s.folder), 0700u);

    // A file in the way: the message names the folder.
    writeFile(m_dir.filePath(u"blocked"_s), "x");
    s.folder = m_dir.filePath(u"blocked/print"_s);
    const mox::Result<QString> bad = mox::printFolder(program, s);
    ASSERT_TRUE(mox::failure(bad));
    EXPECT_TRUE(mox::failure(bad)->message.contains(QDir::toNativeSeparators(s.folder)));
}

// Folders another local user can write in, or that are hers, or links: refused with the folder's
// name, nothing made through them.
TEST_F(PrintFolder, RefusesFoldersOthersControl)
{
    const QString program = m_dir.filePath(u"bin"_s);
    ASSERT_TRUE(QDir().mkpath(program));
    const QString shared = m_dir.filePath(u"shared"_s);
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
    mox::PrintSettings s;
    s.folder = shared;
    mox::Result<QString> r = mox::printFolder(program, s);
    ASSERT_TRUE(mox::failure(r));
    EXPECT_TRUE(mox::failure(r)->message.contains(shared))
        << mox::failure(r)->message.toStdString();
    EXPECT_EQ(modeOf(shared), 0777u);

    s.folder = m_dir.filePath(u"link"_s);
    ASSERT_TRUE(QFile::link(program, s.folder));
    r = mox::printFolder(program, s);
    ASSERT_TRUE(mox::failure(r));
    EXPECT_TRUE(mox::failure(r)->message.contains(s.folder));

    // The data folder left open to all, and "print" in it swapped for a link to another folder:
    // the data folder is closed again and the link refused.
    const QString data = m_dir.filePath(u"data/mox"_s);
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_EQ(::chmod(QFile::encodeName(data).constData(), 0777), 0);
    ASSERT_TRUE(QFile::link(shared, userFolder()));
    r = mox::printFolder(u"/usr/bin"_s, {});
    ASSERT_TRUE(mox::failure(r));
    EXPECT_TRUE(mox::failure(r)->message.contains(userFolder()));
    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_TRUE(QDir(shared).isEmpty());

    if (::geteuid() != 0)
        GTEST_SKIP() << "a folder of another user needs root";
    const QString foreign = m_dir.filePath(u"foreign"_s);
    ASSERT_TRUE(QDir().mkpath(foreign));
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    s.folder = foreign;
    r = mox::printFolder(program, s);
    ASSERT_TRUE(mox::failure(r));
    EXPECT_TRUE(mox::failure(r)->message.contains(u"ほかのユーザー"_s));
    EXPECT_TRUE(mox::failure(r)->message.contains(foreign));
}

TEST_F(PrintFolder, ReadsOnlyThePrintSectionOfTheIni)
{
    const QString ini = m_dir.filePath(u"MOX.INI"_s);
    writeFile(ini, "[Database]\nDriver=QSQLITE\nDatabase=mox.db\nFolder=/wrong\nOpen=0\n"
                   "[ print ]\n; Folder=/commented\nFOLDER = \"out put\"\nopen=1\n");
    mox::PrintSettings s = mox::readPrintSettings(ini);
    EXPECT_EQ(s.folder, m_dir.filePath(u"out put"_s)); // relative to the INI file's folder
    EXPECT_TRUE(s.open);

    // A file saved by a Japanese Windows editor: CP932, an absolute folder with kanji.
    QStringEncoder cp932("cp932");
    writeFile(ini, cp932.encode(u"[Print]\r\nFolder=/srv/給与/印刷\r\nOpen=0\r\n"_s));
    s = mox::readPrintSettings(ini);
    EXPECT_EQ(s.folder, u"/srv/給与/印刷"_s);
    EXPECT_FALSE(s.open);

    s = mox::readPrintSettings(m_dir.filePath(u"none.ini"_s));
    EXPECT_TRUE(s.folder.isEmpty());
    EXPECT_TRUE(s.open);
}

} // namespace
