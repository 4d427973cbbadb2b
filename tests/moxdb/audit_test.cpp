// moxdb audit on SQLite: the audit rows real writes leave (the programs' and the sqlite3
// shell's), selected by employee and day and printed for people; and role set-up refused where
// there are no logins.
#include "support.h"

#include "moxdb/audit.h"
#include "moxdb/init.h"

#include "kordao/bulkinsert.h"
#include "kordao/kordao.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

void addBonus(KorDAO::clsTbAccess& tb, int syokcd)
{
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    KorDAO::Record rec = tb.TBRec();
    rec[u"SYOKCD"] = syokcd;
    rec[u"KYUSYU"] = 2;
    rec[u"SKYUYM"] = 202612;
    rec[u"KIMATU"] = Currency::fromYen(454101);
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
}

struct Printed {
    int rows = -1;
    QString text;
};

Printed print(const KorDAO::DatabaseHandle& db, std::optional<int> employee, const QString& since)
{
    Printed p;
    QTextStream out(&p.text);
    const mox::Result<int> r = printAuditTrail(db, {employee, since}, out);
    out.flush();
    if (const mox::Status* s = mox::failure(r))
        p.text = s->message;
    else
        p.rows = mox::value(r);
    return p;
}

} // namespace

TEST(MoxdbAudit, SelectsByEmployeeAndDayOldestFirst)
{
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.initSqlite().ok());
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(kPayrollIni);
    ASSERT_EQ(db.DAO_DBOpen(), 0);
    {
        KorDAO::clsTbAccess kyuyo;
        kyuyo.setTBDatabase(db.DBDatabase());
        kyuyo.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(kyuyo.DAO_TableOpen(QString(), u"SYOKCD"_s), 0);
        addBonus(kyuyo, 10025);
        addBonus(kyuyo, 20000);
        ASSERT_EQ(kyuyo.DAO_TableOpen(QString(), u"SYOKCD"_s), 2);
        ASSERT_EQ(kyuyo.DAO_RecFind(1, u"SYOKCD = 10025"_s), 0);
        ASSERT_EQ(kyuyo.DAO_Edit(true), 0);
        kyuyo.TBRec()[u"KENKO"] = Currency::fromYen(48293);
        kyuyo.TBRec()[u"NIREM1"] = u"再計算"_s;
        ASSERT_EQ(kyuyo.DAO_Update(), 0) << kyuyo.lastError().toStdString();
    }
    {
        // The three rows, in the order written, are given days on both sides of 2026-12-01.
        KorDAO::clsTbAccess audit;
        audit.setTBDatabase(db.DBDatabase());
        audit.setTBNameString(QString::fromUtf16(KorDAO::kAuditTable));
        ASSERT_EQ(audit.DAO_TableOpen(QString(), u"ID"_s), 3);
        short st = audit.DAO_RecRead(1);
        for (const QString& at : {u"2026-11-30 23:59:59.999"_s, u"2026-12-01 08:00:00.000"_s,
                                  u"2026-12-01 09:00:00.000"_s}) {
            ASSERT_EQ(st, 0);
            ASSERT_EQ(audit.DAO_Edit(true), 0);
            audit.TBRec()[u"AT"] = at;
            ASSERT_EQ(audit.DAO_Update(), 0) << audit.lastError().toStdString();
            st = audit.DAO_RecRead(2);
        }
    }

    const Printed one = print(db.DBDatabase(), 10025, u"2026-12-01"_s);
    ASSERT_EQ(one.rows, 1) << one.text.toStdString();
    const QStringList lines = one.text.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << one.text.toStdString();
    EXPECT_TRUE(lines[0].startsWith(u"2026-12-01 09:00:00.000  "_s)) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(
        u"  GKKYUYO  SYOKCD=10025 KYUSYU=2 SKYUYM=202612 KYUSEQ=0  更新(UPDATE)"_s))
        << lines[0].toStdString();
    EXPECT_FALSE(lines[0].contains(u"DB:"_s)); // SQLite knows no login
    EXPECT_EQ(lines[1], u"    KENKO: 0 → 48293"_s);
    EXPECT_EQ(lines[2], u"    NIREM1: (なし) → 再計算"_s);

    const Printed employee = print(db.DBDatabase(), 10025, QString());
    EXPECT_EQ(employee.rows, 2);
    EXPECT_LT(employee.text.indexOf(u"追加(INSERT)"_s), employee.text.indexOf(u"更新(UPDATE)"_s));
    EXPECT_FALSE(employee.text.contains(u"SYOKCD=20000"_s));
    const Printed day = print(db.DBDatabase(), std::nullopt, u"2026-12-01"_s);
    EXPECT_EQ(day.rows, 2);
    EXPECT_TRUE(day.text.contains(u"SYOKCD=20000"_s));
    const Printed none = print(db.DBDatabase(), 10025, u"2026-12-02"_s);
    EXPECT_EQ(none.rows, 0);
    EXPECT_EQ(none.text, u"条件に合う監査記録はありません。\n"_s);

    // Only a real day reaches the filter.
    for (const QString& bad : {u"2026-02-30"_s, u"2026-12-1"_s, u"2026-12-01' OR '1'='1"_s})
        EXPECT_EQ(print(db.DBDatabase(), std::nullopt, bad).rows, -1) << bad.toStdString();

    // A table cleared at once is one row with the number of records.
    const mox::Status clear = KorDAO::clearTable(db.DBDatabase(), u"GKKYUYO"_s);
    ASSERT_TRUE(clear.ok()) << clear.message.toStdString();
    const Printed cleared = print(db.DBDatabase(), 0, QString());
    EXPECT_EQ(cleared.rows, 1);
    EXPECT_TRUE(cleared.text.contains(u"  GKKYUYO  "_s)) << cleared.text.toStdString();
    EXPECT_TRUE(cleared.text.endsWith(u"全件削除(CLEAR)\n    件数: 2\n"_s))
        << cleared.text.toStdString();
}

