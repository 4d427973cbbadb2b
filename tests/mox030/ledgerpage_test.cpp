#include "mox030/ledgerpage.h"
#include "mox030/sub_prt.h"

#include "ovl_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mox030;
using namespace Qt::StringLiterals;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

// The text lines of one page, keyed by their eight position digits.
class PageLines {
public:
    explicit PageLines(const QStringList& lines)
    {
        for (const QString& l : lines) {
            if (!l.startsWith(u"TE "_s))
                continue;
            m_count++;
            m_texts.insert(l.mid(3, 8), l.mid(19));
            EXPECT_EQ(l.mid(11, 8), u"30100100"_s) << l.toStdString();
        }
    }
    // The text at column x and line y (in tenths), e.g. at(175, 265).
    QString at(int x10, int y10) const
    {
        const QString key = QString::number(x10).rightJustified(4, u'0') +
                            QString::number(y10).rightJustified(4, u'0');
        return m_texts.value(key, u"<none>"_s);
    }
    int count() const { return m_count; }
    bool has(int x10, int y10) const { return at(x10, y10) != u"<none>"_s; }

private:
    QHash<QString, QString> m_texts;
    int m_count = 0;
};

class LedgerPage : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_prt.setPrtPath(m_dir.path());
        m_prt.prsOvlStart(11, 1);
    }
    PageLines finish()
    {
        m_prt.prsOvlEnd();
        EXPECT_TRUE(m_prt.status().ok());
        return PageLines(mox030test::readLines(m_dir.filePath(u"OVL.TMP"_s)));
    }

    QTemporaryDir m_dir;
    SUB_PRT m_prt;
};

} // namespace

TEST(LedgerLinePos, PrintedRowsAndTheRest)
{
    EXPECT_EQ(prfLinePos(1), *Currency::parse(u"11.5"));
    EXPECT_EQ(prfLinePos(9), *Currency::parse(u"27.5"));
    EXPECT_EQ(prfLinePos(12), *Currency::parse(u"33.5"));
    EXPECT_EQ(prfLinePos(13), *Currency::parse(u"35.5"));
    EXPECT_EQ(prfLinePos(14), *Currency::parse(u"39.5"));
    EXPECT_EQ(prfLinePos(15), *Currency::parse(u"41.5"));
    EXPECT_EQ(prfLinePos(17), *Currency::parse(u"43.5"));
    EXPECT_EQ(prfLinePos(18), *Currency::parse(u"47.5"));
    EXPECT_EQ(prfLinePos(19), *Currency::parse(u"51.5"));
    for (int r : {0, 16, 20, -1})
        EXPECT_EQ(prfLinePos(r), Currency()) << r;
}

TEST_F(LedgerPage, HeaderTextsAndTheirPositions)
{
    SyokuMei names;
    names[3] = u"教諭"_s + QString(18, u' ');
    LedgerHeader h{u"令和  6 年"_s, 1234, 3, u"山田　太郎"_s, u"教育委員会"_s, u"本庁"_s};
    prsPrint_Header(m_prt, h, names);
    h.SYOSYU = 11;
    h.SYOZOKU.clear();
    prsPrint_Header(m_prt, h, names);
    m_prt.prsOvlEnd();
    const QStringList lines = mox030test::readLines(m_dir.filePath(u"OVL.TMP"_s));
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[1], u"TE 0120005530100100令和  6 年"_s);
    EXPECT_EQ(lines[2], u"TE 0350005530100100"_s + u"0001234"_s);
    EXPECT_EQ(lines[3], u"TE 0200006530100100教諭"_s + QString(18, u' '));
    EXPECT_EQ(lines[4], u"TE 0350006530100100山田　太郎"_s);
    EXPECT_EQ(lines[5], u"TE 1660006530100100教育委員会"_s);
    EXPECT_EQ(lines[6], u"TE 1880006530100100(本庁)"_s);
    EXPECT_EQ(lines[9], u"TE 0200006530100100"_s + QString(20, u' '));
    EXPECT_EQ(lines[12], u"TE 1880006530100100()"_s);
}

TEST_F(LedgerPage, RowsWithoutDataStayBlankWhileTotalsShowZero)
{
    Ruikei g;
    g.row(1).DataFlag = true;
    g.row(1).Kin(1) = yen(312'400);
    g.row(1).Kin(5) = yen(-800);
    prsPrint_Meisai(m_prt, g);
    const PageLines p = finish();

    // 15 rows with both groups (18 cells, 2 year-end cells, 9 cells), 3 rows of group B only.
    EXPECT_EQ(p.count(), 15 * 29 + 3 * 9);
    EXPECT_EQ(p.at(130, 115), u"   312,400"_s);
    EXPECT_EQ(p.at(470, 105), u"    -800"_s);
    EXPECT_EQ(p.at(230, 115), u"       0"_s); // April has data: its zeros show
    EXPECT_EQ(p.at(230, 135), u"        "_s); // May has none: blanks
    EXPECT_EQ(p.at(1910, 135), u"          "_s);
    EXPECT_EQ(p.at(1750, 125), u"        "_s);
    for (int y10 : {355, 435, 515})
        EXPECT_EQ(p.at(1910, y10), u"         0"_s) << y10;
    // Bonus rows and their total carry group B only.
    EXPECT_FALSE(p.has(130, 395));
    EXPECT_FALSE(p.has(1750, 425));
    EXPECT_EQ(p.at(1220, 425), u"        0"_s);
    // Nothing between the bonus total and the separate row: row 16 is not printed.
    EXPECT_FALSE(p.has(130, 455));
}

TEST_F(LedgerPage, NegativeYearEndFigureMovesIntoTheDeductions)
{
    Ruikei g;
    RuikeiRow& dec = g.row(9);
    dec.DataFlag = true;
    dec.Kin(22) = yen(300'000);
    dec.Kin(28) = yen(-1'200);
    dec.Kin(29) = yen(50'000);
    dec.Kin(30) = yen(250'000);
    RuikeiRow& jan = g.row(10);
    jan.DataFlag = true;
    jan.Kin(22) = yen(300'000);
    jan.Kin(28) = yen(1'200);
    jan.Kin(29) = yen(50'000);
    jan.Kin(30) = yen(250'000);
    RuikeiRow& annual = g.row(19);
    annual.Kin(22) = yen(600'000);
    annual.Kin(28) = yen(-1'200);
    annual.Kin(29) = yen(101'200);
    annual.Kin(30) = yen(498'800);
    prsPrint_Meisai(m_prt, g);
    const PageLines p = finish();

    EXPECT_EQ(p.at(1750, 265), u"       0"_s);
    EXPECT_EQ(p.at(1750, 275), u"   1,200"_s);
    EXPECT_EQ(p.at(1830, 275), u"  51,200"_s);
    EXPECT_EQ(p.at(1910, 275), u"   248,800"_s);
    EXPECT_EQ(dec.Kin(29), yen(51'200));

    EXPECT_EQ(p.at(1750, 285), u"   1,200"_s);
    EXPECT_EQ(p.at(1750, 295), u"       0"_s);
    EXPECT_EQ(p.at(1830, 295), u"  50,000"_s);
    EXPECT_EQ(p.at(1910, 295), u"   250,000"_s);

    // Row 19 was rebuilt with the figure already; it is printed as it stands.
    EXPECT_EQ(p.at(1750, 515), u"   1,200"_s);
    EXPECT_EQ(p.at(1830, 515), u" 101,200"_s);
    EXPECT_EQ(p.at(1910, 515), u"   498,800"_s);
}
