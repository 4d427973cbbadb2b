// moxdb import run as an office runs it, on SQLite and on the test server's PostgreSQL: a file
// with any fault is refused with the fault's line and field and the table stays as it was; a
// file as a spreadsheet on a Japanese desktop saves it comes in whole; a load killed in the
// middle leaves the table as it was.
#include "moxdb/csvcheck.h"
#include "moxdb/csvimport.h"
#include "moxdb/exporttables.h"

#include "support.h"

#include "kordao/kordao.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <map>

#include <signal.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

const QString kPayrollIni = u"MOX.INI"_s;

// Every record of \p table in the database of \p ini in \p dir, in key order, a line each with
// its fields as read: what "unchanged" is compared on.
QStringList recordsIn(const QString& dir, const QString& ini, const ExportTable& table,
                      const QString& filter = QString())
{
    QStringList lines;
    test::withDatabase(dir, ini, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess t;
        t.setTBDatabase(db);
        t.setTBNameString(table.table);
        const int n = t.DAO_TableOpen(filter, table.key.join(u", "_s));
        for (short st = n > 0 ? t.DAO_RecRead(1) : KorDAO::kEndOfRecords; st == 0;
             st = t.DAO_RecRead(2)) {
            QStringList fields;
            for (const ExportField& f : table.fields) {
                const KorDAO::FieldRef v = t.TBRec()[f.name];
                fields.append(v.isNull()                    ? u"<NULL>"_s
                              : f.kind == FieldKind::Amount ? v.toCurrency().toPlainString()
                                                            : v.toString());
            }
            lines.append(fields.join(u'|'));
        }
    });
    return lines;
}

QByteArray cp932(const QString& text)
{
    QStringEncoder enc("cp932");
    return enc.encode(text);
}

// The records of a CSV file under construction: a header of every field of the table and rows
// with a plain value in each field, changed field by field by the tests.
struct CsvRows {
    explicit CsvRows(const ExportTable& t) : table(t), header(t.fieldNames()) {}

    // A row whose key field(s) take \p code; every other field a value of its kind.
    QStringList& addRow(int code)
    {
        QStringList row;
        for (const ExportField& f : table.fields) {
            switch (f.kind) {
            case FieldKind::Integer:
                row.append(table.key.contains(f.name) ? QString::number(code) : u"1"_s);
                break;
            case FieldKind::Date:
                row.append(u"20260401"_s);
                break;
            case FieldKind::Month:
                row.append(u"202604"_s);
                break;
            case FieldKind::Amount:
                row.append(u"1234.5"_s);
                break;
            case FieldKind::Text:
                row.append(u"テキスト"_s);
                break;
            }
        }
        rows.append(row);
        return rows.last();
    }
    void set(int row, const QString& field, const QString& value)
    {
        rows[row][header.indexOf(field)] = value;
    }
    QString text(const QString& lineEnd = u"\r\n"_s) const
    {
        QString out = header.join(u',') + lineEnd;
        for (const QStringList& r : rows)
            out += r.join(u',') + lineEnd;
        return out;
    }

    const ExportTable& table;
    QStringList header;
    QList<QStringList> rows;
};

class MoxdbImport : public test::DemoDistrictTest {
protected:
    QString dir() const { return district().path(); }
    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        const QString path = m_files.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QStringList records(const QString& table) const
    {
        return recordsIn(dir(), kPayrollIni, *findExportTable(table));
    }

    QTemporaryDir m_files;
};

struct BadInput {
    const char* name;
    // Makes the file from the rows of three new employees 501-503 (lines 2-4).
    std::function<QByteArray(CsvRows&)> make;
    const char16_t* fault; // what the message must hold
};

QByteArray asCp932(CsvRows& r)
{
    return cp932(r.text());
}

// The file with \p value in the field \p field of the row \p row (0: line 2), in CP932.
std::function<QByteArray(CsvRows&)> setting(int row, const char16_t* field, const char16_t* value)
{
    return [=](CsvRows& r) {
        r.set(row, QString::fromUtf16(field), QString::fromUtf16(value));
        return asCp932(r);
    };
}

