// moxdb backup and moxdb restore, run as an office runs them: the demo district backed up,
// restored into new databases of the same engine and compared table by table; every bad file
// refused with its message and the target databases unchanged.

#include "site.h"
#include "support.h"

#include "moxdb/backupfile.h"
#include "moxdb/workfolder.h"

#include "kordao/backup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include <sys/stat.h>
#include <sys/time.h>

using namespace Qt::StringLiterals;
using moxdb::test::Engine;
using moxdb::test::engineName;
using moxdb::test::entriesOf;
using moxdb::test::expectSameTables;
using moxdb::test::PostgresPair;
using moxdb::test::ProgramRun;
using moxdb::test::runMoxdb;
using moxdb::test::Site;

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777u) : 0u;
}

class BackupRestore : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres && !PostgresPair::serverGiven())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    }
};

TEST_P(BackupRestore, RestoresEveryRecordOfBothDatabasesIntoEmptyOnes)
{
    Site office(GetParam());
    ASSERT_EQ(office.moxdb({u"init"_s}).code, 0);
    ASSERT_EQ(office.moxdb({u"demo"_s}).code, 0);
    QTemporaryDir shelf;
    const QString file = shelf.filePath(u"office.moxbak"_s);
    const ProgramRun backup = office.moxdb({u"backup"_s, file});
    ASSERT_EQ(backup.code, 0) << backup.err.toStdString();
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(QDir(shelf.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"office.moxbak"_s})
        << "the copies made on the way are gone";

    // An administrator can inspect it with the standard tool.
    QProcess tar;
    tar.start(u"tar"_s, {u"tf"_s, file});
    tar.waitForFinished();
    const QString ext = GetParam() == Engine::Sqlite ? u"sqlite"_s : u"pgdump"_s;
    EXPECT_EQ(QString::fromUtf8(tar.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{u"manifest.txt"_s, u"MOX."_s + ext, u"MOXENV."_s + ext}));

    // Into the other engine: refused, pointing at the way between engines.
    if (GetParam() == Engine::Postgres || PostgresPair::serverGiven()) {
        Site other(GetParam() == Engine::Sqlite ? Engine::Postgres : Engine::Sqlite);
        ASSERT_EQ(other.moxdb({u"init"_s}).code, 0);
        const ProgramRun crossed = other.moxdb({u"restore"_s, file});
        EXPECT_EQ(crossed.code, 1);
        EXPECT_TRUE(crossed.err.contains(u"moxdb export --all"_s)) << crossed.err.toStdString();
        EXPECT_EQ(other.contents(u"MOX"_s).value(u"GKKYUYO"_s), QStringList{});
    }

    Site spare(GetParam());
    ASSERT_EQ(spare.moxdb({u"init"_s}).code, 0);
    const ProgramRun restore = spare.moxdb({u"restore"_s, file});
    ASSERT_EQ(restore.code, 0) << restore.err.toStdString();

    const QMap<QString, QStringList> env = office.contents(u"MOXENV"_s);
    expectSameTables(spare.contents(u"MOXENV"_s), env); // the tax editions are the backup's
    EXPECT_GT(env.value(u"ZEIGETU"_s).size(), 0);
    QMap<QString, QStringList> pay = office.contents(u"MOX"_s);
    QMap<QString, QStringList> back = spare.contents(u"MOX"_s);
    ASSERT_EQ(pay.value(u"GKKYUYO"_s).size(), 918);
    // The trail is the backup's, row for row, and then the restore's own row.
    QStringList trail = back.take(u"KORDAO_AUDIT"_s);
    const QStringList restored = trail.filter(u"RESTORE"_s);
    ASSERT_EQ(restored.size(), 1);
    EXPECT_TRUE(restored.front().contains(file));
    trail.removeAll(restored.front());
    EXPECT_EQ(trail.join(u'\n').toStdString(),
              pay.take(u"KORDAO_AUDIT"_s).join(u'\n').toStdString());
    const auto withoutTrail = [](QStringList rows) {
        rows.removeIf([](const QString& r) { return r.contains(u"KORDAO_AUDIT"_s); });
        return rows;
    };
    // The kept record counts (and SQLite's last audit number) differ by that row alone.
    for (const QString& kept : {u"KORDAO_ROWS"_s, u"sqlite_sequence"_s}) {
        if (pay.contains(kept)) {
            back.insert(kept, withoutTrail(back.value(kept)));
            pay.insert(kept, withoutTrail(pay.value(kept)));
        }
    }
    expectSameTables(back, pay);

    // What moxdb export --all writes of the restored databases is the original's, byte for byte.
    QTemporaryDir exports;
    const QString mine = exports.filePath(u"office"_s), theirs = exports.filePath(u"spare"_s);
    ASSERT_EQ(office.moxdb({u"export"_s, u"--all"_s, mine}).code, 0);
    ASSERT_EQ(spare.moxdb({u"export"_s, u"--all"_s, theirs}).code, 0);
    const QStringList files = QDir(mine).entryList(QDir::Files, QDir::Name);
    EXPECT_GE(files.size(), 5);
    EXPECT_EQ(QDir(theirs).entryList(QDir::Files, QDir::Name), files);
    for (const QString& name : files) {
        QFile a(QDir(mine).filePath(name)), b(QDir(theirs).filePath(name));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_TRUE(a.readAll() == b.readAll()) << name.toStdString();
    }

    // Now it holds data: refused, naming the tables, and unchanged; --replace restores again.
    const ProgramRun again = spare.moxdb({u"restore"_s, file});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains(u"GKKYUYO 918 件"_s)) << again.err.toStdString();
    EXPECT_TRUE(again.err.contains(u"--replace"_s));
    EXPECT_EQ(spare.contents(u"MOX"_s).value(u"KORDAO_AUDIT"_s).filter(u"RESTORE"_s).size(), 1);
    const ProgramRun replaced = spare.moxdb({u"restore"_s, file, u"--replace"_s});
    EXPECT_EQ(replaced.code, 0) << replaced.err.toStdString();
    EXPECT_EQ(spare.contents(u"MOX"_s).value(u"GKKYUYO"_s),
              office.contents(u"MOX"_s).value(u"GKKYUYO"_s));
}

