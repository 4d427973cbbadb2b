// KorDAO against the raw SQLite C API, on the same payroll database in the same run.
//
// The database is the one named by $MOX_BENCH_INI_DIR/MOX.INI (for example one made by
// `moxdb synth --staff 30000 --years 10`); without it the benchmark makes one of that shape
// itself (30,000 employees, ten fiscal years of twelve salaries and two bonuses: 4.2 million
// payment records) in /tmp/mox-bench-kordao and keeps it for later runs.
//
//     kordao_bench --benchmark_counters_tabular=true

#include "kordao/bulkinsert.h"
#include "kordao/kordao.h"
#include "kordao/schema.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kStaff = 30000;
constexpr int kYears = 10;
constexpr int kFirstYear = 2017; // fiscal years 2017 … 2026
const QString kCacheDir = u"/tmp/mox-bench-kordao"_s;

// The ledger fields a fiscal-year walk reads from every record.
const char16_t* const kLedgerFields[] = {
    u"KYURYO", u"KTYOGK", u"STYOGK", u"CHIIKI", u"KTOKUB", u"TUKINH", u"TUKINK",
    u"JYUKYO", u"FUYOTE", u"HEKICI", u"HEKJUN", u"TOKGYO", u"TANSIN", u"SYUKUH",
    u"KISYUH", u"SYUKUK", u"KISYUK", u"KYUJIT", u"ZANGYO", u"TAGAKU", u"JIDOU",
    u"KIMATU", u"kmzoge", u"KINBEN", u"KAZEIG", u"SSIKYU", u"KENKO",  u"KOSEI",
    u"KOYOU",  u"SYOTOK", u"NENFUS", u"KOUGOK", u"SASIHK"};

QString databaseFolder()
{
    const QString given = qEnvironmentVariable("MOX_BENCH_INI_DIR");
    return given.isEmpty() ? kCacheDir : given;
}

long currentRssKb()
{
    QFile statm(u"/proc/self/statm"_s);
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = statm.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * 4 : 0;
}

// Makes the payment records: per employee and fiscal year, salaries April to March (kind 1,
// sequence 1) and the June and December bonuses (kind 2, sequence 0).
bool generate(KorDAO::clsDbAccess& db)
{
    std::fprintf(stderr, "making %d employees x %d years in %s ...\n", kStaff, kYears,
                 qPrintable(kCacheDir));
    if (!KorDAO::createPayrollSchema(db.DBDatabase()).ok())
        return false;
    QStringList fields{u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s};
    for (const char16_t* f : kLedgerFields)
        fields << QString::fromUtf16(f);
    KorDAO::BulkInsert bulk(db.DBDatabase(), u"GKKYUYO"_s, fields);
    std::mt19937 random(42);
    for (int code = 1; code <= kStaff; ++code) {
        const qlonglong salary = 180000 + qlonglong(random() % 250000);
        for (int fy = kFirstYear; fy < kFirstYear + kYears; ++fy) {
            auto add = [&](int kind, int month, int seq) {
                QVariantList row{code, kind, month, seq};
                for (std::size_t i = 0; i < std::size(kLedgerFields); ++i)
                    row << QVariant::fromValue(Currency::fromRaw(
                        (salary + qlonglong(i) * 1000) * 10000 + (i % 3 == 0 ? 5000 : 0)));
                return bulk.addRow(row) == 0;
            };
            for (int m = 0; m < 12; ++m) {
                const int ym = m < 9 ? fy * 100 + 4 + m : (fy + 1) * 100 + m - 8;
                if (!add(1, ym, 1))
                    return false;
            }
            if (!add(2, fy * 100 + 6, 0) || !add(2, fy * 100 + 12, 0))
                return false;
        }
    }
    return bulk.finish() == 0;
}

// The open payroll database, made on first use and closed before the application ends.
std::unique_ptr<KorDAO::clsDbAccess> g_db;