const BadInput kBadInputs[] = {
    {"TruncatedInARecord", [](CsvRows& r) { return asCp932(r).chopped(40); },
     u"jinji.csv 4 行目: 項目が"},
    {"TruncatedInAQuotedField",
     [](CsvRows& r) {
         r.set(2, u"SIMKNJ"_s, u"\"山田, 花子\""_s);
         const QByteArray bytes = asCp932(r);
         return bytes.left(bytes.indexOf(cp932(u"花子"_s)));
     },
     u"jinji.csv の 4 行目: 引用符 \" で始まった項目が閉じられない"},
    {"AnotherEncoding",
     [](CsvRows& r) {
         QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
         return QByteArray(utf16.encode(r.text()));
     },
     u"UTF-16"},
    {"StrayQuote",
     [](CsvRows& r) {
         r.set(1, u"SIMKNJ"_s, u"山\"田"_s);
         return asCp932(r);
     },
     u"jinji.csv の 3 行目: 引用符で囲まれていない項目の中に引用符"},
    {"UnknownHeaderField",
     [](CsvRows& r) {
         r.header[r.header.indexOf(u"SIMKNJ"_s)] = u"SIMKANJI"_s;
         return asCp932(r);
     },
     u"jinji.csv 1 行目 項目「SIMKANJI」: テーブル GKJINJI にこの項目はありません"},
    {"MissingHeaderField",
     [](CsvRows& r) {
         const qsizetype at = r.header.indexOf(u"KYURYO"_s);
         r.header.removeAt(at);
         for (QStringList& row : r.rows)
             row.removeAt(at);
         return asCp932(r);
     },
     u"jinji.csv 1 行目 項目「KYURYO」: 項目名の行にこの項目がありません"},
    {"NotANumber", setting(0, u"KYURYO", u"30万"),
     u"jinji.csv 2 行目 項目「KYURYO」: 「30万」は金額ではありません"},
    {"NotAWholeNumber", setting(2, u"SYOKCD", u"503.5"),
     u"jinji.csv 4 行目 項目「SYOKCD」: 「503.5」は整数ではありません"},
    {"ImpossibleDate", setting(1, u"ZKAYMD_01", u"20260230"),
     u"jinji.csv 3 行目 項目「ZKAYMD_01」: 「20260230」はありえない日付"},
    {"AmountBeyondTheMoneyType", setting(0, u"KYURYO", u"922337203685478"),
     u"jinji.csv 2 行目 項目「KYURYO」: 「922337203685478」は金額の範囲"},
    {"AmountWithFiveDecimals", setting(0, u"FUYO", u"0.00001"),
     u"jinji.csv 2 行目 項目「FUYO」: 「0.00001」は小数が 4 桁を超えています"},
    {"MissingKey", setting(1, u"SYOKCD", u""), u"jinji.csv 3 行目 項目「SYOKCD」: 値がありません"},
    {"DuplicateKeyInTheFile", setting(2, u"SYOKCD", u"501"),
     u"jinji.csv 4 行目: キー (SYOKCD=501) が 2 行目と重複しています"},
    {"DuplicateKeyInTheTable", setting(1, u"SYOKCD", u"10025"), // a demo employee
     u"jinji.csv 3 行目: キー (SYOKCD=10025) の記録がテーブル GKJINJI に既にあります"},
};

class MoxdbImportRefuses : public MoxdbImport {};

