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
    // A row of about 100 bytes: a few megabytes make several batches of the server's loader.
    static QVariantList wideRow(int code)
    {
        QVariantList r = row(code);
        r.back() = u"備考 %1 "_s.arg(code).repeated(6);
        return r;
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

// Enough rows for several batches of the server's loader, sent while the next are queued: a
// statement of the same connection in the middle waits for the batch in flight, and a batch the
// server refuses fails the load at the next row or at its end, leaving nothing.
TEST_P(Bulk, ManyBatchesMeetOtherStatementsAndARefusedBatchLeavesNothing)
{
    constexpr int kRows = 120'000;
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        for (int code = 1; code <= kRows; ++code) {
            ASSERT_EQ(bulk.addRow(wideRow(code)), 0) << code << bulk.lastError().toStdString();
            if (code == kRows * 3 / 4)
                addPayment(kRows + 1, 1, 202604, 1); // one by one, on the same connection
        }
        ASSERT_EQ(bulk.finish(), 0) << bulk.lastError().toStdString();
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, kRows + 1);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(kRows)), 0);
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), wideRow(kRows).back().toString());

    short st = 0;
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        // The first batch holds a key already in the table.
        for (int code = 1; code <= kRows && st == 0; ++code)
            st = bulk.addRow(wideRow(code == 10 ? 5 : kRows + 1 + code));
        if (st == 0)
            st = bulk.finish();
        EXPECT_EQ(st, -12);
        EXPECT_FALSE(bulk.lastError().isEmpty());
    }
    openTable(tb, u"GKKYUYO"_s, kRows + 1);
    EXPECT_EQ(tb.DAO_TableOpen(u"SYOKCD > %1"_s.arg(kRows + 1), {}), 0);
}

// Two loads side by side on one connection (a generator that fills tables together): each
// sends its batches while the other queues, and never while the other's batch is on the way.
TEST_P(Bulk, TwoLoadsSideBySideTakeTurnsOnTheConnection)
{
    constexpr int kRows = 60'000;
    {
        BulkInsert outer(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        BulkInsert inner(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        for (int code = 1; code <= kRows; ++code) {
            ASSERT_EQ(outer.addRow(wideRow(code)), 0) << code << outer.lastError().toStdString();
            ASSERT_EQ(inner.addRow(wideRow(kRows + code)), 0)
                << code << inner.lastError().toStdString();
        }
        ASSERT_EQ(inner.finish(), 0) << inner.lastError().toStdString();
        ASSERT_EQ(outer.finish(), 0) << outer.lastError().toStdString();
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 2 * kRows);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(2 * kRows)), 0);
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), wideRow(2 * kRows).back().toString());
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

TEST_P(Bulk, TypedRowsConvertAsAssignmentsDo)
{
    {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        ASSERT_EQ(bulk.status(), 0) << bulk.lastError().toStdString();
        bulk.setInteger(0, 7);
        bulk.setInteger(1, 1);
        bulk.setText(2, u"202605"_s); // digits into a month
        bulk.setAmount(3, Currency::fromYen(2));
        bulk.setAmount(4, Currency::fromRaw(123'456'789)); // 12,345.6789 yen
        bulk.setInteger(5, 42);                            // a number into a text
        ASSERT_EQ(bulk.addRow(), 0) << bulk.lastError().toStdString();
        // The next row starts empty: a field not set again is refused, not repeated.
        bulk.setInteger(0, 8);
        EXPECT_EQ(bulk.addRow(), -12);
        EXPECT_TRUE(bulk.lastError().contains(u"KYUSYU"_s)) << bulk.lastError().toStdString();
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0); // the failing row undid the load

    BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
    bulk.setInteger(0, 7);
    bulk.setInteger(1, 1);
    bulk.setText(2, u"202605"_s);
    bulk.setAmount(3, Currency::fromYen(2));
    bulk.setAmount(4, Currency::fromRaw(123'456'789));
    bulk.setInteger(5, 42);
    ASSERT_EQ(bulk.addRow(), 0) << bulk.lastError().toStdString();
    ASSERT_EQ(bulk.finish(), 0) << bulk.lastError().toStdString();
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    EXPECT_EQ(key(tb), u"7/1/202605/2"_s);
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toCurrency().raw(), 123'456'789);
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), u"42"_s);
}

