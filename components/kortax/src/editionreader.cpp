#include "kortax/kortax.h"

#include "editioncheck.h"
#include "editionfiles.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

using namespace Qt::StringLiterals;

namespace KorTAX {

namespace {

// The rates of the bonus table, in table order: r × 1.021 percent (income tax with the 2.1 %
// reconstruction surtax) for r = 0, 2, …, 32, 35, 38, 41, 45.
constexpr int kBonusRateBase[] = {0,  2,  4,  6,  8,  10, 12, 14, 16, 18, 20,
                                  22, 24, 26, 28, 30, 32, 35, 38, 41, 45};
constexpr std::int64_t kSurtaxRaw = 10'210; // 1.021 as Currency raw

// A step up where a formula band begins may differ between dependants columns by this many yen
// at most: the columns differ by fixed deductions, so a larger spread is a broken figure.
constexpr std::int64_t kMaxStepSpreadYen = 30;

struct CsvRow {
    int line = 0;
    QStringList cells;
};

struct CsvFile {
    QString path;
    std::vector<CsvRow> rows;
};

mox::Status fault(const QString& path, int line, const QString& what)
{
    return mox::Status::failure(kStatusBrokenTable,
                                u"%1 の %2 行目: %3"_s.arg(path).arg(line).arg(what));
}

// Reads a table file: lines starting with '#' are notes, the first other line is the header,
// which must be \p header exactly; blank lines are skipped; every row must have as many cells.
mox::Result<CsvFile> readCsv(const QString& path, const QStringList& header)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return mox::Status::failure(kStatusMissingFile,
                                    u"税額表のファイル %1 を読めません。"_s.arg(path));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    CsvFile file{path, {}};
    bool haveHeader = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString text = lines[i];
        if (text.endsWith(u'\r'))
            text.chop(1);
        if (text.trimmed().isEmpty() || text.startsWith(u'#'))
            continue;
        const int line = static_cast<int>(i + 1);
        const QStringList cells = text.split(u',');
        if (!haveHeader) {
            if (cells != header)
                return fault(path, line, u"見出しが %1 ではありません。"_s.arg(header.join(u',')));
            haveHeader = true;
            continue;
        }
        if (cells.size() != header.size())
            return fault(
                path, line,
                u"項目の数が %1 ではなく %2 です。"_s.arg(header.size()).arg(cells.size()));
        file.rows.push_back({line, cells});
    }
    if (!haveHeader)
        return fault(path, static_cast<int>(lines.size()), u"見出しの行がありません。"_s);
    if (file.rows.empty())
        return fault(path, static_cast<int>(lines.size()), u"データの行がありません。"_s);
    return file;
}

// A whole non-negative number of digits only; nullopt otherwise.
std::optional<std::int64_t> parseWhole(const QString& text)
{
    if (text.isEmpty() || text.size() > 12)
        return std::nullopt;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    return text.toLongLong();
}

std::optional<Currency> parseRate(const QString& text)
{
    std::optional<Currency> r = Currency::parse(text);
    if (!r || r->isNegative() || text.trimmed() != text)
        return std::nullopt;
    return r;
}

QStringList bonusHeader()
{
    QStringList h{u"rate_percent"_s};
    for (int d = 0; d < kColumns; ++d)
        h << u"d%1_lo_k"_s.arg(d) << u"d%1_hi_k"_s.arg(d);
    h << u"otsu_lo_k"_s << u"otsu_hi_k"_s;
    return h;
}

