// moxdb ledger: the cumulative salary ledgers of a fiscal year as CSV, for a clerk to check in a
// spreadsheet.
//
//   moxdb ledger FISCALYEAR [--employee N…] [--out FILE|-] [--encoding cp932|utf-8] [--dir DIR]
//
// FISCALYEAR is the year in which it begins (2026: April 2026 to March 2027). One line per
// employee and printed ledger row (the months April to March, the months total, the June and
// December bonus, the bonus total, the further payments, the annual total), in the order of the
// page; every amount column of the page is a field, holding the figure the page prints there
// (without thousands separators; empty where the page leaves the cell blank). The figures come
// from the print program's own code: prsDatasum sums the records into the ledger grid and
// ledgerCells lays the grid out as prsPrint_Meisai prints it. An employee without a payment record
// in the year has no page and no line. Without --employee, every employee of the personnel master,
// in code order. Without --out, the file ledger-FISCALYEAR.csv in the current folder.

#include "moxdb/command.h"
#include "moxdb/database.h"
#include "moxdb/export.h"
#include "moxdb/init.h"
#include "moxdb/progress.h"

#include "mox030/ledgerpage.h"
#include "mox030/ledgerrun.h"
#include "mox030/sub_prt.h"

#include <QFile>

#include <csignal>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage = u"FISCALYEAR [--employee N…] [--out FILE|-] [--encoding cp932|utf-8] "
                       u"[--dir DIR]"_s;

struct LedgerArgs {
    int year = 0;
    QList<int> employees; // empty: everyone
    QString out;
    QString dir;
    CsvEncoding encoding = CsvEncoding::Cp932;
};

mox::Result<LedgerArgs> parseArgs(const QStringList& args)
{
    const Options o(args, {.withValue = {u"--out"_s, u"--dir"_s, u"--encoding"_s},
                           .withValues = {u"--employee"_s},
                           .positional = true});
    if (o.fault() == Options::Fault::NoValue && o.faultArgument() == u"--employee"_s)
        return mox::Status::failure(2, u"--employee には職員コードが要ります。"_s);
    if (!o.ok())
        return mox::Status::failure(2, optionFaultText(o));
    if (const QString twice = repeatedOption(o, {u"--out"_s, u"--dir"_s}); !twice.isEmpty())
        return mox::Status::failure(2, u"%1 は使えない指定です。"_s.arg(twice));
    const mox::Result<CsvEncoding> encoding = encodingOption(o);
    if (const mox::Status* s = mox::failure(encoding))
        return *s;
    LedgerArgs a;
    a.out = o.value(u"--out"_s);
    a.dir = o.value(u"--dir"_s);
    a.encoding = mox::value(encoding);
    for (const QString& given : o.values(u"--employee"_s)) {
        bool ok = false;
        const int code = given.toInt(&ok);
        if (!ok || code < 0)
            return mox::Status::failure(
                2, u"--employee「%1」は職員コードではありません。"_s.arg(given));
        a.employees.append(code);
    }
    for (const QString& given : o.positional()) {
        bool ok = false;
        const int year = given.toInt(&ok);
        if (a.year != 0 || !ok || year < 1900 || year > 9998)
            return mox::Status::failure(
                2, u"年度「%1」は西暦の年（1900〜9998）で指定してください。"_s.arg(given));
        a.year = year;
    }
    if (a.year == 0)
        return mox::Status::failure(2, u"年度を指定してください（2026 年 4 月からなら 2026）。"_s);
    if (a.out.isEmpty())
        a.out = u"ledger-%1.csv"_s.arg(a.year);
    return a;
}

// The figure the page prints in \p cell, without thousands separators; empty for a blank cell.
QString figure(const mox030::LedgerCell& cell)
{
    return mox030::prfOvlNum(cell.value, 24, 0, cell.minus, /*comma=*/false, /*hashFill=*/true,
                             cell.showZero)
        .trimmed();
}

class LedgerWriter {
public:
    LedgerWriter(const KorDAO::DatabaseHandle& db, int year, CsvWriter& csv)
        : m_db(db), m_from(QString::number(year) + u"04"_s),
          m_to(QString::number(year + 1) + u"03"_s), m_csv(csv)
    {
    }

