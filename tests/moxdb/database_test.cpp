// Creating the databases and writing the demo and synthetic data through the database
// component: SQLite in a scratch folder, and PostgreSQL when the test server is there.
#include "moxdb/command.h"
#include "moxdb/demodata.h"
#include "moxdb/init.h"
#include "moxdb/synthdata.h"
#include "moxdb/tables.h"

#include "support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <gtest/gtest.h>

#include <map>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

mox::Status loadDemo(Database& payroll, Database& environment, const DatasetRows& rows)
{
    mox::Status s = replaceTables(payroll, {{&kanriLayout(), &rows.kanri},
                                            {&jinjiLayout(), &rows.jinji},
                                            {&kyuyoLayout(), &rows.kyuyo},
                                            {&koyouLayout(), &rows.koyou}});
    return s.ok() ? replaceTables(environment, {{&nameLayout(), &rows.names}}) : s;
}

/// The output of the sqlite3 shell for \p sql on \p file; empty when there is no shell.
QString sqliteShell(const QString& file, const QString& sql)
{
    const QString shell = QStandardPaths::findExecutable(u"sqlite3"_s);
    if (shell.isEmpty())
        return QString();
    QProcess p;
    p.start(shell, {file, sql});
    p.waitForFinished(30'000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class MoxdbSqlite : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_scratch.isValid());
        const mox::Status s = m_scratch.initSqlite();
        ASSERT_TRUE(s.ok()) << s.message.toStdString();
        m_payroll = m_scratch.open(kPayrollIni);
        m_environment = m_scratch.open(kEnvironmentIni);
        ASSERT_TRUE(m_payroll && m_environment);
    }

    test::ScratchFolder m_scratch;
    std::unique_ptr<Database> m_payroll;
    std::unique_ptr<Database> m_environment;
    test::FlatTax m_tax;
};

} // namespace

TEST(MoxdbIniFiles, DefaultsWrittenOnlyWhenBothAreMissing)
{
    test::ScratchFolder scratch;
    auto first = ensureIniFiles({scratch.path()}, scratch.path());
    ASSERT_FALSE(mox::failure(first));
    EXPECT_TRUE(mox::value(first).written);
    const QString ini = readFile(scratch.file(kPayrollIni));
    EXPECT_TRUE(ini.contains(u"Driver=QSQLITE"_s));
    EXPECT_TRUE(ini.contains(u"Database=mox.db"_s));
    EXPECT_TRUE(readFile(scratch.file(kEnvironmentIni)).contains(u"Database=moxenv.db"_s));

    // A second run finds them and leaves them as they are.
    QFile::remove(scratch.file(kPayrollIni));
    QFile f(scratch.file(kPayrollIni));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Database]\nDriver=QSQLITE\nDatabase=other.db\n");
    f.close();
    auto second = ensureIniFiles({scratch.path()}, scratch.path());
    ASSERT_FALSE(mox::failure(second));
    EXPECT_FALSE(mox::value(second).written);
    EXPECT_TRUE(readFile(scratch.file(kPayrollIni)).contains(u"other.db"_s));

    // Only one of the two is a failure that names the missing one.
    QFile::remove(scratch.file(kEnvironmentIni));
    auto third = ensureIniFiles({scratch.path()}, scratch.path());
    ASSERT_TRUE(mox::failure(third));
    EXPECT_TRUE(mox::failure(third)->message.contains(kEnvironmentIni));
}

TEST_F(MoxdbSqlite, InitCreatesBothDatabasesWithEmptyTables)
{
    EXPECT_TRUE(QFile::exists(m_scratch.file(u"mox.db"_s)));
    EXPECT_TRUE(QFile::exists(m_scratch.file(u"moxenv.db"_s)));
    for (const QString& table : {u"GKKANRI"_s, u"GKJINJI"_s, u"GKKYUYO"_s, u"GKKOYOU"_s})
        EXPECT_EQ(m_payroll->count(table), 0) << table.toStdString();
    EXPECT_EQ(m_environment->count(u"名設定"_s), 0);
}

