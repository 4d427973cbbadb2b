// Cost of one tax lookup as the bonus screen makes it on every recalculation, and of reading an
// edition's files.

#include "kortax/kortax.h"

#include <benchmark/benchmark.h>

namespace {

KorTAX::Edition edition(const char *from) {
    const QString name = QString::fromLatin1(from);
    mox::Result<KorTAX::Edition> r = KorTAX::readEditionDir(
        QStringLiteral(MOX_TAX_DATA_DIR "/") + name, QDate::fromString(name, Qt::ISODate));
    return r.index() == 0 ? mox::value(r) : KorTAX::Edition{};
}

KorTAX::clsTax &taxObject() {
    static KorTAX::clsTax tax;
    static const bool ready = [] {
        tax.setEditions({edition("2020-01-01"), edition("2026-01-01")});
        return true;
    }();
    (void)ready;
    return tax;
}

void taxBonus(benchmark::State &state) {
    KorTAX::clsTax &tax = taxObject();
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

void taxMonthly(benchmark::State &state) {
    KorTAX::clsTax &tax = taxObject();
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

void readEdition(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(edition("2026-01-01"));
}
BENCHMARK(readEdition)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