TEST_P(Bulk, TypedValueAFieldCannotHoldFailsTheRow)
{
    const auto tryRow = [this](auto setBad) {
        BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        for (int f = 0; f < 6; ++f)
            bulk.setInteger(f, 1);
        setBad(bulk);
        const short st = bulk.addRow();
        EXPECT_FALSE(bulk.lastError().isEmpty());
        return st;
    };
    EXPECT_EQ(tryRow([](BulkInsert& b) { b.setAmount(2, Currency::fromRaw(2'026'045'000)); }),
              -12); // a fraction in a month
    EXPECT_EQ(tryRow([](BulkInsert& b) { b.setText(4, u"abc"_s); }), -12);
    EXPECT_EQ(tryRow([](BulkInsert& b) { b.setInteger(6, 1); }), -12); // no seventh field
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0);
}

// The component keeps the number of records of a table so that opening it whole does not count
// them; bulk loading and emptying must leave that number exact, also when records are written
// one by one in the same transaction and when loads of one table overlap.
TEST_P(Bulk, RecordCountStaysExactThroughLoadsAndClearing)
{
    addPayment(1, 1, 202604, 1);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    {
        BulkInsert first(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        BulkInsert second(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        for (int code = 100; code < 110; ++code) {
            ASSERT_EQ(first.addRow(row(code)), 0) << first.lastError().toStdString();
            ASSERT_EQ(second.addRow(row(code + 100)), 0) << second.lastError().toStdString();
        }
        addPayment(2, 1, 202604, 1); // one by one, while the loads are open
        ASSERT_EQ(first.finish(), 0) << first.lastError().toStdString();
        ASSERT_EQ(second.addRow(row(300)), 0);
        ASSERT_EQ(second.finish(), 0) << second.lastError().toStdString();
        BulkInsert failing(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        ASSERT_EQ(failing.addRow({1}), -12);
    }
    ASSERT_EQ(tb.DAO_CommitTrans(), 0) << tb.lastError().toStdString();
    openTable(tb, u"GKKYUYO"_s, 23);
    EXPECT_EQ(tb.DAO_TableOpen(u"SYOKCD >= 0"_s, {}), 23); // counted, not from the counter
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    {
        BulkInsert open(m_db->DBDatabase(), u"GKKYUYO"_s, fields());
        ASSERT_EQ(open.addRow(row(400)), 0);
        ASSERT_EQ(tb.DAO_CommitTrans(), 0) << tb.lastError().toStdString(); // load still open
    }
    const int held = tb.DAO_TableOpen(u"SYOKCD >= 0"_s, {});
    ASSERT_GE(held, 23);
    openTable(tb, u"GKKYUYO"_s, held);
    addPayment(3, 1, 202604, 1); // counted one by one again
    openTable(tb, u"GKKYUYO"_s, held + 1);

    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    mox::Status cleared = KorDAO::clearTable(m_db->DBDatabase(), u"GKKYUYO"_s);
    ASSERT_TRUE(cleared.ok()) << cleared.message.toStdString();
    openTable(tb, u"GKKYUYO"_s, 0);
    ASSERT_EQ(tb.DAO_Rollback(), 0); // undone: records and count back
    openTable(tb, u"GKKYUYO"_s, held + 1);
    EXPECT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 205"_s), 0);

    cleared = KorDAO::clearTable(m_db->DBDatabase(), u"GKKYUYO"_s);
    ASSERT_TRUE(cleared.ok()) << cleared.message.toStdString();
    openTable(tb, u"GKKYUYO"_s, 0);
    EXPECT_EQ(tb.DAO_TableOpen(u"SYOKCD >= 0"_s, {}), 0);
    addPayment(4, 1, 202604, 1);
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    ASSERT_EQ(tb.DAO_Delete(true), 0); // removal one by one is counted too
    openTable(tb, u"GKKYUYO"_s, 0);
    cleared = KorDAO::clearTable(m_db->DBDatabase(), u"GKNONE"_s);
    EXPECT_EQ(cleared.code, KorDAO::kTableMissing);
    EXPECT_TRUE(cleared.message.contains(u"GKNONE"_s)) << cleared.message.toStdString();
    cleared = KorDAO::clearTable(nullptr, u"GKKYUYO"_s);
    EXPECT_EQ(cleared.code, KorDAO::kTableMissing);
    EXPECT_EQ(cleared.message, u"データベースが開かれていません。"_s);
}

} // namespace
} // namespace kordaotest
