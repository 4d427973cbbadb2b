// Cost of one recalculation of the bonus screen (prsKeisan with its totals), as every changed
// field runs it: with the name table, the employment insurance table and the tax tables reached
// as the program reaches them (a connection opened and closed per look-up), and with the
// connections already open, so that the price of the per-call opens shows.

#include "mox110/bonuscalc.h"

#include "kordao/schema.h"
#include "kortax/kortax.h"
#include "mox/bascmnname.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

void writeIni(const QTemporaryDir& dir, const QString& name, const char* file)
{
    QFile ini(dir.filePath(name));
    if (!ini.open(QIODevice::WriteOnly))
        std::abort();
    ini.write("[Database]\nDriver=QSQLITE\nDatabase=");
    ini.write(file);
    ini.write("\n");
}

void addRecord(const KorDAO::DatabaseHandle& db, const QString& table,
               const std::vector<std::pair<QString, Currency>>& fields)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(table);
    if (tb.DAO_TableOpen(QString(), QString()) < 0 || tb.DAO_AddNew(true) != 0)
        std::abort();
    for (const auto& [name, value] : fields)
        tb.TBRec()[name] = value;
    if (tb.DAO_Update() != 0 || tb.DAO_TableClose() != 0)
        std::abort();
}

// The payroll and environment databases of a demo-like district in a temporary folder: the
// employment insurance bands, the rounding points and the 2026 tax tables.
struct Databases {
    QTemporaryDir dir;
    KorDAO::clsDbAccess payroll, environment;

    Databases()
    {
        writeIni(dir, u"MOX.INI"_s, "mox.db");
        writeIni(dir, u"MOXENV.INI"_s, "moxenv.db");
        qputenv("MOX_INI_DIR", dir.path().toUtf8());
        payroll.setDBIniNameString(u"MOX.INI"_s);
        payroll.setCreateIfMissing(true);
        environment.setDBIniNameString(u"MOXENV.INI"_s);
        environment.setCreateIfMissing(true);
        if (payroll.DAO_DBOpen() != 0 || environment.DAO_DBOpen() != 0 ||
            !KorDAO::createPayrollSchema(payroll.DBDatabase()).ok() ||
            !KorDAO::createEnvironmentSchema(environment.DBDatabase()).ok() ||
            !KorTAX::createTaxSchema(environment.DBDatabase()).ok() ||
            !KorTAX::importEdition(environment.DBDatabase(), QDate(2026, 1, 1),
                                   QStringLiteral(MOX_TAX_DATA_DIR "/2026-01-01"))
                 .ok())
            std::abort();
        std::vector<std::pair<QString, Currency>> koyou{{u"KAISHI"_s, yen(1'000)},
                                                        {u"KAKRIT"_s, yen(6)}};
        for (int n = 1; n <= 60; ++n) {
            const QString nn = QString::number(n).rightJustified(2, u'0');
            koyou.emplace_back(u"TINGIN_"_s + nn, yen(1'000 + n * 2'000));
            koyou.emplace_back(u"HOKEN_"_s + nn, yen(n * 12));
        }
        addRecord(payroll.DBDatabase(), u"GKKOYOU"_s, koyou);
        addRecord(environment.DBDatabase(), u"名設定"_s,
                  {{u"KENKO"_s, *Currency::parse(u"0.5")}, {u"KOSEI"_s, *Currency::parse(u"0.5")}});
    }
};

Databases& databases()
{
    static Databases dbs;
    return dbs;
}

// A December bonus of a teacher with both deductions, a previous month's pay and a care charge.
void prepare(mox110::BonusScreen& s, mox110::CalcContext& ctx)
{
    ctx.kanri.SYORID = yen(202612);
    ctx.kanri.CHIRIT = yen(10);
    ctx.kanri.KENGEN = yen(5'730'000);
    ctx.kanri.KOSGEN = yen(1'500'000);
    ctx.kanri.KENTK2 = *Currency::parse(u"98.2");
    ctx.kanri.KAITK2 = *Currency::parse(u"15.9");
    ctx.kanri.KOSTK2 = yen(183);
    ctx.jinji.KAIKBN = 1;
    ctx.jinji.GENFUY = 2;
    s.nu1Kyuryo = yen(352'400);
    s.nu1Styogk = yen(14'096);
    s.nu1Fuyote = yen(13'000);
    s.txtKmritu = u"122.50000"_s;
    s.txtKbritu = u"102.50000"_s;
    s.cboTokkbn = mox110::deductionChoice(1);
    s.cboRoukbn = mox110::deductionChoice(1);
    s.nu1Zenkaz = yen(338'000);
}

void keisanOpeningPerCall(benchmark::State& state)
{
    databases();
    KorTAX::clsTax tax;
    mox110::CalcContext ctx;
    ctx.tax = &tax;
    mox110::BonusScreen s;
    prepare(s, ctx);
    for (auto _ : state) {
        if (!mox110::prsKeisan(s, ctx).ok())
            state.SkipWithError("prsKeisan failed");
        benchmark::DoNotOptimize(s.nu1Sasihk);
    }
}
BENCHMARK(keisanOpeningPerCall)->Unit(benchmark::kMicrosecond);

void keisanConnectionsOpen(benchmark::State& state)
{
    Databases& dbs = databases();
    KorDAO::clsTbAccess koyou;
    koyou.setTBDatabase(dbs.payroll.DBDatabase());
    koyou.setTBNameString(u"GKKOYOU"_s);
    if (koyou.DAO_TableOpen(QString(), QString()) < 0 || koyou.DAO_RecRead(1) != 0)
        std::abort();
    mox::prsNameRead(6);
    const std::pair complements{mox::roundingAdjustHealth(), mox::roundingAdjustPension()};

    KorTAX::clsTax tax;
    mox110::CalcContext ctx;
    ctx.tax = &tax;
    ctx.roundingComplements = [complements] { return complements; };
    ctx.koyou = [&koyou](Currency amount) { return mox110::koyouFromRow(koyou.TBRec(), amount); };
    mox110::BonusScreen s;
    prepare(s, ctx);
    for (auto _ : state) {
        if (!mox110::prsKeisan(s, ctx).ok())
            state.SkipWithError("prsKeisan failed");
        benchmark::DoNotOptimize(s.nu1Sasihk);
    }
    (void)koyou.DAO_TableClose();
}
BENCHMARK(keisanConnectionsOpen)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
