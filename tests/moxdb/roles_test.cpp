// The roles of an office's PostgreSQL server, set up by "moxdb init --roles" run as the server's
// superuser, and tried with the logins of a desk (member of the operator role), an administrator
// and an auditor: the trail the server writes for every change, and what none of them can do
// against it or against the record counts.
#include "support.h"

#include "moxdb/init.h"

#include "kordao/kordao.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

QString pgHost()
{
    return qEnvironmentVariable("MOX_TEST_PGHOST");
}

// Runs \p statements one after the other in one session on database \p database of the test
// server as \p user, outside the programs' component, up to the first that fails. Empty when
// all succeeded, else the server's state (or why it could not connect); the first value of the
// last result goes to \p first.
QString runAs(const QString& user, const QString& database, const QStringList& statements,
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
            for (const QString& sql : statements) {
                if (!q.exec(sql)) {
                    state = q.lastError().nativeErrorCode();
                    break;
                }
            }
            if (state.isEmpty() && first && q.next())
                *first = q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return state;
}

// One statement, or several parted by "; " (none of them holding that text itself).
QString runAs(const QString& user, const QString& database, const QString& sql,
              QVariant* first = nullptr)
{
    return runAs(user, database, sql.split(u"; "_s, Qt::SkipEmptyParts), first);
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

// The roles and databases of one test on the shared server, named after \p tag and this process
// so that tests and runs never meet, and dropped when the test ends (logins first).
struct Office {
    explicit Office(const QString& tag)
    {
        const QString pid = QString::number(QCoreApplication::applicationPid());
        const auto role = [&](const QString& kind) { return u"mox_"_s + tag + kind + pid; };
        names = {role(u"op_"_s),
                 role(u"adm_"_s),
                 role(u"aud_"_s),
                 role(u"own_"_s),
                 role(u"desk_"_s),
                 role(u"boss_"_s),
                 role(u"reader_"_s),
                 u"moxdb_"_s + tag + u"pay_"_s + pid,
                 u"moxdb_"_s + tag + u"env_"_s + pid};
        cleanup.databases = {names.pay, names.env};
        cleanup.roles = {names.desk,  names.boss,    names.reader, names.op,
                         names.admin, names.auditor, names.owner};
    }

    /// The arguments of "moxdb init --roles" that name this office's four roles.
    QStringList initRoles() const
    {
        return {u"init"_s,         u"--roles"_s, u"--operator-role"_s, names.op,
                u"--admin-role"_s, names.admin,  u"--auditor-role"_s,  names.auditor,
                u"--owner-role"_s, names.owner};
    }

    /// Creates the desk's login in the operator role and the administrator's; the server's
    /// state when that fails.
    QString createLogins() const
    {
        return runAs(qEnvironmentVariable("MOX_TEST_PGUSER"), u"postgres"_s,
                     u"CREATE ROLE %1 LOGIN IN ROLE %2; CREATE ROLE %3 LOGIN IN ROLE %4"_s.arg(
                         names.desk, names.op, names.boss, names.admin));
    }

    struct Names {
        QString op, admin, auditor, owner, desk, boss, reader, pay, env;
    } names;
    ServerObjects cleanup;
};

// The server's own view of the record counts: true when every payroll table's stored count is
// its real number of records.
const QString kCountsRight =
    u"SELECT bool_and(r.\"N\" = CASE r.\"NAME\" "
    "WHEN 'GKKANRI' THEN (SELECT count(*) FROM public.\"GKKANRI\") "
    "WHEN 'GKJINJI' THEN (SELECT count(*) FROM public.\"GKJINJI\") "
    "WHEN 'GKKYUYO' THEN (SELECT count(*) FROM public.\"GKKYUYO\") "
    "WHEN 'GKKOYOU' THEN (SELECT count(*) FROM public.\"GKKOYOU\") END)::text "
    "FROM public.\"KORDAO_ROWS\" r WHERE r.\"NAME\" LIKE 'GK%'"_s;

// One value of \p sql run by \p user, as text; the failure's state instead when it fails.
QString valueAs(const QString& user, const QString& database, const QString& sql)
{
    QVariant v;
    const QString state = runAs(user, database, sql, &v);
    return state.isEmpty() ? v.toString() : u"failed: "_s + state;
}

// The server's clock as the trail writes it.
QString serverTime(const QString& database)
{
    return valueAs(qEnvironmentVariable("MOX_TEST_PGUSER"), database,
                   u"SELECT to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS')"_s);
}

} // namespace

