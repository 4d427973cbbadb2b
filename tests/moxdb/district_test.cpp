// moxdb on a district of 3,000 staff with a year of payments (moxdb synth), on both engines:
// export --all, import --all into empty databases and export --all again give the same files,
// byte for byte, and so does a backup restored; a restore killed with SIGKILL while it writes
// leaves both databases as they were; a backup killed half-way leaves nothing the next one keeps.
//
// The district is made once: under CTest by the fixture test moxdb_district_make in the folder
// $MOX_TEST_DISTRICT_DIR (and removed by moxdb_district_remove), which every test only reads;
// when the binary is run by hand, once per engine in a temporary folder of the process.

#include "site.h"
#include "support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>

#include <signal.h>

using namespace Qt::StringLiterals;
using moxdb::test::Engine;
using moxdb::test::engineName;
using moxdb::test::entriesOf;
using moxdb::test::expectSameFiles;
using moxdb::test::expectSameTables;
using moxdb::test::PostgresPair;
using moxdb::test::ProgramRun;
using moxdb::test::runMoxdb;
using moxdb::test::Site;

namespace {

QString engineFolder(Engine engine)
{
    return engine == Engine::Sqlite ? u"sqlite"_s : u"postgresql"_s;
}

// The district of one engine in the folder \p root: site/ (its configuration files, and its
// SQLite databases), district.moxbak (a backup of it), export/ (what export --all writes of it)
// and ready, written last.
class District {
public:
    District(Engine engine, QString root) : m_engine(engine), m_root(std::move(root)) {}

    QString site() const { return m_root + u"/site"_s; }
    QString backup() const { return m_root + u"/district.moxbak"_s; }
    QString exported() const { return m_root + u"/export"_s; }
    bool ready() const { return QFileInfo::exists(m_root + u"/ready"_s); }

    ProgramRun moxdb(QStringList args) const
    {
        args << u"--dir"_s << site();
        return runMoxdb(args, site());
    }

    // Makes the district afresh (its PostgreSQL databases, when \p pair is null, are named
    // "district" and stay on the server).
    void make(std::unique_ptr<PostgresPair>* pair)
    {
        ASSERT_TRUE(QDir(m_root).removeRecursively() || !QFileInfo::exists(m_root));
        ASSERT_TRUE(QDir().mkpath(site()));
        ASSERT_TRUE(QFile::setPermissions(m_root, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner));
        if (m_engine == Engine::Postgres) {
            if (pair) {
                *pair = std::make_unique<PostgresPair>(site());
            } else {
                PostgresPair(site(), u"district"_s); // an earlier run's databases are dropped
                PostgresPair(site(), u"district"_s).keep();
            }
        }
        for (const QStringList& args : {QStringList{u"init"_s},
                                        {u"synth"_s, u"--staff"_s, u"3000"_s, u"--years"_s, u"1"_s},
                                        {u"backup"_s, backup()},
                                        {u"export"_s, u"--all"_s, exported()}}) {
            const ProgramRun r = moxdb(args);
            ASSERT_EQ(r.code, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        }
        QFile done(m_root + u"/ready"_s);
        ASSERT_TRUE(done.open(QIODevice::WriteOnly));
    }

    // Drops the district's databases and removes its folder.
    void remove()
    {
        if (m_engine == Engine::Postgres && PostgresPair::serverGiven())
            PostgresPair(site(), u"district"_s);
        QDir(m_root).removeRecursively();
    }

private:
    Engine m_engine;
    QString m_root;
};

// The fixture of CTest: makes, and removes, the district of each engine the tests can reach.
TEST(LargeDistrictFixture, DISABLED_Make)
{
    const QString root = qEnvironmentVariable("MOX_TEST_DISTRICT_DIR");
    ASSERT_FALSE(root.isEmpty()) << "MOX_TEST_DISTRICT_DIR is not set";
    for (const Engine engine : {Engine::Sqlite, Engine::Postgres}) {
        if (engine == Engine::Postgres && !PostgresPair::serverGiven())
            continue;
        District d(engine, root + u'/' + engineFolder(engine));
        d.make(nullptr);
    }
}

TEST(LargeDistrictFixture, DISABLED_Remove)
{
    const QString root = qEnvironmentVariable("MOX_TEST_DISTRICT_DIR");
    ASSERT_FALSE(root.isEmpty()) << "MOX_TEST_DISTRICT_DIR is not set";
    for (const Engine engine : {Engine::Sqlite, Engine::Postgres})
        District(engine, root + u'/' + engineFolder(engine)).remove();
    QDir(root).removeRecursively();
}

// A district made by this process, for a run of the binary by hand.
struct OwnDistrict {
    explicit OwnDistrict(Engine engine) : district(engine, folder.path() + u"/d"_s) {}
    QTemporaryDir folder;
    District district;
    std::unique_ptr<PostgresPair> pair;
};

class LargeDistrict : public testing::TestWithParam<Engine> {
public:
    static void TearDownTestSuite() { s_own.clear(); }

protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres && !PostgresPair::serverGiven())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
        const QString root = qEnvironmentVariable("MOX_TEST_DISTRICT_DIR");
        if (!root.isEmpty()) {
            m_shared.emplace(GetParam(), root + u'/' + engineFolder(GetParam()));
            ASSERT_TRUE(m_shared->ready())
                << "the fixture moxdb_district_make has not made the district in "
                << root.toStdString();
            m_district = &*m_shared;
            return;
        }
        std::unique_ptr<OwnDistrict>& own = s_own[GetParam()];
        if (!own) {
            own = std::make_unique<OwnDistrict>(GetParam());
            own->district.make(&own->pair);
        }
        ASSERT_TRUE(own->district.ready());
        m_district = &own->district;
    }
    const District& district() const { return *m_district; }

