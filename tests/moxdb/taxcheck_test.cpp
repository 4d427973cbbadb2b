// moxdb tax as an administrator runs it: the check of table files before an import, the list of
// the editions and their tables, and adding a bonus table to the edition that lacks it, on
// SQLite and on the PostgreSQL test server.
#include "../kortax/brokencopy.h"
#include "../kortax/testbonustable.h"

#include "moxdb/init.h"

#include "support.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

enum class Engine { Sqlite, Postgres };

class MoxdbTaxImport : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres) {
            if (qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST"))
                GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
            static int databases = 0;
            const QString suffix =
                u"%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++databases);
            m_pgNames = {u"moxdb_taxpay_"_s + suffix, u"moxdb_taxenv_"_s + suffix};
            writeIni(kPayrollIni, m_pgNames[0]);
            writeIni(kEnvironmentIni, m_pgNames[1]);
        }
        const test::ProgramRun init = moxdb({u"init"_s, u"--dir"_s, m_scratch.path()});
        ASSERT_EQ(init.code, 0) << init.err.toStdString();
    }

    void TearDown() override
    {
        if (m_pgNames.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, u"moxdb-tax-drop"_s);
            db.setDatabaseName(u"postgres"_s);
            db.setHostName(qEnvironmentVariable("MOX_TEST_PGHOST"));
            db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
            db.setUserName(qEnvironmentVariable("MOX_TEST_PGUSER"));
            if (db.open()) {
                QSqlQuery q(db);
                for (const QString& name : m_pgNames)
                    (void)q.exec(u"DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)"_s.arg(name));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(u"moxdb-tax-drop"_s);
    }

    void writeIni(const QString& ini, const QString& name)
    {
        QFile f(m_scratch.file(ini));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s
                    .arg(name, qEnvironmentVariable("MOX_TEST_PGHOST"),
                         qEnvironmentVariable("MOX_TEST_PGPORT"),
                         qEnvironmentVariable("MOX_TEST_PGUSER"))
                    .toUtf8());
    }

    test::ProgramRun moxdb(const QStringList& args)
    {
        return test::runMoxdb(args, m_scratch.path());
    }

    test::ScratchFolder m_scratch;
    QStringList m_pgNames;
};

} // namespace

TEST_P(MoxdbTaxImport, ListShowsEachEditionsTablesAndImportAddsTheMissingOne)
{
    test::ProgramRun r = moxdb({u"tax"_s, u"list"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(
        r.out.contains(u"2026-01-01 から（令和8年分）  月額表 241 帯  賞与の算出率の表 168 帯\n"_s))
        << r.out.toStdString();
    EXPECT_TRUE(
        r.out.contains(u"2027-01-01 から（令和9年分）  月額表 238 帯  賞与の算出率の表 なし\n"_s));
    EXPECT_TRUE(r.out.endsWith(u"2027-01-01 以後の日付には、次の版を読み込むまで 2027-01-01 "
                               "からの版（令和9年分）を使います。\n"_s));

    QTemporaryDir bonus;
    ASSERT_TRUE(taxtest::writeTestBonusTable(bonus.path()));
    const QStringList import{u"tax"_s, u"import"_s, u"--from"_s, u"2027-01-01"_s, bonus.path()};
    r = moxdb(import);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(
        r.out.endsWith(u"2027-01-01 から（令和9年分）  月額表 238 帯  賞与の算出率の表 168 帯\n"_s))
        << r.out.toStdString();

    r = moxdb(import);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(
        r.err.contains(u"令和9年分（2027-01-01 から）の賞与に対する源泉徴収税額の算出率の表は"
                       "すでに読み込まれています。置き換えるときは --replace を付けてください。"_s))
        << r.err.toStdString();
    r = moxdb(QStringList(import) << u"--replace"_s);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();

    // Running init again keeps every stored table, the bonus table loaded here among them.
    r = moxdb({u"init"_s, u"--dir"_s, m_scratch.path()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = moxdb({u"tax"_s, u"list"_s});
    EXPECT_TRUE(
        r.out.contains(u"2027-01-01 から（令和9年分）  月額表 238 帯  賞与の算出率の表 168 帯\n"_s))
        << r.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, MoxdbTaxImport, testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& p) {
                             return p.param == Engine::Sqlite ? "SQLite" : "PostgreSQL";
                         });

TEST(MoxdbTaxCheck, ShippedEditionsPassAndABrokenFileIsNamedByLine)
{
    test::ScratchFolder scratch; // no database: the check reads the files only
    test::ProgramRun r =
        test::runMoxdb({u"tax"_s, u"check"_s, QStringLiteral(MOX_TAX_DATA_DIR)}, scratch.path());
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"2027-01-01（2027-01-01 から、令和9年分）\n"
                               "  給与所得の源泉徴収税額表（月額表）: 正常（238 帯）\n"
                               "  賞与に対する源泉徴収税額の算出率の表: なし\n"_s))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith(u"誤りは見つかりませんでした。\n"_s));

    taxtest::EditionCopy copy(u"2026-01-01"_s);
    copy.replaceLine(u"monthly-table-kou.csv"_s, 12, u"107000,109000,280,0,0,0,0,0,0,0,3800"_s,
                     u"107000,109000,160,0,0,0,0,0,0,0,3800"_s);
    r = test::runMoxdb({u"tax"_s, u"check"_s, copy.dir()}, scratch.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains(u"  給与所得の源泉徴収税額表（月額表）: 誤り: %1 の 12 行目: "_s.arg(
        copy.path(u"monthly-table-kou.csv"_s))))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(u"  賞与に対する源泉徴収税額の算出率の表: 正常（168 帯）\n"_s));
    EXPECT_TRUE(r.err.contains(u"1 件の誤り"_s)) << r.err.toStdString();
}
