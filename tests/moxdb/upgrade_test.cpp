// Schema versions as an office meets them through moxdb, on both engines: a database of a newer
// release is refused by every command with both versions named and left alone; an older one is
// refused until "moxdb upgrade", which takes a backup first and keeps the records.

#include "support.h"

#include "moxdb/init.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace moxdb {
namespace {

enum class Engine { Sqlite, Postgres };

class MoxdbVersion : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres) {
            if (!test::PostgresPair::serverGiven())
                GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
            m_server = std::make_unique<test::PostgresPair>(m_dir.path());
        }
        for (const QString& command : {u"init"_s, u"demo"_s}) {
            const test::ProgramRun r = run({command, u"--dir"_s, m_dir.path()});
            ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        }
    }

    test::ProgramRun run(const QStringList& args) const
    {
        return test::runMoxdb(args, m_dir.path(), m_dir.path());
    }

    bool sqlite() const { return GetParam() == Engine::Sqlite; }

    // Runs \p statements on the database of \p ini outside the programs; the value of the last
    // one's first row (invalid when one fails).
    QVariant raw(const QString& ini, const QStringList& statements) const
    {
        const QString name = u"moxdb-version-raw"_s;
        QVariant last;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(sqlite() ? u"QSQLITE"_s : u"QPSQL"_s, name);
            if (sqlite()) {
                db.setDatabaseName(
                    m_dir.filePath(ini == kPayrollIni ? u"mox.db"_s : u"moxenv.db"_s));
            } else {
                const QString pay = m_server->payroll();
                db.setDatabaseName(ini == kPayrollIni
                                       ? pay
                                       : QString(pay).replace(u"moxdb_pay_"_s, u"moxdb_env_"_s));
                db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
                db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
                db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER", u"postgres"_s));
            }
            if (db.open()) {
                QSqlQuery q(db);
                for (const QString& sql : statements) {
                    if (!q.exec(sql)) {
                        ADD_FAILURE()
                            << sql.toStdString() << ": " << q.lastError().text().toStdString();
                        break;
                    }
                    last = q.next() ? q.value(0) : QVariant();
                }
            } else {
                ADD_FAILURE() << db.lastError().text().toStdString();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return last;
    }

    void setVersion(const QString& ini, int version) const
    {
        raw(ini, {sqlite() ? u"PRAGMA user_version = %1"_s.arg(version)
                           : u"UPDATE \"KORDAO_VERSION\" SET \"VERSION\" = %1"_s.arg(version)});
    }

    int version(const QString& ini) const
    {
        return raw(ini, {sqlite() ? u"PRAGMA user_version"_s
                                  : u"SELECT \"VERSION\" FROM \"KORDAO_VERSION\""_s})
            .toInt();
    }

    int payments() const
    {
        return raw(kPayrollIni, {u"SELECT COUNT(*) FROM \"GKKYUYO\""_s}).toInt();
    }

    // Takes the payroll database back to the design before the audit trail: no trail, no
    // triggers of it, no version.
    void makePayrollBeforeAudit() const
    {
        QStringList old;
        for (const QString& table : {u"GKKANRI"_s, u"GKJINJI"_s, u"GKKYUYO"_s, u"GKKOYOU"_s}) {
            if (sqlite()) {
                for (const QString& action : {u"INSERT"_s, u"UPDATE"_s, u"DELETE"_s})
                    old << u"DROP TRIGGER \"%1_TRAIL_%2\""_s.arg(table, action);
            } else {
                for (const QString& suffix :
                     {u"ROW"_s, u"UPDATE"_s, u"ADDED"_s, u"REMOVED"_s, u"CLEARED"_s})
                    old << u"DROP TRIGGER \"%1_TRAIL_%2\" ON \"%1\""_s.arg(table, suffix);
            }
        }
        if (sqlite()) {
            old << u"DROP TABLE \"KORDAO_WRITER\""_s << u"DROP TABLE \"KORDAO_AUDIT\""_s
                << u"PRAGMA user_version = 0"_s;
        } else {
            old << u"DROP FUNCTION kordao_audit_row()"_s
                << u"DROP FUNCTION kordao_audit_statement()"_s << u"DROP TABLE \"KORDAO_AUDIT\""_s
                << u"DROP TABLE \"KORDAO_VERSION\""_s;
        }
        raw(kPayrollIni, old);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<test::PostgresPair> m_server;
};

// The commands that open a database, each with what it needs to get that far: the data commands
// take the CSV files and the backup that the test makes of the district first (import with
// --replace, so that the records already there are no fault of the files).
const QList<QStringList> kCommands = {
    {u"audit"_s},
    {u"tax"_s, u"list"_s},
    {u"calc"_s, u"10025"_s},
    {u"bonus"_s, u"run"_s},
    {u"demo"_s},
    {u"init"_s},
    {u"upgrade"_s},
    {u"backup"_s, u"b.moxbak"_s},
    {u"import"_s, u"--all"_s, u"csv"_s, u"--replace"_s, u"--check"_s},
    {u"import"_s, u"GKJINJI"_s, u"csv/GKJINJI.csv"_s, u"--replace"_s},
    {u"export"_s, u"--all"_s, u"out"_s},
    {u"ledger"_s, u"2026"_s, u"--out"_s, u"ledger.csv"_s},
    {u"restore"_s, u"saved/district.moxbak"_s, u"--replace"_s},
};

TEST_P(MoxdbVersion, EveryCommandRefusesANewerDatabaseNamingBothVersions)
{
    const int before = payments();
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"saved"_s));
    for (const QStringList& args : {QStringList{u"export"_s, u"--all"_s, u"csv"_s},
                                    QStringList{u"backup"_s, u"saved/district.moxbak"_s}}) {
        const test::ProgramRun r = run(args);
        ASSERT_EQ(r.code, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
    }
    for (const QString& ini : {kPayrollIni, kEnvironmentIni}) {
        SCOPED_TRACE(ini.toStdString());
        setVersion(ini, 2);
        for (const QStringList& args : kCommands) {
            // audit, ledger and a payroll table's import read the payroll database alone, tax
            // the environment one alone.
            const bool payrollAlone = args.first() == u"audit"_s || args.first() == u"ledger"_s ||
                                      args.contains(u"GKJINJI"_s);
            if ((ini == kEnvironmentIni && payrollAlone) ||
                (ini == kPayrollIni && args.first() == u"tax"_s))
                continue;
            const test::ProgramRun r = run(args);
            EXPECT_EQ(r.code, 1) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(u"バージョン 2"_s) && r.err.contains(u"バージョン 1"_s))
                << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        }
        EXPECT_EQ(version(ini), 2);
        setVersion(ini, 1);
    }
    EXPECT_EQ(payments(), before);
    EXPECT_FALSE(QFile::exists(m_dir.filePath(u"b.moxbak"_s)));
    EXPECT_TRUE(QDir(m_dir.path()).entryList({u"*.moxbak"_s}).isEmpty()) << "no backup made";
    EXPECT_FALSE(QFile::exists(m_dir.filePath(u"ledger.csv"_s)));
    EXPECT_TRUE(QDir(m_dir.filePath(u"out"_s)).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << "no table exported";
}

