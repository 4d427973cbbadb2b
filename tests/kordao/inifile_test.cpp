// Reading the [Database] section of an INI file: encodings, comments, the exposed password.
#include "inifile.h"

#include "kordao/kordao.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kordaotest {
namespace {

class IniFile : public testing::Test {
protected:
    // Writes \p bytes as "MOX.INI" with the permissions \p mode and reads it back.
    std::optional<KorDAO::DbSettings> read(const QByteArray& bytes,
                                           QFileDevice::Permissions mode = kOwnerOnly)
    {
        QFile f(m_dir.filePath(u"MOX.INI"_s));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        EXPECT_TRUE(f.setPermissions(mode));
        return take(KorDAO::readDbSettings(f.fileName()));
    }

    // The settings read, or nullopt with m_status and m_error set.
    std::optional<KorDAO::DbSettings> take(const mox::Result<KorDAO::DbSettings>& read)
    {
        m_status = 0;
        m_error.clear();
        if (const mox::Status* failure = mox::failure(read)) {
            m_status = short(failure->code);
            m_error = failure->message;
            return std::nullopt;
        }
        return mox::value(read);
    }

    static constexpr QFileDevice::Permissions kOwnerOnly =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QTemporaryDir m_dir;
    short m_status = 0;
    QString m_error;
};

TEST_F(IniFile, SemicolonAndHashStartACommentOnlyAtTheStartOfALine)
{
    const auto s = read("; Password=commented\n"
                        "  # Host=commented\n"
                        "[Database]\n"
                        "Driver=QPSQL\n"
                        "Database=pay;2026\n"
                        "Password=ab#cd\n"
                        "User=tanaka ; office 3\n"
                        "Host=\" #db host; \"\n");
    ASSERT_TRUE(s) << m_error.toStdString();
    EXPECT_EQ(s->database, u"pay;2026"_s);
    EXPECT_EQ(s->password, u"ab#cd"_s);
    EXPECT_EQ(s->user, u"tanaka ; office 3"_s);
    EXPECT_EQ(s->host, u" #db host; "_s) << "quotes keep the blanks at the ends";
}

TEST_F(IniFile, ReadsUtf8WithOrWithoutBomAndCp932)
{
    const QString text = u"[Database]\r\nDriver=QPSQL\r\nDatabase=給与\r\nUser=田中　太郎\r\n"_s;
    QStringEncoder cp932("cp932");
    ASSERT_TRUE(cp932.isValid());
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"UTF-8", text.toUtf8()},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + text.toUtf8()},
        {"CP932", cp932.encode(text)},
    };
    for (const auto& c : cases) {
        const auto s = read(c.bytes);
        ASSERT_TRUE(s) << c.name << ": " << m_error.toStdString();
        EXPECT_EQ(s->database, u"給与"_s) << c.name;
        EXPECT_EQ(s->user, u"田中　太郎"_s) << c.name;
    }
    // Bytes that are neither: 0xFD and 0xFE stand for no character in CP932 either.
    EXPECT_FALSE(read("[Database]\nDriver=QPSQL\nDatabase=\xFD\xFE\n"));
    EXPECT_EQ(m_status, -1);
    EXPECT_TRUE(m_error.contains(u"CP932"_s)) << m_error.toStdString();
}

TEST_F(IniFile, EncryptionKeysAndTheStatementLimit)
{
    const auto s = read("[Database]\nDriver=QPSQL\nDatabase=mox\nHost=db.office.example\n"
                        "SslMode=Verify-CA\nChannelBinding=require\n"
                        "SslRootCert=certs/office-ca.crt\nSslCert=/etc/mox/desk.crt\n"
                        "SslKey=../keys/desk key.pem\nStatementTimeout=0\n");
    ASSERT_TRUE(s) << m_error.toStdString();
    EXPECT_EQ(s->sslMode, u"verify-ca"_s) << "libpq takes the values in lower case";
    EXPECT_EQ(s->channelBinding, u"require"_s);
    EXPECT_EQ(s->sslRootCert, m_dir.filePath(u"certs/office-ca.crt"_s)) << "relative to the INI";
    EXPECT_EQ(s->sslCert, u"/etc/mox/desk.crt"_s);
    EXPECT_EQ(s->sslKey, QDir::cleanPath(m_dir.path() + u"/../keys/desk key.pem"_s));
    EXPECT_EQ(s->statementTimeout, 0);

    const auto defaults = read("[Database]\nDriver=QPSQL\nDatabase=mox\nHost=db\n");
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->statementTimeout, 600);
    EXPECT_EQ(KorDAO::effectiveSslMode(*defaults), u"verify-full"_s);
}