TEST_F(MoxdbSqlite, InitAgainKeepsTheData)
{
    const DatasetRows rows = demoRows(m_tax);
    ASSERT_TRUE(loadDemo(*m_payroll, *m_environment, rows).ok());
    int stepRuns = 0;
    static int* runs = nullptr;
    runs = &stepRuns;
    const InitStep step{u"count"_s, [](Database&, Database&) {
                            ++*runs;
                            return mox::Status::success();
                        }};
    QString log;
    QTextStream stream(&log);
    const mox::Status s = initDatabases({step, step}, stream);
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
    EXPECT_EQ(stepRuns, 2);
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s), static_cast<int>(rows.kyuyo.size()));
    EXPECT_EQ(m_environment->count(u"名設定"_s), 1);
}

TEST_F(MoxdbSqlite, FailingInitStepIsReportedByName)
{
    const InitStep broken{u"tax tables"_s, [](Database&, Database&) {
                              return mox::Status::failure(-20, u"missing"_s);
                          }};
    QString log;
    QTextStream stream(&log);
    const mox::Status s = initDatabases({broken}, stream);
    EXPECT_EQ(s.code, -20);
    EXPECT_TRUE(s.message.startsWith(u"tax tables"_s));
}

TEST_F(MoxdbSqlite, DemoReplacesTheDataAndShellReadsPlainYen)
{
    const DatasetRows rows = demoRows(m_tax);
    ASSERT_TRUE(loadDemo(*m_payroll, *m_environment, rows).ok());
    ASSERT_TRUE(loadDemo(*m_payroll, *m_environment, rows).ok());
    EXPECT_EQ(m_payroll->count(u"GKJINJI"_s), static_cast<int>(rows.jinji.size()));
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s), static_cast<int>(rows.kyuyo.size()));
    EXPECT_EQ(m_payroll->count(u"GKKANRI"_s, u"KEY = 'KANRI'"_s), 1);
    EXPECT_EQ(m_payroll->count(u"GKKOYOU"_s), 1);
    EXPECT_EQ(m_environment->count(u"名設定"_s), 1);
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s, u"KYUSYU = 2 AND SKYUYM = 202612"_s), 1);

    const QString db = m_scratch.file(u"mox.db"_s);
    const QString first = sqliteShell(db, u"select KYURYO from GKKYUYO limit 1"_s);
    if (first.isEmpty())
        GTEST_SKIP() << "no sqlite3 shell";
    EXPECT_EQ(first, u"312400\n"_s);
    EXPECT_EQ(sqliteShell(db, u"select KENTK2, KOSTK2, SYORID from GKKANRI"_s),
              u"101.3|183|202612\n"_s);
    EXPECT_EQ(sqliteShell(db, u"select TINGIN_01, HOKEN_60 from GKKOYOU"_s), u"101|59\n"_s);
}

TEST_F(MoxdbSqlite, FailedReplacementKeepsTheOldData)
{
    const DatasetRows rows = demoRows(m_tax);
    ASSERT_TRUE(loadDemo(*m_payroll, *m_environment, rows).ok());
    // The same payment record twice: the key refuses the second, after the first tables
    // were already replaced.
    std::vector<Row> jinji(rows.jinji.begin(), rows.jinji.begin() + 3);
    std::vector<Row> kyuyo(rows.kyuyo.begin(), rows.kyuyo.begin() + 5);
    kyuyo.push_back(kyuyo.front());
    const mox::Status s =
        replaceTables(*m_payroll, {{&jinjiLayout(), &jinji}, {&kyuyoLayout(), &kyuyo}});
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(m_payroll->count(u"GKJINJI"_s), static_cast<int>(rows.jinji.size()));
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s), static_cast<int>(rows.kyuyo.size()));
}