// Each bad file is refused with its message, and the personnel master keeps the demo's staff
// record for record (the two good rows before or after the fault are not written either).
TEST_P(MoxdbImportRefuses, EachBadFileWithItsMessageAndTheTableUnchanged)
{
    const QStringList before = records(u"GKJINJI"_s);
    ASSERT_GT(before.size(), 10);
    for (const BadInput& bad : kBadInputs) {
        SCOPED_TRACE(bad.name);
        CsvRows rows(*findExportTable(u"GKJINJI"_s));
        for (int code : {501, 502, 503})
            rows.addRow(code);
        const QString path = writeFile(u"jinji.csv"_s, bad.make(rows));
        const test::ProgramRun r = run({u"import"_s, u"GKJINJI"_s, path});
        EXPECT_EQ(r.code, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf16(bad.fault))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(u"何も書き込みませんでした"_s)) << r.err.toStdString();
        EXPECT_EQ(records(u"GKJINJI"_s), before);
    }
    // The same file without its fault goes in.
    CsvRows rows(*findExportTable(u"GKJINJI"_s));
    for (int code : {501, 502, 503})
        rows.addRow(code);
    const QString path = writeFile(u"jinji.csv"_s, asCp932(rows));
    const test::ProgramRun r = run({u"import"_s, u"GKJINJI"_s, path});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(records(u"GKJINJI"_s).size(), before.size() + 3);
}

// The first 100 faults are listed, then how many more; the count is of every fault.
TEST_P(MoxdbImportRefuses, ListsTheFirstHundredFaultsThenTheirCount)
{
    CsvRows rows(*findExportTable(u"GKJINJI"_s));
    for (int code = 1001; code <= 1150; ++code)
        rows.addRow(code)[rows.header.indexOf(u"ZKNYMD_01"_s)] = u"20261331"_s;
    const QString path = writeFile(u"many.csv"_s, asCp932(rows));
    const test::ProgramRun r = run({u"import"_s, u"GKJINJI"_s, path});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"誤りが 150 件ある"_s)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"many.csv 101 行目 項目「ZKNYMD_01」"_s)); // the 100th
    EXPECT_FALSE(r.err.contains(u"many.csv 102 行目"_s));
    EXPECT_TRUE(r.err.contains(u"ほか 50 件の誤りがあります"_s)) << r.err.toStdString();
}

// As a spreadsheet on a Japanese desktop saves a sheet: CP932, CRLF, fields holding commas,
// quotes and line feeds quoted, and no line end after the last row. Every text comes back as
// it was in the sheet; an empty cell of a text is NULL, "" an empty text.
TEST_P(MoxdbImport, FileAsAJapaneseSpreadsheetSavesItComesInWhole)
{
    const ExportTable& jinji = *findExportTable(u"GKJINJI"_s);
    CsvRows rows(jinji);
    rows.addRow(601);
    rows.addRow(602);
    rows.set(0, u"SIMKNJ"_s, u"\"髙橋, 一郎\""_s);
    rows.set(0, u"SYOZOK"_s, u"\"第一小学校\n（分校）\""_s);
    rows.set(1, u"SIMKNJ"_s, u"\"「\"\"ＡＢＣ\"\"」㈱\""_s);
    rows.set(1, u"SYOZOK"_s, QString());
    rows.set(1, u"KYURYO"_s, u"-0.0001"_s);
    rows.addRow(603);
    rows.set(2, u"SIMKNJ"_s, u"\"tab\there, back\\slash\r\nCRLF\""_s);
    rows.set(2, u"SYOZOK"_s, u"\"\""_s);
    QString text = rows.text();
    text.chop(2); // no CRLF after the last line
    const QString path = writeFile(u"sheet.csv"_s, cp932(text));

    const test::ProgramRun r = run({u"import"_s, u"GKJINJI"_s, path});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"GKJINJI: 3 件"_s)) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(u"CP932"_s)) << r.out.toStdString();
    const QStringList got =
        recordsIn(dir(), kPayrollIni, jinji, u"SYOKCD >= 601 AND SYOKCD <= 603"_s);
    ASSERT_EQ(got.size(), 3);
    const qsizetype name = jinji.fieldNames().indexOf(u"SIMKNJ"_s);
    const qsizetype office = jinji.fieldNames().indexOf(u"SYOZOK"_s);
    const qsizetype pay = jinji.fieldNames().indexOf(u"KYURYO"_s);
    EXPECT_EQ(got[0].split(u'|')[name], u"髙橋, 一郎"_s);
    EXPECT_EQ(got[0].split(u'|')[office], u"第一小学校\n（分校）"_s);
    EXPECT_EQ(got[1].split(u'|')[name], u"「\"ＡＢＣ\"」㈱"_s);
    EXPECT_EQ(got[1].split(u'|')[office], u"<NULL>"_s);
    EXPECT_EQ(got[1].split(u'|')[pay], u"-0.0001"_s);
    EXPECT_EQ(got[2].split(u'|')[name], u"tab\there, back\\slash\r\nCRLF"_s);
    EXPECT_EQ(got[2].split(u'|')[office], u""_s); // an empty text, not NULL
}