INSTANTIATE_TEST_SUITE_P(Engines, BackupRestore, testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineName);

// Bad backups, each refused with its own message while the databases stay as they were.
class BackupRefusal : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_office.moxdb({u"init"_s}).code, 0);
        ASSERT_EQ(m_office.moxdb({u"demo"_s}).code, 0);
        ASSERT_EQ(m_office.moxdb({u"backup"_s, good()}).code, 0);
        ASSERT_EQ(m_target.moxdb({u"init"_s}).code, 0);
        m_before = m_target.contents(u"MOX"_s);
        m_envBefore = m_target.contents(u"MOXENV"_s);
    }

    QString good() const { return m_shelf.filePath(u"good.moxbak"_s); }
    QString path(const QString& name) const { return m_shelf.filePath(name); }

    // The backup's members as they are stored, the manifest first.
    std::vector<std::pair<QString, QByteArray>> members() const
    {
        std::vector<std::pair<QString, QByteArray>> out;
        const auto index = moxdb::readBackupIndex(good());
        EXPECT_FALSE(mox::failure(index));
        for (const moxdb::TarMember& m : mox::value(index))
            out.emplace_back(m.name, mox::value(moxdb::readMember(good(), m)));
        return out;
    }

    QString write(const QString& name, const std::vector<std::pair<QString, QByteArray>>& parts)
    {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        moxdb::BackupWriter w(&f);
        for (const auto& [member, data] : parts)
            EXPECT_TRUE(w.addMember(member, data));
        EXPECT_TRUE(w.finish());
        return f.fileName();
    }

    // Restores \p file into the empty target: refused, its message holding \p message, and
    // both databases as they were.
    void expectRefused(const QString& file, const QString& message)
    {
        const ProgramRun r = m_target.moxdb({u"restore"_s, file});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(message)) << r.err.toStdString();
        expectSameTables(m_target.contents(u"MOX"_s), m_before);
        expectSameTables(m_target.contents(u"MOXENV"_s), m_envBefore);
        EXPECT_EQ(
            QDir(m_shelf.path()).entryList({u".moxrestore-*"_s}, QDir::AllEntries | QDir::Hidden),
            QStringList{})
            << "the members unpacked on the way are gone";
    }

    Site m_office{Engine::Sqlite};
    Site m_target{Engine::Sqlite};
    QTemporaryDir m_shelf;
    QMap<QString, QStringList> m_before;
    QMap<QString, QStringList> m_envBefore;
};

