// moxdb export run as an office runs it, on SQLite and on the test server's PostgreSQL: every
// exportable table of the demo district, the fields that need quoting, NULL against the empty
// text, amounts with decimals, --where, a text CP932 cannot hold, and the places and limits that
// must leave no file behind.
#include "moxdb/exporttables.h"
#include "moxdb/init.h"

#include "csvread.h"
#include "support.h"

#include "kordao/kordao.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString fromCp932(const QByteArray& bytes)
{
    QStringDecoder d("windows-31j");
    return d.decode(bytes);
}

QByteArray toCp932(const QString& text)
{
    QStringEncoder e("windows-31j");
    return e.encode(text);
}

// A new employee \p code with the name \p name (a null text is NULL), a workplace SYOZOK
// \p place (null: NULL) and the monthly pay \p pay.
void addEmployee(const QString& dir, int code, const QString& name, const QString& place,
                 Currency pay)
{
    test::withDatabase(dir, kPayrollIni, [&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess t;
        t.setTBDatabase(db);
        t.setTBNameString(u"GKJINJI"_s);
        ASSERT_GE(t.DAO_TableOpen(QString(), QString()), 0) << t.lastError().toStdString();
        ASSERT_EQ(t.DAO_AddNew(true), 0);
        t.TBRec()[u"SYOKCD"] = code;
        t.TBRec()[u"SIMKNJ"] = name;
        t.TBRec()[u"SYOZOK"] = place;
        t.TBRec()[u"KYURYO"] = pay;
        ASSERT_EQ(t.DAO_Update(), 0) << t.lastError().toStdString();
    });
}

class ExportCommand : public test::DemoDistrictTest {
protected:
    QString dir() const { return district().path(); }
    QString path(const QString& name) const { return district().filePath(name); }
    // What the folder \p dir holds besides the configuration and database files.
    static QStringList writtenIn(const QString& dir)
    {
        QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& own : {u"MOX.INI"_s, u"MOXENV.INI"_s, u"mox.db"_s, u"moxenv.db"_s})
            names.removeAll(own);
        return names;
    }
};

INSTANTIATE_TEST_SUITE_P(Engines, ExportCommand,
                         testing::Values(test::Engine::Sqlite, test::Engine::Postgres),
                         test::engineName);

} // namespace

