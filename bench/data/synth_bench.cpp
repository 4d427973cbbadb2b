// Synthetic payroll data: how fast the records are made, and how fast they are written into a
// SQLite database through the database component (one transaction per database): a fresh one,
// or one already holding the same data, which is replaced.
#include "moxdb/command.h"
#include "moxdb/init.h"
#include "moxdb/synthdata.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>

using namespace moxdb;

namespace {

constexpr int kYears = 10;

void BM_GeneratePayments(benchmark::State& state)
{
    const Dataset d = syntheticDistrict(static_cast<int>(state.range(0)), 1);
    const NoWithholdingTax tax;
    qint64 rows = 0;
    for (auto _ : state) {
        const mox::Status s = forEachSyntheticPayment(d, kYears, tax, 1, [&](const Row& r) {
            benchmark::DoNotOptimize(r.values().data());
            ++rows;
            return mox::Status::success();
        });
        if (!s.ok())
            state.SkipWithError(s.message.toStdString().c_str());
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void BM_WriteSynthetic(benchmark::State& state)
{
    const Dataset d = syntheticDistrict(static_cast<int>(state.range(0)), 1);
    const NoWithholdingTax tax;
    qint64 rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        useIniFolder(dir.path());
        QString log;
        QTextStream stream(&log);
        const auto files = ensureIniFiles({dir.path()}, dir.path());
        mox::Status s = mox::failure(files) ? *mox::failure(files) : initDatabases({}, stream);
        auto payroll = Database::open(kPayrollIni, false);
        auto environment = Database::open(kEnvironmentIni, false);
        if (!s.ok() || mox::failure(payroll) || mox::failure(environment)) {
            state.SkipWithError("cannot create the databases");
            break;
        }
        qint64 written = 0;
        if (state.range(1) != 0)
            s = writeSynthetic(*mox::value(payroll), *mox::value(environment), d, kYears, tax, 1,
                               &written);
        state.ResumeTiming();
        if (s.ok())
            s = writeSynthetic(*mox::value(payroll), *mox::value(environment), d, kYears, tax, 1,
                               &written);
        if (!s.ok())
            state.SkipWithError(s.message.toStdString().c_str());
        rows += written;
        state.PauseTiming();
        mox::value(payroll).reset();
        mox::value(environment).reset();
        state.ResumeTiming();
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_GeneratePayments)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSynthetic)
    ->ArgNames({"staff", "replace"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