mox::Status readBonus(const QString& path, Edition& e)
{
    mox::Result<CsvFile> read = readCsv(path, bonusHeader());
    if (const mox::Status* s = mox::failure(read))
        return *s;
    const CsvFile& file = mox::value(read);
    const std::size_t nRates = std::size(kBonusRateBase);
    if (file.rows.size() != nRates)
        return fault(path, file.rows.back().line,
                     u"率の行が %1 ではなく %2 あります。"_s.arg(nRates).arg(file.rows.size()));

    for (std::size_t i = 0; i < nRates; ++i) {
        const CsvRow& row = file.rows[i];
        const std::optional<Currency> rate = parseRate(row.cells[0]);
        const Currency want = Currency::fromRaw(kBonusRateBase[i] * kSurtaxRaw);
        if (!rate || *rate != want)
            return fault(
                path, row.line,
                u"率 %1 は %2 でなければなりません。"_s.arg(row.cells[0], want.toPlainString()));
        const bool first = i == 0;
        const bool last = i + 1 == nRates;
        std::int64_t prevColumnLo = 0;
        for (int d = 0; d < kColumns; ++d) {
            const QString& loText = row.cells[1 + 2 * d];
            const QString& hiText = row.cells[2 + 2 * d];
            const std::optional<std::int64_t> lo = parseWhole(loText);
            const std::optional<std::int64_t> hi = parseWhole(hiText);
            if (first ? !loText.isEmpty() : !lo)
                return fault(path, row.line,
                             first ? u"d%1 の最初の下限は空でなければなりません。"_s.arg(d)
                                   : u"d%1 の下限「%2」が数ではありません。"_s.arg(d).arg(loText));
            if (last ? !hiText.isEmpty() : !hi)
                return fault(path, row.line,
                             last ? u"d%1 の最後の上限は空でなければなりません。"_s.arg(d)
                                  : u"d%1 の上限「%2」が数ではありません。"_s.arg(d).arg(hiText));
            const std::int64_t low = lo.value_or(0);
            if (hi && *hi <= low)
                return fault(path, row.line, u"d%1 の上限が下限より大きくありません。"_s.arg(d));
            auto& bands = e.bonus[static_cast<std::size_t>(d)];
            if (!first) {
                const QString& prevHi = file.rows[i - 1].cells[2 + 2 * d];
                if (prevHi != loText)
                    return fault(path, row.line,
                                 u"d%1 の下限 %2 が前の行の上限 %3 と続いていません。"_s.arg(d).arg(
                                     loText, prevHi));
                if (d > 0 && low < prevColumnLo)
                    return fault(
                        path, row.line,
                        u"d%1 の下限が d%2 の下限より小さくなっています。"_s.arg(d).arg(d - 1));
            }
            prevColumnLo = low;
            // Twelve digits of thousands pass as a number but may not fit the money type.
            const std::optional<Currency> lower = Currency::tryFromYen(low * 1'000);
            if (!lower)
                return fault(path, row.line,
                             u"d%1 の下限 %2 千円は大きすぎます。"_s.arg(d).arg(loText));
            bands.push_back({*lower, want});
        }
    }
    return mox::Status::success();
}

QStringList monthlyHeader()
{
    QStringList h{u"lower_yen"_s, u"upper_yen"_s};
    for (int d = 0; d < kColumns; ++d)
        h << u"d%1"_s.arg(d);
    h << u"otsu"_s;
    return h;
}

QStringList formulaHeader()
{
    QStringList h{u"column"_s, u"lower_yen"_s, u"upper_yen"_s};
    for (int d = 0; d < kColumns; ++d)
        h << u"base_d%1"_s.arg(d);
    h << u"base_otsu"_s << u"rate_on_excess_percent"_s;
    return h;
}

// Amounts of one row in the dependants columns starting at cell \p first: whole yen, never
// rising with the number of dependants.
mox::Status readColumns(const QString& path, const CsvRow& row, qsizetype first,
                        std::array<Currency, kColumns>& out)
{
    for (int d = 0; d < kColumns; ++d) {
        const QString& text = row.cells[first + d];
        const std::optional<std::int64_t> v = parseWhole(text);
        if (!v)
            return fault(path, row.line,
                         u"d%1 の税額「%2」が数ではありません。"_s.arg(d).arg(text));
        out[static_cast<std::size_t>(d)] = Currency::fromYen(*v);
        if (d > 0 && out[static_cast<std::size_t>(d)] > out[static_cast<std::size_t>(d - 1)])
            return fault(path, row.line,
                         u"d%1 の税額が d%2 より大きくなっています。"_s.arg(d).arg(d - 1));
    }
    return mox::Status::success();
}

mox::Status readMonthly(const QString& path, Edition& e)
{
    mox::Result<CsvFile> read = readCsv(path, monthlyHeader());
    if (const mox::Status* s = mox::failure(read))
        return *s;
    for (const CsvRow& row : mox::value(read).rows) {
        const std::optional<std::int64_t> lower = parseWhole(row.cells[0]);
        const std::optional<std::int64_t> upper = parseWhole(row.cells[1]);
        if (!lower || !upper || *upper <= *lower)
            return fault(path, row.line, u"金額の範囲が正しくありません。"_s);
        MonthlyBand band{Currency::fromYen(*lower), Currency::fromYen(*upper), {}, Currency()};
        const Currency expectedLower = e.monthly.empty() ? Currency() : e.monthly.back().upper;
        if (band.lower != expectedLower)
            return fault(path, row.line,
                         u"下限 %1 が %2 から続いていません。"_s.arg(
                             row.cells[0], expectedLower.toPlainString()));
        if (mox::Status s = readColumns(path, row, 2, band.base); !s.ok())
            return s;
        if (!e.monthly.empty()) {
            for (int d = 0; d < kColumns; ++d) {
                const auto c = static_cast<std::size_t>(d);
                if (band.base[c] < e.monthly.back().base[c])
                    return fault(path, row.line,
                                 u"d%1 の税額が前の行より小さくなっています。"_s.arg(d));
            }
        }
        e.monthly.push_back(band);
    }
    return mox::Status::success();
}

// Tax of \p band one yen below \p bound, per dependants column.
std::array<Currency, kColumns> taxBelow(const MonthlyBand& band, Currency bound)
{
    std::array<Currency, kColumns> out{};
    const Currency excess = bound - Currency::fromYen(1) - band.lower;
    for (std::size_t c = 0; c < out.size(); ++c)
        out[c] = band.base[c] + excess.mulDiv(band.rate, 100, Rounding::Floor, 0);
    return out;
}

mox::Status readFormula(const QString& path, Edition& e)
{
    mox::Result<CsvFile> read = readCsv(path, formulaHeader());
    if (const mox::Status* s = mox::failure(read))
        return *s;
    const CsvFile& file = mox::value(read);
    const qsizetype rateCell = formulaHeader().size() - 1;
    bool open = false;
    int bands = 0;
    int lastLine = file.rows.back().line;
    for (const CsvRow& row : file.rows) {
        if (row.cells[0] == u"otsu")
            continue;
        if (row.cells[0] != u"kou")
            return fault(path, row.line, u"欄「%1」は kou か otsu です。"_s.arg(row.cells[0]));
        if (open)
            return fault(path, row.line, u"上限のない帯の後に帯があります。"_s);
        lastLine = row.line;
        const MonthlyBand& prev = e.monthly.back();
        const std::optional<std::int64_t> lower = parseWhole(row.cells[1]);
        if (!lower || Currency::fromYen(*lower) != prev.upper)
            return fault(path, row.line,
                         u"下限「%1」が %2 から続いていません。"_s.arg(row.cells[1],
                                                                       prev.upper.toPlainString()));
        MonthlyBand band{Currency::fromYen(*lower), Currency(), {}, Currency()};
        if (row.cells[2].isEmpty()) {
            open = true;
        } else {
            const std::optional<std::int64_t> upper = parseWhole(row.cells[2]);
            if (!upper || *upper <= *lower)
                return fault(path, row.line, u"上限「%1」が正しくありません。"_s.arg(row.cells[2]));
            band.upper = Currency::fromYen(*upper);
        }
        const std::optional<Currency> rate = parseRate(row.cells[rateCell]);
        if (!rate || rate->isZero() || rate->raw() % kSurtaxRaw != 0)
            return fault(path, row.line,
                         u"率「%1」が税率の 1.021 倍ではありません。"_s.arg(row.cells[rateCell]));
        band.rate = *rate;
        if (mox::Status s = readColumns(path, row, 3, band.base); !s.ok())
            return s;

        // Where a band begins the tax may step up (a deduction that ends), never down, and by the
        // same amount in every dependants column.
        const std::array<Currency, kColumns> before =
            prev.rate.isZero() ? prev.base : taxBelow(prev, band.lower);
        Currency minStep = band.base[0] - before[0];
        Currency maxStep = minStep;
        for (std::size_t c = 0; c < before.size(); ++c) {
            minStep = std::min(minStep, band.base[c] - before[c]);
            maxStep = std::max(maxStep, band.base[c] - before[c]);
        }
        if (minStep.isNegative())
            return fault(path, row.line, u"税額が前の帯の終わりより小さくなっています。"_s);
        if (maxStep - minStep > Currency::fromYen(kMaxStepSpreadYen))
            return fault(path, row.line, u"帯の始まりの税額の増え方が欄によって違います。"_s);
        e.monthly.push_back(band);
        ++bands;
    }
    if (bands == 0 || !open)
        return fault(path, lastLine, u"甲欄の最後の帯には上限がない必要があります。"_s);
    return mox::Status::success();
}

mox::Status readTableChecked(const QString& dir, Table table, Edition& e)
{
    const QDir d(dir);
    if (table == Table::Bonus) {
        if (mox::Status s = readBonus(d.filePath(kBonusFile), e); !s.ok())
            return s;
    } else {
        if (mox::Status s = readMonthly(d.filePath(kMonthlyFile), e); !s.ok())
            return s;
        if (mox::Status s = readFormula(d.filePath(kFormulaFile), e); !s.ok())
            return s;
    }
    // The rows were checked one by one above; the whole table passes the check a stored one
    // must pass too.
    if (const QString fault = bandFault(e); !fault.isEmpty())
        return mox::Status::failure(kStatusBrokenTable, u"%1: %2"_s.arg(dir, fault));
    return mox::Status::success();
}

} // namespace

