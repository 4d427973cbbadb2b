// The ledger program on a large district (moxdb synth, 30,000 staff and 10 fiscal years unless
// MOX_BENCH_STAFF / MOX_BENCH_YEARS say otherwise; made once into MOX_BENCH_DATA):
//
//     mox030_bench --benchmark_filter=ListFill     start-up to the filled employee list, and the
//                                                  same question in the sqlite3 shell
//     mox030_bench --benchmark_filter=Print        1,000 and 30,000 ledgers into OVL.TMP
//     mox030_bench --benchmark_filter=Archive      the archive copy of the PDF of 1,000 and
//                                                  30,000 ledgers, with its checksum
//
// Each run also reports the peak resident memory of the process so far.
#include "mox030ui/frmmox030.h"

#include "mox030/ledgerarchive.h"
#include "mox030/ledgerrun.h"

#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/program.h"
#include "mox/shell.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "roundtrips.h"
#include "synthdistrict.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

double peakRssMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// The best wall time of ListFill's runs, for ListFillShell to compare with.
double g_listFillBestMs = 0;

double elapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

void ListFill(benchmark::State& state)
{
    mox::ScriptedShell shell;
    int listed = 0;
    double best = 0;
    const RoundTrips trips;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        frmMox030 form;
        try {
            form.Form_Load();
        } catch (const mox::ProgramEnded&) {
            const QString why = shell.boxes().empty() ? QString() : shell.boxes().back().text;
            state.SkipWithError(qPrintable(u"the form ended: "_s + why));
            return;
        }
        listed = form.findChild<QListWidget*>(u"lstMain"_s)->count();
        const double ms = elapsedMs(start);
        best = best == 0 ? ms : std::min(best, ms);
    }
    trips.report(state);
    g_listFillBestMs = best;
    state.counters["listed"] = listed;
    state.counters["best_ms"] = best;
    state.counters["peakRSS_MB"] = peakRssMb();
}
BENCHMARK(ListFill)->Unit(benchmark::kMillisecond)->Iterations(3);

// The list's question asked of the SQLite file in the sqlite3 shell (employees with a payment
// record, in code order), the shell started anew each time as a person would run it. best_ms is
// the best wall time of three; ratio is ListFill's best over it (ListFill must run first, in the
// same process, so that both see the same machine).
void ListFillShell(benchmark::State& state)
{
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    if (db.DAO_DBOpen() != 0) {
        state.SkipWithError("the payroll database does not open");
        return;
    }
    const QString file = KorDAO::sqliteDatabaseFile(db.DBDatabase());
    if (file.isEmpty()) {
        state.SkipWithError("a PostgreSQL database: the sqlite3 shell does not apply");
        return;
    }
    const QString question =
        u"SELECT SYOKCD, SIMKNJ FROM GKJINJI WHERE EXISTS (SELECT 1 FROM GKKYUYO "
        "WHERE GKKYUYO.SYOKCD = GKJINJI.SYOKCD) ORDER BY SYOKCD;"_s;
    int listed = 0;
    double best = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QProcess shell;
        shell.start(u"sqlite3"_s, {u"-readonly"_s, file, question});
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0) {
            state.SkipWithError("the sqlite3 shell failed");
            return;
        }
        listed = static_cast<int>(shell.readAllStandardOutput().count('\n'));
        const double ms = elapsedMs(start);
        best = best == 0 ? ms : std::min(best, ms);
    }
    state.counters["listed"] = listed;
    state.counters["best_ms"] = best;
    if (g_listFillBestMs > 0)
        state.counters["ratio"] = g_listFillBestMs / best;
}
BENCHMARK(ListFillShell)->Unit(benchmark::kMillisecond)->Iterations(3);