KorDAO::clsDbAccess& database()
{
    if (g_db)
        return *g_db;
    g_db = std::make_unique<KorDAO::clsDbAccess>();
    KorDAO::clsDbAccess& db = *g_db;
    const QString folder = databaseFolder();
    qputenv("MOX_INI_DIR", folder.toUtf8());
    db.setDBIniNameString(u"MOX.INI"_s);
    if (db.DAO_DBOpen() != 0) {
        QDir().mkpath(folder);
        QFile ini(folder + u"/MOX.INI"_s);
        if (!ini.open(QIODevice::WriteOnly))
            std::abort();
        ini.write("[Database]\nDriver=QSQLITE\nDatabase=pay.db\n");
        ini.close();
        db.setCreateIfMissing(true);
        if (db.DAO_DBOpen() != 0 || !generate(db)) {
            std::fprintf(stderr, "cannot make the database: %s\n", qPrintable(db.lastError()));
            std::abort();
        }
    }
    // A database made by an older version gains what the schema adds now.
    if (!KorDAO::createPayrollSchema(db.DBDatabase()).ok())
        std::abort();
    return db;
}

// The same database through the SQLite C API.
sqlite3* g_raw = nullptr;

sqlite3* raw()
{
    sqlite3*& handle = g_raw;
    if (!handle) {
        database();
        // The file the INI names (pay.db here, mox.db in a folder made by moxdb init).
        const QSettings ini(databaseFolder() + u"/MOX.INI"_s, QSettings::IniFormat);
        const QString file = ini.value(u"Database/Database"_s, u"pay.db"_s).toString();
        const QByteArray path = QDir(databaseFolder()).absoluteFilePath(file).toUtf8();
        if (sqlite3_open_v2(path.constData(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            std::abort();
    }
    return handle;
}

sqlite3_stmt* prepare(const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(raw(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(raw()));
        std::abort();
    }
    return stmt;
}

// The employees and fiscal years the database really holds (the benchmark's own district, or one
// made by moxdb synth, whose codes and years differ), read once through the raw API.
struct Shape {
    std::vector<int> codes;
    int firstYear = kFirstYear;
    int years = kYears;
};

const Shape& shape()
{
    static const Shape s = [] {
        Shape out;
        sqlite3_stmt* codes = prepare("SELECT DISTINCT SYOKCD FROM GKKYUYO ORDER BY SYOKCD");
        while (sqlite3_step(codes) == SQLITE_ROW)
            out.codes.push_back(sqlite3_column_int(codes, 0));
        sqlite3_finalize(codes);
        sqlite3_stmt* range = prepare("SELECT MIN(SKYUYM), MAX(SKYUYM) FROM GKKYUYO");
        if (sqlite3_step(range) == SQLITE_ROW) {
            const int first = sqlite3_column_int(range, 0);
            const int last = sqlite3_column_int(range, 1);
            out.firstYear = first / 100 - (first % 100 < 4 ? 1 : 0);
            out.years = last / 100 - (last % 100 < 4 ? 1 : 0) - out.firstYear + 1;
        }
        sqlite3_finalize(range);
        if (out.codes.empty() || out.years < 1)
            std::abort();
        return out;
    }();
    return s;
}

int employee(std::mt19937& random)
{
    const std::vector<int>& codes = shape().codes;
    return codes[random() % codes.size()];
}

int fiscalYear(std::mt19937& random)
{
    return shape().firstYear + int(random() % unsigned(shape().years));
}

// Takes every value of the current row, as the component does when it makes a record current.
void readRecord(sqlite3_stmt* stmt)
{
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
            benchmark::DoNotOptimize(sqlite3_column_int64(stmt, i));
            break;
        case SQLITE_FLOAT:
            benchmark::DoNotOptimize(sqlite3_column_double(stmt, i));
            break;
        case SQLITE_TEXT:
            benchmark::DoNotOptimize(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                  sqlite3_column_bytes(stmt, i)));
            break;
        default:
            break;
        }
    }
}

void BM_KorDAO_FindEmployee(benchmark::State& state)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(database().DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    if (tb.DAO_TableOpen({}, {}) < 0)
        state.SkipWithError("open failed");
    std::mt19937 random(1);
    shape(); // read once, outside the timing
    for (auto _ : state) {
        const short st = tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(employee(random)));
        benchmark::DoNotOptimize(st);
    }
}
BENCHMARK(BM_KorDAO_FindEmployee);