// Runs \p sql with the sqlite3 shell \p shell on \p file, stopping at the first error; what it
// printed, trimmed.
static QString sqliteShell(const QString& shell, const QString& file, const QString& sql)
{
    QProcess p;
    p.start(shell, {u"-bail"_s, file, sql});
    EXPECT_TRUE(p.waitForFinished(30'000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

TEST(MoxdbAudit, ShellWritesAreRecordedWithoutAWriterAndTheProgramsNameThemselves)
{
    const QString shell = QStandardPaths::findExecutable(u"sqlite3"_s);
    if (shell.isEmpty())
        GTEST_SKIP() << "no sqlite3 shell";
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.initSqlite().ok());
    const QString file = scratch.path() + u"/mox.db"_s;
    const auto runShell = [&](const QString& sql) { return sqliteShell(shell, file, sql); };
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(kPayrollIni);
    ASSERT_EQ(db.DAO_DBOpen(), 0);
    {
        KorDAO::clsTbAccess kyuyo;
        kyuyo.setTBDatabase(db.DBDatabase());
        kyuyo.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(kyuyo.DAO_TableOpen(QString(), u"SYOKCD"_s), 0);
        addBonus(kyuyo, 10025);
    }
    // The writer is named only while the program's transaction is open.
    EXPECT_EQ(runShell(u"SELECT COUNT(*) FROM KORDAO_WRITER"_s), u"0"_s);
    runShell(
        u"INSERT INTO GKKYUYO (SYOKCD, KYUSYU, SKYUYM, KIMATU) VALUES (20000, 2, 202612, 1000);"
        "UPDATE GKKYUYO SET KIMATU = 1000.5, NIREM1 = '再計算' WHERE SYOKCD = 20000;"
        "DELETE FROM GKKYUYO WHERE SYOKCD = 20000;"_s);

    const Printed shellRows = print(db.DBDatabase(), 20000, QString());
    ASSERT_EQ(shellRows.rows, 3) << shellRows.text.toStdString();
    QStringList lines = shellRows.text.split(u'\n', Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.startsWith(u"    "_s) ? line.mid(4) : line.mid(25); // after the time
    const QString key = u"(不明)  GKKYUYO  SYOKCD=20000 KYUSYU=2 SKYUYM=202612 KYUSEQ=0  "_s;
    EXPECT_EQ(lines.mid(0, 5), (QStringList{key + u"追加(INSERT)"_s, u"SYOKCD: (なし) → 20000"_s,
                                            u"KYUSYU: (なし) → 2"_s, u"SKYUYM: (なし) → 202612"_s,
                                            u"KIMATU: (なし) → 1000"_s}))
        << shellRows.text.toStdString();
    EXPECT_EQ(lines.mid(5, 3), (QStringList{key + u"更新(UPDATE)"_s, u"KIMATU: 1000 → 1000.5"_s,
                                            u"NIREM1: (なし) → 再計算"_s}))
        << shellRows.text.toStdString();
    EXPECT_EQ(lines.value(8), key + u"削除(DELETE)"_s);
    EXPECT_TRUE(lines.contains(u"KIMATU: 1000.5 → (なし)"_s)) << shellRows.text.toStdString();
    EXPECT_TRUE(lines.contains(u"KENKO: 0 → (なし)"_s)) << shellRows.text.toStdString();

    const Printed programRows = print(db.DBDatabase(), 10025, QString());
    ASSERT_EQ(programRows.rows, 1) << programRows.text.toStdString();
    EXPECT_FALSE(programRows.text.contains(u"(不明)"_s)) << programRows.text.toStdString();
    EXPECT_TRUE(programRows.text.contains(u"@"_s + QSysInfo::machineHostName() + u"  "_s +
                                          QCoreApplication::applicationName() + u"  GKKYUYO"_s))
        << programRows.text.toStdString();
}

TEST(MoxdbAudit, InitConvertsADatabaseWhoseTrailTheProgramsWrote)
{
    const QString shell = QStandardPaths::findExecutable(u"sqlite3"_s);
    if (shell.isEmpty())
        GTEST_SKIP() << "no sqlite3 shell";
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.initSqlite().ok());
    const QString file = scratch.path() + u"/mox.db"_s;
    const auto runShell = [&](const QString& sql) { return sqliteShell(shell, file, sql); };
    // The shape of the previous version: no triggers, no writer table, no client column, and
    // a row the program wrote itself.
    QString old;
    for (const QString& table : {u"GKKANRI"_s, u"GKJINJI"_s, u"GKKYUYO"_s, u"GKKOYOU"_s}) {
        for (const QString& action : {u"INSERT"_s, u"UPDATE"_s, u"DELETE"_s})
            old += u"DROP TRIGGER \"%1_TRAIL_%2\";"_s.arg(table, action);
    }
    runShell(old +
             u"DROP TABLE KORDAO_WRITER; ALTER TABLE KORDAO_AUDIT DROP COLUMN CLIENT;"
             "INSERT INTO KORDAO_AUDIT (AT, OSUSER, HOST, PROGRAM, TABLENAME, SYOKCD, RECKEY, "
             "ACTION, CHANGES) VALUES ('2026-11-30 10:00:00.000', 'tanaka', 'desk3', 'mox110', "
             "'GKKYUYO', 10025, 'SYOKCD=10025 KYUSYU=2 SKYUYM=202612 KYUSEQ=0', 'UPDATE', "
             "'[[\"KENKO\",\"0\",\"48293\"]]');"_s);

    ASSERT_TRUE(scratch.initSqlite().ok());
    runShell(u"INSERT INTO GKKYUYO (SYOKCD, KYUSYU, SKYUYM) VALUES (10025, 2, 202612);"_s);
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(kPayrollIni);
    ASSERT_EQ(db.DAO_DBOpen(), 0);
    {
        KorDAO::clsTbAccess kyuyo;
        kyuyo.setTBDatabase(db.DBDatabase());
        kyuyo.setTBNameString(u"GKKYUYO"_s);
        ASSERT_EQ(kyuyo.DAO_TableOpen(QString(), u"SYOKCD"_s), 1);
        ASSERT_EQ(kyuyo.DAO_RecRead(1), 0);
        ASSERT_EQ(kyuyo.DAO_Edit(true), 0);
        kyuyo.TBRec()[u"KENKO"] = Currency::fromYen(48300);
        ASSERT_EQ(kyuyo.DAO_Update(), 0) << kyuyo.lastError().toStdString();
    }
    const Printed p = print(db.DBDatabase(), 10025, QString());
    ASSERT_EQ(p.rows, 3) << p.text.toStdString();
    const QStringList lines = p.text.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines[0].startsWith(u"2026-11-30 10:00:00.000  tanaka@desk3  mox110  GKKYUYO"_s))
        << p.text.toStdString();
    EXPECT_EQ(lines[1], u"    KENKO: 0 → 48293"_s);
    EXPECT_TRUE(lines[2].contains(u"  (不明)  GKKYUYO  "_s)) << p.text.toStdString();
    EXPECT_TRUE(lines.last().endsWith(u"KENKO: 0 → 48300"_s)) << p.text.toStdString();
}

TEST(MoxdbInitRoles, RefusedOnSqliteAndForNamesNotPlain)
{
    test::ScratchFolder scratch;
    ASSERT_TRUE(scratch.initSqlite().ok());
    test::ProgramRun r = test::runMoxdb({u"init"_s, u"--roles"_s}, scratch.path());
    EXPECT_EQ(r.code, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"PostgreSQL"_s)) << r.err.toStdString();

    r = test::runMoxdb({u"init"_s, u"--roles"_s, u"--operator-role"_s, u"x\"; DROP TABLE y; --"_s},
                       scratch.path());
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"ロール名"_s)) << r.err.toStdString();

    // Without configuration files, --roles writes no SQLite defaults.
    QTemporaryDir empty;
    r = test::runMoxdb({u"init"_s, u"--roles"_s, u"--dir"_s, empty.path()}, empty.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(QFile::exists(empty.filePath(u"MOX.INI"_s)));
}