    // Runs moxdb restore of \p backup on \p target and kills it with SIGKILL while it writes:
    // SQLite while it waits for the environment database, which \p target's desk holds locked;
    // PostgreSQL once the environment database is loaded and the payroll database is loading,
    // neither committed.
    void killRestore(const Site& target, const QString& backup, bool replace) const;

    static std::map<Engine, std::unique_ptr<OwnDistrict>> s_own;
    std::optional<District> m_shared;
    const District* m_district = nullptr;
};

std::map<Engine, std::unique_ptr<OwnDistrict>> LargeDistrict::s_own;

TEST_P(LargeDistrict, ExportImportExportGivesTheSameFiles)
{
    Site empty(GetParam());
    ASSERT_EQ(empty.moxdb({u"init"_s}).code, 0);
    // --replace: the tax tables that init loaded give way to the file's.
    ProgramRun r = empty.moxdb({u"import"_s, u"--all"_s, district().exported(), u"--replace"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"GKJINJI: 3,000 件"_s)) << r.out.toStdString();
    QTemporaryDir again;
    r = empty.moxdb({u"export"_s, u"--all"_s, again.filePath(u"export"_s)});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    expectSameFiles(again.filePath(u"export"_s), district().exported());
}

TEST_P(LargeDistrict, BackupRestoreExportGivesTheSameFiles)
{
    Site empty(GetParam());
    ASSERT_EQ(empty.moxdb({u"init"_s}).code, 0);
    ProgramRun r = empty.moxdb({u"restore"_s, district().backup()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QTemporaryDir again;
    r = empty.moxdb({u"export"_s, u"--all"_s, again.filePath(u"export"_s)});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    expectSameFiles(again.filePath(u"export"_s), district().exported());
}

void LargeDistrict::killRestore(const Site& target, const QString& backup, bool replace) const
{
    QProcess desk; // SQLite: a desk in the middle of a save to the environment database
    if (GetParam() == Engine::Sqlite) {
        desk.start(u"sqlite3"_s, {target.file(u"moxenv.db"_s)});
        ASSERT_TRUE(desk.waitForStarted());
        desk.write("BEGIN IMMEDIATE;\nSELECT 'LOCKED';\n");
        ASSERT_TRUE(desk.waitForReadyRead(30'000));
    }
    QProcess restore;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, target.dir());
    restore.setProcessEnvironment(env);
    QStringList args = {u"restore"_s, backup, u"--dir"_s, target.dir()};
    if (replace)
        args << u"--replace"_s;
    restore.start(QStringLiteral(MOXDB_PROGRAM), args);
    ASSERT_TRUE(restore.waitForStarted());
    if (GetParam() == Engine::Sqlite) {
        // The copy of what the environment database held is made just before it is replaced.
        const QDir shelf = QFileInfo(backup).dir();
        bool waiting = false;
        for (int i = 0; i < 600 && !waiting && restore.state() == QProcess::Running; ++i) {
            for (const QString& work :
                 shelf.entryList({u".moxrestore-*"_s}, QDir::Dirs | QDir::Hidden))
                waiting =
                    waiting || QFileInfo::exists(shelf.filePath(work) + u"/before-MOXENV.sqlite"_s);
            QThread::msleep(100);
        }
        ASSERT_TRUE(waiting) << restore.readAllStandardError().toStdString();
        QThread::msleep(500);
    } else {
        QByteArray out;
        while (!out.contains("MOXENV.INI: ") && restore.waitForReadyRead(120'000))
            out += restore.readAllStandardOutput();
        ASSERT_TRUE(out.contains(u"まだ確定していません"_s.toUtf8()))
            << out.toStdString() << restore.readAllStandardError().toStdString();
    }
    ASSERT_EQ(restore.state(), QProcess::Running) << "the restore ended before it was killed";
    ::kill(pid_t(restore.processId()), SIGKILL);
    restore.waitForFinished();
    EXPECT_EQ(restore.exitStatus(), QProcess::CrashExit);
    if (desk.state() == QProcess::Running) {
        desk.write("ROLLBACK;\n.quit\n");
        desk.closeWriteChannel();
        desk.waitForFinished();
    }
}

// A restore killed while it writes, into empty databases and over an office's data: both
// databases stay as they were, and the next restore succeeds and clears what the killed one left.
TEST_P(LargeDistrict, RestoreKilledWhileItWritesLeavesBothDatabasesAsTheyWere)
{
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "over data (--replace)" : "into empty databases");
        Site target(GetParam());
        ASSERT_EQ(target.moxdb({u"init"_s}).code, 0);
        if (replace) {
            ASSERT_EQ(target.moxdb({u"demo"_s}).code, 0);
        }
        const QMap<QString, QStringList> pay = target.contents(u"MOX"_s);
        const QMap<QString, QStringList> env = target.contents(u"MOXENV"_s);
        // A copy of the backup in a folder of this test, where the restore unpacks it.
        QTemporaryDir shelf;
        const QString backup = shelf.filePath(u"district.moxbak"_s);
        ASSERT_TRUE(QFile::copy(district().backup(), backup));

        killRestore(target, backup, replace);
        expectSameTables(target.contents(u"MOXENV"_s), env);
        expectSameTables(target.contents(u"MOX"_s), pay);

        QStringList args = {u"restore"_s, backup};
        if (replace)
            args << u"--replace"_s;
        ProgramRun r = target.moxdb(args);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(entriesOf(shelf.path()), "district.moxbak")
            << "what the killed restore unpacked is gone";
        QTemporaryDir again;
        r = target.moxdb({u"export"_s, u"--all"_s, again.filePath(u"export"_s)});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        expectSameFiles(again.filePath(u"export"_s), district().exported());
    }
}

// PostgreSQL: the payroll database refuses the backup's records after the environment database
// took its own: neither is written.
TEST_P(LargeDistrict, APayrollDatabaseThatRefusesTheLoadLeavesTheEnvironmentAsItWas)
{
    if (GetParam() != Engine::Postgres)
        GTEST_SKIP() << "SQLite puts the environment database back from its copy";
    Site target(GetParam());
    ASSERT_EQ(target.moxdb({u"init"_s}).code, 0);
    ASSERT_EQ(target.moxdb({u"demo"_s}).code, 0);
    target.run(u"MOX"_s, u"ALTER TABLE \"GKKYUYO\" ADD CONSTRAINT refuses_all CHECK (false) "
                         u"NOT VALID"_s);
    const QMap<QString, QStringList> pay = target.contents(u"MOX"_s);
    const QMap<QString, QStringList> env = target.contents(u"MOXENV"_s);
    const ProgramRun r = target.moxdb({u"restore"_s, district().backup(), u"--replace"_s});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"何も書き込んでいません"_s)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"refuses_all"_s)) << r.err.toStdString();
    expectSameTables(target.contents(u"MOXENV"_s), env);
    expectSameTables(target.contents(u"MOX"_s), pay);
}

