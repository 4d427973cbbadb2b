// The command dispatcher and the option parser shared by the sub-commands.
#include "moxdb/command.h"
#include "moxdb/progress.h"

#include <cstdio>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

int lastRun = 0;
QStringList lastArgs;

int first(const QStringList& args, QTextStream&, QTextStream&)
{
    lastRun = 1;
    lastArgs = args;
    return 0;
}

int second(const QStringList&, QTextStream&, QTextStream&)
{
    lastRun = 2;
    return 7;
}

const Command kCommands[] = {{u"one"_s, u"[--x X]"_s, u"first"_s, &first},
                             {u"two"_s, QString(), u"second"_s, &second}};

struct Outcome {
    int code;
    QString out;
    QString err;
};

Outcome run(const QStringList& args)
{
    Outcome r;
    QTextStream out(&r.out);
    QTextStream err(&r.err);
    lastRun = 0;
    r.code = dispatch(kCommands, args, out, err);
    out.flush();
    err.flush();
    return r;
}

} // namespace

TEST(MoxdbDispatch, RunsTheNamedCommandWithTheRest)
{
    Outcome r = run({u"two"_s});
    EXPECT_EQ(r.code, 7);
    EXPECT_EQ(lastRun, 2);
    r = run({u"one"_s, u"--x"_s, u"5"_s});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(lastArgs, (QStringList{u"--x"_s, u"5"_s}));
}