TEST_F(IniFile, NetworkHostsAreVerifiedByDefaultSocketsAreLeftToLibpq)
{
    const struct {
        const char* host;
        const char* sslMode;
        const char16_t* effective;
    } cases[] = {
        {"db.office.example", "", u"verify-full"},
        {"localhost", "", u"verify-full"},
        {"127.0.0.1", "", u"verify-full"},
        {"db.office.example", "disable", u"disable"},
        {"/run/postgresql", "", u""},
        {"", "", u""},
        {"/run/postgresql", "require", u"require"},
    };
    for (const auto& c : cases) {
        const auto s = read(QByteArray("[Database]\nDriver=QPSQL\nDatabase=mox\nHost=") + c.host +
                            "\nSslMode=" + c.sslMode + "\n");
        ASSERT_TRUE(s) << c.host << ": " << m_error.toStdString();
        EXPECT_EQ(KorDAO::effectiveSslMode(*s), QString::fromUtf16(c.effective))
            << c.host << " SslMode=" << c.sslMode;
    }
}

TEST_F(IniFile, UnknownEncryptionOrLimitValuesAreRefusedNamingTheKey)
{
    const struct {
        const char* name;
        const char* line;
        const char* mentions;
    } cases[] = {
        {"ssl mode", "SslMode=verify", "SslMode=verify"},
        {"ssl mode yes", "SslMode=yes", "verify-full"},
        {"channel binding", "ChannelBinding=always", "ChannelBinding=always"},
        {"negative limit", "StatementTimeout=-1", "StatementTimeout=-1"},
        {"limit beyond a day", "StatementTimeout=86401", "StatementTimeout=86401"},
        {"limit not a number", "StatementTimeout=10m", "StatementTimeout=10m"},
        // The Qt driver would turn the ";" into a blank and libpq would read another file.
        {"semicolon in a path", "SslRootCert=ca;1.crt", "SslRootCert=ca;1.crt"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(
            read(QByteArray("[Database]\nDriver=QPSQL\nDatabase=mox\nHost=db\n") + c.line + "\n"))
            << c.name;
        EXPECT_EQ(m_status, -18) << c.name;
        EXPECT_TRUE(m_error.contains(QString::fromUtf8(c.mentions)))
            << c.name << ": " << m_error.toStdString();
    }
}

TEST_F(IniFile, PasswordInAFileOthersMayReadIsWarnedOnStandardError)
{
    const QFileDevice::Permissions group = kOwnerOnly | QFileDevice::ReadGroup;
    const QFileDevice::Permissions world = group | QFileDevice::ReadOther;
    const struct {
        const char* name;
        QByteArray bytes;
        QFileDevice::Permissions mode;
        bool warned;
    } cases[] = {
        {"readable by all", "[Database]\nDriver=QPSQL\nDatabase=x\nPassword=s\n", world, true},
        {"readable by the group", "[Database]\nDriver=QPSQL\nDatabase=x\nPassword=s\n", group,
         true},
        {"owner only", "[Database]\nDriver=QPSQL\nDatabase=x\nPassword=s\n", kOwnerOnly, false},
        {"no password", "[Database]\nDriver=QPSQL\nDatabase=x\n", world, false},
        {"empty password", "[Database]\nDriver=QPSQL\nDatabase=x\nPassword=\n", world, false},
    };
    // Programs show the same warning to the person at the desk, once.
    QStringList shown;
    KorDAO::setNotices({[&shown](const QString& text) { shown << text; }, {}});
    for (const auto& c : cases) {
        shown.clear();
        // A folder each: the warning is given once per file.
        const QString sub = m_dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(QDir().mkdir(sub));
        const QString path = sub + u"/MOX.INI"_s;
        QFile ini(path);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(c.bytes);
        ini.close();
        ASSERT_TRUE(ini.setPermissions(c.mode));
        for (int time = 0; time < 2; ++time) {
            testing::internal::CaptureStderr();
            EXPECT_TRUE(take(KorDAO::readDbSettings(path))) << c.name;
            const QString err = QString::fromStdString(testing::internal::GetCapturedStderr());
            const bool want = c.warned && time == 0;
            EXPECT_EQ(err.contains(path), want)
                << c.name << " read " << time << ": " << err.toStdString();
            EXPECT_EQ(err.contains(u"Password="_s), want) << c.name;
        }
        EXPECT_EQ(shown.size(), c.warned ? 1 : 0) << c.name;
        if (c.warned && !shown.isEmpty()) {
            EXPECT_TRUE(shown.first().contains(path)) << shown.first().toStdString();
        }
    }
    KorDAO::setNotices({});
}

// The current folder is often shared: its MOX.INI is looked at only when the folder is the
// user's own and no one else may put files in it; otherwise the search goes on without it.
// Another section read by the same rules: only its own keys, in upper case, the last of a key
// given twice; a file without it gives no key, one that is not text of either encoding none.
TEST_F(IniFile, OtherSectionsAreReadByTheSameRules)
{
    read("[Database]\nDriver=QSQLITE\nFolder=/database\n"
         "[ print ]\n# Folder=/commented\nfolder = \" out \"\nOpen=1\nOPEN=0\n[Other]\nOpen=2\n");
    const QString path = m_dir.filePath(u"MOX.INI"_s);
    const auto print = KorDAO::readIniSection(path, u"Print");
    ASSERT_TRUE(print);
    EXPECT_EQ(*print, (QHash<QString, QString>{{u"FOLDER"_s, u" out "_s}, {u"OPEN"_s, u"0"_s}}));

    const auto missing = KorDAO::readIniSection(path, u"Printer");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->isEmpty());

    read("[Print]\nFolder=\x82\xA0\xFF\xFF\n");
    EXPECT_FALSE(KorDAO::readIniSection(path, u"Print"));
    EXPECT_FALSE(KorDAO::readIniSection(m_dir.filePath(u"NONE.INI"_s), u"Print"));
}