// --check reads and reports without writing; --replace empties the table in the same
// transaction; a key of the table is no duplicate then.
TEST_P(MoxdbImport, CheckWritesNothingAndReplaceTakesTheFileAlone)
{
    const QStringList before = records(u"GKJINJI"_s);
    CsvRows rows(*findExportTable(u"GKJINJI"_s));
    rows.addRow(10025); // a demo employee's code
    rows.addRow(701);
    const QString path = writeFile(u"jinji.csv"_s, cp932(rows.text()));

    test::ProgramRun r = run({u"import"_s, u"GKJINJI"_s, path, u"--check"_s, u"--replace"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"何も書き込んでいません"_s)) << r.out.toStdString();
    EXPECT_EQ(records(u"GKJINJI"_s), before);

    r = run({u"import"_s, u"GKJINJI"_s, path, u"--replace"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList after = records(u"GKJINJI"_s);
    ASSERT_EQ(after.size(), 2);
    EXPECT_TRUE(after[0].startsWith(u"701|"_s)) << after[0].toStdString();
    EXPECT_TRUE(after[1].startsWith(u"10025|テキスト|"_s)) << after[1].toStdString();
}

// A load killed with SIGKILL after its first megabyte of records went in: the table, emptied by
// --replace in the same transaction, is as it was.
TEST_P(MoxdbImport, KilledInTheMiddleLeavesTheTableAsItWas)
{
    const QStringList before = records(u"GKKYUYO"_s);
    ASSERT_GT(before.size(), 100);
    CsvRows rows(*findExportTable(u"GKKYUYO"_s));
    for (int i = 0; i < 120'000; ++i) {
        QStringList& row = rows.addRow(0);
        row[rows.header.indexOf(u"SYOKCD"_s)] = QString::number(900'000 + i / 9);
        row[rows.header.indexOf(u"SKYUYM"_s)] = QString::number(202604 + i % 9);
    }
    const QString path = writeFile(u"kyuyo.csv"_s, cp932(rows.text()));

    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, dir());
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral(MOXDB_IMPORTKILL_HELPER), {u"GKKYUYO"_s, path, u"--replace"_s});
    QByteArray seen;
    while (!seen.contains(" KB") && helper.waitForReadyRead(60'000))
        seen += helper.readAllStandardOutput();
    ASSERT_TRUE(seen.contains(" KB")) << seen.toStdString();
    ASSERT_FALSE(seen.contains("DONE")) << "the load ended before it could be killed";
    ::kill(pid_t(helper.processId()), SIGKILL);
    helper.waitForFinished();
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
    const QStringList after = records(u"GKKYUYO"_s);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before);
}

// The files of \p dir, name by name.
std::map<QString, QByteArray> filesIn(const QString& dir)
{
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(dir).entryList(QDir::Files)) {
        QFile f(QDir(dir).filePath(name));
        if (f.open(QIODevice::ReadOnly))
            files[name] = f.readAll();
    }
    return files;
}

// A second pair of databases, made by init (the shipped tax tables in them), on \p engine.
std::unique_ptr<test::District> initialised(test::Engine engine)
{
    auto district = std::make_unique<test::District>(engine);
    const QString failed = district->make({{u"init"_s}});
    EXPECT_TRUE(failed.isEmpty()) << failed.toStdString();
    return district;
}

// What export --all writes of the demo district comes back, with import --all into new databases,
// as the same records: their export --all gives the same bytes, file for file. --replace takes
// the place of the tax tables that init loaded.
TEST_P(MoxdbImport, ExportImportExportGivesTheSameFiles)
{
    const QString first = m_files.filePath(u"first"_s);
    test::ProgramRun r = run({u"export"_s, u"--all"_s, first});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const std::map<QString, QByteArray> exported = filesIn(first);
    ASSERT_EQ(exported.size(), exportTables().size());

    const std::unique_ptr<test::District> other = initialised(GetParam());
    r = other->run({u"import"_s, u"--all"_s, first, u"--replace"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"GKKYUYO: "_s)) << r.out.toStdString();
    const QString second = m_files.filePath(u"second"_s);
    r = other->run({u"export"_s, u"--all"_s, second});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const std::map<QString, QByteArray> again = filesIn(second);
    ASSERT_EQ(again.size(), exported.size());
    for (const auto& [name, bytes] : exported)
        EXPECT_TRUE(again.at(name) == bytes) << name.toStdString() << " differs";

    // The same in UTF-8 with its byte order mark, one table.
    const QString utf8 = m_files.filePath(u"kyuyo-utf8.csv"_s);
    r = run({u"export"_s, u"GKKYUYO"_s, u"--encoding"_s, u"utf-8"_s, u"--out"_s, utf8});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = other->run({u"import"_s, u"GKKYUYO"_s, utf8, u"--replace"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"UTF-8 (BOM 付き)"_s)) << r.out.toStdString();
    const QString back = m_files.filePath(u"kyuyo-back.csv"_s);
    r = other->run({u"export"_s, u"GKKYUYO"_s, u"--encoding"_s, u"utf-8"_s, u"--out"_s, back});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QFile a(utf8), b(back);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll());
}

