// moxdb ledger against the printed ledger: for every employee of the demo district (with a
// payment of kind 3 that carries a year-end charge and an amount with a fraction added), the
// CSV's figures equal the amount texts the print run writes into its command file for that
// employee's page, cell by cell. On SQLite and on the test server's PostgreSQL.
#include "moxdb/init.h"

#include "csvread.h"
#include "support.h"

#include "kordao/kordao.h"
#include "mox030/ledgerpage.h"
#include "mox030/ledgerrun.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <map>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

// The amount fields of one ledger row: nullopt for a cell left blank (or not printed).
using Figures = std::array<std::optional<QString>, mox030::kLedgerColumnCount>;
// Employee code → row caption → figures.
using Ledgers = std::map<int, std::map<QString, Figures>>;

QString readText(const QString& path, const char* encoding)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder d(encoding);
    QString text = d.decode(f.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// The ledger row whose lower line is \p y10 (tenths of a line) or, with \p upper, one below it.
int rowAt(int y10, bool* upper)
{
    for (int r : mox030::kPrintedRows) {
        const int lower = int(mox030::prfLinePos(r).raw() / 1000);
        if (y10 == lower || y10 == lower - 10) {
            *upper = y10 != lower;
            return r;
        }
    }
    return 0;
}

// The figures of every page of the command file \p path: the amount texts as printed, with
// their thousands separators and padding taken away.
Ledgers printedLedgers(const QString& path)
{
    Ledgers pages;
    int code = -1;
    for (const QString& line : readText(path, "windows-31j").split(u"\r\n"_s)) {
        if (!line.startsWith(u"TE "))
            continue;
        const int x = line.mid(3, 4).toInt() / 10;
        const int y10 = line.mid(7, 4).toInt();
        const QString text = line.mid(19);
        if (x == 35 && y10 == 55) { // the employee code of the header
            code = text.toInt();
            continue;
        }
        bool upper = false;
        const int row = rowAt(y10, &upper);
        if (row == 0)
            continue; // the header's other texts
        int column = -1;
        for (int c = 0; c < mox030::kLedgerColumnCount; ++c) {
            const mox030::LedgerColumn& col = mox030::kLedgerColumns[std::size_t(c)];
            if (col.x == x && col.upper == upper)
                column = c;
        }
        EXPECT_GE(column, 0) << "no column at " << x << ", " << y10;
        if (column < 0)
            continue;
        QString figure = text;
        figure.remove(u',').remove(u' ');
        Figures& figures = pages[code][mox030::ledgerRowCaption(row)];
        if (!figure.isEmpty())
            figures[std::size_t(column)] = figure;
    }
    return pages;
}

Ledgers csvLedgers(const QString& path, std::map<int, QStringList>* rowOrder)
{
    Ledgers ledgers;
    const QList<test::CsvRecord> records = test::parseCsv(readText(path, "UTF-8"));
    EXPECT_FALSE(records.isEmpty());
    for (qsizetype i = 1; i < records.size(); ++i) {
        const test::CsvRecord& r = records[i];
        EXPECT_EQ(r.size(), 3 + mox030::kLedgerColumnCount) << "line " << i + 1;
        if (r.size() != 3 + mox030::kLedgerColumnCount)
            continue;
        const int code = r[0].value_or(QString()).toInt();
        Figures& figures = ledgers[code][r[2].value_or(QString())];
        for (int c = 0; c < mox030::kLedgerColumnCount; ++c)
            figures[std::size_t(c)] = r[3 + c];
        (*rowOrder)[code].append(r[2].value_or(QString()));
    }
    return ledgers;
}

// Adds a payment of kind 3 (the row of further payments) of March 2027 to \p code, with
// \p amounts.
void addKind3Payment(const QString& dir, int code, const std::map<QString, Currency>& amounts)
{
    test::withDatabase(dir, kPayrollIni, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess t;
        t.setTBDatabase(db);
        t.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(t.DAO_TableOpen(QString(), QString()), 0);
        ASSERT_EQ(t.DAO_AddNew(true), 0);
        KorDAO::Record rec = t.TBRec();
        rec[u"SYOKCD"] = code;
        rec[u"KYUSYU"] = 3;
        rec[u"SKYUYM"] = 202703;
        rec[u"KYUSEQ"] = 1;
        for (const auto& [field, amount] : amounts)
            rec[field] = amount;
        ASSERT_EQ(t.DAO_Update(), 0) << t.lastError().toStdString();
    });
}

// The print run of mox030 over every employee of the master, into \p folder.
void printAll(const QString& dir, const QString& folder)
{
    test::withDatabase(dir, kPayrollIni, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess jinji;
        jinji.setTBDatabase(db);
        jinji.setTBNameString(u"GKJINJI"_s);
        ASSERT_GT(jinji.DAO_TableOpen(QString(), u"SYOKCD"_s), 0);
        mox030::PrintJob job;
        for (short st = jinji.DAO_RecRead(1); st == 0; st = jinji.DAO_RecRead(2))
            job.codes.append(jinji.TBRec()[u"SYOKCD"].toInt());
        KorDAO::clsTbAccess kyuyo;
        job.db = db;
        job.GKJINJI = &jinji;
        job.GKKYUYO = &kyuyo;
        job.strFromYM = u"202604"_s;
        job.strToYM = u"202703"_s;
        job.strNendoPrt = u"令和　８"_s;
        job.folder = folder;
        const mox030::PrintOutcome out = mox030::prsPrint(job);
        EXPECT_EQ(out.daoStatus, 0);
        EXPECT_TRUE(out.file.ok()) << out.file.message.toStdString();
        EXPECT_GT(out.pages, 0);
    });
}

