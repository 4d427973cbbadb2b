// The entry screen on a large district (moxdb synth, 30,000 staff and 10 fiscal years unless
// MOX_BENCH_STAFF / MOX_BENCH_YEARS say otherwise; made once into MOX_BENCH_DATA):
//
//     mox110_ui_bench --benchmark_filter=CallUp      F11 on an employee to the filled screen
//     mox110_ui_bench --benchmark_filter=LeaveBox    leaving a changed salary to updated totals
//                                                   (/0 no deductions charged, /1 both charged)
//
// Both run the real form under the offscreen platform; message boxes go to a scripted shell.
#include "mox110ui/frmmox110.h"

#include "kordao/kordao.h"
#include "mox/fonts.h"
#include "mox/program.h"
#include "mox/shell.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <benchmark/benchmark.h>

#include "roundtrips.h"
#include "synthdistrict.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The form's boxes, found by object name as a user's tool finds them.
template <class W> W* box(const frmMox110& form, const char* name)
{
    W* w = form.findChild<W*>(QString::fromLatin1(name));
    if (!w) {
        std::fprintf(stderr, "entry_bench: no box %s\n", name);
        std::abort();
    }
    return w;
}

// Employees spread over the list whose bonus of the processing month is not stored yet, so that
// F11 works them out without asking; pay class 4 and manual entry are left out.
std::vector<int> newEntryRows(frmMox110& form, int wanted)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    std::vector<int> rows;
    if (db.DAO_DBOpen() != 0)
        return rows;
    KorDAO::clsTbAccess kanri, jinji, kyuyo;
    for (KorDAO::clsTbAccess* t : {&kanri, &jinji, &kyuyo})
        t->setTBDatabase(db.DBDatabase());
    kanri.setTBNameString(u"GKKANRI"_s);
    jinji.setTBNameString(u"GKJINJI"_s);
    kyuyo.setTBNameString(u"GKKYUYO"_s);
    (void)kanri.DAO_TableOpen(u"KEY = 'KANRI'"_s, QString());
    (void)kanri.DAO_RecRead(1);
    const QString syorid = kanri.TBRec()[u"SYORID"].toCurrency().toPlainString();
    (void)jinji.DAO_TableOpen(QString(), u"SYOKCD"_s);
    (void)kyuyo.DAO_TableOpen(QString(), QString());
    const int count = box<QComboBox>(form, "cboSyokcd")->count();
    const int step = count / (wanted * 2) + 1;
    for (int row = 0; row < count && static_cast<int>(rows.size()) < wanted; row += step) {
        const QString code = box<QComboBox>(form, "cboSyokcd")->itemData(row).toString();
        if (jinji.DAO_RecFind(1, u"SYOKCD = "_s + code) != 0)
            continue;
        if (jinji.TBRec()[u"KYUKBN"].toInt() == 4 || jinji.TBRec()[u"HYOKBN"].toInt() == 9)
            continue;
        if (kyuyo.DAO_RecFind(1, u"KYUSYU = 2 And SKYUYM = "_s + syorid + u" And SYOKCD = "_s +
                                     code) == 0)
            continue;
        rows.push_back(row);
    }
    (void)kanri.DAO_TableClose();
    (void)jinji.DAO_TableClose();
    (void)kyuyo.DAO_TableClose();
    (void)db.DAO_DBClose();
    return rows;
}

struct Screen {
    mox::ScriptedShell shell;
    frmMox110 form;
    std::vector<int> rows;

    Screen()
    {
        form.show();
        form.Form_Set();
        rows = newEntryRows(form, 50);
    }
};

void CallUp(benchmark::State& state)
{
    Screen s;
    if (s.rows.empty()) {
        state.SkipWithError("no employee without a stored bonus");
        return;
    }
    std::size_t i = 0;
    RoundTrips trips;
    QComboBox* const syokcd = box<QComboBox>(s.form, "cboSyokcd");
    for (auto _ : state) {
        syokcd->setCurrentIndex(s.rows[i++ % s.rows.size()]);
        s.form.cmdPFKEY_Click(10); // F11: read, work out, fill
        state.PauseTiming();
        trips.exclude([&] { s.form.cmdPFKEY_Click(3); }); // F4: back to the selection
        state.ResumeTiming();
    }
    trips.report(state);
    state.counters["boxes"] = static_cast<double>(s.shell.boxes().size());
}
BENCHMARK(CallUp)->Unit(benchmark::kMillisecond);