TEST(MoxdbDispatch, HelpAndUnknownCommands)
{
    for (const QStringList& args : {QStringList{}, QStringList{u"help"_s}, {u"--help"_s}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(lastRun, 0);
        EXPECT_TRUE(r.out.contains(u"moxdb one [--x X]"_s));
        EXPECT_TRUE(r.out.contains(u"moxdb two"_s));
    }
    const Outcome r = run({u"three"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(lastRun, 0);
    EXPECT_TRUE(r.err.contains(u"unknown command three"_s));
}

TEST(MoxdbOptions, ValuesSwitchesAndErrors)
{
    Options o({u"--staff"_s, u"30000"_s, u"--force"_s}, {u"--staff"_s, u"--years"_s},
              {u"--force"_s});
    ASSERT_TRUE(o.ok());
    EXPECT_TRUE(o.has(u"--force"_s));
    EXPECT_EQ(o.number(u"--staff"_s, 1, 1, 90'000), 30'000);
    EXPECT_EQ(o.number(u"--years"_s, 3, 1, 30), 3);
    EXPECT_TRUE(o.ok());

    Options range({u"--years"_s, u"0"_s}, {u"--years"_s});
    EXPECT_EQ(range.number(u"--years"_s, 3, 1, 30), 3);
    EXPECT_FALSE(range.ok());
    Options text({u"--years"_s, u"ten"_s}, {u"--years"_s});
    (void)text.number(u"--years"_s, 3, 1, 30);
    EXPECT_FALSE(text.ok());

    EXPECT_FALSE(Options({u"--staff"_s}, {u"--staff"_s}).ok());
    const Options unknown({u"--stuff"_s, u"1"_s}, {u"--staff"_s});
    EXPECT_FALSE(unknown.ok());
    EXPECT_TRUE(unknown.error().contains(u"--stuff"_s));
}

// The options of a command like "moxdb bonus run [--employee N…] [--dry-run] [--tokkbn K] FILE…".
const OptionNames kListNames{.withValue = {u"--tokkbn"_s, u"--out"_s},
                             .switches = {u"--dry-run"_s},
                             .withValues = {u"--employee"_s},
                             .positional = true};

TEST(MoxdbOptions, PositionalArgumentsAndListsOfValues)
{
    struct Case {
        const char* name;
        QStringList args;
        QStringList positional;
        QStringList employees;
        QString out;
    };
    const Case cases[] = {
        {"PositionalAroundOptions",
         {u"a"_s, u"--dry-run"_s, u"b"_s, u"--out"_s, u"o.csv"_s, u"c"_s},
         {u"a"_s, u"b"_s, u"c"_s},
         {},
         u"o.csv"_s},
        {"ListUpToTheNextOption",
         {u"--employee"_s, u"10025"_s, u"10026"_s, u"--dry-run"_s, u"x"_s},
         {u"x"_s},
         {u"10025"_s, u"10026"_s},
         {}},
        {"ListToTheEndTakesWhatLooksPositional",
         {u"2026"_s, u"--employee"_s, u"1"_s, u"2026"_s},
         {u"2026"_s},
         {u"1"_s, u"2026"_s},
         {}},
        {"ListGivenTwiceJoins",
         {u"--employee"_s, u"1"_s, u"--employee"_s, u"2"_s, u"3"_s},
         {},
         {u"1"_s, u"2"_s, u"3"_s},
         {}},
        {"AValueMayLookLikeAnOption",
         {u"--out"_s, u"--employee"_s, u"-"_s},
         {u"-"_s},
         {},
         u"--employee"_s},
        {"ADashAloneIsPositional", {u"-"_s, u"-x"_s}, {u"-"_s, u"-x"_s}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Options o(c.args, kListNames);
        ASSERT_TRUE(o.ok()) << o.error().toStdString();
        EXPECT_EQ(o.positional(), c.positional);
        EXPECT_EQ(o.values(u"--employee"_s), c.employees);
        EXPECT_EQ(o.has(u"--employee"_s), !c.employees.isEmpty());
        EXPECT_EQ(o.value(u"--out"_s), c.out);
    }
}

TEST(MoxdbOptions, FaultsNameTheArgument)
{
    struct Case {
        const char* name;
        QStringList args;
        Options::Fault fault;
        QString argument;
        const char16_t* japanese;
    };
    const Case cases[] = {
        {"UnknownOption",
         {u"a"_s, u"--help"_s},
         Options::Fault::Unknown,
         u"--help"_s,
         u"--help は使えない指定です。"},
        {"UnknownBeforeAList",
         {u"--employee"_s, u"1"_s, u"--stuff"_s, u"2"_s},
         Options::Fault::Unknown,
         u"--stuff"_s,
         u"--stuff は使えない指定です。"},
        {"ValueMissingAtTheEnd",
         {u"x"_s, u"--out"_s},
         Options::Fault::NoValue,
         u"--out"_s,
         u"--out には値が要ります。"},
        {"ListWithoutAValue",
         {u"--employee"_s, u"--dry-run"_s},
         Options::Fault::NoValue,
         u"--employee"_s,
         u"--employee には値が要ります。"},
        {"ListWithoutAValueAtTheEnd",
         {u"--employee"_s},
         Options::Fault::NoValue,
         u"--employee"_s,
         u"--employee には値が要ります。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Options o(c.args, kListNames);
        EXPECT_FALSE(o.ok());
        EXPECT_EQ(o.fault(), c.fault);
        EXPECT_EQ(o.faultArgument(), c.argument);
        EXPECT_TRUE(o.error().contains(c.argument)) << o.error().toStdString();
        EXPECT_EQ(optionFaultText(o), QString::fromUtf16(c.japanese));
    }
    // Without positional arguments accepted, a bare word is refused as before.
    const Options bare({u"--dir"_s, u"d"_s, u"extra"_s}, {u"--dir"_s});
    EXPECT_EQ(bare.fault(), Options::Fault::Unknown);
    EXPECT_EQ(bare.faultArgument(), u"extra"_s);
    EXPECT_TRUE(bare.positional().isEmpty());
}

TEST(MoxdbOptions, RepeatedValuesAreKeptInOrderTheLastWins)
{
    const Options o({u"--out"_s, u"a"_s, u"--dry-run"_s, u"--out"_s, u"b"_s, u"--tokkbn"_s, u"1"_s},
                    kListNames);
    ASSERT_TRUE(o.ok());
    EXPECT_EQ(o.values(u"--out"_s), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(o.value(u"--out"_s), u"b"_s);
    EXPECT_EQ(repeatedOption(o, {u"--tokkbn"_s, u"--out"_s}), u"--out"_s);
    EXPECT_EQ(repeatedOption(o, {u"--tokkbn"_s, u"--dry-run"_s}), QString());
    EXPECT_TRUE(o.has(u"--dry-run"_s));
    EXPECT_EQ(o.value(u"--dry-run"_s, u"x"_s), u"x"_s); // a switch holds no value
}

namespace {

QByteArray readAll(std::FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buf[256];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        bytes.append(buf, static_cast<qsizetype>(n));
    return bytes;
}

} // namespace

TEST(MoxdbProgress, DrawsInPlaceAndEndsWithTheLastFigure)
{
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        TerminalProgress p(u"給与データ"_s, u"件"_s, 3'967'366, f, /*force=*/true);
        p.advance(1'234'566);
        p.advance();
        p.finish();
        p.advance(5); // after the end: nothing more
    }
    const QString text = QString::fromLocal8Bit(readAll(f));
    std::fclose(f);
    EXPECT_TRUE(text.startsWith(u'\r'));
    EXPECT_TRUE(text.endsWith(u"\r給与データ 1,234,567 / 3,967,366 件 (31%)\033[K\n"_s))
        << text.toStdString();
    EXPECT_EQ(text.count(u'\n'), 1);
}

TEST(MoxdbProgress, SilentWhenNotATerminal)
{
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        TerminalProgress p(u"デモデータ"_s, u"件"_s, 10, f);
        p.advance(10);
    }
    EXPECT_TRUE(readAll(f).isEmpty());
    std::fclose(f);
}

TEST(MoxdbProgress, LineBeyondOrWithoutAnEstimate)
{
    const TerminalProgress estimated(u"給与データ"_s, u"件"_s, 200, nullptr);
    EXPECT_EQ(estimated.line(0), u"給与データ 0 / 200 件 (0%)"_s);
    EXPECT_EQ(estimated.line(199), u"給与データ 199 / 200 件 (99%)"_s);
    EXPECT_EQ(estimated.line(250), u"給与データ 250 / 200 件 (100%)"_s);
    const TerminalProgress open(u"税額表"_s, u"段階"_s, 0, nullptr);
    EXPECT_EQ(open.line(3), u"税額表 3 段階"_s);
}