TEST(MoxdbRoles, TheServerWritesTheTrailAndNoLoginCanForgeItOrMoveTheCounts)
{
    if (pgHost().isEmpty())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QString super = qEnvironmentVariable("MOX_TEST_PGUSER");
    const Office office(u"r"_s);
    const auto& [op, admin, auditor, owner, desk, boss, reader, pay, env] = office.names;
    QTemporaryDir superDir;
    QTemporaryDir bossDir;
    QTemporaryDir readerDir;
    test::ScratchFolder deskDir;
    for (const auto& [dir, user] : {std::pair{superDir.path(), super},
                                    {bossDir.path(), boss},
                                    {readerDir.path(), reader},
                                    {deskDir.path(), desk}}) {
        writeIni(dir, pay, user, false);
        writeIni(dir, env, user, true);
    }
    test::ProgramRun r = test::runMoxdb(office.initRoles(), superDir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    ASSERT_EQ(
        runAs(super, u"postgres"_s,
              u"CREATE ROLE %1 LOGIN IN ROLE %2; CREATE ROLE %3 LOGIN IN ROLE %4; "
              "CREATE ROLE %5 LOGIN IN ROLE %6"_s.arg(desk, op, boss, admin, reader, auditor)),
        QString());

    // Plain SQL by a desk's login, each change recorded by the server with its login and time;
    // the program, user and host are what the session reported.
    const QString before = serverTime(pay);
    ASSERT_EQ(
        runAs(desk, pay,
              u"SET application_name = 'mox110 tanaka@desk3'; "
              "INSERT INTO \"GKKYUYO\" (\"SYOKCD\", \"KYUSYU\", \"SKYUYM\", \"KIMATU\", "
              "\"NIREM1\") VALUES (10025, 2, 202612, 454101, 'x''y'); "
              "UPDATE \"GKKYUYO\" SET \"KIMATU\" = 0.5, \"KENKO\" = 0 WHERE \"SYOKCD\" = 10025; "
              "SET application_name = 'psql'; "
              "DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" = 10025"_s),
        QString());
    const QString after = serverTime(pay);
    const QStringList trail =
        valueAs(
            super, pay,
            u"SELECT string_agg(concat_ws('|', \"DBUSER\", \"PROGRAM\", \"OSUSER\", \"HOST\", "
            "\"TABLENAME\", \"SYOKCD\", \"RECKEY\", \"ACTION\", \"CHANGES\"), '/' ORDER BY \"ID\") "
            "FROM \"KORDAO_AUDIT\""_s)
            .split(u'/');
    ASSERT_EQ(trail.size(), 3) << trail.join(u'\n').toStdString();
    const QString key = u"|GKKYUYO|10025|SYOKCD=10025 KYUSYU=2 SKYUYM=202612 KYUSEQ=0|"_s;
    EXPECT_EQ(trail[0], desk + u"|mox110|tanaka|desk3"_s + key +
                            u"INSERT|[[\"SYOKCD\",null,\"10025\"],[\"KYUSYU\",null,\"2\"],"
                            "[\"SKYUYM\",null,\"202612\"],[\"KIMATU\",null,\"454101\"],"
                            "[\"NIREM1\",null,\"x'y\"]]"_s);
    EXPECT_EQ(trail[1], desk + u"|mox110|tanaka|desk3"_s + key +
                            u"UPDATE|[[\"KIMATU\",\"454101\",\"0.5\"]]"_s);
    // A deleted record lists every field that held a value.
    EXPECT_TRUE(
        trail[2].startsWith(desk + u"|psql"_s + key +
                            u"DELETE|[[\"SYOKCD\",\"10025\",null],[\"KYUSYU\",\"2\",null],"_s))
        << trail[2].toStdString();
    EXPECT_TRUE(trail[2].contains(u"[\"KIMATU\",\"0.5\",null],[\"KINBEN\",\"0\",null]"_s))
        << trail[2].toStdString();
    const QString times =
        valueAs(super, pay, u"SELECT min(\"AT\") || '/' || max(\"AT\") FROM \"KORDAO_AUDIT\""_s);
    EXPECT_GE(times.section(u'/', 0, 0), before);
    EXPECT_LE(times.section(u'/', 1, 1), after);

    // Every login reads the schema version, as the programs do at start-up.
    for (const QString& user : {desk, boss, reader}) {
        EXPECT_EQ(valueAs(user, pay, u"SELECT \"VERSION\" FROM \"KORDAO_VERSION\""_s), u"1"_s)
            << user.toStdString();
        EXPECT_EQ(valueAs(user, env, u"SELECT \"VERSION\" FROM \"KORDAO_VERSION\""_s), u"1"_s)
            << user.toStdString();
    }

    // Nobody but the trail's owner changes it; the desk cannot even read it.
    for (const QString& user : {desk, boss, reader}) {
        for (const QString& sql :
             {u"INSERT INTO \"KORDAO_AUDIT\" (\"AT\", \"TABLENAME\", \"ACTION\") "
              "VALUES ('2026-01-01 00:00:00.000', 'GKKYUYO', 'DELETE')"_s,
              u"UPDATE \"KORDAO_AUDIT\" SET \"DBUSER\" = 'someone'"_s,
              u"DELETE FROM \"KORDAO_AUDIT\""_s, u"TRUNCATE \"KORDAO_AUDIT\""_s,
              u"UPDATE \"KORDAO_ROWS\" SET \"N\" = 0"_s,
              u"UPDATE \"KORDAO_VERSION\" SET \"VERSION\" = 2"_s,
              u"ALTER FUNCTION public.kordao_audit_row() OWNER TO CURRENT_USER"_s,
              u"CREATE TEMP TABLE \"GKJINJI\" (\"SYOKCD\" INTEGER)"_s})
            EXPECT_EQ(runAs(user, pay, sql), u"42501"_s)
                << user.toStdString() << ": " << sql.toStdString();
    }
    EXPECT_EQ(runAs(desk, pay, u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s), u"42501"_s);
    for (const QString& user : {boss, reader})
        EXPECT_EQ(valueAs(user, pay, u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s), u"3"_s);

    // The temporary-table tricks: a desk allowed temporary tables for the moment cannot attach
    // the functions, and a table standing in for the counter or the trail catches nothing; even
    // the superuser's temporary "GKJINJI" with every function attached moves no real count.
    ASSERT_EQ(runAs(super, pay, u"GRANT TEMPORARY ON DATABASE %1 TO %2"_s.arg(pay, desk)),
              QString());
    for (const QString& function :
         {u"kordao_rows_added"_s, u"kordao_rows_removed"_s, u"kordao_audit_row"_s})
        EXPECT_EQ(runAs(desk, pay,
                        u"CREATE TEMP TABLE \"GKJINJI\" (\"SYOKCD\" INTEGER); "
                        "CREATE TRIGGER t AFTER INSERT ON pg_temp.\"GKJINJI\" FOR EACH ROW "
                        "EXECUTE FUNCTION public.%1()"_s.arg(function)),
                  u"42501"_s)
            << function.toStdString();
    EXPECT_EQ(runAs(desk, pay,
                    u"CREATE TEMP TABLE \"KORDAO_ROWS\" (\"NAME\" TEXT, \"N\" BIGINT); "
                    "INSERT INTO pg_temp.\"KORDAO_ROWS\" VALUES ('GKKYUYO', 0); "
                    "CREATE TEMP TABLE \"KORDAO_AUDIT\" (\"AT\" TEXT, \"DBUSER\" TEXT, "
                    "\"TABLENAME\" TEXT, \"ACTION\" TEXT, \"CHANGES\" TEXT); "
                    "SET search_path = pg_temp, public; "
                    "INSERT INTO public.\"GKKYUYO\" (\"SYOKCD\") VALUES (1), (2), (3); "
                    "INSERT INTO public.\"GKJINJI\" (\"SYOKCD\") VALUES (1), (2)"_s),
              QString());
    EXPECT_EQ(valueAs(super, pay, kCountsRight), u"true"_s);
    EXPECT_EQ(valueAs(super, pay, u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s), u"8"_s);
    ASSERT_EQ(runAs(super, pay, u"REVOKE TEMPORARY ON DATABASE %1 FROM %2"_s.arg(pay, desk)),
              QString());
    QString superTrick = u"CREATE TEMP TABLE \"GKJINJI\" (\"SYOKCD\" INTEGER); "_s;
    for (const auto& [event, function] : {std::pair{u"AFTER INSERT"_s, u"kordao_rows_added"_s},
                                          {u"AFTER DELETE"_s, u"kordao_rows_removed"_s},
                                          {u"AFTER TRUNCATE"_s, u"kordao_rows_cleared"_s}}) {
        const QString transition = event == u"AFTER INSERT"_s ? u"REFERENCING NEW TABLE AS added "_s
                                   : event == u"AFTER DELETE"_s
                                       ? u"REFERENCING OLD TABLE AS removed "_s
                                       : QString();
        superTrick += u"CREATE TRIGGER %1 %2 ON pg_temp.\"GKJINJI\" %3FOR EACH STATEMENT "
                      "EXECUTE FUNCTION public.%1(); "_s.arg(function, event, transition);
    }
    superTrick += u"INSERT INTO pg_temp.\"GKJINJI\" SELECT generate_series(1, 50); "
                  "DELETE FROM pg_temp.\"GKJINJI\" WHERE \"SYOKCD\" < 10; "
                  "TRUNCATE pg_temp.\"GKJINJI\""_s;
    EXPECT_EQ(runAs(super, pay, superTrick), QString());
    EXPECT_EQ(valueAs(super, pay, kCountsRight), u"true"_s);
    for (const QString& function : {u"kordao_audit_row"_s, u"kordao_audit_statement"_s})
        EXPECT_EQ(
            runAs(super, pay,
                  u"CREATE TEMP TABLE \"GKJINJI\" (\"SYOKCD\" INTEGER); "
                  "CREATE TRIGGER t BEFORE TRUNCATE ON pg_temp.\"GKJINJI\" "
                  "EXECUTE FUNCTION public.%1(); TRUNCATE pg_temp.\"GKJINJI\""_s.arg(function)),
            u"42501"_s)
            << function.toStdString();
    EXPECT_EQ(valueAs(super, pay, u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s), u"8"_s);

    // A desk marking its session as a bulk load is still recorded record by record.
    EXPECT_EQ(runAs(desk, pay,
                    u"SELECT set_config('kordao.bulk', 'on', false); "
                    "DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" IN (1, 2, 3)"_s),
              QString());
    EXPECT_EQ(
        valueAs(super, pay,
                u"SELECT string_agg(\"ACTION\", ',') FROM \"KORDAO_AUDIT\" WHERE \"ID\" > 8"_s),
        u"DELETE,DELETE,DELETE"_s);

    // The administrator's demo load (emptying the tables first) leaves one row per table and
    // statement, not one per record.
    r = test::runMoxdb({u"demo"_s, u"--replace"_s}, bossDir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(valueAs(super, pay,
                      u"SELECT string_agg(DISTINCT \"ACTION\", ',') FROM \"KORDAO_AUDIT\" "
                      "WHERE \"DBUSER\" = '%1'"_s.arg(boss)),
              u"BULK INSERT,CLEAR"_s);
    EXPECT_EQ(
        valueAs(super, pay,
                u"SELECT COUNT(*) < (SELECT COUNT(*) FROM \"GKKYUYO\") FROM \"KORDAO_AUDIT\""_s),
        u"true"_s);
    EXPECT_EQ(valueAs(super, pay, kCountsRight), u"true"_s);

    // The auditor reads the trail with moxdb audit; the desk may not, and may not load a tax
    // edition either; it is told why.
    r = test::runMoxdb({u"audit"_s, u"--employee"_s, u"10025"_s}, readerDir.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"tanaka@desk3 (DB: %1)  mox110  GKKYUYO"_s.arg(desk)))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(u"    KIMATU: 454101 → 0.5\n"_s)) << r.out.toStdString();
    const QString edition = qEnvironmentVariable("MOX_SOURCE_DIR") + u"/data/tax/2026-01-01"_s;
    for (const QStringList& args :
         {QStringList{u"tax"_s, u"import"_s, u"--from"_s, u"2026-01-01"_s, edition},
          QStringList{u"audit"_s}}) {
        r = test::runMoxdb(args, deskDir.path());
        EXPECT_EQ(r.code, 1) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(u"権限がありません"_s)) << r.err.toStdString();
    }
    const std::pair<QString, QString> refused[] = {
        {pay, u"DROP TABLE \"GKKYUYO\""_s},
        {pay, u"CREATE TABLE \"X\" (\"A\" INTEGER)"_s},
        {pay, u"TRUNCATE \"GKKYUYO\""_s},
        {env, u"DELETE FROM \"名設定\""_s},
    };
    for (const auto& [database, sql] : refused)
        EXPECT_EQ(runAs(desk, database, sql), u"42501"_s) << sql.toStdString();

    // The administrator's login runs the plain set-up again, but not the roles'.
    r = test::runMoxdb({u"init"_s}, bossDir.path());
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    // It owns the payroll tables, yet cannot set aside what keeps the trail and the counts.
    for (const QString& sql :
         {u"ALTER TABLE \"GKKYUYO\" DISABLE TRIGGER \"GKKYUYO_TRAIL_ROW\""_s,
          u"ALTER TABLE \"GKKYUYO\" ENABLE REPLICA TRIGGER \"GKKYUYO_TRAIL_ROW\""_s,
          u"ALTER TABLE \"GKJINJI\" DISABLE TRIGGER ALL"_s,
          u"DROP TRIGGER \"GKKYUYO_TRAIL_REMOVED\" ON \"GKKYUYO\""_s,
          u"DROP TRIGGER \"GKKYUYO_TRAIL_UPDATE\" ON \"GKKYUYO\""_s,
          u"DROP TRIGGER \"GKKOYOU_ROWS_ADDED\" ON \"GKKOYOU\""_s,
          u"ALTER TABLE \"GKKYUYO\" RENAME TO \"OLD\""_s, u"DROP TABLE \"GKKANRI\""_s,
          u"ALTER TABLE \"GKKYUYO\" ALTER COLUMN \"KIMATU\" TYPE NUMERIC(19,4) "
          "USING \"KIMATU\" * 2"_s})
        EXPECT_EQ(runAs(boss, pay, sql), u"42501"_s) << sql.toStdString();
    EXPECT_EQ(runAs(boss, env, u"DROP TRIGGER \"名設定_ROWS_REMOVED\" ON \"名設定\""_s),
              u"42501"_s);
    EXPECT_EQ(runAs(boss, pay, u"CREATE TABLE \"X\" (\"A\" INTEGER); DROP TABLE \"X\""_s),
              QString());

    // The administrator's own bulk statements are summarised; a TRUNCATE always is.
    const QString lastRow = u"SELECT \"ACTION\" || ' ' || \"CHANGES\" || ' ' || \"DBUSER\" FROM "
                            "\"KORDAO_AUDIT\" ORDER BY \"ID\" DESC LIMIT 1"_s;
    const QString payments = valueAs(super, pay, u"SELECT COUNT(*) FROM \"GKKYUYO\""_s);
    const QString first = valueAs(
        super, pay,
        u"SELECT COUNT(*) FROM \"GKKYUYO\" WHERE \"SYOKCD\" = (SELECT min(\"SYOKCD\") FROM \"GKKYUYO\")"_s);
    ASSERT_GT(first.toInt(), 0);
    EXPECT_EQ(runAs(boss, pay,
                    u"SELECT set_config('kordao.bulk', 'on', false); DELETE FROM \"GKKYUYO\" "
                    "WHERE \"SYOKCD\" = (SELECT min(\"SYOKCD\") FROM \"GKKYUYO\")"_s),
              QString());
    EXPECT_EQ(valueAs(super, pay, lastRow), u"BULK DELETE {\"records\":%1} %2"_s.arg(first, boss));
    EXPECT_EQ(runAs(boss, pay, u"TRUNCATE \"GKKYUYO\""_s), QString());
    EXPECT_EQ(valueAs(super, pay, lastRow),
              u"CLEAR {\"records\":%1} %2"_s.arg(payments.toInt() - first.toInt()).arg(boss));
    EXPECT_EQ(valueAs(super, pay, kCountsRight), u"true"_s);
    r = test::runMoxdb(office.initRoles(), bossDir.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"スーパーユーザー"_s)) << r.err.toStdString();
    // The superuser's second run changes nothing the desk could use.
    r = test::runMoxdb(office.initRoles(), superDir.path());
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(runAs(desk, pay, u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s), u"42501"_s);
    EXPECT_EQ(runAs(desk, pay, u"CREATE TEMP TABLE t (a INTEGER)"_s), u"42501"_s);
}

