// moxdb bonus run against the entry screen's own save: for every employee the screen lists, the
// record the run stores equals, field by field, what the screen's calculation of a new entry and
// its save (mox110::saveKyuyo) store on the same data; records already there stay as they are;
// a run killed halfway and started again, and two runs at once, end as one run does.

#include "support.h"

#include "kordao/kordao.h"
#include "moxdb/bonusseason.h"
#include "moxdb/exporttables.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <map>
#include <set>

using namespace Qt::StringLiterals;

namespace moxdb::test {
namespace {

constexpr int kDecember = 202612;
constexpr int kJune = 202606;

// Every field of every bonus record of \p month, as text, by employee.
using Records = std::map<int, QStringList>;

Records monthRecords(const District& d, int month)
{
    Records out;
    const ExportTable* table = findExportTable(u"GKKYUYO"_s);
    withDatabase(d.path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db);
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(tb.DAO_TableOpen(u"KYUSYU = 2 AND SKYUYM = %1"_s.arg(month), u"SYOKCD"_s), 0);
        for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
            QStringList fields;
            for (const ExportField& f : table->fields) {
                const KorDAO::FieldRef v = tb.TBRec()[f.name];
                fields << f.name + u'=' + (v.isNull() ? u"NULL"_s : v.toString());
            }
            out[tb.TBRec()[u"SYOKCD"].toInt()] = fields;
        }
        (void)tb.DAO_TableClose();
    });
    return out;
}

// Runs \p work in one transaction on the records \p filter finds in \p table.
void eachRecord(const District& d, const QString& table, const QString& filter,
                const std::function<void(KorDAO::clsTbAccess&)>& work)
{
    withDatabase(d.path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db);
        tb.setTBNameString(table);
        ASSERT_GE(tb.DAO_TableOpen(filter, QString()), 0);
        KorDAO::Transaction tx(tb);
        ASSERT_TRUE(tx.started());
        for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2))
            work(tb);
        ASSERT_TRUE(tx.commit().ok());
        (void)tb.DAO_TableClose();
    });
}

void setMonth(const District& d, int month)
{
    eachRecord(d, u"GKKANRI"_s, u"KEY = 'KANRI'"_s, [&](KorDAO::clsTbAccess& tb) {
        ASSERT_EQ(tb.DAO_Edit(true), 0);
        tb.TBRec()[u"SYORID"] = month;
        ASSERT_EQ(tb.DAO_Update(), 0);
    });
}

void clearMonth(const District& d, int month)
{
    eachRecord(d, u"GKKYUYO"_s, u"KYUSYU = 2 AND SKYUYM = %1"_s.arg(month),
               [](KorDAO::clsTbAccess& tb) { ASSERT_EQ(tb.DAO_Delete(true), 0); });
}

// The employees the output of `moxdb bonus check` \p r lists with NORECORD.
std::set<int> withoutRecord(const ProgramRun& r)
{
    std::set<int> out;
    for (const QString& line : r.out.split(u'\n')) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() >= 2 && fields[1].split(u' ').contains(u"NORECORD"_s))
            out.insert(fields[0].section(u' ', 0, 0).toInt());
    }
    return out;
}

// What the screen does for each employee of its list without a bonus record for the month: the
// read key (a new entry, every source read as the screen reads it), the deduction classes of his
// latest bonus record (0 without one) chosen in their lists, and the save key. Returns the
// refusals by employee.
struct ScreenOutcome {
    std::map<int, QString> refused;             // the screen's message, by employee
    std::map<int, mox110::KyuyoValues> unsaved; // worked out, not saved (outside the sample)
};

