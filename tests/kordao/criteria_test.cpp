#include "daofixture.h"

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

class Criteria : public DaoTest {
protected:
    void SetUp() override
    {
        DaoTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        addPayment(123, 1, 202611, 1, 300000);
        addPayment(123, 4, 202611, 1, 5000);
        addPayment(123, 1, 202611, 2, 7000);
        addPayment(123, 2, 202612, 0, 800000);
        addPayment(123, 1, 202604, 1, 300000);
        addPayment(123, 1, 202703, 1, 300000);
        addPayment(123, 1, 202704, 1, 300000);
        addPayment(456, 1, 202611, 1, 250000);
        ASSERT_TRUE(m_test->rawExec(u"INSERT INTO \"GKKANRI\" (\"KEY\", \"SYORID\", \"GKNAME\") "
                                    "VALUES ('KANRI', 202612, 'O''Brien')"_s));
        ASSERT_TRUE(m_test->rawExec(
            u"INSERT INTO \"GKJINJI\" (\"SYOKCD\", \"SIMKNJ\") VALUES (123, '山田 太郎')"_s));
    }

    // Everything is still there: 8 payments, the management record and the employee.
    void expectUntouched()
    {
        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s, 8);
        openTable(tb, u"GKKANRI"_s, 1);
        openTable(tb, u"GKJINJI"_s, 1);
    }
};
KORDAO_INSTANTIATE(Criteria);

TEST_P(Criteria, EveryTextTheProgramsWriteSelectsItsRecords)
{
    struct Case {
        const char16_t* filter;
        const char16_t* sort;
        QStringList keys;
    };
    const Case cases[] = {
        {u"KYUSYU = 2 And SKYUYM = 202612 And SYOKCD = 123", u"", {u"123/2/202612/0"_s}},
        {u"SYOKCD = 123 AND KYUSYU in(1,4) AND SKYUYM = 202611",
         u"KYUSYU,KYUSEQ",
         {u"123/1/202611/1"_s, u"123/1/202611/2"_s, u"123/4/202611/1"_s}},
        {u"SYOKCD = 123 AND SKYUYM >= 202604 AND SKYUYM <= 202703 ",
         u" SKYUYM,KYUSYU,KYUSEQ ",
         {u"123/1/202604/1"_s, u"123/1/202611/1"_s, u"123/1/202611/2"_s, u"123/4/202611/1"_s,
          u"123/2/202612/0"_s, u"123/1/202703/1"_s}},
    };
    for (const Case& c : cases) {
        const QString filter = QString::fromUtf16(c.filter);
        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s, int(c.keys.size()), filter, QString::fromUtf16(c.sort));
        EXPECT_EQ(walk(tb), c.keys) << filter.toStdString();
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 7, u"SYOKCD = 123"_s);
    openTable(tb, u"GKKANRI"_s, 1, u"KEY = 'KANRI'"_s);
    ASSERT_EQ(tb.DAO_RecFind(1, u"KEY = 'KANRI'"_s), 0);
    EXPECT_EQ(tb.TBRec()[u"GKNAME"].toString(), u"O'Brien"_s);
    openTable(tb, u"GKJINJI"_s, 1, {}, u"SYOKCD"_s);
    EXPECT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 123"_s), 0);
    EXPECT_EQ(tb.TBRec()[u"SIMKNJ"].toString(), u"山田 太郎"_s);
}