// An office moving from one desk's SQLite to a server: export --all on SQLite, import --all on
// PostgreSQL, export --all there gives the same files; and back again.
TEST(MoxdbImportAcrossEngines, SqliteToPostgresAndBackGivesTheSameFiles)
{
    if (!test::PostgresPair::serverGiven())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const std::unique_ptr<test::District> sqlite = initialised(test::Engine::Sqlite);
    const std::unique_ptr<test::District> postgres = initialised(test::Engine::Postgres);
    QTemporaryDir files;
    const auto moxdb = [](test::District& d, const QStringList& args) {
        const test::ProgramRun r = d.run(args);
        EXPECT_EQ(r.code, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.code == 0;
    };
    ASSERT_TRUE(moxdb(*sqlite, {u"demo"_s}));
    const QString fromSqlite = files.filePath(u"sqlite"_s);
    const QString fromPostgres = files.filePath(u"postgres"_s);
    const QString backOnSqlite = files.filePath(u"back"_s);
    ASSERT_TRUE(moxdb(*sqlite, {u"export"_s, u"--all"_s, fromSqlite}));
    ASSERT_TRUE(moxdb(*postgres, {u"import"_s, u"--all"_s, fromSqlite, u"--replace"_s}));
    ASSERT_TRUE(moxdb(*postgres, {u"export"_s, u"--all"_s, fromPostgres}));
    const std::unique_ptr<test::District> sqliteAgain = initialised(test::Engine::Sqlite);
    ASSERT_TRUE(moxdb(*sqliteAgain, {u"import"_s, u"--all"_s, fromPostgres, u"--replace"_s}));
    ASSERT_TRUE(moxdb(*sqliteAgain, {u"export"_s, u"--all"_s, backOnSqlite}));
    const std::map<QString, QByteArray> original = filesIn(fromSqlite);
    ASSERT_EQ(original.size(), exportTables().size());
    for (const QString& other : {fromPostgres, backOnSqlite}) {
        const std::map<QString, QByteArray> copy = filesIn(other);
        ASSERT_EQ(copy.size(), original.size());
        for (const auto& [name, bytes] : original)
            EXPECT_TRUE(copy.at(name) == bytes)
                << other.toStdString() << ": " << name.toStdString();
    }
}

// The payroll database committed, then the environment database refused its commit (SQLite: a
// desk reading it past the lock timeout): the message says which database took the files and
// which did not, and the databases are as it says.
TEST(MoxdbImportCommit, ASecondDatabaseThatCannotCommitIsNamedWithWhatWasWritten)
{
    test::District source(test::Engine::Sqlite);
    test::District target(test::Engine::Sqlite);
    ASSERT_EQ(target.make({{u"init"_s}}), QString());
    QTemporaryDir files;
    const QString folder = files.filePath(u"all"_s);
    ASSERT_EQ(source.make({{u"demo"_s}, {u"export"_s, u"--all"_s, folder}}), QString());
    QFile ini(target.filePath(u"MOXENV.INI"_s));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("LockTimeout=1\n");
    ini.close();
    const ExportTable& names = *findExportTable(u"名設定"_s);
    const QStringList envBefore = recordsIn(target.path(), u"MOXENV.INI"_s, names);

    QProcess desk; // a desk in the middle of reading the environment database
    desk.start(u"sqlite3"_s, {target.filePath(u"moxenv.db"_s)});
    ASSERT_TRUE(desk.waitForStarted());
    desk.write("BEGIN;\nSELECT 'READING', COUNT(*) FROM sqlite_master;\n");
    ASSERT_TRUE(desk.waitForReadyRead(30'000));
    const test::ProgramRun r = target.run({u"import"_s, u"--all"_s, folder, u"--replace"_s});
    desk.write("ROLLBACK;\n.quit\n");
    desk.closeWriteChannel();
    desk.waitForFinished();

    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u"MOX.INI のテーブルには書き込みましたが、MOXENV.INI に書き込めま"
                               u"せんでした"_s))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"名設定"_s)) << r.err.toStdString();
    const ExportTable& staff = *findExportTable(u"GKJINJI"_s);
    EXPECT_EQ(recordsIn(target.path(), kPayrollIni, staff),
              recordsIn(source.path(), kPayrollIni, staff));
    EXPECT_EQ(recordsIn(target.path(), u"MOXENV.INI"_s, names), envBefore);
}