// Every \p sampleEvery-th employee's record is saved by the screen's save; the others' values
// are kept for a comparison field by field.
ScreenOutcome saveAsTheScreen(const District& d, int sampleEvery = 1)
{
    ScreenOutcome outcome;
    std::map<int, QString>& refused = outcome.refused;
    int index = 0;
    withDatabase(d.path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
        QString messages;
        QTextStream err(&messages);
        ConsoleShell shell(err, u"screen"_s);
        BonusSeason season(db);
        ASSERT_TRUE(season.open().ok());
        // Outside the sample the insurance table and rounding points are read once (each
        // calculation of the screen reads them anew, on connections of their own).
        BonusSeason quick(db);
        ASSERT_TRUE(quick.open().ok());
        ASSERT_TRUE(quick.cacheSources().ok());
        const auto listed = season.listedEmployees();
        ASSERT_FALSE(mox::failure(listed));
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db);
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0); // as the screen opens it
        for (const ListedEmployee& e : mox::value(listed)) {
            const QString criteria =
                u"KYUSYU = 2 And SKYUYM = %1 And SYOKCD = %2"_s.arg(season.processingMonth())
                    .arg(e.syokcd);
            if (tb.DAO_RecFind(1, criteria) == 0)
                continue; // the screen shows the stored record instead
            const KorDAO::RecordStamp none = tb.DAO_RecStamp();
            // The classes of his latest bonus record, read for him alone.
            int tokkbn = 0, roukbn = 0;
            KorDAO::clsTbAccess own;
            own.setTBDatabase(db);
            own.setTBNameString(u"GKKYUYO"_s);
            ASSERT_GE(own.DAO_TableOpen(u"KYUSYU = 2 And SYOKCD = %1"_s.arg(e.syokcd), u"SKYUYM"_s),
                      0);
            for (short st = own.DAO_RecRead(1); st == 0; st = own.DAO_RecRead(2)) {
                tokkbn = own.TBRec()[u"TOKKBN"].toInt();
                roukbn = own.TBRec()[u"ROUKBN"].toInt();
            }
            const auto jinji = season.readJinji({e.syokcd});
            ASSERT_FALSE(mox::failure(jinji));
            const bool sampled = index++ % sampleEvery == 0;
            const NewBonus b =
                (sampled ? season : quick)
                    .calculateNew(mox::value(mox::value(jinji).at(e.syokcd)), tokkbn, roukbn);
            if (!b.status.ok()) {
                refused[e.syokcd] = b.status.message;
                continue;
            }
            if (!sampled) {
                outcome.unsaved[e.syokcd] = b.values;
                continue;
            }
            ASSERT_EQ(mox110::saveKyuyo(tb, criteria, none, b.values).status, 0) << e.syokcd;
        }
        (void)tb.DAO_TableClose();
    });
    return outcome;
}

// The stored bonus records of \p month hold \p values, field by field.
void expectStoredValues(const District& d, int month,
                        const std::map<int, mox110::KyuyoValues>& values)
{
    withDatabase(d.path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db);
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0);
        for (const auto& [code, fields] : values) {
            ASSERT_EQ(tb.DAO_RecFind(
                          1, u"KYUSYU = 2 And SKYUYM = %1 And SYOKCD = %2"_s.arg(month).arg(code)),
                      0)
                << code;
            for (const mox110::KyuyoField& f : fields) {
                const KorDAO::FieldRef stored = tb.TBRec()[f.name];
                if (f.value.metaType() == QMetaType::fromType<QString>())
                    ASSERT_EQ(stored.toString(), f.value.toString()) << code;
                else if (f.value.metaType() == QMetaType::fromType<int>())
                    ASSERT_EQ(stored.toInt(), f.value.toInt()) << code << f.name.toStdString();
                else
                    ASSERT_EQ(
                        stored.toCurrency(),
                        Currency::parse(f.value.toString()).value_or(f.value.value<Currency>()))
                        << code << ' ' << f.name.toStdString();
            }
        }
        (void)tb.DAO_TableClose();
    });
}

// The employees the run's output lists with \p outcome ("書込", "計算不可" …) and their remarks.
std::map<int, QString> outputLines(const ProgramRun& r, const QString& outcome)
{
    std::map<int, QString> out;
    for (const QString& line : r.out.split(u'\n')) {
        const QStringList cells = line.split(u'\t');
        if (cells.size() == 6 && cells[2] == outcome)
            out[cells[0].toInt()] = cells[5];
    }
    return out;
}