mox::Status readTable(const QString& dir, Table table, Edition& e)
{
    // The table is read on its own, so that the whole-table check sees only its bands, and moved
    // into \p e when it passes. Every figure is checked for range where it is read; an overflow
    // past those checks is still a refused table, never a crash of the importing program.
    Edition alone;
    alone.from = e.from;
    try {
        if (mox::Status s = readTableChecked(dir, table, alone); !s.ok())
            return s;
    } catch (const std::overflow_error&) {
        return mox::Status::failure(kStatusBrokenTable,
                                    u"%1: 金額が大きすぎて扱えません。"_s.arg(dir));
    }
    if (table == Table::Bonus)
        e.bonus = std::move(alone.bonus);
    else
        e.monthly = std::move(alone.monthly);
    return mox::Status::success();
}

mox::Result<Edition> readEditionDir(const QString& dir, QDate from)
{
    if (!from.isValid())
        return mox::Status::failure(kStatusBadArgument, u"適用開始日が正しくありません。"_s);
    if (mox::Status s = tableFilesFound(dir); !s.ok())
        return s;
    Edition e;
    e.from = from;
    for (const Table table : {Table::Bonus, Table::Monthly}) {
        if (!hasTableFiles(dir, table))
            continue;
        if (mox::Status s = readTable(dir, table, e); !s.ok())
            return s;
    }
    return e;
}

} // namespace KorTAX