class LedgerCommand : public test::DemoDistrictTest {
protected:
    QString dir() const { return district().path(); }
};

INSTANTIATE_TEST_SUITE_P(Engines, LedgerCommand,
                         testing::Values(test::Engine::Sqlite, test::Engine::Postgres),
                         test::engineName);

} // namespace

TEST_P(LedgerCommand, EqualsThePrintedLedgerForEveryEmployeeOfTheDemoDistrict)
{
    // A year-end charge of 3,000 yen, which the page counts among the row's deductions, and pay
    // with half a yen.
    addKind3Payment(dir(), 10025,
                    {{u"KYURYO"_s, *Currency::parse(u"1000.5")},
                     {u"SSIKYU"_s, Currency::fromYen(1001)},
                     {u"KOUGOK"_s, Currency::fromYen(200)},
                     {u"SASIHK"_s, Currency::fromYen(801)},
                     {u"NENFUS"_s, Currency::fromYen(-3000)}});
    const test::ProgramRun r = run({u"ledger"_s, u"2026"_s, u"--encoding"_s, u"utf-8"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    const QString print = district().filePath(u"print"_s);
    ASSERT_TRUE(QDir().mkdir(print));
    ASSERT_TRUE(
        QFile::setPermissions(print, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    printAll(dir(), print);

    std::map<int, QStringList> order;
    const Ledgers csv = csvLedgers(district().filePath(u"ledger-2026.csv"_s), &order);
    const Ledgers printed = printedLedgers(QDir(print).filePath(u"OVL.TMP"_s));
    ASSERT_GT(printed.size(), 50u);
    ASSERT_EQ(csv.size(), printed.size());
    QStringList rows;
    for (int row : mox030::kPrintedRows)
        rows.append(mox030::ledgerRowCaption(row));
    int cells = 0;
    for (const auto& [code, page] : printed) {
        ASSERT_TRUE(csv.count(code)) << "employee " << code << " has a page but no lines";
        EXPECT_EQ(order[code], rows) << "employee " << code;
        for (const auto& [row, figures] : page) {
            const Figures& mine = csv.at(code).at(row);
            for (std::size_t c = 0; c < figures.size(); ++c) {
                if (figures[c] && figures[c]->startsWith(u'*'))
                    continue; // too wide for the page's cell
                EXPECT_EQ(mine[c], figures[c])
                    << "employee " << code << ", " << qPrintable(row) << ", "
                    << qPrintable(QString::fromUtf16(mox030::kLedgerColumns[c].caption));
                cells += figures[c].has_value();
            }
        }
    }
    EXPECT_GT(cells, 10'000);
    // The payment of kind 3: pay rounded as printed, the year-end charge among the deductions.
    const Figures& extra = csv.at(10025).at(u"差額等"_s);
    EXPECT_EQ(extra[0], u"1001"_s);
    EXPECT_EQ(extra[26], u"3000"_s);  // 年調不足
    EXPECT_EQ(extra[27], u"3200"_s);  // 控除合計: 200 + 3,000
    EXPECT_EQ(extra[28], u"-2199"_s); // 差引支給額: 1,001 − 3,200
}

TEST_P(LedgerCommand, ChosenEmployeesOnlyAndAnUnknownOneRefused)
{
    test::ProgramRun r = run({u"ledger"_s, u"2026"_s, u"--employee"_s, u"10025"_s, u"114267"_s,
                              u"--out"_s, u"two.csv"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    QFile f(district().filePath(u"two.csv"_s));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<test::CsvRecord> records =
        test::parseCsv(QStringDecoder("windows-31j").decode(f.readAll()));
    ASSERT_EQ(records.size(), 1 + 2 * 18);
    EXPECT_EQ(records[1][0], u"10025"_s);
    EXPECT_EQ(records[19][0], u"114267"_s);
    EXPECT_EQ(records[0][3], u"給料"_s);

    r = run(
        {u"ledger"_s, u"2026"_s, u"--employee"_s, u"10025"_s, u"4242"_s, u"--out"_s, u"bad.csv"_s});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(u"4242"_s)) << test::outcome(r);
    EXPECT_FALSE(QFile::exists(district().filePath(u"bad.csv"_s)));
    r = run({u"ledger"_s, u"26"_s});
    EXPECT_EQ(r.code, 2) << test::outcome(r);
    // An option the command does not know is named as such, also as the last argument.
    for (const QString& command : {u"ledger"_s, u"export"_s}) {
        r = run({command, command == u"ledger"_s ? u"2026"_s : u"GKJINJI"_s, u"--help"_s});
        EXPECT_EQ(r.code, 2) << test::outcome(r);
        EXPECT_TRUE(r.err.contains(u"--help は使えない指定です"_s)) << test::outcome(r);
    }
}

// Amounts whose year-end charge raises the deductions beyond the money type: the command refuses
// with the calculation's message naming the employee, and writes no file, instead of ending the
// process.
TEST_P(LedgerCommand, RefusesAmountsBeyondTheMoneyType)
{
    addKind3Payment(dir(), 10025,
                    {{u"KOUGOK"_s, Currency::fromYen(900'000'000'000'000)},
                     {u"NENFUS"_s, Currency::fromYen(-100'000'000'000'000)}});
    const test::ProgramRun r =
        run({u"ledger"_s, u"2026"_s, u"--employee"_s, u"10025"_s, u"--out"_s, u"big.csv"_s});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(u"職員コード 10025 の累計: 金額が大きすぎて計算できません。"_s))
        << test::outcome(r);
    EXPECT_FALSE(QFile::exists(district().filePath(u"big.csv"_s)));
}
