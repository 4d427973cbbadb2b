// Where the moxdb program writes and what it may replace, run as an office runs it: --dir keeps
// every command in its folder, and demo, synth and tax import replace only what they made
// themselves unless told --replace; each says which database it wrote. On SQLite and on the
// test server's PostgreSQL.
#include "moxdb/demodata.h"
#include "moxdb/init.h"

#include "support.h"

#include "kordao/kordao.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

// The records of \p table in the database that \p ini of the folder \p dir names; negative when
// it does not open.
int countIn(const QString& dir, const QString& ini, const QString& table,
            const QString& filter = QString())
{
    KorDAO::confineIniSearch(dir);
    int n = -1;
    {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(ini);
        if (db.DAO_DBOpen() == 0) {
            KorDAO::clsTbAccess t;
            t.setTBDatabase(db.DBDatabase());
            t.setTBNameString(table);
            n = t.DAO_TableOpen(filter, QString());
        }
    }
    KorDAO::confineIniSearch(QString());
    return n;
}

// An employee entered by an office, not by a load of moxdb.
void addOfficeEmployee(const QString& dir)
{
    KorDAO::confineIniSearch(dir);
    {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(kPayrollIni);
        ASSERT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
        KorDAO::clsTbAccess t;
        t.setTBDatabase(db.DBDatabase());
        t.setTBNameString(u"GKJINJI"_s);
        ASSERT_EQ(t.DAO_TableOpen(QString(), QString()), 0);
        ASSERT_EQ(t.DAO_AddNew(true), 0);
        t.TBRec()[u"SYOKCD"] = 777;
        ASSERT_EQ(t.DAO_Update(), 0) << t.lastError().toStdString();
    }
    KorDAO::confineIniSearch(QString());
}

QString shown(const test::ProgramRun& r)
{
    return (r.out + r.err).trimmed();
}

} // namespace

TEST(MoxdbDir, EveryCommandStaysInItsFolder)
{
    // A live district, named both by $MOX_INI_DIR and by the folder the commands start in.
    QTemporaryDir live;
    QTemporaryDir elsewhere;
    ASSERT_EQ(test::runMoxdb({u"init"_s}, live.path(), live.path()).code, 0);
    test::ProgramRun r = test::runMoxdb({u"demo"_s}, live.path(), live.path());
    ASSERT_EQ(r.code, 0) << shown(r).toStdString();
    const int staff = static_cast<int>(demoDistrict().staff.size());
    ASSERT_EQ(countIn(live.path(), kPayrollIni, u"GKJINJI"_s), staff);

    // A new folder gets its own files and databases; the live district keeps its staff.
    const QString fresh = elsewhere.filePath(u"new"_s);
    r = test::runMoxdb({u"synth"_s, u"--staff"_s, u"1"_s, u"--years"_s, u"1"_s, u"--dir"_s, fresh},
                       live.path(), live.path());
    ASSERT_EQ(r.code, 0) << shown(r).toStdString();
    EXPECT_TRUE(r.out.contains(u"SQLite "_s + QDir(fresh).filePath(u"mox.db"_s)))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(u"SQLite "_s + QDir(fresh).filePath(u"moxenv.db"_s)))
        << r.out.toStdString();
    EXPECT_EQ(countIn(fresh, kPayrollIni, u"GKJINJI"_s), 1);
    EXPECT_EQ(countIn(live.path(), kPayrollIni, u"GKJINJI"_s), staff);

    // Commands that only read find nothing in a folder without configuration files, and say
    // where they looked, rather than reading the live district.
    const QString empty = elsewhere.filePath(u"empty"_s);
    ASSERT_TRUE(QDir().mkpath(empty));
    for (const QStringList& args : {QStringList{u"audit"_s, u"--dir"_s, empty},
                                    QStringList{u"tax"_s, u"list"_s, u"--dir"_s, empty},
                                    QStringList{u"calc"_s, u"10025"_s, u"--dir"_s, empty},
                                    QStringList{u"bonus"_s, u"run"_s, u"--dir"_s, empty}}) {
        r = test::runMoxdb(args, live.path(), live.path());
        EXPECT_NE(r.code, 0) << args.join(u' ').toStdString() << ": " << shown(r).toStdString();
        EXPECT_TRUE(r.err.contains(empty))
            << args.join(u' ').toStdString() << ": " << shown(r).toStdString();
    }
    EXPECT_FALSE(QFile::exists(QDir(empty).filePath(kPayrollIni)));
}

enum class Engine { Sqlite, Postgres };