TEST_P(Criteria, KeywordsCaseParenthesesAndComparisons)
{
    struct Case {
        const char16_t* filter;
        int count;
    };
    const Case cases[] = {
        {u"syokcd = 123 and kyusyu IN ( 1 , 4 )", 6},
        {u"(SYOKCD = 456 OR KYUSYU = 2) AND SKYUYM <> 202611", 1},
        {u"SYOKCD = 456 OR (KYUSYU = 2 AND SKYUYM = 202612)", 2},
        {u"SKYUYM < 202611", 1},
        {u"SKYUYM > 202612", 2},
        {u"KYURYO >= 300000", 5},
        {u"KYURYO <= 7000.5", 2},
        {u"KYURYO = '5000'", 1},
        {u"SYOKCD = -123", 0},
        {u"NIREM1 = 123", 0},
    };
    for (const Case& c : cases) {
        clsTbAccess tb;
        tb.setTBDatabase(m_db->DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        EXPECT_EQ(tb.DAO_TableOpen(QString::fromUtf16(c.filter), {}), c.count)
            << QString::fromUtf16(c.filter).toStdString() << ": " << tb.lastError().toStdString();
    }
}

TEST_P(Criteria, QuotedTextIsOnlyEverAValue)
{
    clsTbAccess tb;
    // The quote is doubled, so all of it is the text compared with KEY: no record has that key.
    openTable(tb, u"GKKANRI"_s, 0, u"KEY = 'x'' OR ''1''=''1'"_s);
    openTable(tb, u"GKKANRI"_s, 0, u"KEY = 'KANRI''; DROP TABLE \"GKJINJI\"; --'"_s);
    openTable(tb, u"GKKANRI"_s, 1);
    EXPECT_EQ(tb.DAO_RecFind(1, u"KEY = 'KANRI'' OR ''a''=''a'"_s), -8);
    expectUntouched();
}

TEST_P(Criteria, MalformedOrHostileTextsFailWithMinus66AndRunNothing)
{
    const char16_t* filters[] = {
        u"SYOKCD = 123; DROP TABLE GKJINJI",
        u"SYOKCD = 123 -- comment",
        u"SYOKCD = 123 /* comment */",
        u"SYOKCD = 123 OR 1=1",
        u"1=1 OR SYOKCD = 123",
        u"SYOKCD = 123 OR",
        u"SYOKCD = 123 AND",
        u"(SYOKCD = 123",
        u"SYOKCD = 123)",
        u"((SYOKCD = 123)",
        u"NOFIELD = 1",
        u"SYOKCD = 'abc'",
        u"SYOKCD = 1.5",
        u"SYOKCD = SKYUYM",
        u"SYOKCD == 123",
        u"SYOKCD != 123",
        u"SYOKCD = 'unterminated",
        u"KYUSYU in()",
        u"KYUSYU in(1,)",
        u"KYUSYU in 1,4",
        u"SYOKCD",
        u"= 123",
        u"SYOKCD = 123 SKYUYM = 202611",
        u"KEY = \"KANRI\"",
        u"SYOKCD LIKE 1",
        u"SYOKCD = 0x10",
        u"SYOKCD = 1e3",
        u"SYOKCD = 123 UNION SELECT 1",
        u"rowid = 1",
    };
    for (const char16_t* f : filters) {
        const QString filter = QString::fromUtf16(f);
        clsTbAccess tb;
        tb.setTBDatabase(m_db->DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        EXPECT_EQ(tb.DAO_TableOpen(filter, {}), -66) << filter.toStdString();
        EXPECT_FALSE(tb.lastError().isEmpty());
        openTable(tb, u"GKKYUYO"_s, 8);
        EXPECT_EQ(tb.DAO_RecFind(1, filter), -66) << filter.toStdString();
    }
    const QString deep = QString(200, u'(') + u"SYOKCD = 123"_s + QString(200, u')');
    clsTbAccess tb;
    tb.setTBDatabase(m_db->DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    EXPECT_EQ(tb.DAO_TableOpen(deep, {}), -66);
    EXPECT_EQ(tb.DAO_TableOpen(u"SYOKCD = 1 OR "_s.repeated(5000) + u"SYOKCD = 2"_s, {}), -66);
    expectUntouched();
}

TEST_P(Criteria, MalformedSortsFailWithMinus66)
{
    const char16_t* sorts[] = {
        u"SYOKCD; DROP TABLE GKJINJI",
        u"SYOKCD,",
        u",SYOKCD",
        u"NOFIELD",
        u"SYOKCD DESC ASC",
        u"1",
        u"SYOKCD -- x",
        u"SYOKCD DESCENDING",
        u"\"SYOKCD\"",
    };
    for (const char16_t* s : sorts) {
        clsTbAccess tb;
        tb.setTBDatabase(m_db->DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        EXPECT_EQ(tb.DAO_TableOpen({}, QString::fromUtf16(s)), -66)
            << QString::fromUtf16(s).toStdString();
    }
    expectUntouched();
}

// The refusal names what is wrong and where, whether the character, the text, the number or the
// grammar is at fault, in a filter, a criterion and a sort alike.
TEST_P(Criteria, RefusalsSayWhatIsWrongAndWhere)
{
    struct Case {
        const char16_t* text;
        const char16_t* says;
    };
    const Case conditions[] = {
        {u"SYOKCD = 123; x", u"13 文字目の「;」は使えません。"},
        {u"SYOKCD = 'abc", u"10 文字目の文字列が閉じられていません。"},
        {u"SYOKCD = 1.", u"10 文字目の数値が不正です。"},
        {u"SYOKCD = 123 OR", u"16 文字目: 項目名がありません。"},
        {u"NOFIELD = 1", u"1 文字目: 項目「NOFIELD」はテーブル GKKYUYO にありません。"},
        {u"SYOKCD = 'x'", u"10 文字目: 項目「SYOKCD」には整数を指定してください。"},
    };
    for (const Case& c : conditions) {
        const QString text = QString::fromUtf16(c.text);
        const QString says = QString::fromUtf16(c.says);
        clsTbAccess tb;
        tb.setTBDatabase(m_db->DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        EXPECT_EQ(tb.DAO_TableOpen(text, {}), KorDAO::kBadCondition) << text.toStdString();
        EXPECT_TRUE(tb.lastError().contains(says)) << tb.lastError().toStdString();
        openTable(tb, u"GKKYUYO"_s, 8);
        EXPECT_EQ(tb.DAO_RecFind(1, text), KorDAO::kBadCondition) << text.toStdString();
        EXPECT_TRUE(tb.lastError().contains(says)) << tb.lastError().toStdString();
    }
    const Case sorts[] = {
        {u"SYOKCD; x", u"7 文字目の「;」は使えません。"},
        {u"SYOKCD DESC ASC", u"並び順 13 文字目: 「,」がありません。"},
        {u"NOFIELD", u"並び順 1 文字目: 項目「NOFIELD」はテーブル GKKYUYO にありません。"},
    };
    for (const Case& c : sorts) {
        const QString text = QString::fromUtf16(c.text);
        clsTbAccess tb;
        tb.setTBDatabase(m_db->DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        EXPECT_EQ(tb.DAO_TableOpen({}, text), KorDAO::kBadCondition) << text.toStdString();
        EXPECT_TRUE(tb.lastError().contains(QString::fromUtf16(c.says)))
            << tb.lastError().toStdString();
    }
    clsTbAccess tb;
    tb.setTBDatabase(m_db->DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    EXPECT_EQ(tb.DAO_TableOpen(u"SYOKCD = 1 OR "_s.repeated(5000) + u"SYOKCD = 2"_s, {}),
              KorDAO::kBadCondition);
    EXPECT_TRUE(tb.lastError().contains(u"条件が長すぎます。"_s)) << tb.lastError().toStdString();
}

TEST_P(Criteria, EmptyCriterionIsRefused)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 8);
    EXPECT_EQ(tb.DAO_RecFind(1, u"  "_s), -66);
}

} // namespace
} // namespace kordaotest
