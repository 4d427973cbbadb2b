// Cost of one tax lookup as the bonus screen makes it on every recalculation, and of reading an
// edition's files.

#include "kortax/kortax.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

KorTAX::Edition edition(const char* from)
{
    const QString name = QString::fromLatin1(from);
    mox::Result<KorTAX::Edition> r = KorTAX::readEditionDir(
        QStringLiteral(MOX_TAX_DATA_DIR "/") + name, QDate::fromString(name, Qt::ISODate));
    return r.index() == 0 ? mox::value(r) : KorTAX::Edition{};
}

KorTAX::clsTax& taxObject()
{
    static KorTAX::clsTax tax;
    static const bool ready = [] {
        tax.setEditions({edition("2020-01-01"), edition("2026-01-01")});
        return true;
    }();
    (void)ready;
    return tax;
}

void taxBonus(benchmark::State& state)
{
    KorTAX::clsTax& tax = taxObject();
    Currency out;
    std::int64_t pay = 0;
    for (auto _ : state) {
        tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
        pay = (pay + 7'919) % 4'000'000;
        benchmark::DoNotOptimize(tax.TaxBonus(Currency::fromYen(812'345), Currency::fromYen(pay), 2,
                                              1, Currency::fromYen(20261201), out));
    }
}
BENCHMARK(taxBonus);

void taxMonthly(benchmark::State& state)
{
    KorTAX::clsTax& tax = taxObject();
    Currency out;
    std::int64_t pay = 0;
    for (auto _ : state) {
        tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
        pay = (pay + 7'919) % 4'000'000;
        benchmark::DoNotOptimize(
            tax.TaxMonthly(Currency::fromYen(pay), 9, 0, Currency::fromYen(20261201), out));
    }
}
BENCHMARK(taxMonthly);

void readEdition(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(edition("2026-01-01"));
}
BENCHMARK(readEdition)->Unit(benchmark::kMicrosecond);

// The first call of a fresh tax object: opens the environment database (SQLite) and loads both
// editions; later calls of that object cost what taxBonus measures.
void firstCallLoadsTables(benchmark::State& state)
{
    QTemporaryDir dir;
    qputenv("MOX_INI_DIR", dir.path().toUtf8());
    {
        QFile ini(dir.filePath(QStringLiteral("MOXENV.INI")));
        if (!ini.open(QIODevice::WriteOnly))
            return state.SkipWithError("cannot write MOXENV.INI");
        ini.write("[Database]\nDriver=QSQLITE\nDatabase=env.db\n");
    }
    {
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(QStringLiteral("MOXENV.INI"));
        db.setCreateIfMissing(true);
        if (db.DAO_DBOpen() != 0 ||
            !KorTAX::importEditions(db.DBDatabase(), QStringLiteral(MOX_TAX_DATA_DIR),
                                    KorTAX::IfStored::Keep)
                 .ok())
            return state.SkipWithError("cannot load the tables");
    }
    Currency out;
    for (auto _ : state) {
        KorTAX::clsTax tax;
        tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
        benchmark::DoNotOptimize(
            tax.TaxMonthly(Currency::fromYen(300'000), 2, 0, Currency::fromYen(20261201), out));
    }
    qunsetenv("MOX_INI_DIR");
}
BENCHMARK(firstCallLoadsTables)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
