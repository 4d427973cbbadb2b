#include "mox030/sub_prt.h"

#include "ovl_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace mox030;
using namespace Qt::StringLiterals;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

Currency dec(const char16_t* text)
{
    return *Currency::parse(QStringView(text));
}

} // namespace

struct NumCase {
    const char* name;
    std::int64_t raw; // value scaled by 10000
    short width;
    short decimals;
    bool minus;
    bool comma;
    bool hashFill;
    bool showZero;
    const char16_t* want;
};

constexpr std::int64_t k = 10'000;

constexpr NumCase kNumCases[] = {
    {"Grouped", 45'000 * k, 8, 0, true, true, true, true, u"  45,000"},
    {"NegativeWithMinus", -800 * k, 8, 0, true, true, true, true, u"    -800"},
    {"NegativeWithoutMinus", -800 * k, 8, 0, false, true, true, true, u"     800"},
    {"ZeroShown", 0, 8, 0, true, true, true, true, u"       0"},
    {"ZeroBlank", 0, 8, 0, true, true, true, false, u"        "},
    {"BelowOneKeepsItsZero", 4'000, 8, 0, true, true, true, true, u"       0"},
    {"HalfRoundsAwayFromZero", 25'000, 8, 0, true, true, true, true, u"       3"},
    {"NegativeHalfRoundsAwayFromZero", -25'000, 8, 0, true, true, true, true, u"      -3"},
    {"ExactlyFillsTheCell", 999'999 * k, 8, 0, true, true, true, true, u" 999,999"},
    {"WidthTenFitsSevenDigits", 1'234'567 * k, 10, 0, true, true, true, true, u" 1,234,567"},
    {"WidthNineFitsSevenDigits", 9'999'999 * k, 9, 0, true, true, true, true, u"9,999,999"},
    {"TooWideDropsSeparators", 1'234'567 * k, 8, 0, true, true, true, true, u" 1234567"},
    {"TooWideNegativeDropsSeparators", -1'234'567 * k, 8, 0, true, true, true, true, u"-1234567"},
    {"EightDigitsFillWidthEight", 99'999'999 * k, 8, 0, true, true, true, true, u"99999999"},
    {"NineDigitsMarkTheCell", 123'456'789 * k, 8, 0, true, true, true, true, u"********"},
    {"TooWideForWidthTen", 12'345'678'901 * k, 10, 0, true, true, true, true, u"**********"},
    {"NoGroupingInANarrowCell", 999 * k, 3, 0, true, true, true, true, u"999"},
    {"NoCommaRequested", 1'234'567 * k, 8, 0, true, false, true, true, u" 1234567"},
    {"Decimals", 12'345'000, 10, 2, true, true, true, true, u"  1,234.50"},
    {"CellNarrowerThanItsDecimals", 15'000, 3, 2, true, true, true, true, u"***"},
    {"ZeroFill", 42 * k, 6, 0, true, true, false, true, u"00,042"},
};

class OvlNum : public testing::TestWithParam<NumCase> {};

TEST_P(OvlNum, FormatsTheCell)
{
    const NumCase& c = GetParam();
    const QString got = prfOvlNum(Currency::fromRaw(c.raw), c.width, c.decimals, c.minus, c.comma,
                                  c.hashFill, c.showZero);
    EXPECT_EQ(got, QString::fromUtf16(c.want)) << got.toStdString();
}

INSTANTIATE_TEST_SUITE_P(All, OvlNum, testing::ValuesIn(kNumCases),
                         [](const auto& p) { return std::string(p.param.name); });

class OvlFile : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_prt.setPrtPath(m_dir.path());
    }
    QString path() const { return m_dir.filePath(u"OVL.TMP"_s); }

    QTemporaryDir m_dir;
    SUB_PRT m_prt;
};

TEST_F(OvlFile, WritesEveryCommandInCp932WithCrLf)
{
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlCr(yen(15), yen(6));
    m_prt.prsOvlPage();
    m_prt.prsOvlText(yen(12), dec(u"5.5"), 3, Currency(), 100, 100, u"個人"_s);
    m_prt.prsOvlText(yen(175), dec(u"50.5"), 3, Currency(), 100, 100, u"        "_s);
    m_prt.prsOvlText(dec(u"1.25"), dec(u"0.09"), 3, Currency(), 100, 100, QString());
    m_prt.prsOvlPage();
    m_prt.prsOvlEnd();
    ASSERT_TRUE(m_prt.status().ok());

    const QByteArray want = "ST 011001\r\n"
                            "CR 15063\r\n"
                            "PE \r\n"
                            "TE 0120005530100100\x8c\xc2\x90\x6c\r\n"
                            "TE 1750050530100100        \r\n"
                            "TE 0012000030100100\r\n"
                            "PE \r\n"
                            "ED \r\n";
    EXPECT_EQ(mox030test::readBytes(path()), want);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{u"OVL.TMP"_s});
}

// A text operand runs to the end of its line: a line feed in a name would start a forged
// command, and a byte sequence outside code page 932 would make the whole file unreadable.
TEST_F(OvlFile, TextOperandsAreCleanedAndCounted)
{
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlPage();
    QString forged = u"山田\nTE 1830051530100100  999,999\r\nED \t"_s;
    forged += QChar(0x7F);
    forged += QChar(0x85);
    m_prt.prsOvlText(yen(35), dec(u"6.5"), 3, Currency(), 100, 100, forged);
    // A surrogate pair counts as one character; a lone surrogate is one too.
    QString foreign = u"\U00020BB7野 \u00E9"_s;
    foreign += QChar(0xD800);
    foreign += u"①ｱ～"_s;
    m_prt.prsOvlText(yen(20), dec(u"6.5"), 3, Currency(), 100, 100, foreign);
    m_prt.prsOvlText(yen(166), dec(u"6.5"), 3, Currency(), 100, 100, u"髙橋﨑"_s);
    m_prt.prsOvlEnd();
    ASSERT_TRUE(m_prt.status().ok());
    EXPECT_EQ(m_prt.blankedChars(), 6);
    EXPECT_EQ(m_prt.replacedChars(), 3);

    const QByteArray want =
        "ST 011001\r\n"
        "PE \r\n"
        "TE 0350006530100100\x8e\x52\x93\x63 TE 1830051530100100  999,999  ED    \r\n"
        "TE 0200006530100100\x81\x48\x96\xec \x81\x48\x81\x48\x87\x40\xb1\x81\x60\r\n";
    const QByteArray got = mox030test::readBytes(path());
    EXPECT_EQ(got.left(want.size()).toHex(' ').toStdString(), want.toHex(' ').toStdString());
    const QStringList lines = mox030test::readLines(path());
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[4], u"TE 1660006530100100髙橋﨑"_s);
    EXPECT_EQ(lines[5], u"ED "_s);

    // The next run counts afresh.
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlText(yen(1), yen(1), 3, Currency(), 100, 100, u"鈴木"_s);
    m_prt.prsOvlEnd();
    EXPECT_EQ(m_prt.blankedChars(), 0);
    EXPECT_EQ(m_prt.replacedChars(), 0);
}

TEST_F(OvlFile, OldFileIsReplacedOnlyByACompleteOne)
{
    {
        QFile old(path());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
    }
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlCr(yen(15), yen(6));
    EXPECT_EQ(mox030test::readBytes(path()), QByteArray("old\r\n"));
    m_prt.prsOvlEnd();
    EXPECT_EQ(mox030test::readBytes(path()), QByteArray("ST 011001\r\nCR 15063\r\nED \r\n"));
}

// The file holds salaries: readable by its owner alone, also when it replaces one that others
// could read.
TEST_F(OvlFile, FileIsReadableByItsOwnerOnly)
{
    {
        QFile old(path());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        ASSERT_TRUE(old.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlEnd();
    ASSERT_TRUE(m_prt.status().ok());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777u, 0600u);
}

// Another local user's link or file in the place of OVL.TMP, or a folder open to others' writing:
// the run writes nothing, names the file or folder, and the link's target keeps its content.
TEST_F(OvlFile, RefusesALinkAFileOfAnotherUserAndAFolderOthersCanWrite)
{
    QTemporaryDir victimDir;
    const QString victim = victimDir.filePath(u"important.txt"_s);
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("mine\n");
    }
    ASSERT_TRUE(QFile::link(victim, path()));
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlEnd();
    EXPECT_FALSE(m_prt.status().ok());
    EXPECT_TRUE(m_prt.status().message.contains(u"シンボリックリンク"_s))
        << m_prt.status().message.toStdString();
    EXPECT_EQ(mox030test::readBytes(victim), QByteArray("mine\n"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{u"OVL.TMP"_s});
    ASSERT_TRUE(QFile::remove(path()));

    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0777), 0);
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlEnd();
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0700), 0);
    EXPECT_FALSE(m_prt.status().ok());
    EXPECT_TRUE(m_prt.status().message.contains(m_dir.path()));
    EXPECT_FALSE(QFile::exists(path()));

    if (::geteuid() != 0)
        GTEST_SKIP() << "a file of another user needs root";
    {
        QFile planted(path());
        ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
        planted.write("planted\r\n");
    }
    ASSERT_EQ(::chown(QFile::encodeName(path()).constData(), 65534, 65534), 0);
    m_prt.prsOvlStart(11, 1);
    m_prt.prsOvlEnd();
    EXPECT_FALSE(m_prt.status().ok());
    EXPECT_TRUE(m_prt.status().message.contains(u"ほかのユーザー"_s));
    EXPECT_EQ(mox030test::readBytes(path()), QByteArray("planted\r\n"));
}

TEST_F(OvlFile, MissingFolderIsReportedAndLaterCallsDoNothing)
{
    m_prt.setPrtPath(m_dir.filePath(u"missing"_s));
    m_prt.prsOvlStart(11, 1);
    EXPECT_FALSE(m_prt.status().ok());
    EXPECT_TRUE(m_prt.status().message.contains(u"OVL.TMP"_s));
    m_prt.prsOvlPage();
    m_prt.prsOvlEnd();
    EXPECT_FALSE(m_prt.status().ok());
    EXPECT_FALSE(QFile::exists(m_dir.filePath(u"missing/OVL.TMP"_s)));
}

TEST_F(OvlFile, WritesBeforeTheStartAreIgnored)
{
    m_prt.prsOvlPage();
    m_prt.prsOvlEnd();
    EXPECT_TRUE(m_prt.status().ok());
    EXPECT_FALSE(QFile::exists(path()));
}