// Field-by-field comparison, naming the first employee and field that differ.
void expectSameRecords(const Records& expected, const Records& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (const auto& [code, fields] : expected) {
        ASSERT_TRUE(actual.contains(code)) << code;
        for (qsizetype i = 0; i < fields.size(); ++i)
            ASSERT_EQ(fields[i].toStdString(), actual.at(code).value(i).toStdString()) << code;
    }
}

// The screen's records of \p month, then the run's on the same data: equal, field by field.
// Every \p sampleEvery-th employee is saved by the screen's save and compared whole; the
// others' values are compared with what the run stored.
void expectRunAsTheScreen(District& d, int month, int sampleEvery = 1)
{
    setMonth(d, month);
    clearMonth(d, month);
    const ScreenOutcome byScreen = saveAsTheScreen(d, sampleEvery);
    const std::map<int, QString>& screenRefused = byScreen.refused;
    const Records screen = monthRecords(d, month);
    ASSERT_FALSE(screen.empty());
    clearMonth(d, month);
    const ProgramRun r = d.run({u"bonus"_s, u"run"_s});
    ASSERT_EQ(r.code, 0) << outcome(r);
    Records run = monthRecords(d, month);
    EXPECT_EQ(outputLines(r, u"書込"_s).size(), run.size());
    EXPECT_EQ(run.size(), screen.size() + byScreen.unsaved.size());
    expectStoredValues(d, month, byScreen.unsaved);
    for (const auto& [code, values] : byScreen.unsaved)
        run.erase(code);
    expectSameRecords(screen, run);
    std::map<int, QString> runRefused;
    for (const auto& [code, remark] : outputLines(r, u"計算不可"_s))
        runRefused[code] = remark.section(u' ', -1); // without "手入力"
    EXPECT_EQ(runRefused, screenRefused);
}

class BonusRunTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres && !PostgresPair::serverGiven())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    }
    std::unique_ptr<District> make(const QList<QStringList>& steps)
    {
        auto d = std::make_unique<District>(GetParam());
        const QString failed = d->make(steps);
        EXPECT_TRUE(failed.isEmpty()) << failed.toStdString();
        return d;
    }
};

TEST_P(BonusRunTest, DemoDistrictJuneAndDecemberAsTheScreenSaves)
{
    auto d = make({{u"init"_s}, {u"demo"_s}});
    expectRunAsTheScreen(*d, kDecember);
    expectRunAsTheScreen(*d, kJune);
}

TEST_P(BonusRunTest, OperatorsRecordStaysAndDryRunWritesNothing)
{
    auto d = make({{u"init"_s}, {u"demo"_s}});
    const Records before = monthRecords(*d, kDecember);
    ASSERT_EQ(before.size(), 1u); // the demo's one bonus already entered at the desk
    const int operatorsOwn = before.begin()->first;

    const ProgramRun dry = d->run({u"bonus"_s, u"run"_s, u"--dry-run"_s});
    ASSERT_EQ(dry.code, 0) << outcome(dry);
    EXPECT_EQ(monthRecords(*d, kDecember), before);
    EXPECT_FALSE(outputLines(dry, u"書込予定"_s).empty());

    // Two choices of a class: refused, nothing written.
    const ProgramRun both =
        d->run({u"bonus"_s, u"run"_s, u"--tokkbn"_s, u"0"_s, u"--tokkbn"_s, u"1"_s});
    EXPECT_EQ(both.code, 2) << outcome(both);
    EXPECT_TRUE(both.err.contains(u"--tokkbn は一度だけ指定してください。"_s)) << outcome(both);
    EXPECT_EQ(monthRecords(*d, kDecember), before);

    const ProgramRun r = d->run({u"bonus"_s, u"run"_s, u"--tokkbn"_s, u"1"_s});
    ASSERT_EQ(r.code, 0) << outcome(r);
    const Records after = monthRecords(*d, kDecember);
    EXPECT_EQ(after.at(operatorsOwn), before.at(operatorsOwn));
    EXPECT_TRUE(outputLines(r, u"登録済"_s).contains(operatorsOwn));
    EXPECT_GT(after.size(), 1u);
    for (const auto& [code, fields] : after) {
        if (code != operatorsOwn) {
            EXPECT_TRUE(fields.contains(u"TOKKBN=1"_s)) << code;
        }
    }
    // Each record audited as a save: one INSERT row of the program per record written.
    const ProgramRun audit = d->run({u"audit"_s});
    ASSERT_EQ(audit.code, 0) << outcome(audit);
    qsizetype inserts = 0;
    for (const QString& line : audit.out.split(u'\n')) {
        if (line.contains(u"SKYUYM=202612"_s) && line.contains(u"追加(INSERT)"_s) &&
            line.contains(u" moxdb "_s))
            ++inserts;
    }
    EXPECT_EQ(inserts, qsizetype(outputLines(r, u"書込"_s).size()));
    EXPECT_TRUE(r.out.contains(u"健康厚生=1(指定)"_s));
    EXPECT_TRUE(r.out.contains(u"手入力"_s));

    // Once more: everybody is there, nothing is written.
    const ProgramRun again = d->run({u"bonus"_s, u"run"_s});
    ASSERT_EQ(again.code, 0) << outcome(again);
    EXPECT_TRUE(outputLines(again, u"書込"_s).empty());
    EXPECT_EQ(monthRecords(*d, kDecember), after);
}

