#include "daofixture.h"

#include "kordao/bulkinsert.h"

using namespace Qt::StringLiterals;
using KorDAO::BulkInsert;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

class Bulk : public DaoTest {
protected:
    static QStringList fields()
    {
        return {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"KYURYO"_s, u"NIREM1"_s};
    }
    static QVariantList row(int code, Currency salary = Currency::fromYen(1000))
    {
        return {code, 1, 202604, qlonglong(1), QVariant::fromValue(salary), u"備考"_s};
    }
};
KORDAO_INSTANTIATE(Bulk);

TEST_P(Bulk, RowsArriveExactlyAtFinish)
{
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        ASSERT_EQ(bulk.status(), 0) << bulk.lastError().toStdString();
        // More than one statement's worth of rows on PostgreSQL, and a remainder.
        for (int code = 1; code <= 450; ++code)
            ASSERT_EQ(bulk.addRow(row(code, Currency::fromRaw(code * 10000 + 1234))), 0)
                << bulk.lastError().toStdString();
        ASSERT_EQ(bulk.finish(), 0) << bulk.lastError().toStdString();
        EXPECT_EQ(bulk.rowCount(), 450);
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 450);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 450"_s), 0);
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toCurrency().raw(), 450 * 10000 + 1234);
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), u"備考"_s);
    EXPECT_EQ(tb.TBRec()[u"KIMATU"].toCurrency().raw(), 0); // not named: its default
}

TEST_P(Bulk, FailureOrAbandonUndoesEveryRow)
{
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        ASSERT_EQ(bulk.addRow(row(1)), 0);
    } // destroyed before finish
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        for (int code = 1; code <= 3; ++code)
            ASSERT_EQ(bulk.addRow(row(code)), 0);
        short st = bulk.addRow(row(2)); // the same key again
        if (st == 0)                    // PostgreSQL sees it when the statement is sent
            st = bulk.finish();
        EXPECT_EQ(st, -12);
        EXPECT_FALSE(bulk.lastError().isEmpty());
        EXPECT_NE(bulk.addRow(row(9)), 0);
        EXPECT_NE(bulk.finish(), 0);
    }
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        EXPECT_EQ(bulk.addRow({1, 2}), -12); // too few values
        BulkInsert text(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        EXPECT_EQ(text.addRow({u"x"_s, 1, 202604, 1, 0, u""_s}), -12); // a text as a code
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0);
}

TEST_P(Bulk, UnknownFieldOrTableIsRefusedAtOnce)
{
    BulkInsert noField(m_db->DBDatabase(), u"GKKYUYO"_s, {u"SYOKCD"_s, u"NOFIELD"_s});
    EXPECT_EQ(noField.status(), -66);
    EXPECT_EQ(noField.addRow({1, 2}), -66);
    BulkInsert noTable(m_db->DBDatabase(), u"GKNONE"_s, {u"SYOKCD"_s});
    EXPECT_EQ(noTable.status(), -2);
    // Neither left a transaction open.
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0);
    EXPECT_EQ(tb.DAO_BeginTrans(), 0);
    EXPECT_EQ(tb.DAO_Rollback(), 0);
}

TEST_P(Bulk, JoinsAnOpenTransactionWithoutCommittingIt)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        ASSERT_EQ(bulk.addRow(row(1)), 0);
        ASSERT_EQ(bulk.finish(), 0);
    }
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_Rollback(), 0);
    openTable(tb, u"GKKYUYO"_s, 0);
}

} // namespace
} // namespace kordaotest