    mox::Status header()
    {
        for (const QString& name : {u"職員コード"_s, u"氏名"_s, u"区分"_s})
            m_csv.addText(name);
        for (const mox030::LedgerColumn& c : mox030::kLedgerColumns)
            m_csv.addText(QString::fromUtf16(c.caption));
        if (m_csv.endRecord())
            return mox::Status::failure(1, u"見出しを書けません。"_s);
        return mox::Status::success();
    }

    /// The lines of one employee's page; none when the employee has no record in the year.
    mox::Status employee(int code, const QString& name)
    {
        (void)m_GKKYUYO.DAO_TableClose();
        if (!mox030::prfKyuyoOpen(m_GKKYUYO, m_db, code, m_from, m_to))
            return mox::Status::success();
        const mox030::PageCells page = mox030::sumPage(m_GKKYUYO, m_grid);
        if (page.read != 0)
            return mox::Status::failure(page.read,
                                        u"職員コード %1 の給与データ GKKYUYO を読めません"
                                        u"（%2）: %3"_s.arg(code)
                                            .arg(page.read)
                                            .arg(m_GKKYUYO.lastError()));
        // As the print run refuses the page: the figures cannot be computed.
        if (page.tooLarge)
            return mox::Status::failure(1, u"職員コード %1 の累計: "_s.arg(code) +
                                               amountTooLargeText());
        for (int row : mox030::kPrintedRows) {
            std::array<QString, mox030::kLedgerColumnCount> fields;
            for (const mox030::LedgerCell& c : page.cells) {
                if (c.row == row)
                    fields[std::size_t(c.column)] = figure(c);
            }
            m_csv.addNumber(QString::number(code));
            m_csv.addText(name);
            m_csv.addText(mox030::ledgerRowCaption(row));
            for (const QString& f : fields) {
                if (f.isEmpty())
                    m_csv.addNull();
                else
                    m_csv.addNumber(f);
            }
            if (const std::optional<CsvRefusal> r = m_csv.endRecord())
                return mox::Status::failure(
                    1,
                    u"職員コード %1 の氏名（GKJINJI の項目 SIMKNJ）に %2 で書けない文字%3が"
                    u"あります。--encoding utf-8 で書き出してください。"_s.arg(code)
                        .arg(m_csv.encoding() == CsvEncoding::Cp932 ? u"CP932"_s : u"UTF-8"_s)
                        .arg(r->character.isEmpty() ? QString() : u"「%1」"_s.arg(r->character)));
            if (m_csv.failed())
                return mox::Status::failure(1, m_csv.errorString());
            ++m_lines;
        }
        ++m_pages;
        return mox::Status::success();
    }

    int pages() const { return m_pages; }
    qint64 lines() const { return m_lines; }

private:
    KorDAO::DatabaseHandle m_db;
    QString m_from;
    QString m_to;
    CsvWriter& m_csv;
    KorDAO::clsTbAccess m_GKKYUYO;
    mox030::Ruikei m_grid;
    int m_pages = 0;
    qint64 m_lines = 0;
};

mox::Status openMaster(KorDAO::clsTbAccess& GKJINJI, const KorDAO::DatabaseHandle& db, int* count)
{
    GKJINJI.setTBDatabase(db);
    GKJINJI.setTBNameString(u"GKJINJI"_s);
    *count = GKJINJI.DAO_TableOpen(QString(), u"SYOKCD"_s);
    if (*count < 0)
        return mox::Status::failure(
            *count,
            u"人事マスター GKJINJI を開けません（%1）: %2"_s.arg(*count).arg(GKJINJI.lastError()));
    return mox::Status::success();
}