// June 2027: the shipped editions have no bonus table for 令和9年. Staff taxed by the standard
// method (pay in May) are refused with the table named; the others are written.
TEST_P(BonusRunTest, June2027WithoutItsBonusTable)
{
    auto d = make({{u"init"_s}, {u"demo"_s}});
    // Half the staff paid in May 2027 as in November 2026.
    std::vector<std::array<QVariant, 5>> may;
    eachRecord(*d, u"GKKYUYO"_s, u"KYUSYU = 1 AND SKYUYM = 202611 AND SYOKCD < 1200000"_s,
               [&](KorDAO::clsTbAccess& tb) {
                   KorDAO::Record r = tb.TBRec();
                   may.push_back({r[u"SYOKCD"].toInt(), r[u"KYUSEQ"].toInt(),
                                  QVariant::fromValue(r[u"KAZEIG"].toCurrency()),
                                  QVariant::fromValue(r[u"SYAGOK"].toCurrency()),
                                  QVariant::fromValue(r[u"SYOTOK"].toCurrency())});
               });
    ASSERT_FALSE(may.empty());
    withDatabase(d->path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db);
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0);
        KorDAO::Transaction tx(tb);
        for (const auto& m : may) {
            ASSERT_EQ(tb.DAO_AddNew(true), 0);
            tb.TBRec()[u"SYOKCD"] = m[0].toInt();
            tb.TBRec()[u"KYUSYU"] = 1;
            tb.TBRec()[u"SKYUYM"] = 202705;
            tb.TBRec()[u"KYUSEQ"] = m[1].toInt();
            tb.TBRec()[u"KAZEIG"] = m[2].value<Currency>();
            tb.TBRec()[u"SYAGOK"] = m[3].value<Currency>();
            tb.TBRec()[u"SYOTOK"] = m[4].value<Currency>();
            ASSERT_EQ(tb.DAO_Update(), 0);
        }
        ASSERT_TRUE(tx.commit().ok());
    });
    expectRunAsTheScreen(*d, 202706);
    const ProgramRun again = d->run({u"bonus"_s, u"run"_s});
    const std::map<int, QString> refused = outputLines(again, u"計算不可"_s);
    ASSERT_FALSE(refused.empty());
    for (const auto& [code, reason] : refused)
        EXPECT_TRUE(
            reason.contains(u"令和9年分の賞与に対する源泉徴収税額の算出率の表がありません"_s))
            << code << ' ' << reason.toStdString();
    EXPECT_TRUE(outputLines(again, u"書込"_s).empty()); // the refused stay refused, no more
    EXPECT_FALSE(outputLines(again, u"登録済"_s).empty());
}

