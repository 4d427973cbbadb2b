// mox110_ui_deskload: several desks saving and deleting bonus records at random on one database,
// for a while, then a check that nothing was lost.
//
//     mox110_ui_deskload --engine sqlite|postgres [--processes 8] [--seconds 10] [--staff 40]
//
// Makes a fresh payroll database (an SQLite file, or a database on the PostgreSQL server named
// by MOX_TEST_PGHOST / MOX_TEST_PGPORT / MOX_TEST_PGUSER), starts the desks as processes of
// their own, and each desk calls an employee up, thinks a moment and saves (or now and then
// deletes) the bonus record through the entry screen's own save and delete. Every save carries a
// token of its own in its comment. Afterwards:
//   - every desk ended normally and met no status but success and "changed meanwhile" (-30);
//   - the audit table holds exactly one row per save and delete reported successful, with the
//     token of each save;
//   - every stored record is the last of those saves for its employee (by audit order), and
//     no record is left that the last action deleted.
// With --backup MOXDB, an environment database is added, `moxdb backup` runs halfway through, and
// afterwards the backup is restored into new databases where every payroll record must be the
// last save that the restored audit trail holds for its employee (and the trail shorter than the
// live one: the backup was taken while the desks saved).
// Prints one line of figures; exits 0 when every check holds, 1 otherwise, 77 when the engine
// is not available here.

#include "../kordao/testdatabase.h"
#include "mox110/kyuyorecord.h"

#include "kordao/kordao.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <map>
#include <memory>
#include <set>

using namespace Qt::StringLiterals;