// The print run as the form makes it, without the wait window and the hand-off.
void Print(benchmark::State& state)
{
    mox::ScriptedShell shell;
    KorDAO::clsDbAccess db;
    db.setDBIniNameString(u"MOX.INI"_s);
    KorDAO::clsTbAccess kanri;
    KorDAO::clsTbAccess jinji;
    KorDAO::clsTbAccess kyuyo;
    if (db.DAO_DBOpen() != 0) {
        state.SkipWithError("the payroll database does not open");
        return;
    }
    kanri.setTBDatabase(db.DBDatabase());
    kanri.setTBNameString(u"GKKANRI"_s);
    kanri.DAO_TableOpen(u"KEY = 'KANRI'"_s, QString());
    kanri.DAO_RecFind(1, u"KEY = 'KANRI'"_s);
    const QString syorid = kanri.TBRec()[u"SYORID"].toCurrency().toPlainString();
    const int year = syorid.left(4).toInt() - (syorid.mid(4, 2).toInt() < 4 ? 1 : 0);

    jinji.setTBDatabase(db.DBDatabase());
    jinji.setTBNameString(u"GKJINJI"_s);
    jinji.DAO_TableOpen(QString(), u"SYOKCD"_s);

    mox030::PrintJob job;
    job.db = db.DBDatabase();
    job.GKJINJI = &jinji;
    job.GKKYUYO = &kyuyo;
    job.strFromYM = QString::number(year) + u"04"_s;
    job.strToYM = QString::number(year + 1) + u"03"_s;
    job.strNendoPrt = u"令和  8 年"_s;
    for (std::size_t i = 1; i <= 10; ++i)
        job.strSyokuMei[i] = QString(20, u' ');
    job.GKNAME = kanri.TBRec()[u"GKNAME"].toString();
    job.SYOZOKU = kanri.TBRec()[u"SYOZOKU"].toString();
    const int wanted = static_cast<int>(state.range(0));
    for (short st = jinji.DAO_RecRead(1); st == 0 && job.codes.size() < wanted;
         st = jinji.DAO_RecRead(2))
        job.codes.append(jinji.TBRec()[u"SYOKCD"].toInt());
    QTemporaryDir out;
    job.folder = out.path();

    mox030::PrintOutcome result;
    const RoundTrips trips;
    for (auto _ : state)
        result = mox030::prsPrint(job);
    trips.report(state);
    if (result.daoStatus != 0 || !result.file.ok())
        state.SkipWithError("the print run failed");
    state.counters["pages"] = result.pages;
    state.counters["OVL_MB"] =
        static_cast<double>(QFile(out.filePath(u"OVL.TMP"_s)).size()) / 1024.0 / 1024.0;
    state.counters["peakRSS_MB"] = peakRssMb();
}
BENCHMARK(Print)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
// The whole district: the peak memory must stay that of 1,000 ledgers (run it on its own,
// --benchmark_filter=Print/30000, for a peak of its own).
BENCHMARK(Print)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The copy each print run keeps of its PDF: read, checked against the checksum taken while the
// PDF was written, written under a temporary name and linked into place, with its checksum file.
// The PDF is as large as the ledger program's (some 7.8 kB a page: 463 kB for the 59 pages of the
// demo district); its bytes do not matter to the copy.
void Archive(benchmark::State& state)
{
    QTemporaryDir out;
    const QString pdf = out.filePath(u"Mox030.pdf"_s);
    QByteArray page(7800, '\0');
    for (qsizetype i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>((i * 131) % 251);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    {
        QFile f(pdf);
        if (!f.open(QIODevice::WriteOnly)) {
            state.SkipWithError("the PDF cannot be written");
            return;
        }
        for (std::int64_t p = 0; p < state.range(0); ++p) {
            f.write(page);
            hash.addData(page);
        }
    }
    const QByteArray sha256 = hash.result().toHex();
    QDateTime when = QDateTime::currentDateTime();
    for (auto _ : state) {
        const mox::Result<QString> copy =
            mox030::archiveLedger(pdf, out.path(), 2026, when, sha256);
        if (mox::failure(copy)) {
            state.SkipWithError("the archive copy failed");
            return;
        }
        state.PauseTiming();
        QFile::remove(mox::value(copy));
        QFile::remove(mox::value(copy) + u".sha256"_s);
        when = when.addSecs(1);
        state.ResumeTiming();
    }
    state.counters["PDF_MB"] = static_cast<double>(QFile(pdf).size()) / 1024.0 / 1024.0;
    state.counters["peakRSS_MB"] = peakRssMb();
}
BENCHMARK(Archive)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Archive)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    mox::setProgramId(u"mox030"_s);
    benchmark::Initialize(&argc, argv);
    if (!benchsupport::prepareSynthDistrict()) {
        std::fprintf(stderr, "mox030_bench: the synthetic data could not be made\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