TEST_F(MoxdbSqlite, SynthWritesTheCountsOfItsFiscalYears)
{
    const Dataset d = syntheticDistrict(40, 7);
    qint64 written = 0;
    const mox::Status s = writeSynthetic(*m_payroll, *m_environment, d, 2, m_tax, 7, &written);
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
    EXPECT_EQ(written, syntheticPaymentCount(d, 2));
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s), written);
    EXPECT_EQ(m_payroll->count(u"GKJINJI"_s), 40);
    EXPECT_EQ(m_payroll->count(u"GKKANRI"_s), 1);
    EXPECT_EQ(m_environment->count(u"名設定"_s), 1);
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s, u"KYUSYU = 2 AND SKYUYM = 202612"_s), 0);
    // Two fiscal years (2025, 2026 up to November): staff in service throughout have
    // 12 + 2 bonuses + 8 + the June bonus = 23 records; daily-paid staff have no June bonus:
    // 12 + 1 + 8 = 21.
    int checked = 0;
    for (const Employee& e : d.staff) {
        if (e.first.from > 20240401)
            continue;
        const int n = m_payroll->count(u"GKKYUYO"_s, u"SYOKCD = "_s + QString::number(e.code));
        EXPECT_EQ(n, e.payClass == 4 ? 21 : 23) << e.code;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST_F(MoxdbSqlite, SynthAgainReplacesEveryRecordAndKeepsTheCountsExact)
{
    qint64 first = 0;
    ASSERT_TRUE(
        writeSynthetic(*m_payroll, *m_environment, syntheticDistrict(30, 3), 2, m_tax, 3, &first)
            .ok());
    const Dataset d = syntheticDistrict(12, 5);
    qint64 written = 0;
    const mox::Status s = writeSynthetic(*m_payroll, *m_environment, d, 1, m_tax, 5, &written);
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
    ASSERT_LT(written, first);
    // The whole-table count is kept by the component; the filtered one counts the records.
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s), written);
    EXPECT_EQ(m_payroll->count(u"GKKYUYO"_s, u"SYOKCD > 0"_s), written);
    EXPECT_EQ(m_payroll->count(u"GKJINJI"_s), 12);
    EXPECT_EQ(m_payroll->count(u"GKJINJI"_s, u"SYOKCD > 0"_s), 12);
    EXPECT_EQ(m_payroll->count(u"GKKANRI"_s), 1);
}

TEST(MoxdbPostgres, InitAndDemoOnTheTestServer)
{
    const QString host = qEnvironmentVariable("MOX_TEST_PGHOST");
    if (host.isEmpty())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    test::ScratchFolder scratch;
    const QString suffix = QString::number(QCoreApplication::applicationPid());
    for (const auto& [ini, name] :
         std::map<QString, QString>{{kPayrollIni, u"moxdb_pay_"_s + suffix},
                                    {kEnvironmentIni, u"moxdb_env_"_s + suffix}}) {
        QFile f(scratch.file(ini));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s
                    .arg(name, host, qEnvironmentVariable("MOX_TEST_PGPORT", u"5432"_s),
                         qEnvironmentVariable("MOX_TEST_PGUSER", u"postgres"_s))
                    .toUtf8());
    }
    QString log;
    QTextStream stream(&log);
    mox::Status s = initDatabases({}, stream);
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
    s = initDatabases({}, stream);
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
    std::unique_ptr<Database> payroll = scratch.open(kPayrollIni);
    std::unique_ptr<Database> environment = scratch.open(kEnvironmentIni);
    ASSERT_TRUE(payroll && environment);
    const test::FlatTax tax;
    const DatasetRows rows = demoRows(tax);
    s = loadDemo(*payroll, *environment, rows);
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
    EXPECT_EQ(payroll->count(u"GKKYUYO"_s), static_cast<int>(rows.kyuyo.size()));
    EXPECT_EQ(payroll->count(u"GKKYUYO"_s, u"SYOKCD = 10025 AND KYURYO = 312400"_s), 9);
}

TEST(MoxdbInitCommand, WritesIntoTheFolderGivenAndRunsAgain)
{
    test::ScratchFolder scratch;
    const QString dir = scratch.file(u"new/place"_s);
    const Command init = initCommand();
    QString out;
    QString err;
    QTextStream o(&out);
    QTextStream e(&err);
    ASSERT_EQ(init.run({u"--dir"_s, dir}, o, e), 0) << err.toStdString();
    o.flush();
    EXPECT_TRUE(out.startsWith(u"wrote "_s)) << out.toStdString();
    EXPECT_TRUE(QFile::exists(dir + u"/MOX.INI"_s));
    EXPECT_TRUE(QFile::exists(dir + u"/mox.db"_s));
    EXPECT_TRUE(QFile::exists(dir + u"/moxenv.db"_s));
    out.clear();
    ASSERT_EQ(init.run({u"--dir"_s, dir}, o, e), 0) << err.toStdString();
    o.flush();
    EXPECT_TRUE(out.startsWith(u"using "_s)) << out.toStdString();
    EXPECT_EQ(init.run({u"--dir"_s}, o, e), 2);
}
