// The roles of an office's PostgreSQL server, set up by "moxdb init --roles" and tried with the
// logins of a desk (member of the operator role) and of an administrator.
#include "support.h"

#include "moxdb/init.h"

#include "kordao/kordao.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

QString pgHost()
{
    return qEnvironmentVariable("MOX_TEST_PGHOST");
}

// Runs \p sql on database \p database of the test server as \p user, outside the programs'
// component. Empty when it succeeded, else the server's state (or why it could not connect);
// the first value of the result goes to \p first.
QString runAs(const QString& user, const QString& database, const QString& sql,
              QVariant* first = nullptr)
{
    static int counter = 0;
    const QString name = u"moxdb-roles-%1"_s.arg(++counter);
    QString state;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        db.setHostName(pgHost());
        db.setPort(qEnvironmentVariableIntValue("MOX_TEST_PGPORT"));
        db.setUserName(user);
        db.setDatabaseName(database);
        if (!db.open()) {
            state = u"connect: "_s + db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.exec(u"SET client_min_messages TO WARNING"_s);
            if (!q.exec(sql))
                state = q.lastError().nativeErrorCode();
            else if (first && q.next())
                *first = q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return state;
}

void writeIni(const QString& dir, const QString& database, const QString& user, bool environment)
{
    QFile f(dir + (environment ? u"/MOXENV.INI"_s : u"/MOX.INI"_s));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(u"[Database]\nDriver=QPSQL\nDatabase=%1\nHost=%2\nPort=%3\nUser=%4\n"_s
                .arg(database, pgHost(), qEnvironmentVariable("MOX_TEST_PGPORT"), user)
                .toUtf8());
}

// The databases and roles of the test, removed whatever the outcome.
struct ServerObjects {
    QStringList databases;
    QStringList roles; // logins first
    ~ServerObjects()
    {
        const QString super = qEnvironmentVariable("MOX_TEST_PGUSER");
        for (const QString& d : databases)
            runAs(super, u"postgres"_s, u"DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)"_s.arg(d));
        for (const QString& r : roles) {
            runAs(super, u"postgres"_s, u"DROP OWNED BY \"%1\""_s.arg(r));
            runAs(super, u"postgres"_s, u"DROP ROLE IF EXISTS \"%1\""_s.arg(r));
        }
    }
};

} // namespace

TEST(MoxdbRoles, OperatorsEnterBonusesButLoadNoTaxAndCannotTouchTheTrail)
{
    if (pgHost().isEmpty())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QString super = qEnvironmentVariable("MOX_TEST_PGUSER");
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString op = u"mox_op_"_s + pid;
    const QString admin = u"mox_adm_"_s + pid;
    const QString desk = u"mox_desk_"_s + pid;
    const QString boss = u"mox_boss_"_s + pid;
    const QString setup = u"mox_setup_"_s + pid; // the office's first administrator, no superuser
    const QString pay = u"moxdb_rpay_"_s + pid;
    const QString env = u"moxdb_renv_"_s + pid;
    ServerObjects cleanup{{pay, env}, {desk, boss, setup, op, admin}};
    ASSERT_EQ(runAs(super, u"postgres"_s, u"CREATE ROLE %1 LOGIN CREATEDB CREATEROLE"_s.arg(setup)),
              QString());

    QTemporaryDir setupDir;
    QTemporaryDir bossDir;
    test::ScratchFolder deskDir;
    for (const auto& [dir, user] :
         {std::pair{setupDir.path(), setup}, {bossDir.path(), boss}, {deskDir.path(), desk}}) {
        writeIni(dir, pay, user, false);
        writeIni(dir, env, user, true);
    }
    test::ProgramRun r = test::runMoxdb(
        {u"init"_s, u"--roles"_s, u"--operator-role"_s, op, u"--admin-role"_s, admin},
        setupDir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    ASSERT_EQ(runAs(super, u"postgres"_s,
                    u"CREATE ROLE %1 LOGIN IN ROLE %2; CREATE ROLE %3 LOGIN IN ROLE %4"_s.arg(
                        desk, op, boss, admin)),
              QString());

    // A desk saves a bonus: the audit row names its login.
    {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(kPayrollIni);
        ASSERT_EQ(db.DAO_DBOpen(), 0) << db.lastError().toStdString();
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db.DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_EQ(tb.DAO_TableOpen(u"SYOKCD = 10025"_s, QString()), 0) << tb.lastError().toStdString();
        ASSERT_EQ(tb.DAO_AddNew(true), 0);
        tb.TBRec()[u"SYOKCD"] = 10025;
        tb.TBRec()[u"KYUSYU"] = 2;
        tb.TBRec()[u"SKYUYM"] = 202612;
        tb.TBRec()[u"KIMATU"] = Currency::fromYen(454101);
        ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    }
    QVariant who;
    EXPECT_EQ(runAs(super, pay,
                    u"SELECT \"DBUSER\" FROM \"KORDAO_AUDIT\" WHERE \"SYOKCD\" = 10025 "
                    "ORDER BY \"ID\" DESC LIMIT 1"_s,
                    &who),
              QString());
    EXPECT_EQ(who.toString(), desk);

    // The desk may not load a tax edition, nor read the trail; it is told why.
    const QString edition = qEnvironmentVariable("MOX_SOURCE_DIR") + u"/data/tax/2026-01-01"_s;
    for (const QStringList& args :
         {QStringList{u"tax"_s, u"import"_s, u"--from"_s, u"2026-01-01"_s, edition},
          QStringList{u"audit"_s}}) {
        r = test::runMoxdb(args, deskDir.path());
        EXPECT_EQ(r.code, 1) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(u"権限がありません"_s)) << r.err.toStdString();
    }
    // Nor drop, make or empty tables, nor correct, remove or read audit rows.
    const std::pair<QString, QString> refused[] = {
        {pay, u"DROP TABLE \"GKKYUYO\""_s},
        {pay, u"UPDATE \"KORDAO_AUDIT\" SET \"ACTION\" = 'INSERT'"_s},
        {pay, u"DELETE FROM \"KORDAO_AUDIT\""_s},
        {pay, u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s},
        {pay, u"UPDATE \"KORDAO_ROWS\" SET \"N\" = 0"_s},
        {pay, u"CREATE TABLE \"X\" (\"A\" INTEGER)"_s},
        {env, u"DELETE FROM \"名設定\""_s},
    };
    for (const auto& [database, sql] : refused)
        EXPECT_EQ(runAs(desk, database, sql), u"42501"_s) << sql.toStdString();

    // An administrator's login runs the set-up again (tables, tax tables, roles) and reads the
    // trail.
    r = test::runMoxdb(
        {u"init"_s, u"--roles"_s, u"--operator-role"_s, op, u"--admin-role"_s, admin},
        bossDir.path());
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    r = test::runMoxdb({u"audit"_s, u"--employee"_s, u"10025"_s}, bossDir.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"(DB: %1)"_s.arg(desk))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(u"    KIMATU: (なし) → 454101\n"_s)) << r.out.toStdString();
    // The operator's rights are still exactly those.
    EXPECT_EQ(runAs(desk, pay, u"DELETE FROM \"KORDAO_AUDIT\""_s), u"42501"_s);
}
