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