void BM_Raw_FindEmployee(benchmark::State& state)
{
    sqlite3_stmt* stmt = prepare("SELECT * FROM GKKYUYO WHERE SYOKCD = ? "
                                 "ORDER BY SYOKCD, KYUSYU, SKYUYM, KYUSEQ LIMIT 1");
    std::mt19937 random(1);
    shape(); // read once, outside the timing
    for (auto _ : state) {
        sqlite3_bind_int(stmt, 1, employee(random));
        if (sqlite3_step(stmt) == SQLITE_ROW)
            readRecord(stmt);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
}
BENCHMARK(BM_Raw_FindEmployee);

// One employee's fiscal year as the ledger reads it: open with the filter and sort, walk, and
// sum the ledger fields of every record.
void BM_KorDAO_FiscalYearWalk(benchmark::State& state)
{
    std::mt19937 random(2);
    shape(); // read once, outside the timing
    std::int64_t records = 0;
    for (auto _ : state) {
        const int fy = fiscalYear(random);
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(database().DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        const QString filter =
            u"SYOKCD = %1 AND SKYUYM >= %2 AND SKYUYM <= %3 "_s.arg(employee(random))
                .arg(fy * 100 + 4)
                .arg((fy + 1) * 100 + 3);
        // An employee may have no record in a year (joined later, left earlier): count 0.
        if (tb.DAO_TableOpen(filter, u" SKYUYM,KYUSYU,KYUSEQ "_s) < 0)
            state.SkipWithError("open failed");
        Currency sum;
        for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
            for (const char16_t* f : kLedgerFields)
                sum += tb.TBRec()[f].toCurrency();
            ++records;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["records"] =
        benchmark::Counter(double(records), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_KorDAO_FiscalYearWalk);

void BM_Raw_FiscalYearWalk(benchmark::State& state)
{
    QByteArray columns;
    for (const char16_t* f : kLedgerFields)
        columns += (columns.isEmpty() ? "\"" : ", \"") + QString::fromUtf16(f).toUtf8() + '"';
    const char* where = " FROM GKKYUYO WHERE SYOKCD = ? AND SKYUYM >= ? AND SKYUYM <= ?";
    sqlite3_stmt* count = prepare((QByteArray("SELECT COUNT(*)") + where).constData());
    sqlite3_stmt* rows = prepare(
        ("SELECT " + columns + where + " ORDER BY SKYUYM, KYUSYU, KYUSEQ, SYOKCD").constData());
    std::mt19937 random(2);
    shape(); // read once, outside the timing
    std::int64_t records = 0;
    for (auto _ : state) {
        const int fy = fiscalYear(random);
        const int code = employee(random);
        for (sqlite3_stmt* s : {count, rows}) {
            sqlite3_bind_int(s, 1, code);
            sqlite3_bind_int(s, 2, fy * 100 + 4);
            sqlite3_bind_int(s, 3, (fy + 1) * 100 + 3);
        }
        sqlite3_step(count);
        benchmark::DoNotOptimize(sqlite3_column_int(count, 0));
        sqlite3_reset(count);
        // Amounts read exactly: whole numbers as integers, fractions through their double.
        std::int64_t sum = 0;
        while (sqlite3_step(rows) == SQLITE_ROW) {
            for (int i = 0; i < int(std::size(kLedgerFields)); ++i) {
                sum += sqlite3_column_type(rows, i) == SQLITE_INTEGER
                           ? sqlite3_column_int64(rows, i) * 10000
                           : std::llround(sqlite3_column_double(rows, i) * 10000.0);
            }
            ++records;
        }
        sqlite3_reset(rows);
        benchmark::DoNotOptimize(sum);
    }
    sqlite3_finalize(count);
    sqlite3_finalize(rows);
    state.counters["records"] =
        benchmark::Counter(double(records), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Raw_FiscalYearWalk);

// Opening the whole payment table: the count and the first record. Memory is the growth of the
// resident set while the table is open.
void BM_KorDAO_OpenUnfiltered(benchmark::State& state)
{
    database();
    long grown = 0;
    for (auto _ : state) {
        const long before = currentRssKb();
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(database().DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        const int n = tb.DAO_TableOpen({}, {});
        if (n <= 0 || tb.DAO_RecRead(1) != 0)
            state.SkipWithError("open failed");
        grown = std::max(grown, currentRssKb() - before);
        benchmark::DoNotOptimize(n);
    }
    state.counters["rss_growth_MB"] = double(grown) / 1024.0;
    state.counters["peak_rss_MB"] = double(currentRssKb()) / 1024.0;
}
BENCHMARK(BM_KorDAO_OpenUnfiltered)->Unit(benchmark::kMillisecond);

void BM_Raw_OpenUnfiltered(benchmark::State& state)
{
    sqlite3_stmt* count = prepare("SELECT COUNT(*) FROM GKKYUYO");
    sqlite3_stmt* first =
        prepare("SELECT * FROM GKKYUYO ORDER BY SYOKCD, KYUSYU, SKYUYM, KYUSEQ LIMIT 32");
    for (auto _ : state) {
        sqlite3_step(count);
        benchmark::DoNotOptimize(sqlite3_column_int(count, 0));
        sqlite3_reset(count);
        benchmark::DoNotOptimize(sqlite3_step(first));
        sqlite3_reset(first);
    }
    sqlite3_finalize(count);
    sqlite3_finalize(first);
}
BENCHMARK(BM_Raw_OpenUnfiltered)->Unit(benchmark::kMillisecond);

// Writing new payment records in one transaction: AddNew/Update, and BulkInsert.
void writeRecords(benchmark::State& state, bool bulk)
{
    const int rows = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        QFile ini(dir.path() + u"/MOX.INI"_s);
        if (!ini.open(QIODevice::WriteOnly))
            std::abort();
        ini.write("[Database]\nDriver=QSQLITE\nDatabase=w.db\n");
        ini.close();
        qputenv("MOX_INI_DIR", dir.path().toUtf8());
        KorDAO::clsDbAccess db;
        db.setDBIniNameString(u"MOX.INI"_s);
        db.setCreateIfMissing(true);
        if (db.DAO_DBOpen() != 0 || !KorDAO::createPayrollSchema(db.DBDatabase()).ok())
            std::abort();
        qputenv("MOX_INI_DIR", databaseFolder().toUtf8());
        state.ResumeTiming();

        QStringList fields{u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s};
        for (const char16_t* f : kLedgerFields)
            fields << QString::fromUtf16(f);
        if (bulk) {
            KorDAO::BulkInsert insert(db.DBDatabase(), u"GKKYUYO"_s, fields);
            for (int r = 0; r < rows; ++r) {
                QVariantList row{r / 12 + 1, 1, 202604 + r % 12, 1};
                row.reserve(fields.size());
                for (std::size_t i = 0; i < std::size(kLedgerFields); ++i)
                    row << QVariant::fromValue(Currency::fromYen(200000 + qlonglong(i)));
                insert.addRow(row);
            }
            if (insert.finish() != 0)
                state.SkipWithError("bulk insert failed");
        } else {
            KorDAO::clsTbAccess tb;
            tb.setTBDatabase(db.DBDatabase());
            tb.setTBNameString(u"GKKYUYO"_s);
            tb.DAO_TableOpen(u"SYOKCD = 0"_s, {});
            tb.DAO_BeginTrans();
            for (int r = 0; r < rows; ++r) {
                tb.DAO_AddNew(true);
                auto rec = tb.TBRec();
                rec[u"SYOKCD"] = r / 12 + 1;
                rec[u"KYUSYU"] = 1;
                rec[u"SKYUYM"] = 202604 + r % 12;
                rec[u"KYUSEQ"] = 1;
                for (std::size_t i = 4; i < std::size_t(fields.size()); ++i)
                    rec[fields[qsizetype(i)]] = Currency::fromYen(200000 + qlonglong(i));
                if (tb.DAO_Update() != 0)
                    state.SkipWithError("update failed");
            }
            if (tb.DAO_CommitTrans() != 0)
                state.SkipWithError("commit failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_KorDAO_AddNewUpdate(benchmark::State& state)
{
    writeRecords(state, false);
}
BENCHMARK(BM_KorDAO_AddNewUpdate)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_KorDAO_BulkInsert(benchmark::State& state)
{
    writeRecords(state, true);
}
BENCHMARK(BM_KorDAO_BulkInsert)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_db.reset();
    if (g_raw)
        sqlite3_close(g_raw);
    return 0;
}