TEST(IniSearch, CurrentFolderOnlyWhenOwnAndClosedToOthers)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString oldCwd = QDir::currentPath();
    const QByteArray oldEnv = qgetenv("MOX_INI_DIR");
    qunsetenv("MOX_INI_DIR");
    const auto searched = [&](const QString& folder) {
        EXPECT_TRUE(QDir::setCurrent(folder));
        const bool found = KorDAO::iniSearchFolders().contains(QDir::currentPath());
        QDir::setCurrent(oldCwd);
        return found;
    };
    const auto folder = [&](const char* name, QFileDevice::Permissions mode) {
        const QString path = base.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(QDir().mkdir(path));
        EXPECT_TRUE(QFile::setPermissions(path, mode));
        return path;
    };
    using P = QFileDevice;
    const P::Permissions own = P::ReadOwner | P::WriteOwner | P::ExeOwner;
    const P::Permissions readable = own | P::ReadGroup | P::ExeGroup | P::ReadOther | P::ExeOther;
    EXPECT_TRUE(searched(folder("own", own)));
    EXPECT_TRUE(searched(folder("readable", readable)));
    EXPECT_FALSE(searched(folder("group-writable", readable | P::WriteGroup)));
    EXPECT_FALSE(searched(folder("open", readable | P::WriteGroup | P::WriteOther)));
    if (::geteuid() == 0) {
        const QString foreign = folder("foreign", readable);
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
        EXPECT_FALSE(searched(foreign));
    }
    // An explicit folder is the user's choice and stays first.
    qputenv("MOX_INI_DIR", base.filePath(u"open"_s).toUtf8());
    EXPECT_EQ(KorDAO::iniSearchFolders().value(0), base.filePath(u"open"_s));
    if (oldEnv.isEmpty())
        qunsetenv("MOX_INI_DIR");
    else
        qputenv("MOX_INI_DIR", oldEnv);
}

} // namespace
} // namespace kordaotest