TEST_F(BackupRefusal, FilesThatAreNoBackupOfOurs)
{
    QFile other(path(u"letter.txt"_s));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray(4096, 'x'));
    other.close();
    expectRefused(other.fileName(),
                  u"このプログラムのバックアップとして読めません（tar 形式ではありません）"_s);

    auto parts = members();
    parts.erase(parts.begin()); // a tar archive without the manifest
    expectRefused(write(u"nomanifest.tar"_s, parts), u"manifest.txt がありません"_s);

    parts = members();
    parts.front().second.replace("format=mox-backup 1", "format=something-else");
    expectRefused(write(u"otherformat.tar"_s, parts), u"形式 something-else は扱えません"_s);
}

TEST_F(BackupRefusal, ATruncatedBackup)
{
    QFile in(good());
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray whole = in.readAll();
    for (const qsizetype keep : {whole.size() / 2, whole.size() - 1024}) {
        QFile cut(path(u"cut.moxbak"_s));
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cut.write(whole.left(keep));
        cut.close();
        expectRefused(cut.fileName(), u"途中で切れています"_s);
    }
}

TEST_F(BackupRefusal, AMemberThatDoesNotMatchItsChecksum)
{
    auto parts = members();
    ASSERT_EQ(parts[1].first, u"MOX.sqlite"_s);
    // A changed byte deep in the payroll copy: the copy itself may still read as a database.
    parts[1].second[parts[1].second.size() - 100] ^= 0x55;
    expectRefused(write(u"flipped.moxbak"_s, parts),
                  u"MOX.sqlite のチェックサムが manifest.txt と一致しません"_s);
}

TEST_F(BackupRefusal, AManifestWhoseCountsDoNotMatchItsCopy)
{
    auto parts = members();
    QByteArray& manifest = parts.front().second;
    const qsizetype at = manifest.indexOf("count.MOX.GKKYUYO=918");
    ASSERT_GE(at, 0);
    manifest.replace("count.MOX.GKKYUYO=918", "count.MOX.GKKYUYO=917");
    expectRefused(write(u"counts.moxbak"_s, parts),
                  u"GKKYUYO が 918 件（バックアップでは 917 件）"_s);
}

TEST_F(BackupRefusal, ABackupOfTheOtherEngine)
{
    auto parts = members();
    parts.front().second.replace("engine=sqlite", "engine=postgresql");
    parts.front().second.replace(".sqlite.", ".pgdump.");
    parts[1].first = u"MOX.pgdump"_s;
    parts[2].first = u"MOXENV.pgdump"_s;
    // The dumps are checked first: SQLite files are no pg_dump archive.
    const ProgramRun r = m_target.moxdb({u"restore"_s, write(u"engine.moxbak"_s, parts)});
    EXPECT_EQ(r.code, 1);
    expectSameTables(m_target.contents(u"MOX"_s), m_before);
}