namespace {

constexpr int kMonth = 202612;

QString criteria(int code)
{
    return u"KYUSYU = 2 AND SKYUYM = %1 AND SYOKCD = %2"_s.arg(kMonth).arg(code);
}

// One desk: until the time is up, call up a random employee, think, save or delete; one line per
// attempt on standard output: "<status> SAVE <code> <token>" or "<status> DELETE <code>".
int runDesk(int desk, int seconds, int staff)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    if (db.DAO_DBOpen() != 0) {
        std::fprintf(stderr, "desk %d: %s\n", desk, qPrintable(db.lastError()));
        return 2;
    }
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db.DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    if (tb.DAO_TableOpen({}, {}) < 0)
        return 2;
    QRandomGenerator random(quint32(desk) * 7919u + 1u);
    QElapsedTimer clock;
    clock.start();
    for (int n = 1; clock.elapsed() < qint64(seconds) * 1000; ++n) {
        const int code = 1 + int(random.bounded(staff));
        const short found = tb.DAO_RecFind(1, criteria(code));
        if (found != 0 && found != -8) {
            std::printf("%d FIND %d\n", found, code);
            continue;
        }
        const KorDAO::RecordStamp seen = tb.DAO_RecStamp();
        QThread::usleep(random.bounded(3000u)); // the operator looks at the screen
        if (found == 0 && random.bounded(8) == 0) {
            const mox110::WriteResult r = mox110::deleteKyuyo(tb, criteria(code), seen);
            std::printf("%d DELETE %d\n", r.status, code);
        } else {
            const QString token = u"d%1-%2"_s.arg(desk).arg(n);
            const mox110::KyuyoValues values{
                {u"SYOKCD"_s, code},
                {u"KYUSYU"_s, 2},
                {u"SKYUYM"_s, kMonth},
                {u"KYUSEQ"_s, 0},
                {u"KYURYO"_s, QVariant::fromValue(Currency::fromYen(random.bounded(900'000)))},
                {u"NIREM1"_s, mox110::commentField(token)},
            };
            const mox110::WriteResult r = mox110::saveKyuyo(tb, criteria(code), seen, values);
            std::printf("%d SAVE %d %s\n", r.status, code, qPrintable(token));
        }
        std::fflush(stdout);
    }
    return 0;
}

struct Tally {
    qint64 saves = 0, deletes = 0, conflicts = 0, unexpected = 0;
    std::set<QString> savedTokens;
};

// Reads a desk's lines into \p t.
void tally(const QByteArray& output, Tally* t, QStringList* problems)
{
    for (const QByteArray& raw : output.split('\n')) {
        const QStringList f = QString::fromUtf8(raw).split(u' ', Qt::SkipEmptyParts);
        if (f.size() < 3)
            continue;
        const int status = f[0].toInt();
        if (status == KorDAO::kRecordChanged) {
            ++t->conflicts;
        } else if (status != 0) {
            ++t->unexpected;
            if (problems->size() < 10)
                *problems << u"unexpected status: "_s + QString::fromUtf8(raw);
        } else if (f[1] == u"SAVE"_s && f.size() == 4) {
            ++t->saves;
            t->savedTokens.insert(f[3]);
        } else if (f[1] == u"DELETE"_s) {
            ++t->deletes;
        }
    }
}

// Checks the database against what the desks reported (\p t), or, without \p t, against its
// own audit trail alone (a database restored from a backup). Gives the audit rows of GKKYUYO.
qint64 verify(KorDAO::clsDbAccess& db, const Tally* t, QStringList* problems)
{
    struct Last {
        QString action;
        QString token;
    };
    std::map<int, Last> lastAction; // per employee, by audit order
    qint64 auditSaves = 0, auditDeletes = 0;
    std::set<QString> auditTokens;
    KorDAO::clsTbAccess audit;
    audit.setTBDatabase(db.DBDatabase());
    audit.setTBNameString(QString::fromUtf16(KorDAO::kAuditTable));
    if (audit.DAO_TableOpen(u"TABLENAME = 'GKKYUYO'"_s, u"ID"_s) < 0) {
        *problems << u"audit table: "_s + audit.lastError();
        return 0;
    }
    for (short st = audit.DAO_RecRead(1); st == 0; st = audit.DAO_RecRead(2)) {
        auto r = audit.TBRec();
        const QString action = r[u"ACTION"].toString();
        QString token;
        const QJsonArray changes =
            QJsonDocument::fromJson(r[u"CHANGES"].toString().toUtf8()).array();
        for (const QJsonValue& c : changes) {
            if (c.toArray().at(0).toString() == u"NIREM1"_s)
                token = c.toArray().at(2).toString().trimmed();
        }
        if (action == u"DELETE"_s) {
            ++auditDeletes;
        } else {
            ++auditSaves;
            if (!auditTokens.insert(token).second)
                *problems << u"token %1 audited twice"_s.arg(token);
        }
        lastAction[r[u"SYOKCD"].toInt()] = {action, token};
    }
    if (t && (auditSaves != t->saves || auditDeletes != t->deletes))
        *problems << u"audit rows: %1 saves and %2 deletes; reported %3 and %4"_s.arg(auditSaves)
                         .arg(auditDeletes)
                         .arg(t->saves)
                         .arg(t->deletes);
    if (t && auditTokens != t->savedTokens)
        *problems << u"the saves audited are not the saves reported"_s;

    KorDAO::clsTbAccess kyuyo;
    kyuyo.setTBDatabase(db.DBDatabase());
    kyuyo.setTBNameString(u"GKKYUYO"_s);
    const int stored = kyuyo.DAO_TableOpen({}, u"SYOKCD"_s);
    std::set<int> storedCodes;
    for (short st = kyuyo.DAO_RecRead(1); st == 0; st = kyuyo.DAO_RecRead(2)) {
        const int code = kyuyo.TBRec()[u"SYOKCD"].toInt();
        const QString token = kyuyo.TBRec()[u"NIREM1"].toString().trimmed();
        storedCodes.insert(code);
        const auto it = lastAction.find(code);
        if (it == lastAction.end() || it->second.action == u"DELETE"_s || it->second.token != token)
            *problems << u"employee %1 holds %2, not the last save"_s.arg(code).arg(token);
    }
    for (const auto& [code, last] : lastAction) {
        if (last.action != u"DELETE"_s && !storedCodes.count(code))
            *problems << u"employee %1: the last save %2 is missing"_s.arg(code).arg(last.token);
    }
    if (stored != int(storedCodes.size()))
        *problems << u"record count %1 differs from the records read"_s.arg(stored);
    return auditSaves + auditDeletes;
}

// The configuration text \p ini with its Database= line naming \p database.
QString withDatabase(QString ini, const QString& database)
{
    static const QRegularExpression line(u"^Database=.*$"_s, QRegularExpression::MultilineOption);
    return ini.replace(line, u"Database="_s + database);
}

QString databaseOf(const QString& ini)
{
    static const QRegularExpression line(u"^Database=(.*)$"_s, QRegularExpression::MultilineOption);
    return line.match(ini).captured(1).trimmed();
}

// Runs moxdb with \p args; a problem naming the command when it fails.
bool runMoxdb(const QString& moxdb, const QStringList& args, QStringList* problems)
{
    QProcess p;
    p.start(moxdb, args);
    p.waitForFinished(600'000);
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    *problems << u"moxdb %1: %2"_s.arg(args.join(u' '),
                                       QString::fromUtf8(p.readAllStandardError()).trimmed());
    return false;
}

// Gives the load's database an environment database beside it, so that a backup has both.
bool addEnvironment(const kordaotest::TestDatabase& database, const QString& moxdb,
                    QStringList* problems)
{
    QFile pay(database.folder() + u"/MOX.INI"_s);
    if (!pay.open(QIODevice::ReadOnly))
        return false;
    const QString ini = QString::fromUtf8(pay.readAll());
    const bool postgres = database.backend() == kordaotest::Backend::Postgres;
    database.writeIni(u"MOXENV.INI"_s,
                      withDatabase(ini, postgres ? databaseOf(ini) + u"_env"_s : u"data/env.db"_s));
    return runMoxdb(moxdb, {u"init"_s, u"--dir"_s, database.folder()}, problems);
}

// Restores \p backup into new databases and checks every record of the payroll table against
// the restored audit trail: each the last save audited for its employee, none the trail
// deleted last. Gives the audit rows restored (-1 when it could not be checked).
qint64 restoreAndVerify(const kordaotest::TestDatabase& database, const QString& moxdb,
                        const QString& backup, QStringList* problems)
{
    QFile pay(database.folder() + u"/MOX.INI"_s);
    if (!pay.open(QIODevice::ReadOnly))
        return -1;
    const QString ini = QString::fromUtf8(pay.readAll());
    const bool postgres = database.backend() == kordaotest::Backend::Postgres;
    const QString name = databaseOf(ini);
    QTemporaryDir site;
    for (const auto& [file, db] :
         {std::pair{u"MOX.INI"_s, postgres ? name + u"_r"_s : u"r.db"_s},
          std::pair{u"MOXENV.INI"_s, postgres ? name + u"_renv"_s : u"renv.db"_s}}) {
        QFile f(site.filePath(file));
        if (f.open(QIODevice::WriteOnly))
            f.write(withDatabase(ini, db).toUtf8());
    }
    qint64 rows = -1;
    if (runMoxdb(moxdb, {u"init"_s, u"--dir"_s, site.path()}, problems) &&
        runMoxdb(moxdb, {u"restore"_s, backup, u"--dir"_s, site.path()}, problems)) {
        KorDAO::confineIniSearch(site.path());
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(u"MOX.INI"_s);
        db.setPrivateConnection(true);
        if (db.DAO_DBOpen() == 0) {
            QStringList found;
            rows = verify(db, nullptr, &found);
            for (const QString& f : found)
                *problems << u"restored: "_s + f;
        } else {
            *problems << u"restored: "_s + db.lastError();
        }
        (void)db.DAO_DBClose();
        KorDAO::confineIniSearch(QString());
    }
    if (postgres) {
        for (const QString& drop : {name + u"_r"_s, name + u"_renv"_s, name + u"_env"_s})
            database.rawExec(u"DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)"_s.arg(drop));
    }
    return rows;
}

int runLoad(const QString& engine, int processes, int seconds, int staff, const QString& moxdb)
{
    const bool postgres = engine == u"postgres"_s;
    if (postgres && !kordaotest::postgresAvailable()) {
        std::printf("skipped: MOX_TEST_PGHOST is not set\n");
        return 77;
    }
    kordaotest::TestDatabase database(postgres ? kordaotest::Backend::Postgres
                                               : kordaotest::Backend::Sqlite);
    QString error;
    if (!database.create(&error)) {
        std::fprintf(stderr, "cannot create the database: %s\n", qPrintable(error));
        return 1;
    }

    QStringList problems;
    if (!moxdb.isEmpty() && !addEnvironment(database, moxdb, &problems)) {
        std::fprintf(stderr, "cannot add the environment database: %s\n",
                     qPrintable(problems.join(u"; "_s)));
        return 1;
    }

    std::vector<std::unique_ptr<QProcess>> desks;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= processes; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(),
                 {u"--desk"_s, QString::number(i), u"--seconds"_s, QString::number(seconds),
                  u"--staff"_s, QString::number(staff)});
        desks.push_back(std::move(p));
    }
    std::vector<QByteArray> outs(desks.size());
    // Read as it comes, so that a desk never blocks on a full pipe.
    const auto drain = [&] {
        for (std::size_t i = 0; i < desks.size(); ++i)
            outs[i] += desks[i]->readAllStandardOutput();
    };
    // Halfway through, a backup while every desk saves.
    const QString backup = database.folder() + u"/load.moxbak"_s;
    bool backedUp = false;
    if (!moxdb.isEmpty()) {
        while (clock.elapsed() < qint64(seconds) * 500) {
            desks.front()->waitForReadyRead(100);
            drain();
        }
        backedUp = runMoxdb(moxdb, {u"backup"_s, backup, u"--dir"_s, database.folder()}, &problems);
    }
    Tally t;
    for (std::size_t i = 0; i < desks.size(); ++i) {
        QProcess& p = *desks[i];
        QByteArray& out = outs[i];
        while (!p.waitForFinished(200))
            drain();
        drain();
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            problems << u"desk %1 ended with %2"_s.arg(i + 1).arg(p.exitCode());
        tally(out, &t, &problems);
    }
    const double elapsed = double(clock.elapsed()) / 1000.0;

    qint64 audited = 0;
    auto db = database.open();
    if (!db)
        problems << u"cannot open the database to check it"_s;
    else
        audited = verify(*db, &t, &problems);
    db.reset();
    if (backedUp) {
        const qint64 restored = restoreAndVerify(database, moxdb, backup, &problems);
        std::printf("backup halfway: %lld of %lld audited writes restored\n", restored, audited);
        if (restored <= 0 || restored >= audited)
            problems << u"the backup holds %1 of %2 writes: not taken while the desks saved"_s
                            .arg(restored)
                            .arg(audited);
    }

    std::printf("engine=%s processes=%d seconds=%.1f saves=%lld deletes=%lld writes_per_s=%.1f "
                "conflicts_refused=%lld unexpected=%lld %s\n",
                postgres ? "PostgreSQL" : "SQLite", processes, elapsed, t.saves, t.deletes,
                double(t.saves + t.deletes) / elapsed, t.conflicts, t.unexpected,
                problems.isEmpty() ? "verified" : "FAILED");
    for (const QString& p : problems)
        std::printf("  %s\n", qPrintable(p));
    return problems.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption engine(u"engine"_s, u"sqlite or postgres"_s, u"engine"_s, u"sqlite"_s);
    const QCommandLineOption processes(u"processes"_s, u"desks"_s, u"n"_s, u"8"_s);
    const QCommandLineOption seconds(u"seconds"_s, u"duration"_s, u"s"_s, u"10"_s);
    const QCommandLineOption staff(u"staff"_s, u"employees"_s, u"n"_s, u"40"_s);
    const QCommandLineOption desk(u"desk"_s, u"run as desk n"_s, u"n"_s);
    const QCommandLineOption backup(
        u"backup"_s, u"halfway, back up with this moxdb; then restore and check"_s, u"moxdb"_s);
    parser.addOptions({engine, processes, seconds, staff, desk, backup});
    parser.process(app);
    const int secs = std::max(1, parser.value(seconds).toInt());
    const int employees = std::max(1, parser.value(staff).toInt());
    if (parser.isSet(desk))
        return runDesk(parser.value(desk).toInt(), secs, employees);
    return runLoad(parser.value(engine), std::max(1, parser.value(processes).toInt()), secs,
                   employees, parser.value(backup));
}