// Every employee of the master, or those of \p codes (each of which must be there), in turn.
mox::Status writeLedgers(const KorDAO::DatabaseHandle& db, const LedgerArgs& a, LedgerWriter& w)
{
    KorDAO::clsTbAccess GKJINJI;
    int count = 0;
    if (mox::Status s = openMaster(GKJINJI, db, &count); !s.ok())
        return s;
    if (mox::Status s = w.header(); !s.ok())
        return s;
    const KorDAO::Record rec = GKJINJI.TBRec();
    return KorDAO::readFields([&]() -> mox::Status {
        if (!a.employees.isEmpty()) {
            TerminalProgress progress(u"累計表"_s, u"人"_s, a.employees.size());
            for (int code : a.employees) {
                const short st = GKJINJI.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code));
                if (st == KorDAO::kNoRecord)
                    return mox::Status::failure(
                        1, u"職員コード %1 は人事マスター GKJINJI にありません。"_s.arg(code));
                if (st != 0)
                    return mox::Status::failure(st, GKJINJI.lastError());
                if (mox::Status s = w.employee(code, rec[u"SIMKNJ"].toString()); !s.ok())
                    return s;
                progress.advance();
            }
            return mox::Status::success();
        }
        TerminalProgress progress(u"累計表"_s, u"人"_s, count);
        for (short st = GKJINJI.DAO_RecRead(1);; st = GKJINJI.DAO_RecRead(2)) {
            if (st == KorDAO::kEndOfRecords)
                break;
            if (st != 0)
                return mox::Status::failure(
                    st, u"人事マスター GKJINJI を読めません（%1）: %2"_s.arg(st).arg(
                            GKJINJI.lastError()));
            if (mox::Status s = w.employee(rec[u"SYOKCD"].toInt(), rec[u"SIMKNJ"].toString());
                !s.ok())
                return s;
            progress.advance();
        }
        return mox::Status::success();
    });
}

int fail(QTextStream& err, const QString& text, int code = 1)
{
    err << "moxdb ledger: " << failureText(text) << Qt::endl;
    return code;
}

int runLedger(const QStringList& args, QTextStream& out, QTextStream& err)
{
    mox::Result<LedgerArgs> parsed = parseArgs(args);
    if (const mox::Status* s = mox::failure(parsed)) {
        err << "moxdb ledger: " << s->message << "\nusage: moxdb ledger " << kUsage << Qt::endl;
        return 2;
    }
    const LedgerArgs& a = mox::value(parsed);
    if (!a.dir.isEmpty())
        useIniFolder(a.dir);
    std::signal(SIGXFSZ, SIG_IGN); // a file-size limit fails the write instead of the process
    mox::Result<std::unique_ptr<Database>> db = Database::open(kPayrollIni, false);
    if (const mox::Status* s = mox::failure(db))
        return fail(err, s->message);
    const KorDAO::DatabaseHandle handle = mox::value(db)->handle();

    QFile standardOutput;
    std::unique_ptr<ExportFile> file;
    QIODevice* device = nullptr;
    if (a.out == u"-") {
        if (!standardOutput.open(stdout, QIODevice::WriteOnly))
            return fail(err, u"標準出力に書けません。"_s);
        device = &standardOutput;
    } else {
        file = std::make_unique<ExportFile>(a.out);
        if (mox::Status s = file->open(); !s.ok())
            return fail(err, s.message);
        device = file->device();
    }
    CsvWriter csv(device, a.encoding);
    LedgerWriter writer(handle, a.year, csv);
    if (mox::Status s = writeLedgers(handle, a, writer); !s.ok())
        return fail(err, a.out == u"-" ? s.message : u"%1: %2"_s.arg(a.out, s.message));
    if (!csv.flush())
        return fail(err, u"%1: %2"_s.arg(a.out, csv.errorString()));
    if (file) {
        if (mox::Status s = file->commit(); !s.ok())
            return fail(err, s.message);
        out << u"%1 年度（%1年4月〜%2年3月）の累計表: %3 人、%4 行を %5 に書き出しました。"_s
                   .arg(a.year)
                   .arg(a.year + 1)
                   .arg(writer.pages())
                   .arg(writer.lines())
                   .arg(a.out)
            << Qt::endl;
    }
    return 0;
}

} // namespace

Command ledgerCommand()
{
    return {u"ledger"_s, kUsage,
            u"write the cumulative salary ledgers of a fiscal year as CSV, figures as printed"_s,
            &runLedger};
}

} // namespace moxdb
