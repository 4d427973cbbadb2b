// A private file kept as a record (keepExisting): a file of that name, there before the write or
// made while it runs, is never replaced, and the refused write leaves nothing of its own behind.
#include "base/privatefile.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class KeptFile : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path() const { return m_dir.filePath(u"kept.pdf"_s); }
    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QTemporaryDir m_dir;
};

TEST_F(KeptFile, AFileAlreadyThereIsNotOpenedOver)
{
    put(path(), "the record");
    mox::PrivateFile f(path());
    f.keepExisting();
    EXPECT_FALSE(f.open());
    EXPECT_TRUE(f.errorString().contains(u"上書きしません"_s)) << f.errorString().toStdString();
    EXPECT_EQ(contents(path()), "the record");
    EXPECT_EQ(entries(), QStringList{u"kept.pdf"_s});
}

TEST_F(KeptFile, AFileMadeWhileWritingIsNotCommittedOver)
{
    mox::PrivateFile f(path());
    f.keepExisting();
    ASSERT_TRUE(f.open()) << f.errorString().toStdString();
    f.device()->write("the copy");
    put(path(), "the record");
    EXPECT_FALSE(f.commit());
    EXPECT_TRUE(f.errorString().contains(u"上書きしません"_s)) << f.errorString().toStdString();
    EXPECT_EQ(contents(path()), "the record");
    EXPECT_EQ(entries(), QStringList{u"kept.pdf"_s}); // no temporary file left
}

TEST_F(KeptFile, WriteWholeMakesAPrivateFileOnce)
{
    mox::PrivateFile f(path());
    f.keepExisting();
    ASSERT_TRUE(mox::writeWhole(f, mox::sha256sumLine("abc", u"a b.pdf"_s)))
        << f.errorString().toStdString();
    EXPECT_EQ(contents(path()), "abc  a b.pdf\n");
    EXPECT_EQ(QFile::permissions(path()),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser); // 0600
    mox::PrivateFile again(path());
    again.keepExisting();
    EXPECT_FALSE(mox::writeWhole(again, "other"));
    EXPECT_EQ(contents(path()), "abc  a b.pdf\n");
}

} // namespace