class MoxdbLoad : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres) {
            if (!test::PostgresPair::serverGiven())
                GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
            m_server = std::make_unique<test::PostgresPair>(m_dir.path());
        }
        const test::ProgramRun r = run({u"init"_s, u"--dir"_s, m_dir.path()});
        ASSERT_EQ(r.code, 0) << shown(r).toStdString();
    }

    test::ProgramRun run(const QStringList& args) const
    {
        return test::runMoxdb(args, m_dir.path());
    }
    int staff() const { return countIn(m_dir.path(), kPayrollIni, u"GKJINJI"_s); }
    // How the output names the payroll database.
    QString payrollShown() const
    {
        return m_server ? u"のデータベース "_s + m_server->payroll()
                        : u"SQLite "_s + QDir(m_dir.path()).filePath(u"mox.db"_s);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<test::PostgresPair> m_server;
};

TEST_P(MoxdbLoad, ReplacesOnlyWhatItMadeUnlessTold)
{
    addOfficeEmployee(m_dir.path());
    for (const QStringList& args :
         {QStringList{u"demo"_s},
          QStringList{u"synth"_s, u"--staff"_s, u"3"_s, u"--years"_s, u"1"_s}}) {
        const test::ProgramRun r = run(args);
        EXPECT_EQ(r.code, 1) << shown(r).toStdString();
        EXPECT_TRUE(r.err.contains(u"GKJINJI 1 件"_s)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(u"--replace"_s)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(payrollShown())) << r.err.toStdString();
        EXPECT_EQ(staff(), 1);
    }

    test::ProgramRun r = run({u"demo"_s, u"--replace"_s});
    ASSERT_EQ(r.code, 0) << shown(r).toStdString();
    EXPECT_TRUE(r.out.contains(payrollShown())) << r.out.toStdString();
    EXPECT_EQ(staff(), static_cast<int>(demoDistrict().staff.size()));

    // What demo made, synth replaces, and the other way round, without being told.
    r = run({u"synth"_s, u"--staff"_s, u"3"_s, u"--years"_s, u"1"_s});
    ASSERT_EQ(r.code, 0) << shown(r).toStdString();
    EXPECT_TRUE(r.out.contains(payrollShown())) << r.out.toStdString();
    EXPECT_EQ(staff(), 3);
    r = run({u"demo"_s});
    ASSERT_EQ(r.code, 0) << shown(r).toStdString();
    EXPECT_EQ(staff(), static_cast<int>(demoDistrict().staff.size()));
    // The demo gives no payment remarks: NULL on either engine, never ''.
    EXPECT_EQ(countIn(m_dir.path(), kPayrollIni, u"GKKYUYO"_s, u"NIREM1 = ''"_s), 0);

    // A tax edition already loaded for its date (by init) is replaced only when told.
    const QString edition = qEnvironmentVariable("MOX_SOURCE_DIR") + u"/data/tax/2026-01-01"_s;
    const QStringList import{u"tax"_s, u"import"_s, u"--from"_s, u"2026-01-01"_s, edition};
    r = run(import);
    EXPECT_EQ(r.code, 1) << shown(r).toStdString();
    EXPECT_TRUE(r.err.contains(u"2026-01-01"_s) && r.err.contains(u"--replace"_s))
        << r.err.toStdString();
    r = run(import + QStringList{u"--replace"_s});
    EXPECT_EQ(r.code, 0) << shown(r).toStdString();
    EXPECT_TRUE(r.out.contains(u"MOXENV.INI"_s)) << r.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, MoxdbLoad, testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& p) {
                             return std::string(p.param == Engine::Sqlite ? "SQLite"
                                                                          : "PostgreSQL");
                         });