// A district of 3,000 synthetic staff: the run as the screen in December and June, a run killed
// halfway and started again, and (PostgreSQL) two runs at once.
TEST_P(BonusRunTest, SyntheticDistrictKilledAndConcurrentRuns)
{
    auto d = make({{u"init"_s}, {u"synth"_s, u"--staff"_s, u"3000"_s, u"--years"_s, u"2"_s}});
    expectRunAsTheScreen(*d, kJune, 10);
    expectRunAsTheScreen(*d, kDecember, 10);
    const Records whole = monthRecords(*d, kDecember);

    clearMonth(*d, kDecember);
    QProcess run;
    run.setWorkingDirectory(d->path());
    run.start(QStringLiteral(MOXDB_PROGRAM), {u"bonus"_s, u"run"_s, u"--dir"_s, d->path()});
    ASSERT_TRUE(run.waitForStarted());
    QByteArray seen;
    while (seen.count('\n') < 300 && run.waitForReadyRead(20000))
        seen += run.readAllStandardOutput();
    ASSERT_GE(seen.count('\n'), 300) << "the run ended before it could be killed";
    ::kill(pid_t(run.processId()), SIGKILL);
    run.waitForFinished();
    const Records half = monthRecords(*d, kDecember);
    EXPECT_GT(half.size(), 0u);
    EXPECT_LT(half.size(), whole.size());
    EXPECT_EQ(half.size() % 250, 0u) << "a batch half written";
    const ProgramRun rest = d->run({u"bonus"_s, u"run"_s});
    ASSERT_EQ(rest.code, 0) << outcome(rest);
    EXPECT_EQ(outputLines(rest, u"登録済"_s).size(), half.size());
    expectSameRecords(whole, monthRecords(*d, kDecember));

    // The check list of a few scattered staff without a record, then of the whole district
    // without: each calculates exactly those, a few hundred codes at a time.
    const ProgramRun before = d->run({u"bonus"_s, u"check"_s});
    ASSERT_EQ(before.code, 0) << outcome(before);
    std::set<int> missing = withoutRecord(before);
    for (const int code :
         {whole.begin()->first, std::next(whole.begin(), 1500)->first, whole.rbegin()->first}) {
        eachRecord(*d, u"GKKYUYO"_s,
                   u"KYUSYU = 2 AND SKYUYM = %1 AND SYOKCD = %2"_s.arg(kDecember).arg(code),
                   [](KorDAO::clsTbAccess& tb) { ASSERT_EQ(tb.DAO_Delete(true), 0); });
        missing.insert(code);
    }
    const ProgramRun few = d->run({u"bonus"_s, u"check"_s});
    ASSERT_EQ(few.code, 0) << outcome(few);
    EXPECT_EQ(withoutRecord(few), missing);
    clearMonth(*d, kDecember);
    const ProgramRun none = d->run({u"bonus"_s, u"check"_s});
    ASSERT_EQ(none.code, 0) << outcome(none);
    EXPECT_EQ(withoutRecord(none).size(), withoutRecord(before).size() + whole.size());

    if (GetParam() != Engine::Postgres)
        return;
    clearMonth(*d, kDecember);
    QProcess first, second;
    for (QProcess* p : {&first, &second}) {
        p->setWorkingDirectory(d->path());
        p->start(QStringLiteral(MOXDB_PROGRAM), {u"bonus"_s, u"run"_s, u"--dir"_s, d->path()});
    }
    ASSERT_TRUE(first.waitForFinished(120000) && second.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    const ProgramRun a{first.exitCode(), QString::fromUtf8(first.readAllStandardOutput()), {}};
    const ProgramRun b{second.exitCode(), QString::fromUtf8(second.readAllStandardOutput()), {}};
    std::map<int, QString> written = outputLines(a, u"書込"_s);
    for (const auto& [code, remark] : outputLines(b, u"書込"_s))
        EXPECT_TRUE(written.emplace(code, remark).second) << code << " written twice";
    EXPECT_EQ(written.size(), whole.size());
    expectSameRecords(whole, monthRecords(*d, kDecember));
}

INSTANTIATE_TEST_SUITE_P(BothEngines, BonusRunTest,
                         testing::Values(Engine::Sqlite, Engine::Postgres), engineName);

} // namespace
} // namespace moxdb::test