TEST_P(MoxdbVersion, AnOlderDatabaseIsRefusedUntilUpgradedWithItsBackupAndRecords)
{
    const int before = payments();
    ASSERT_GT(before, 0);
    makePayrollBeforeAudit();

    test::ProgramRun r = run({u"audit"_s});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"moxdb upgrade"_s)) << r.err.toStdString();
    r = run({u"init"_s});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains(u"moxdb upgrade"_s)) << r.err.toStdString();

    const QString backup = m_dir.filePath(u"before.moxbak"_s);
    r = run({u"upgrade"_s, u"--backup"_s, backup});
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"監査記録のない形式"_s) || r.out.contains(u"監査テーブル"_s))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(u"バージョン 1 に更新しました"_s)) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(backup)) << r.out.toStdString();
    ASSERT_TRUE(QFile::exists(backup));
    EXPECT_EQ(QFileInfo(backup).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);

    EXPECT_EQ(version(kPayrollIni), 1);
    EXPECT_EQ(payments(), before);
    r = run({u"calc"_s, u"10025"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = run({u"audit"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();

    // Once up to date, another upgrade has nothing to do and makes no backup.
    r = run({u"upgrade"_s, u"--backup"_s, m_dir.filePath(u"again.moxbak"_s)});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(m_dir.filePath(u"again.moxbak"_s)));
}

TEST_P(MoxdbVersion, AnUpgradeWhoseStepFailsChangesNothing)
{
    makePayrollBeforeAudit();
    // An object in the way of a part of the step made after the audit table.
    if (sqlite())
        raw(kPayrollIni,
            {u"DROP INDEX \"GKKYUYO_IX1\""_s, u"CREATE TABLE \"GKKYUYO_IX1\" (\"X\" INTEGER)"_s});
    else
        raw(kPayrollIni, {u"CREATE FUNCTION kordao_audit_row() RETURNS integer LANGUAGE sql AS "
                          "'SELECT 1'"_s});
    const int before = payments();
    const test::ProgramRun r =
        run({u"upgrade"_s, u"--backup"_s, m_dir.filePath(u"before.moxbak"_s)});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"何も変更していません"_s)) << r.err.toStdString();
    EXPECT_EQ(payments(), before);
    const QString trail = sqlite()
                              ? u"SELECT COUNT(*) FROM sqlite_master WHERE name = 'KORDAO_AUDIT'"_s
                              : u"SELECT COUNT(*) FROM pg_class WHERE relname = 'KORDAO_AUDIT'"_s;
    EXPECT_EQ(raw(kPayrollIni, {trail}).toInt(), 0);
    EXPECT_TRUE(QFile::exists(m_dir.filePath(u"before.moxbak"_s))) << "the backup stays";
}

INSTANTIATE_TEST_SUITE_P(Engines, MoxdbVersion, testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& p) {
                             return p.param == Engine::Sqlite ? "SQLite" : "PostgreSQL";
                         });

} // namespace
} // namespace moxdb