// Runs moxdb in \p workDir as a user whose home, configuration and data folders are home,
// config and data under \p root, with no MOX_INI_DIR: its exit code and everything it printed.
static std::pair<int, QString> moxdbAtHome(const QTemporaryDir& root, const QString& workDir,
                                           const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"MOX_INI_DIR"_s);
    env.insert(u"HOME"_s, root.filePath(u"home"_s));
    env.insert(u"XDG_CONFIG_HOME"_s, root.filePath(u"config"_s));
    env.insert(u"XDG_DATA_HOME"_s, root.filePath(u"data"_s));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(MOXDB_PROGRAM), args);
    EXPECT_TRUE(p.waitForFinished(300'000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

// A desk with nothing set up (no $MOX_INI_DIR, no INI file in any folder of the search): init
// makes the user's own files, the INI files where the search looks and the databases among the
// user's data, and the next command finds them without any setting.
TEST(MoxdbInit, WithNoIniAnywhereMakesTheUsersOwnFiles)
{
    if (QFileInfo::exists(u"/etc/mox/MOX.INI"_s) || QFileInfo::exists(u"/etc/mox/MOXENV.INI"_s))
        GTEST_SKIP() << "/etc/mox holds configuration files on this machine";
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    for (const char* sub : {"home", "config", "data", "work"})
        ASSERT_TRUE(QDir(root.path()).mkdir(QString::fromLatin1(sub)));
    auto run = [&](const QStringList& args) {
        return moxdbAtHome(root, root.filePath(u"work"_s), args);
    };
    auto [code, text] = run({u"init"_s});
    ASSERT_EQ(code, 0) << text.toStdString();
    const QString config = root.filePath(u"config/mox"_s);
    const QString data = root.filePath(u"data/mox"_s);
    EXPECT_TRUE(QFileInfo(config, kPayrollIni).isFile());
    EXPECT_TRUE(QFileInfo(config, kEnvironmentIni).isFile());
    EXPECT_TRUE(QFileInfo(data, u"mox.db"_s).isFile());
    EXPECT_TRUE(QFileInfo(data, u"moxenv.db"_s).isFile());
    EXPECT_EQ(QFile::permissions(data) &
                  ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(QDir(root.filePath(u"work"_s)).isEmpty()) << "nothing in the current folder";

    std::tie(code, text) = run({u"demo"_s});
    ASSERT_EQ(code, 0) << text.toStdString();
    EXPECT_TRUE(text.contains(QDir(data).filePath(u"mox.db"_s))) << text.toStdString();
}

// Started in a shared folder that holds another user's MOX.INI, moxdb works on the user's own
// databases: the current folder counts only when it is the user's own and closed to others.
TEST(MoxdbInit, AnotherUsersIniInTheCurrentFolderIsPassedOver)
{
    if (QFileInfo::exists(u"/etc/mox/MOX.INI"_s) || QFileInfo::exists(u"/etc/mox/MOXENV.INI"_s))
        GTEST_SKIP() << "/etc/mox holds configuration files on this machine";
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    for (const char* sub : {"home", "config", "data"})
        ASSERT_TRUE(QDir(root.path()).mkdir(QString::fromLatin1(sub)));
    auto run = [&](const QString& workDir, const QStringList& args) {
        return moxdbAtHome(root, workDir, args);
    };
    const QString home = root.filePath(u"home"_s);
    auto [code, text] = run(home, {u"init"_s});
    ASSERT_EQ(code, 0) << text.toStdString();
    std::tie(code, text) = run(home, {u"demo"_s});
    ASSERT_EQ(code, 0) << text.toStdString();

    // A folder holding the planted files; \p mode and, as root, \p owner make it someone else's.
    const auto planted = [&](const char* name, QFileDevice::Permissions mode, uid_t owner) {
        const QString dir = root.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(QDir().mkdir(dir));
        for (const QString& ini : {kPayrollIni, kEnvironmentIni}) {
            QFile f(QDir(dir).filePath(ini));
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[Database]\nDriver=QSQLITE\nDatabase=planted.db\n");
            f.close();
            EXPECT_EQ(::chown(QFile::encodeName(f.fileName()).constData(), owner, owner), 0);
        }
        EXPECT_TRUE(QFile::setPermissions(dir, mode));
        EXPECT_EQ(::chown(QFile::encodeName(dir).constData(), owner, owner), 0);
        return dir;
    };
    using P = QFileDevice;
    const P::Permissions closed = P::ReadOwner | P::WriteOwner | P::ExeOwner | P::ReadGroup |
                                  P::ExeGroup | P::ReadOther | P::ExeOther;
    const P::Permissions open = closed | P::WriteGroup | P::WriteOther;
    const QString calc = u"calc"_s;
    // The user's own closed folder is searched: its files would be used (a missing database).
    std::tie(code, text) = run(planted("mine", closed, ::geteuid()), {calc, u"10025"_s});
    EXPECT_NE(code, 0) << text.toStdString();
    EXPECT_TRUE(text.contains(u"planted.db"_s)) << text.toStdString();

    std::vector<QString> shared{planted("open", open, ::geteuid())};
    if (::geteuid() == 0)
        shared.push_back(planted("nobody", closed, 65534));
    for (const QString& dir : shared) {
        std::tie(code, text) = run(dir, {calc, u"10025"_s});
        EXPECT_EQ(code, 0) << dir.toStdString() << ": " << text.toStdString();
        EXPECT_FALSE(text.contains(u"planted.db"_s)) << dir.toStdString();
    }
    if (::geteuid() != 0)
        GTEST_SKIP()
            << "a folder owned by another user (nobody) needs root; the open folder passed";
}