INSTANTIATE_TEST_SUITE_P(Engines, MoxdbImport,
                         testing::Values(test::Engine::Sqlite, test::Engine::Postgres),
                         test::engineName);
INSTANTIATE_TEST_SUITE_P(Engines, MoxdbImportRefuses,
                         testing::Values(test::Engine::Sqlite, test::Engine::Postgres),
                         test::engineName);

TEST(ImportKeySet, FindsTheFirstLineOfAKeyAcrossGrowth)
{
    KeySet keys(8);
    char key[8];
    for (qint32 i = 0; i < 100'000; ++i) {
        const qint32 parts[2] = {i / 10, i % 10};
        std::memcpy(key, parts, sizeof key);
        ASSERT_EQ(keys.insert(key, quint32(i + 2)), -1) << i;
    }
    EXPECT_EQ(keys.size(), 100'000);
    const qint32 again[2] = {4321, 7};
    std::memcpy(key, again, sizeof key);
    EXPECT_EQ(keys.insert(key, 999'999), 43'217 + 2);
    const qint32 table[2] = {-1, 0};
    std::memcpy(key, table, sizeof key);
    EXPECT_EQ(keys.insert(key, 0), -1);
    EXPECT_EQ(keys.insert(key, 5), 0); // first seen in the table
    EXPECT_EQ(keys.size(), 100'001);
}

// One value against its field, at the edges of each kind: what is taken (and as what), and the
// fault of what is not.
TEST(ImportFieldCheck, EdgesOfEachKind)
{
    constexpr qint64 kMaxRaw = std::numeric_limits<qint64>::max();
    struct Case {
        FieldKind kind;
        const char16_t* text;  // nullptr: an empty unquoted value (NULL)
        const char16_t* fault; // what the fault holds; nullptr: taken
        qint64 taken = 0;      // the whole number, or the amount's raw value
        bool key = false;
        bool nullable = true;
    };
    const Case cases[] = {
        {FieldKind::Integer, u"-2147483648", nullptr, -2147483648LL},
        {FieldKind::Integer, u"2147483647", nullptr, 2147483647},
        {FieldKind::Integer, u"2147483648", u"整数の範囲"},
        {FieldKind::Integer, u"-2147483649", u"整数の範囲"},
        {FieldKind::Integer, u"99999999999999999999999", u"整数の範囲"},
        {FieldKind::Integer, u"12a", u"「12a」は整数ではありません"},
        {FieldKind::Integer, u"-", u"整数ではありません"},
        {FieldKind::Integer, u"", u"整数ではありません"},
        {FieldKind::Integer, u"１２", u"整数ではありません"},
        {FieldKind::Integer, nullptr, u"値がありません"},
        {FieldKind::Date, u"20240229", nullptr, 20240229},
        {FieldKind::Date, u"0", nullptr, 0},
        {FieldKind::Date, u"20230229", u"ありえない日付"},
        {FieldKind::Date, u"-20240101", u"ありえない日付"},
        {FieldKind::Month, u"202612", nullptr, 202612},
        {FieldKind::Month, u"0", nullptr, 0},
        {FieldKind::Month, u"202613", u"ありえない年月"},
        {FieldKind::Month, u"202600", u"ありえない年月"},
        {FieldKind::Amount, u"922337203685477.5807", nullptr, kMaxRaw},
        {FieldKind::Amount, u"-922337203685477.5807", nullptr, -kMaxRaw},
        {FieldKind::Amount, u"-0.0001", nullptr, -1},
        {FieldKind::Amount, u"1234.5", nullptr, 12'345'000},
        {FieldKind::Amount, u"922337203685477.5808", u"金額の範囲"},
        {FieldKind::Amount, u"922337203685478", u"金額の範囲"},
        {FieldKind::Amount, u"1.23456", u"小数が 4 桁を超えています"},
        {FieldKind::Amount, u"1.", u"金額ではありません"},
        {FieldKind::Amount, u".5", u"金額ではありません"},
        {FieldKind::Amount, u"1e5", u"金額ではありません"},
        {FieldKind::Amount, u"1,000", u"金額ではありません"},
        {FieldKind::Text, u"", nullptr},
        {FieldKind::Text, nullptr, nullptr},
        {FieldKind::Text, nullptr, u"キーの項目に値がありません", 0, /*key=*/true},
        {FieldKind::Text, nullptr, u"キーの項目に値がありません", 0, false, /*nullable=*/false},
    };
    for (const Case& c : cases) {
        const QString text = c.text ? QString::fromUtf16(c.text) : QString();
        SCOPED_TRACE(text.toStdString());
        const ExportField field{u"F"_s, c.kind, c.nullable};
        FieldRead read;
        const QString fault = checkField(field, c.key, CsvField{text, c.text == nullptr}, read);
        if (c.fault) {
            EXPECT_TRUE(fault.contains(QString::fromUtf16(c.fault))) << fault.toStdString();
            continue;
        }
        ASSERT_TRUE(fault.isEmpty()) << fault.toStdString();
        EXPECT_EQ(read.null, c.text == nullptr);
        if (c.kind == FieldKind::Amount) {
            EXPECT_EQ(read.amount.raw(), c.taken);
        } else if (c.kind != FieldKind::Text) {
            EXPECT_EQ(read.whole, c.taken);
        }
    }
    // A long value is cut in the fault.
    const QString longText(60, u'x');
    FieldRead read;
    const QString fault =
        checkField({u"F"_s, FieldKind::Integer, false}, false, CsvField{longText, false}, read);
    EXPECT_TRUE(fault.contains(QString(40, u'x') + u"…"_s)) << fault.toStdString();
    EXPECT_FALSE(fault.contains(QString(41, u'x')));
}

} // namespace