// PostgreSQL: the audit trail refuses the restore's own row (a trigger of the target's): the
// message says the records are restored and the row alone is missing.
TEST_P(LargeDistrict, ATrailThatRefusesTheRestoresRowIsReportedAsThatAlone)
{
    if (GetParam() != Engine::Postgres)
        GTEST_SKIP() << "a trigger that refuses rows is the server's";
    Site target(GetParam());
    ASSERT_EQ(target.moxdb({u"init"_s}).code, 0);
    target.run(u"MOX"_s,
               u"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE "
               u"EXCEPTION 'trail closed'; END $$; CREATE TRIGGER refuse BEFORE INSERT ON "
               u"\"KORDAO_AUDIT\" FOR EACH ROW EXECUTE FUNCTION refuse()"_s);
    const ProgramRun r = target.moxdb({u"restore"_s, district().backup()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"は復元し、件数も確かめましたが、監査記録に復元の行を書けません"_s))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"trail closed"_s)) << r.err.toStdString();
    EXPECT_EQ(target.contents(u"MOX"_s).value(u"GKJINJI"_s).size(), 3000);
}

// A backup killed while it copies leaves its work folder and its temporary archive; the next
// backup into that folder removes them, and nothing else.
TEST_P(LargeDistrict, TheNextBackupClearsWhatAKilledOneLeft)
{
    QTemporaryDir shelf;
    QFile mine(shelf.filePath(u".keep-me"_s));
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.close();
    QProcess backup;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, district().site());
    backup.setProcessEnvironment(env);
    backup.start(QStringLiteral(MOXDB_PROGRAM),
                 {u"backup"_s, shelf.filePath(u"a.moxbak"_s), u"--dir"_s, district().site()});
    QByteArray out;
    while (!out.contains("MOX.INI: ") && backup.waitForReadyRead(120'000))
        out += backup.readAllStandardOutput();
    ASSERT_EQ(backup.state(), QProcess::Running) << out.toStdString();
    ::kill(pid_t(backup.processId()), SIGKILL);
    backup.waitForFinished();
    const QString left = QString::fromStdString(entriesOf(shelf.path()));
    ASSERT_EQ(left.count(u".moxbackup-"_s), 1) << left.toStdString();
    ASSERT_EQ(left.count(u".a.moxbak."_s), 1) << left.toStdString();

    const ProgramRun r = district().moxdb({u"backup"_s, shelf.filePath(u"b.moxbak"_s)});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(entriesOf(shelf.path()), ".keep-me b.moxbak");
}

INSTANTIATE_TEST_SUITE_P(Engines, LargeDistrict, testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineName);

} // namespace