TEST_F(BackupRefusal, AFullDiskLeavesNoFileBehind)
{
    QTemporaryDir small;
    const QString file = small.filePath(u"office.moxbak"_s);
    // A file size limit of 100 KiB stands in for a full disk: the copies and the archive fail.
    QProcess sh;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, m_office.dir());
    sh.setProcessEnvironment(env);
    sh.start(u"/bin/sh"_s, {u"-c"_s, u"ulimit -f 200; exec \"$0\" backup \"$1\" --dir \"$2\""_s,
                            QStringLiteral(MOXDB_PROGRAM), file, m_office.dir()});
    ASSERT_TRUE(sh.waitForFinished(120'000));
    EXPECT_EQ(sh.exitStatus(), QProcess::NormalExit) << "no signal ends it half-way";
    EXPECT_EQ(sh.exitCode(), 1);
    const QString err = QString::fromUtf8(sh.readAllStandardError());
    EXPECT_TRUE(err.contains(u"moxdb backup: "_s)) << err.toStdString();
    EXPECT_EQ(QDir(small.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{})
        << err.toStdString();
}

TEST(BackupManifest, ReadsBackWhatItWritesAndNamesABadLine)
{
    moxdb::BackupManifest m;
    m.release = u"1.0"_s;
    m.schema = 1;
    m.engine = u"sqlite"_s;
    m.created = u"2026-12-08T07:40:12Z"_s;
    m.members.push_back({u"MOX.sqlite"_s, QByteArray(64, 'a'), 4096});
    m.counts.insert(u"MOXENV.名設定"_s, 3);
    const auto back = moxdb::BackupManifest::parse(m.toText(), u"f"_s);
    ASSERT_FALSE(mox::failure(back));
    EXPECT_EQ(mox::value(back).toText(), m.toText());
    EXPECT_EQ(mox::value(back).counts.value(u"MOXENV.名設定"_s), 3);
    ASSERT_NE(mox::value(back).member(u"MOX.sqlite"_s), nullptr);
    EXPECT_EQ(mox::value(back).member(u"MOX.sqlite"_s)->size, 4096);

    QByteArray bad = m.toText();
    bad.replace("count.MOXENV.名設定=3", "count.MOXENV.名設定=three");
    const auto refused = moxdb::BackupManifest::parse(bad, u"f"_s);
    ASSERT_TRUE(mox::failure(refused));
    EXPECT_TRUE(mox::failure(refused)->message.contains(u"manifest.txt の 8 行目"_s))
        << mox::failure(refused)->message.toStdString();
}

} // namespace

namespace {

// What the database component gives a backup: a copy checked before it is used.
TEST(KorDAOBackup, ACopyIsCheckedAndCountedAndNeverWrittenOverAFile)
{
    Site office(Engine::Sqlite);
    ASSERT_EQ(office.moxdb({u"init"_s}).code, 0);
    ASSERT_EQ(office.moxdb({u"demo"_s}).code, 0);
    KorDAO::confineIniSearch(office.dir());
    auto opened = moxdb::Database::open(u"MOX.INI"_s, false);
    KorDAO::confineIniSearch(QString());
    ASSERT_FALSE(mox::failure(opened));
    std::unique_ptr<moxdb::Database>& db = mox::value(opened);
    const QString copy = office.file(u"copy.db"_s);
    const auto counts = KorDAO::copySqliteDatabase(db->handle(), copy);
    ASSERT_FALSE(mox::failure(counts)) << mox::failure(counts)->message.toStdString();
    const auto live = KorDAO::tableCounts(db->handle());
    ASSERT_FALSE(mox::failure(live));
    EXPECT_EQ(mox::value(counts), mox::value(live));
    EXPECT_EQ(std::find_if(mox::value(live).begin(), mox::value(live).end(),
                           [](const KorDAO::TableCount& c) { return c.table == u"GKKYUYO"_s; })
                  ->records,
              918);

    const auto again = KorDAO::copySqliteDatabase(db->handle(), copy);
    ASSERT_TRUE(mox::failure(again));
    EXPECT_TRUE(mox::failure(again)->message.contains(copy));

    // Pages in the middle of the copy overwritten: a damaged copy is never taken for a backup.
    QFile f(copy);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_GT(f.size(), 16384);
    f.seek(f.size() / 2 / 4096 * 4096);
    f.write(QByteArray(8192, '\x7f'));
    f.close();
    const auto damaged = KorDAO::checkSqliteFile(copy);
    ASSERT_TRUE(mox::failure(damaged));
    // Refused by the check or by the reads after it, either way naming the file.
    EXPECT_TRUE(mox::failure(damaged)->message.contains(copy))
        << mox::failure(damaged)->message.toStdString();
}

TEST(KorDAOBackup, TheServerToolsGetTheConnectionAndThePasswordThroughTheEnvironment)
{
    if (!PostgresPair::serverGiven())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    QTemporaryDir dir;
    PostgresPair pair(dir.path());
    ASSERT_EQ(runMoxdb({u"init"_s, u"--dir"_s, dir.path()}, dir.path()).code, 0);
    QFile ini(dir.filePath(u"MOX.INI"_s));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("Password=se cret;'x\n");
    ini.close();
    ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    KorDAO::confineIniSearch(dir.path());
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    db.setPrivateConnection(true);
    ASSERT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
    const QHash<QString, QString> env = KorDAO::clientEnvironment(db.DBDatabase());
    (void)db.DAO_DBClose();
    KorDAO::confineIniSearch(QString());
    EXPECT_EQ(env.value(u"PGPASSWORD"_s), u"se cret;'x"_s);
    EXPECT_EQ(env.value(u"PGDATABASE"_s), pair.payroll());
    EXPECT_EQ(env.value(u"PGHOST"_s), qEnvironmentVariable("MOX_TEST_PGHOST"));
    EXPECT_EQ(env.value(u"PGPORT"_s), qEnvironmentVariable("MOX_TEST_PGPORT"));
    EXPECT_TRUE(env.value(u"PGAPPNAME"_s).contains(u'@'));
}

} // namespace

namespace {

// Runs \p sql on the test server's maintenance database as its superuser.
void onServer(const QString& sql)
{
    QProcess p;
    p.start(u"psql"_s,
            {u"-X"_s, u"-q"_s, u"-h"_s, qEnvironmentVariable("MOX_TEST_PGHOST"), u"-p"_s,
             qEnvironmentVariable("MOX_TEST_PGPORT"), u"-U"_s,
             qEnvironmentVariable("MOX_TEST_PGUSER"), u"-d"_s, u"postgres"_s, u"-c"_s, sql});
    p.waitForFinished(60'000);
}

// Roles of this test alone, dropped when it ends (after the databases that name them).
struct TestRoles {
    QString suffix = QString::number(QCoreApplication::applicationPid());
    QString op = u"bk_op_"_s + suffix, admin = u"bk_admin_"_s + suffix,
            auditor = u"bk_aud_"_s + suffix, owner = u"bk_own_"_s + suffix,
            login = u"bk_login_"_s + suffix;
    ~TestRoles()
    {
        for (const QString& r : {login, op, admin, auditor, owner})
            onServer(u"DROP ROLE IF EXISTS "_s + r);
    }
};

TEST(BackupOnAnOfficeServer, TheAdministratorBacksUpAndOnlyTheSuperuserRestores)
{
    if (!PostgresPair::serverGiven())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    TestRoles roles;
    QTemporaryDir super;
    QTemporaryDir admin;
    PostgresPair pair(super.path());
    const ProgramRun init =
        runMoxdb({u"init"_s, u"--roles"_s, u"--operator-role"_s, roles.op, u"--admin-role"_s,
                  roles.admin, u"--auditor-role"_s, roles.auditor, u"--owner-role"_s, roles.owner,
                  u"--dir"_s, super.path()},
                 super.path());
    ASSERT_EQ(init.code, 0) << init.err.toStdString();
    onServer(u"CREATE ROLE %1 LOGIN IN ROLE %2"_s.arg(roles.login, roles.admin));
    for (const QString& ini : {u"MOX.INI"_s, u"MOXENV.INI"_s}) {
        QFile in(QDir(super.path()).filePath(ini));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QFile out(QDir(admin.path()).filePath(ini));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QString::fromUtf8(in.readAll())
                      .replace(u"User="_s + qEnvironmentVariable("MOX_TEST_PGUSER"),
                               u"User="_s + roles.login)
                      .toUtf8());
    }
    ASSERT_EQ(runMoxdb({u"demo"_s, u"--dir"_s, admin.path()}, admin.path()).code, 0);

    QTemporaryDir shelf;
    const QString file = shelf.filePath(u"office.moxbak"_s);
    const ProgramRun backup = runMoxdb({u"backup"_s, file, u"--dir"_s, admin.path()}, admin.path());
    ASSERT_EQ(backup.code, 0) << backup.err.toStdString();

    const ProgramRun byAdmin =
        runMoxdb({u"restore"_s, file, u"--replace"_s, u"--dir"_s, admin.path()}, admin.path());
    EXPECT_EQ(byAdmin.code, 1);
    EXPECT_TRUE(byAdmin.err.contains(u"スーパーユーザー"_s)) << byAdmin.err.toStdString();

    const ProgramRun bySuper =
        runMoxdb({u"restore"_s, file, u"--replace"_s, u"--dir"_s, super.path()}, super.path());
    EXPECT_EQ(bySuper.code, 0) << bySuper.err.toStdString();
}

} // namespace

namespace {

// What a sweep removes of a folder's work folders, and what it leaves.
class WorkFolderSweep : public testing::Test {
protected:
    // A work folder as a process that ended leaves it: ".lock" free, naming \p companion.
    QString leftOver(const QString& name, const QByteArray& companion = {})
    {
        const QString dir = m_parent.filePath(name);
        EXPECT_TRUE(QDir().mkdir(dir));
        QFile lock(dir + u"/.lock"_s);
        EXPECT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write(companion + '\n');
        QFile copy(dir + u"/MOX.sqlite"_s);
        EXPECT_TRUE(copy.open(QIODevice::WriteOnly));
        return dir;
    }
    void touch(const QString& name)
    {
        QFile f(m_parent.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    }
    std::string entries() const { return entriesOf(m_parent.path()); }

    QTemporaryDir m_parent;
};

TEST_F(WorkFolderSweep, RemovesAFinishedRunsFolderAndItsTemporaryArchiveOnly)
{
    leftOver(u".moxbackup-aaaaaa"_s, ".office.moxbak.k3j9");
    touch(u".office.moxbak.k3j9"_s);
    touch(u".office.moxbak.zzzz"_s); // another run's temporary file, not named by this one
    touch(u"office.moxbak"_s);
    EXPECT_EQ(moxdb::sweepWorkFolders(m_parent.path(), u".moxbackup-"_s), 1);
    EXPECT_EQ(entries(), ".office.moxbak.zzzz office.moxbak");
}

TEST_F(WorkFolderSweep, LeavesALiveRunsFolder)
{
    const moxdb::WorkFolder live(m_parent.path(), u".moxbackup-"_s);
    ASSERT_TRUE(live.isValid()) << live.errorString().toStdString();
    EXPECT_EQ(moxdb::sweepWorkFolders(m_parent.path(), u".moxbackup-"_s), 0);
    EXPECT_TRUE(QFileInfo(live.path()).isDir());
}

TEST_F(WorkFolderSweep, NeverFollowsALinkNorTakesACompanionThatIsALink)
{
    QTemporaryDir elsewhere;
    QFile precious(elsewhere.filePath(u"MOX.sqlite"_s));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();
    ASSERT_TRUE(QFile::link(elsewhere.path(), m_parent.filePath(u".moxbackup-linked"_s)));
    // A left-over folder whose lock names a link to a file elsewhere, and a name with a slash.
    leftOver(u".moxbackup-bbbbbb"_s, ".pointer\n../escape");
    ASSERT_TRUE(QFile::link(precious.fileName(), m_parent.filePath(u".pointer"_s)));
    EXPECT_EQ(moxdb::sweepWorkFolders(m_parent.path(), u".moxbackup-"_s), 1);
    EXPECT_TRUE(QFileInfo::exists(precious.fileName()));
    EXPECT_EQ(entries(), ".moxbackup-linked .pointer");
}

TEST_F(WorkFolderSweep, AFolderWithoutALockGoesOnlyWhenADayOld)
{
    const QString fresh = m_parent.filePath(u".moxrestore-cccccc"_s);
    const QString old = m_parent.filePath(u".moxrestore-dddddd"_s);
    ASSERT_TRUE(QDir().mkdir(fresh));
    ASSERT_TRUE(QDir().mkdir(old));
    const struct timeval twoDaysAgo[2] = {{::time(nullptr) - 2 * 86400, 0},
                                          {::time(nullptr) - 2 * 86400, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(old).constData(), twoDaysAgo), 0);
    EXPECT_EQ(moxdb::sweepWorkFolders(m_parent.path(), u".moxrestore-"_s), 1);
    EXPECT_EQ(entries(), ".moxrestore-cccccc");
}

} // namespace