TEST_P(ExportCommand, EveryTableOfTheDemoDistrictWithItsHeaderInKeyOrder)
{
    const test::ProgramRun r = run({u"export"_s, u"--all"_s, u"out"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    const QString out = path(u"out"_s);
    EXPECT_EQ(QFileInfo(out).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    QStringList expected;
    for (const ExportTable& t : exportTables())
        expected.append(t.fileName());
    expected.sort();
    QStringList files = QDir(out).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    EXPECT_EQ(files, expected);

    for (const ExportTable& t : exportTables()) {
        const QString file = QDir(out).filePath(t.fileName());
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(file).constData(), &st), 0) << qPrintable(file);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << qPrintable(file);
        const QByteArray bytes = readAll(file);
        EXPECT_TRUE(bytes.endsWith("\r\n")) << qPrintable(file);
        EXPECT_EQ(bytes.count("\n"), bytes.count("\r\n")) << qPrintable(file);
        const QList<test::CsvRecord> records = test::parseCsv(fromCp932(bytes));
        ASSERT_FALSE(records.isEmpty()) << qPrintable(file);
        QStringList header;
        for (const std::optional<QString>& f : records.first())
            header.append(f.value_or(u"<NULL>"_s));
        EXPECT_EQ(header, t.fieldNames()) << qPrintable(file);
        EXPECT_GT(records.size(), 1) << qPrintable(file);
        // Key order: each record's key after the one before, whole numbers compared as numbers.
        QList<qlonglong> previous;
        for (qsizetype i = 1; i < records.size(); ++i) {
            ASSERT_EQ(records[i].size(), qsizetype(t.fields.size())) << qPrintable(file) << i;
            QList<qlonglong> key;
            for (const QString& k : t.key)
                key.append(records[i][t.fieldNames().indexOf(k)].value_or(QString()).toLongLong());
            if (!t.key.isEmpty() && i > 1) {
                EXPECT_LT(previous, key) << qPrintable(file) << " line " << i + 1;
            }
            previous = key;
        }
    }
    // The payroll and environment tables each hold what the demo made.
    const QByteArray kanri = readAll(QDir(out).filePath(u"GKKANRI.csv"_s));
    EXPECT_TRUE(fromCp932(kanri).contains(u"202612"_s)) << kanri.toStdString();
    EXPECT_TRUE(fromCp932(readAll(QDir(out).filePath(u"名設定.csv"_s))).contains(u"令和"_s));

    // One table alone, to a file and to standard output, gives the same bytes as --all.
    test::ProgramRun one = run({u"export"_s, u"GKKYUYO"_s, u"--out"_s, u"kyuyo.csv"_s});
    ASSERT_EQ(one.code, 0) << test::outcome(one);
    EXPECT_EQ(readAll(path(u"kyuyo.csv"_s)), readAll(QDir(out).filePath(u"GKKYUYO.csv"_s)));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, dir());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(MOXDB_PROGRAM), {u"export"_s, u"GKJINJI"_s, u"--out"_s, u"-"_s});
    ASSERT_TRUE(p.waitForFinished(120'000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput(), readAll(QDir(out).filePath(u"GKJINJI.csv"_s)));
}

TEST_P(ExportCommand, QuotingNullTheEmptyTextAndDecimals)
{
    const QString awkward = u"岡田, \"ハル\"\n二行目\r三"_s;
    addEmployee(dir(), 900001, awkward, QString(), *Currency::parse(u"250000.5"));
    addEmployee(dir(), 900002, u""_s, u"E1"_s, Currency::fromYen(-3));
    test::ProgramRun r = run(
        {u"export"_s, u"GKJINJI"_s, u"--where"_s, u"SYOKCD=900001"_s, u"--out"_s, u"one.csv"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    const ExportTable& jinji = *findExportTable(u"GKJINJI"_s);
    // 36 fields: the code, the name quoted, SYOZOK NULL, then numbers, KYURYO (the twelfth) with
    // its decimal.
    QStringList rest(qsizetype(jinji.fields.size()) - 3, u"0"_s);
    rest[jinji.fieldNames().indexOf(u"KYURYO"_s) - 3] = u"250000.5"_s;
    const QByteArray expected =
        jinji.fieldNames().join(u',').toLatin1() + "\r\n" +
        toCp932(u"900001,\"岡田, \"\"ハル\"\"\n二行目\r三\",,"_s + rest.join(u',') + u"\r\n"_s);
    EXPECT_EQ(readAll(path(u"one.csv"_s)), expected);

    // The empty text is "", a negative amount keeps its sign; --where takes a text as a value.
    r = run({u"export"_s, u"GKJINJI"_s, u"--where"_s, u"SIMKNJ="_s, u"--out"_s, u"two.csv"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    QList<test::CsvRecord> records = test::parseCsv(fromCp932(readAll(path(u"two.csv"_s))));
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1][0], u"900002"_s);
    EXPECT_EQ(records[1][1], u""_s);
    EXPECT_EQ(records[1][2], u"E1"_s);
    EXPECT_EQ(records[1][jinji.fieldNames().indexOf(u"KYURYO"_s)], u"-3"_s);
    r = run({u"export"_s, u"GKJINJI"_s, u"--where"_s, u"SIMKNJ="_s + awkward, u"--where"_s,
             u"KYURYO=250000.50"_s, u"--out"_s, u"three.csv"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    records = test::parseCsv(fromCp932(readAll(path(u"three.csv"_s))));
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1][1], awkward);
}

TEST_P(ExportCommand, WhereTakesOnlyAFieldOfTheTableAndAValueOfItsKind)
{
    struct Case {
        const char* what;
        QString condition;
        QString named;
    };
    const Case cases[] = {
        {"unknown field", u"NOSUCH=1"_s, u"NOSUCH"_s},
        {"a field of another table", u"KYUSYU=1"_s, u"KYUSYU"_s},
        {"SQL in a number", u"SYOKCD=1 OR 1=1"_s, u"SYOKCD"_s},
        {"text for an amount", u"KYURYO=abc"_s, u"KYURYO"_s},
        {"no equals sign", u"SYOKCD"_s, u"SYOKCD"_s},
    };
    for (const Case& c : cases) {
        const test::ProgramRun r =
            run({u"export"_s, u"GKJINJI"_s, u"--where"_s, c.condition, u"--out"_s, u"w.csv"_s});
        EXPECT_EQ(r.code, 2) << c.what << ": " << test::outcome(r);
        EXPECT_TRUE(r.err.contains(c.named)) << c.what << ": " << test::outcome(r);
        EXPECT_FALSE(QFile::exists(path(u"w.csv"_s))) << c.what;
    }
    // A text holding quotes and SQL stays a value: it matches nobody, and nothing breaks.
    const test::ProgramRun r = run({u"export"_s, u"GKJINJI"_s, u"--where"_s,
                                    u"SIMKNJ=x' OR '1'='1"_s, u"--out"_s, u"w.csv"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    EXPECT_EQ(test::parseCsv(fromCp932(readAll(path(u"w.csv"_s)))).size(), 1);
}

TEST_P(ExportCommand, ATextCp932CannotHoldIsRefusedNamingTableKeyAndFieldWithNoFileLeft)
{
    addEmployee(dir(), 900003, u"𠮷田 花子"_s, u"E1"_s, Currency::fromYen(1));
    QFile old(path(u"GKJINJI.csv"_s));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("older export\r\n");
    old.close();

    test::ProgramRun r = run({u"export"_s, u"GKJINJI"_s});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    for (const QString& named : {u"GKJINJI"_s, u"SYOKCD=900003"_s, u"SIMKNJ"_s, u"𠮷"_s, u"CP932"_s,
                                 u"--encoding utf-8"_s})
        EXPECT_TRUE(r.err.contains(named)) << qPrintable(named) << ": " << test::outcome(r);
    EXPECT_EQ(readAll(path(u"GKJINJI.csv"_s)), "older export\r\n");
    EXPECT_EQ(writtenIn(dir()), QStringList{u"GKJINJI.csv"_s});

    // --all makes none of its files when one table cannot be written.
    r = run({u"export"_s, u"--all"_s, u"all"_s});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(u"SYOKCD=900003"_s)) << test::outcome(r);
    EXPECT_EQ(writtenIn(path(u"all"_s)), QStringList());

    // UTF-8 holds it.
    r = run({u"export"_s, u"GKJINJI"_s, u"--encoding"_s, u"utf-8"_s, u"--out"_s, u"u.csv"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    const QByteArray utf8 = readAll(path(u"u.csv"_s));
    EXPECT_TRUE(utf8.startsWith("\xEF\xBB\xBF"
                                "SYOKCD,SIMKNJ,"));
    EXPECT_TRUE(utf8.contains(u"900003,𠮷田 花子,E1,"_s.toUtf8()));
}

// Arguments export, ledger and import cannot take: each refused with exit 2, the usage and what
// was wrong, before any database is looked for.
TEST(DataCommandUsage, FaultsAreNamedWithExitTwo)
{
    struct Case {
        QStringList args;
        const char16_t* fault;
    };
    const Case cases[] = {
        {{u"export"_s}, u"テーブル名か --all DIR のどちらかを指定してください。"},
        {{u"export"_s, u"GKJINJI"_s, u"--out"_s}, u"--out には値が要ります。"},
        {{u"export"_s, u"GKJINJI"_s, u"--out"_s, u"a"_s, u"--out"_s, u"b"_s},
         u"--out は使えない指定です。"},
        {{u"export"_s, u"GKJINJI"_s, u"--encoding"_s, u"sjis"_s, u"--encoding"_s, u"utf-8"_s},
         u"--encoding「sjis」は使えません"},
        {{u"export"_s, u"--all"_s, u"d"_s, u"--where"_s, u"SYOKCD=1"_s},
         u"--all には --out と --where を付けられません。"},
        {{u"export"_s, u"GKJINJI"_s, u"GKKYUYO"_s, u"--out"_s, u"x"_s},
         u"--out はテーブルを一つだけ書き出すときに指定します。"},
        {{u"ledger"_s}, u"年度を指定してください"},
        {{u"ledger"_s, u"2026"_s, u"2027"_s}, u"年度「2027」は西暦の年"},
        {{u"ledger"_s, u"2026"_s, u"--employee"_s, u"--out"_s, u"x"_s},
         u"--employee には職員コードが要ります。"},
        {{u"ledger"_s, u"--employee"_s, u"1"_s, u"12a"_s, u"2026"_s},
         u"--employee「12a」は職員コードではありません。"},
        {{u"ledger"_s, u"2026"_s, u"--dir"_s}, u"--dir には値が要ります。"},
        {{u"import"_s, u"GKJINJI"_s, u"a.csv"_s, u"--bogus"_s}, u"unknown argument --bogus"},
        {{u"import"_s, u"--dir"_s}, u"--dir needs a value"},
        {{u"import"_s, u"GKJINJI"_s}, u"give TABLE and FILE, or --all FOLDER"},
        {{u"import"_s, u"--all"_s, u"d"_s, u"GKJINJI"_s}, u"--all takes no TABLE or FILE"},
    };
    QTemporaryDir empty; // no configuration: a command that got past its arguments would say so
    for (const Case& c : cases) {
        const test::ProgramRun r = test::runMoxdb(c.args, empty.path(), empty.path());
        const std::string args = c.args.join(u' ').toStdString();
        EXPECT_EQ(r.code, 2) << args << ": " << test::outcome(r);
        EXPECT_TRUE(r.err.contains(QString::fromUtf16(c.fault)))
            << args << ": " << test::outcome(r);
        EXPECT_TRUE(r.err.contains(u"usage: moxdb "_s + c.args.first())) << args;
    }
    EXPECT_TRUE(
        QDir(empty.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

// Where the file may not go, and a disk that fills: refused with the place named, nothing left.
TEST(ExportPlaces, RefusedPlacesAndAFileSizeLimitLeaveNoFile)
{
    test::District dir(test::Engine::Sqlite);
    ASSERT_TRUE(dir.isValid());
    const QString failed = dir.makeDemo();
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();

    const QString shared = dir.filePath(u"shared"_s);
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
    test::ProgramRun r = dir.run({u"export"_s, u"GKJINJI"_s, u"--out"_s, shared + u"/j.csv"_s});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(shared)) << test::outcome(r);
    EXPECT_EQ(QDir(shared).entryList(QDir::Files | QDir::Hidden), QStringList());

    // A link in the file's place is not followed; what it points at stays.
    const QString target = dir.filePath(u"target.txt"_s);
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("keep");
    t.close();
    ASSERT_TRUE(QFile::link(target, dir.filePath(u"link.csv"_s)));
    r = dir.run({u"export"_s, u"GKJINJI"_s, u"--out"_s, dir.filePath(u"link.csv"_s)});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(u"link.csv"_s)) << test::outcome(r);
    EXPECT_EQ(readAll(target), "keep");

    // The component's own tables are not exported.
    r = dir.run({u"export"_s, u"KORDAO_AUDIT"_s});
    EXPECT_EQ(r.code, 2) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(u"KORDAO_AUDIT"_s)) << test::outcome(r);

    // A file-size limit of 64 KiB (ulimit -f 64) for a payment table of about 190 KiB.
    const QString out = dir.filePath(u"limited"_s);
    ASSERT_TRUE(QDir().mkdir(out));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"MOX_INI_DIR"_s, dir.path());
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([] {
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(QStringLiteral(MOXDB_PROGRAM),
            {u"export"_s, u"GKKYUYO"_s, u"--out"_s, out + u"/k.csv"_s, u"--dir"_s, dir.path()});
    ASSERT_TRUE(p.waitForFinished(120'000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(u"k.csv"_s)) << err.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// The same district on the two engines gives the same files, byte for byte, from export --all
// and from ledger: the demo district and a synthetic one of 3,000 staff over two years.
TEST(ExportEngines, BothEnginesWriteTheSameBytes)
{
    if (!test::PostgresPair::serverGiven())
        GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    const QList<QStringList> districts = {
        {u"demo"_s}, {u"synth"_s, u"--staff"_s, u"3000"_s, u"--years"_s, u"2"_s}};
    for (const QStringList& make : districts) {
        test::District lite(test::Engine::Sqlite);
        test::District server(test::Engine::Postgres);
        for (test::District* d : {&lite, &server}) {
            const QString failed =
                d->make({{u"init"_s},
                         make,
                         {u"export"_s, u"--all"_s, d->filePath(u"out"_s)},
                         {u"ledger"_s, u"2026"_s, u"--out"_s, d->filePath(u"ledger.csv"_s)}});
            ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
        }
        const QByteArray ledgerLite = readAll(lite.filePath(u"ledger.csv"_s));
        EXPECT_GT(ledgerLite.count("\r\n"), 18 * 50);
        EXPECT_TRUE(ledgerLite == readAll(server.filePath(u"ledger.csv"_s)))
            << qPrintable(make.first()) << " ledger";
        for (const ExportTable& t : exportTables()) {
            const QByteArray a = readAll(QDir(lite.filePath(u"out"_s)).filePath(t.fileName()));
            const QByteArray b = readAll(QDir(server.filePath(u"out"_s)).filePath(t.fileName()));
            EXPECT_FALSE(a.isEmpty());
            EXPECT_TRUE(a == b) << qPrintable(make.first()) << " " << qPrintable(t.table) << ": "
                                << a.size() << " bytes against " << b.size();
        }
    }
}
