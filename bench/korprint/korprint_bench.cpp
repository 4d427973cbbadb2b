// Rendering speed and memory of the print component on ledger-shaped command files.
//
//     korprint_bench --benchmark_filter=PrtFile
//
// Reports pages per second and the peak resident memory after each run; the peak must not grow
// with the number of pages.
#include "korprint/korprint.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

// One ledger page per employee: six header texts and the amount cells of the 18 printed rows,
// about 480 text lines, as the ledger program writes them.
void writeLedgerFile(const QString& path, int pages)
{
    const double rowLines[] = {11.5, 13.5, 15.5, 17.5, 19.5, 21.5, 23.5, 25.5, 27.5,
                               29.5, 31.5, 33.5, 35.5, 39.5, 41.5, 43.5, 47.5, 51.5};
    struct Cell {
        int x, width, up;
    };
    const Cell groupA[] = {{13, 10, 0}, {23, 8, 0},  {31, 8, 0},  {39, 8, 0},  {47, 8, 1},
                           {47, 8, 0},  {55, 8, 0},  {63, 8, 1},  {63, 8, 0},  {71, 8, 1},
                           {71, 8, 0},  {79, 8, 0},  {87, 8, 0},  {95, 8, 0},  {103, 8, 1},
                           {103, 8, 0}, {111, 8, 1}, {111, 8, 0}, {175, 8, 1}, {175, 8, 0}};
    const Cell groupB[] = {{122, 9, 1}, {122, 9, 0},  {143, 8, 0}, {151, 8, 0}, {159, 8, 0},
                           {167, 8, 0}, {132, 10, 0}, {183, 8, 0}, {191, 10, 0}};
    QStringEncoder cp932("cp932");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write the command file");
    auto put = [&](const QString& line) { f.write(cp932.encode(line + u"\r\n"_s)); };
    auto grid = [](double v) { return QString::number(int(v * 10)).rightJustified(4, u'0'); };
    auto text = [&](double x, double y, const QString& s) {
        put(u"TE "_s + grid(x) + grid(y) + u"30100100"_s + s);
    };
    put(u"ST 011001"_s);
    put(u"CR 15063"_s);
    for (int p = 0; p < pages; ++p) {
        put(u"PE "_s);
        text(12, 5.5, u"令和 8年"_s);
        text(35, 5.5, u"%1"_s.arg(p + 1, 7, 10, QChar(u'0')));
        text(20, 6.5, u"教諭                "_s);
        text(35, 6.5, u"山田　太郎"_s);
        text(166, 6.5, u"北町教育委員会"_s);
        text(188, 6.5, u"(北町小学校)"_s);
        for (int r = 0; r < 18; ++r) {
            const double y = rowLines[r];
            auto cells = [&](const Cell* begin, const Cell* end) {
                for (const Cell* c = begin; c != end; ++c) {
                    const QString amount = (c->x + r + p) % 3 == 0 ? u"312,400"_s : u"0"_s;
                    text(c->x, y - c->up, amount.rightJustified(c->width, u' '));
                }
            };
            if (r < 13 || r > 15)
                cells(std::begin(groupA), std::end(groupA));
            cells(std::begin(groupB), std::end(groupB));
        }
    }
    put(u"ED "_s);
}

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The older call (title only) and the archival one of the ledger program (PDF/A-1b, the
// information dictionary appended, the SHA-256 of every byte and the checksum file).
void printPages(benchmark::State& state, bool archival)
{
    const int pages = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    writeLedgerFile(dir.filePath(u"OVL.TMP"_s), pages);
    std::unique_ptr<korprint::PrintComponent> prt = korprint::create();
    prt->setPrintFIlePath(dir.path());
    const korprint::DocumentInfo info{u"個人別給与累計表 令和8年度"_s,
                                      u"個人別給与累計表（令和8年度：2026年4月〜2027年3月）"_s,
                                      u"教育委員会"_s};
    for (auto _ : state) {
        const short rc = archival ? prt->PrtFile(u"Mox030"_s, info, u"Mox030p.ovl"_s)
                                  : prt->PrtFile(u"Mox030"_s, info.title, u"Mox030p.ovl"_s);
        if (rc != 0)
            state.SkipWithError(prt->lastError().toStdString().c_str());
    }
    state.counters["pages/s"] =
        benchmark::Counter(double(pages) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["peakRSS_MB"] = double(peakRssKb()) / 1024.0;
    state.counters["pdf_KB/page"] =
        double(QFile(dir.filePath(u"Mox030.pdf"_s)).size()) / 1024.0 / pages;
}

void PrtFile(benchmark::State& state)
{
    printPages(state, false);
}

void PrtFileArchival(benchmark::State& state)
{
    printPages(state, true);
}

// Peak memory is that of the process so far: run each size on its own
// (--benchmark_filter=PrtFile/30000) to see that it does not grow with the pages.
BENCHMARK(PrtFile)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(PrtFileArchival)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