void LeaveBox(benchmark::State& state)
{
    Screen s;
    if (s.rows.empty()) {
        state.SkipWithError("no employee without a stored bonus");
        return;
    }
    box<QComboBox>(s.form, "cboSyokcd")->setCurrentIndex(s.rows.front());
    s.form.cmdPFKEY_Click(10);
    // Argument 1: both deductions charged, so every run also reads the insurance tables.
    box<QComboBox>(s.form, "cboTokkbn")->setCurrentIndex(static_cast<int>(state.range(0)));
    box<QComboBox>(s.form, "cboRoukbn")->setCurrentIndex(static_cast<int>(state.range(0)));
    KorNumIn::KorNum* const kyuryo = box<KorNumIn::KorNum>(s.form, "nu1Kyuryo");
    const KorNumIn::KorNum* const sasihk = box<KorNumIn::KorNum>(s.form, "nu1Sasihk");
    const Currency salary = kyuryo->value();
    bool raised = false;
    const int before = s.form.recalculations();
    const RoundTrips trips;
    for (auto _ : state) {
        // What the box does when the operator leaves it after typing a new figure.
        Q_EMIT kyuryo->GotFocus();
        raised = !raised;
        kyuryo->setValue(raised ? salary + Currency::fromYen(1'000) : salary);
        Q_EMIT kyuryo->LostFocus();
        benchmark::DoNotOptimize(sasihk->value());
    }
    trips.report(state);
    state.counters["recalculations"] = s.form.recalculations() - before;
    state.counters["boxes"] = static_cast<double>(s.shell.boxes().size());
}
BENCHMARK(LeaveBox)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// F12 of a new entry with both deductions charged: the save in its transaction (find again,
// add, audit row) and the cleared screen. The records saved are deleted afterwards, so the
// district stays as it was.
void Save(benchmark::State& state)
{
    Screen s;
    if (s.rows.size() < std::size_t(state.max_iterations)) {
        state.SkipWithError("too few employees without a stored bonus");
        return;
    }
    std::size_t i = 0;
    std::vector<int> saved;
    RoundTrips trips;
    for (auto _ : state) {
        state.PauseTiming();
        trips.exclude([&] {
            box<QComboBox>(s.form, "cboSyokcd")->setCurrentIndex(s.rows[i++]);
            saved.push_back(box<QComboBox>(s.form, "cboSyokcd")->currentData().toInt());
            s.form.cmdPFKEY_Click(10);
            box<QComboBox>(s.form, "cboTokkbn")->setCurrentIndex(1);
            box<QComboBox>(s.form, "cboRoukbn")->setCurrentIndex(1);
        });
        state.ResumeTiming();
        s.form.cmdPFKEY_Click(11); // F12
    }
    trips.report(state);
    state.counters["boxes"] = static_cast<double>(s.shell.boxes().size());

    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    if (db.DAO_DBOpen() != 0)
        return;
    KorDAO::clsTbAccess kanri, kyuyo;
    kanri.setTBDatabase(db.DBDatabase());
    kanri.setTBNameString(u"GKKANRI"_s);
    kyuyo.setTBDatabase(db.DBDatabase());
    kyuyo.setTBNameString(u"GKKYUYO"_s);
    if (kanri.DAO_TableOpen(u"KEY = 'KANRI'"_s, {}) < 1 || kanri.DAO_RecRead(1) != 0 ||
        kyuyo.DAO_TableOpen({}, {}) < 0)
        return;
    const QString syorid = kanri.TBRec()[u"SYORID"].toCurrency().toPlainString();
    for (int code : saved) {
        if (kyuyo.DAO_RecFind(1, u"KYUSYU = 2 AND KYUSEQ = 0 AND SKYUYM = "_s + syorid +
                                     u" AND SYOKCD = "_s + QString::number(code)) == 0)
            (void)kyuyo.DAO_Delete(true);
    }
}
BENCHMARK(Save)->Iterations(40)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    mox::installFonts();
    mox::setProgramId(u"mox110"_s);
    benchmark::Initialize(&argc, argv);
    if (!benchsupport::prepareSynthDistrict()) {
        std::fprintf(stderr, "the benchmark data could not be made\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