// The bulk mark spares the server the records one by one only for a login that may empty the
// table: an operator who sets it is recorded exactly as without it, also when he turns it off
// in the middle of a statement; the administrator's marked load leaves one summary row.
TEST(MoxdbRoles, TheBulkMarkSummarisesOnlyTheLoadOfALoginThatMayEmptyTheTable)
{
    if (pgHost().isEmpty())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QString super = qEnvironmentVariable("MOX_TEST_PGUSER");
    const Office office(u"b"_s);
    const auto& [op, admin, auditor, owner, desk, boss, reader, pay, env] = office.names;
    QTemporaryDir superDir;
    writeIni(superDir.path(), pay, super, false);
    writeIni(superDir.path(), env, super, true);
    test::ProgramRun r = test::runMoxdb(office.initRoles(), superDir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    ASSERT_EQ(office.createLogins(), QString());

    const QString mark = u"SELECT set_config('kordao.bulk', 'on', false)"_s;
    const QString insert =
        u"INSERT INTO \"GKKYUYO\" (\"SYOKCD\", \"KYUSYU\", \"SKYUYM\", \"KIMATU\", \"NIREM1\") "
        "VALUES (501, 1, 202604, 1000, 'a'), (502, 1, 202604, 0.25, NULL), "
        "(503, 2, 202605, 0, 'c')"_s;
    const QString remove = u"DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" BETWEEN 501 AND 503"_s;
    // The trail's rows written by \p user's \p statements, all but their time.
    const auto trailOf = [&](const QString& user, const QStringList& statements) -> std::string {
        const QString from =
            valueAs(super, pay, u"SELECT coalesce(max(\"ID\"), 0) FROM \"KORDAO_AUDIT\""_s);
        EXPECT_EQ(runAs(user, pay, statements), QString()) << statements.join(u"; ").toStdString();
        return valueAs(super, pay,
                       u"SELECT string_agg(concat_ws('|', \"DBUSER\", \"TABLENAME\", \"SYOKCD\", "
                       "\"RECKEY\", \"ACTION\", \"CHANGES\"), '/' ORDER BY \"ID\") "
                       "FROM \"KORDAO_AUDIT\" WHERE \"ID\" > %1"_s.arg(from))
            .toStdString();
    };

    const std::string unmarked = trailOf(desk, {insert, remove});
    ASSERT_EQ(std::count(unmarked.begin(), unmarked.end(), '/'), 5) << unmarked;
    EXPECT_TRUE(unmarked.starts_with((desk + u"|GKKYUYO|501|SYOKCD=501 KYUSYU=1 SKYUYM=202604 "
                                             "KYUSEQ=0|INSERT|[[\"SYOKCD\",null,\"501\"]"_s)
                                         .toStdString()))
        << unmarked;
    EXPECT_EQ(trailOf(desk, {mark, insert, remove}), unmarked);
    EXPECT_EQ(trailOf(desk, {u"BEGIN"_s, u"SELECT set_config('kordao.bulk', 'on', true)"_s, insert,
                             remove, u"COMMIT"_s}),
              unmarked);
    // The mark on for the first records of a statement and off at its end.
    const QString toggled = QString::fromStdString(
        trailOf(desk, {mark, u"INSERT INTO \"GKKYUYO\" (\"SYOKCD\", \"KYUSYU\", \"SKYUYM\") "
                             "SELECT g, 1, 202604 FROM generate_series(601, 603) AS g "
                             "WHERE set_config('kordao.bulk', CASE WHEN g < 603 THEN 'on' "
                             "ELSE 'off' END, false) IS NOT NULL"_s}));
    EXPECT_EQ(toggled.count(u"|INSERT|"_s), 3) << toggled.toStdString();
    for (const QString& code : {u"601"_s, u"602"_s, u"603"_s})
        EXPECT_TRUE(toggled.contains(u"|GKKYUYO|%1|SYOKCD=%1 "_s.arg(code)))
            << toggled.toStdString();

    // The administrator: one row for a marked statement, whatever its number of records; a
    // change of records is recorded one by one all the same.
    EXPECT_EQ(trailOf(boss, {mark, insert}),
              (boss + u"|GKKYUYO|0|BULK INSERT|{\"records\":3}"_s).toStdString());
    const std::string update = trailOf(boss, {mark, u"UPDATE \"GKKYUYO\" SET \"KIMATU\" = 2 "
                                                    "WHERE \"SYOKCD\" = 501"_s});
    EXPECT_EQ(update, (boss + u"|GKKYUYO|501|SYOKCD=501 KYUSYU=1 SKYUYM=202604 KYUSEQ=0|UPDATE|"
                              "[[\"KIMATU\",\"1000\",\"2\"]]"_s)
                          .toStdString());
    EXPECT_EQ(trailOf(boss, {mark, remove}),
              (boss + u"|GKKYUYO|0|BULK DELETE|{\"records\":3}"_s).toStdString());
    EXPECT_EQ(QString::fromStdString(trailOf(boss, {insert})).count(u"|INSERT|"_s), 3);
    EXPECT_EQ(valueAs(super, pay, kCountsRight), u"true"_s);
}

TEST(MoxdbRoles, DatabaseOfThePreviousVersionIsConvertedKeepingItsTrail)
{
    if (pgHost().isEmpty())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QString super = qEnvironmentVariable("MOX_TEST_PGUSER");
    const Office office(u"c"_s);
    const auto& [op, admin, auditor, owner, desk, boss, reader, pay, env] = office.names;
    test::ScratchFolder dir;
    writeIni(dir.path(), pay, super, false);
    writeIni(dir.path(), env, super, true);
    test::ProgramRun r = test::runMoxdb({u"init"_s}, dir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();

    // The shape the previous version left: the trail written by the programs (no triggers, no
    // client address), counter functions that looked names up in public and that anybody could
    // run, operators allowed to add to the trail.
    QStringList old;
    for (const QString& table : {u"GKKANRI"_s, u"GKJINJI"_s, u"GKKYUYO"_s, u"GKKOYOU"_s}) {
        for (const QString& suffix :
             {u"ROW"_s, u"UPDATE"_s, u"ADDED"_s, u"REMOVED"_s, u"CLEARED"_s})
            old << u"DROP TRIGGER \"%1_TRAIL_%2\" ON \"%1\""_s.arg(table, suffix);
    }
    old << u"DROP FUNCTION kordao_audit_row(); DROP FUNCTION kordao_audit_statement(); "
           "ALTER TABLE \"KORDAO_AUDIT\" DROP COLUMN \"CLIENT\""_s.split(u"; "_s);
    old << u"CREATE OR REPLACE FUNCTION kordao_rows_added() RETURNS trigger LANGUAGE plpgsql "
           "SECURITY DEFINER SET search_path = public AS $f$ BEGIN UPDATE \"KORDAO_ROWS\" SET "
           "\"N\" = \"N\" + (SELECT COUNT(*) FROM added) WHERE \"NAME\" = TG_TABLE_NAME; "
           "RETURN NULL; END $f$"_s;
    old << u"GRANT EXECUTE ON FUNCTION kordao_rows_added() TO PUBLIC"_s;
    old << u"CREATE ROLE %1 NOLOGIN; GRANT INSERT ON \"KORDAO_AUDIT\" TO %1; "
           "CREATE ROLE %2 LOGIN IN ROLE %1"_s.arg(op, desk)
               .split(u"; "_s);
    old << u"INSERT INTO \"KORDAO_AUDIT\" (\"AT\", \"DBUSER\", \"OSUSER\", \"HOST\", \"PROGRAM\", "
           "\"TABLENAME\", \"SYOKCD\", \"RECKEY\", \"ACTION\", \"CHANGES\") VALUES "
           "('2026-11-30 10:00:00.000', 'tanaka', 'tanaka', 'desk3', 'mox110', 'GKKYUYO', 10025, "
           "'SYOKCD=10025 KYUSYU=2 SKYUYM=202612 KYUSEQ=0', 'UPDATE', '[[\"KENKO\",\"0\",\"48293\"]]')"_s;
    ASSERT_EQ(runAs(super, pay, old), QString());

    r = test::runMoxdb(office.initRoles(), dir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(runAs(desk, pay,
                    u"INSERT INTO \"KORDAO_AUDIT\" (\"AT\", \"TABLENAME\", \"ACTION\") "
                    "VALUES ('2026-01-01 00:00:00.000', 'GKKYUYO', 'DELETE')"_s),
              u"42501"_s);
    EXPECT_EQ(valueAs(super, pay,
                      u"SELECT p.proconfig::text || ' ' || pg_get_userbyid(p.proowner) || ' ' || "
                      "has_function_privilege('public', p.oid, 'EXECUTE') FROM pg_proc p "
                      "WHERE p.proname = 'kordao_rows_added'"_s),
              u"{\"search_path=pg_catalog, pg_temp\",TimeZone=%1} %2 false"_s.arg(
                  valueAs(super, pay, u"SHOW TimeZone"_s), owner));
    ASSERT_EQ(runAs(desk, pay,
                    u"INSERT INTO \"GKKYUYO\" (\"SYOKCD\", \"KYUSYU\", \"SKYUYM\", \"KENKO\") "
                    "VALUES (10025, 2, 202612, 48300)"_s),
              QString());
    r = test::runMoxdb({u"audit"_s, u"--employee"_s, u"10025"_s}, dir.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 4) << r.out.toStdString();
    EXPECT_TRUE(
        lines[0].startsWith(u"2026-11-30 10:00:00.000  tanaka@desk3 (DB: tanaka)  mox110"_s))
        << r.out.toStdString();
    EXPECT_EQ(lines[1], u"    KENKO: 0 → 48293"_s);
    EXPECT_TRUE(lines[2].contains(u"(DB: %1)"_s.arg(desk))) << r.out.toStdString();
    EXPECT_TRUE(lines[2].endsWith(u"追加(INSERT)"_s)) << r.out.toStdString();
}

// An upgrade on a server whose roles are set up, run by the superuser as the office guide says:
// the version it records belongs to the trail's owner like the record counter, every role reads
// it and no login may change it.
TEST(MoxdbRoles, AnUpgradeBySuperuserKeepsTheVersionOutOfEveryLoginsReach)
{
    if (pgHost().isEmpty())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QString super = qEnvironmentVariable("MOX_TEST_PGUSER");
    const Office office(u"u"_s);
    const auto& [op, admin, auditor, owner, desk, boss, reader, pay, env] = office.names;
    QTemporaryDir superDir;
    QTemporaryDir bossDir;
    for (const auto& [dir, user] : {std::pair{superDir.path(), super}, {bossDir.path(), boss}}) {
        writeIni(dir, pay, user, false);
        writeIni(dir, env, user, true);
    }
    test::ProgramRun r = test::runMoxdb(office.initRoles(), superDir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    ASSERT_EQ(office.createLogins(), QString());
    // A database of this release made before versions were recorded.
    ASSERT_EQ(runAs(super, pay, u"DROP TABLE \"KORDAO_VERSION\""_s), QString());

    r = test::runMoxdb({u"upgrade"_s, u"--backup"_s, superDir.filePath(u"b.moxbak"_s)},
                       superDir.path(), superDir.path());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(valueAs(super, pay,
                      u"SELECT pg_get_userbyid(relowner) FROM pg_class WHERE relname = "
                      "'KORDAO_VERSION'"_s),
              owner);
    for (const QString& user : {desk, boss}) {
        EXPECT_EQ(valueAs(user, pay, u"SELECT \"VERSION\" FROM \"KORDAO_VERSION\""_s), u"1"_s);
        EXPECT_EQ(runAs(user, pay, u"UPDATE \"KORDAO_VERSION\" SET \"VERSION\" = 2"_s), u"42501"_s);
    }
}
