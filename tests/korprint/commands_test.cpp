#include "commands.h"
#include "korprint/korprint.h"
#include "printjob.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPdfWriter>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include <unistd.h>

using namespace Qt::StringLiterals;
using korprint::Command;
using korprint::CommandKind;

namespace {

QByteArray sjis(const QString& s)
{
    QStringEncoder enc("cp932");
    return enc.encode(s);
}

TEST(CommandParse, LedgerLines)
{
    Command c;
    EXPECT_EQ(korprint::parseCommand("ST 011001", c), QString());
    EXPECT_EQ(c.kind, CommandKind::Start);
    EXPECT_EQ(c.paper, 11);
    EXPECT_EQ(c.copies, 1);

    EXPECT_EQ(korprint::parseCommand("CR 15063", c), QString());
    EXPECT_EQ(c.kind, CommandKind::Setup);
    EXPECT_EQ(c.cpi, 15);
    EXPECT_EQ(c.lpi, 6);

    EXPECT_EQ(korprint::parseCommand("PE ", c), QString());
    EXPECT_EQ(c.kind, CommandKind::Page);
    EXPECT_EQ(korprint::parseCommand("ED ", c), QString());
    EXPECT_EQ(c.kind, CommandKind::End);

    // A text beginning with digits is not taken for operands: the operands have fixed widths.
    EXPECT_EQ(korprint::parseCommand("TE 03500055301001000001234", c), QString());
    EXPECT_EQ(c.kind, CommandKind::Text);
    EXPECT_EQ(c.x, 350);
    EXPECT_EQ(c.y, 55);
    EXPECT_EQ(c.hScale, 100);
    EXPECT_EQ(c.vScale, 100);
    EXPECT_EQ(c.text, u"0001234"_s);
}

TEST(CommandParse, TextKeepsBlanksAndDecodesCp932)
{
    Command c;
    EXPECT_EQ(korprint::parseCommand("TE 1910051530100100        ", c), QString());
    EXPECT_EQ(c.text, u"        "_s);

    const QByteArray line = "TE 0350006530100100" + sjis(u"山田　太郎"_s);
    EXPECT_EQ(line.size(), 19 + 10); // five full-width characters, two bytes each
    EXPECT_EQ(korprint::parseCommand(line, c), QString());
    EXPECT_EQ(c.text, u"山田　太郎"_s);

    EXPECT_EQ(korprint::parseCommand("TE 0350006530100100", c), QString());
    EXPECT_TRUE(c.text.isEmpty());
}

TEST(CommandParse, RulesAndBoxes)
{
    Command c;
    EXPECT_EQ(korprint::parseCommand("LN 00100095201000952", c), QString());
    EXPECT_EQ(c.kind, CommandKind::Line);
    EXPECT_EQ(c.x, 10);
    EXPECT_EQ(c.y, 95);
    EXPECT_EQ(c.x2, 2010);
    EXPECT_EQ(c.y2, 95);
    EXPECT_EQ(c.weight, 2);
    EXPECT_EQ(korprint::parseCommand("BX 00100075201003553", c), QString());
    EXPECT_EQ(c.kind, CommandKind::Box);
    EXPECT_EQ(c.y2, 355);
}

TEST(CommandParse, RefusesMalformedLines)
{
    const char* const bad[] = {
        "ST011001",             // no blank after the code
        "ST 01100",             // operand cut short
        "ST 0110x1",            // not a digit
        "ST 011000",            // no copies
        "ST 0110011",           // trailing operand
        "CR 1506",              // font missing
        "CR 15062",             // a font that does not exist
        "CR 00063",             // no columns per inch
        "PE x",                 // page takes no operand
        "TE 01200055301001",    // operands cut short
        "TE 0120005520100100X", // font 2
        "TE 0120005531100100X", // rotated text
        "TE 0120005530000100X", // zero scale
        "LN 0010009520100095",  // weight missing
        "LN 00100095201000950", // weight zero
        "XX 000",               // unknown code
        "te 0120005530100100X", // codes are upper case
    };
    for (const char* line : bad) {
        Command c;
        EXPECT_FALSE(korprint::parseCommand(line, c).isEmpty()) << line;
    }
    Command c;
    const QByteArray cutKanji = "TE 0120005530100100" + sjis(u"山"_s).left(1);
    EXPECT_FALSE(korprint::parseCommand(cutKanji, c).isEmpty());
}

TEST(CommandParse, ColumnsOfText)
{
    EXPECT_EQ(korprint::textColumns(u"   12,345"), 9);
    EXPECT_EQ(korprint::textColumns(u"山田　太郎"), 10);
    EXPECT_EQ(korprint::textColumns(u"(ｶﾅ小)"), 6); // half-width katakana take one column
    EXPECT_EQ(korprint::textColumns(u"令和 8年"), 8);
}

class CommandFileCheck : public testing::Test {
protected:
    QString write(const QByteArray& content)
    {
        const QString path = m_dir.filePath(u"OVL.TMP"_s);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }
    // The failure of a command file, or an empty status when the file passes.
    mox::Status check(const QByteArray& content)
    {
        mox::Result<korprint::JobSetup> r = korprint::checkCommandFile(write(content));
        if (const mox::Status* s = mox::failure(r))
            return *s;
        return mox::Status::success();
    }
    QTemporaryDir m_dir;
};

TEST_F(CommandFileCheck, CountsPagesOfAWellFormedFile)
{
    mox::Result<korprint::JobSetup> r = korprint::checkCommandFile(
        write("ST 011002\r\nCR 15063\r\nPE \r\nTE 0120005530100100X\r\n\r\nPE \r\nED \r\n"));
    ASSERT_EQ(mox::failure(r), nullptr);
    EXPECT_EQ(mox::value(r).pages, 2);
    EXPECT_EQ(mox::value(r).copies, 2);
    EXPECT_EQ(mox::value(r).paper, 11);
    EXPECT_EQ(mox::value(r).cpi, 15);
}

TEST_F(CommandFileCheck, RefusesBrokenStructureNamingTheLine)
{
    struct Case {
        const char* name;
        QByteArray content;
        QString line;
    };
    const Case cases[] = {
        {"cut off before ED", "ST 011001\r\nCR 15063\r\nPE \r\nTE 0120005530100100X\r\n",
         u"4 行目"_s},
        {"text before the first page", "ST 011001\r\nCR 15063\r\nTE 0120005530100100X\r\n",
         u"3 行目"_s},
        {"no start line", "CR 15063\r\nPE \r\nED \r\n", u"1 行目"_s},
        {"line after the end", "ST 011001\r\nCR 15063\r\nPE \r\nED \r\nPE \r\n", u"5 行目"_s},
        {"grid changed inside the job", "ST 011001\r\nCR 15063\r\nPE \r\nCR 10063\r\nED \r\n",
         u"4 行目"_s},
        {"unknown paper", "ST 099001\r\nCR 15063\r\nPE \r\nED \r\n", u"1 行目"_s},
        {"page without set-up", "ST 011001\r\nPE \r\nED \r\n", u"2 行目"_s},
        {"garbage line", "ST 011001\r\nCR 15063\r\nPE \r\nhello\r\nED \r\n", u"4 行目"_s},
    };
    for (const Case& c : cases) {
        const mox::Status s = check(c.content);
        EXPECT_EQ(s.code, korprint::CommandFileMalformed) << c.name;
        EXPECT_TRUE(s.message.contains(c.line)) << c.name << ": " << s.message.toStdString();
    }
    // A run that printed nothing has no page to render.
    EXPECT_EQ(check("ST 011001\r\nCR 15063\r\nED \r\n").code, korprint::CommandFileMalformed);
}

TEST(CommandFileMissing, IsReportedAsMissing)
{
    QTemporaryDir dir;
    mox::Result<korprint::JobSetup> r = korprint::checkCommandFile(dir.filePath(u"OVL.TMP"_s));
    ASSERT_NE(mox::failure(r), nullptr);
    EXPECT_EQ(mox::failure(r)->code, korprint::CommandFileMissing);
}

// The pages come from the command file that was checked: one renamed into its place in between
// (by another user, say) is refused before a page is drawn.
TEST(CommandFileSwapped, IsRefusedWhenRendering)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"OVL.TMP"_s);
    const QByteArray good = "ST 011001\r\nCR 15063\r\nPE \r\nLN 00100010010000101\r\nED \r\n";
    for (const QString& name : {path, dir.filePath(u"other"_s)}) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(good);
    }
    mox::Result<korprint::JobSetup> setup = korprint::checkCommandFile(path);
    ASSERT_EQ(mox::failure(setup), nullptr);
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath(u"other"_s)).constData(),
                       QFile::encodeName(path).constData()),
              0);

    QBuffer out;
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    QPdfWriter writer(&out);
    writer.setPageLayout(korprint::pageLayoutFor(mox::value(setup).paper));
    const mox::Status s = korprint::renderPages(path, {}, mox::value(setup), writer);
    EXPECT_EQ(s.code, korprint::CommandFileMissing);
    EXPECT_TRUE(s.message.contains(u"OVL.TMP"_s)) << s.message.toStdString();
}

TEST(CommandFileMissing, IsALinkOrAnotherUsersFile)
{
    QTemporaryDir dir;
    const QString real = dir.filePath(u"real"_s);
    {
        QFile f(real);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("ST 011001\r\nCR 15063\r\nPE \r\nED \r\n");
    }
    const QString path = dir.filePath(u"OVL.TMP"_s);
    ASSERT_TRUE(QFile::link(real, path));
    mox::Result<korprint::JobSetup> r = korprint::checkCommandFile(path);
    ASSERT_NE(mox::failure(r), nullptr);
    EXPECT_EQ(mox::failure(r)->code, korprint::CommandFileMissing);

    if (::geteuid() != 0)
        GTEST_SKIP() << "a file of another user needs root";
    ASSERT_EQ(::chown(QFile::encodeName(real).constData(), 65534, 65534), 0);
    r = korprint::checkCommandFile(real);
    ASSERT_NE(mox::failure(r), nullptr);
    EXPECT_TRUE(mox::failure(r)->message.contains(u"ほかのユーザー"_s));
}

} // namespace
