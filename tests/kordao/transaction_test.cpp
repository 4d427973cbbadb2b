#include "daofixture.h"

#include <QProcess>

#include <csignal>

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

class Transactions : public DaoTest {
protected:
    // The number of payment records another connection sees.
    int countSeenElsewhere()
    {
        auto other = m_test->open();
        if (!other)
            return -1;
        clsTbAccess tb;
        tb.setTBDatabase(other->DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        return tb.DAO_TableOpen({}, {});
    }

    // Starts the crash helper with \p args, waits until it has written without committing, and
    // kills it.
    void killHelperWhenReady(const QStringList& args)
    {
        QProcess child;
        child.start(QStringLiteral(KORDAO_CRASH_HELPER), args);
        ASSERT_TRUE(child.waitForStarted(10000));
        QByteArray out;
        while (!out.contains("READY") && child.waitForReadyRead(20000))
            out += child.readAllStandardOutput();
        ASSERT_TRUE(out.contains("READY")) << "helper exit code " << child.exitCode();
        ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(10000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    }

    Currency salaryOf(int code)
    {
        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s);
        if (tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)) != 0)
            return Currency::fromYen(-1);
        return tb.TBRec()[u"KYURYO"].toCurrency();
    }
};
KORDAO_INSTANTIATE(Transactions);

TEST_P(Transactions, OtherConnectionsSeeChangesOnlyAfterCommit)
{
    addPayment(1, 1, 202604, 1, 100);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    addPayment(2, 1, 202604, 1, 200);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 1"_s), 0);
    ASSERT_EQ(tb.DAO_Delete(true), 0);
    EXPECT_EQ(countSeenElsewhere(), 1);
    openTable(tb, u"GKKYUYO"_s, 1); // this connection sees its own change
    ASSERT_EQ(tb.DAO_CommitTrans(), 0) << tb.lastError().toStdString();
    EXPECT_EQ(countSeenElsewhere(), 1);
    EXPECT_EQ(salaryOf(1), Currency::fromYen(-1));
    EXPECT_EQ(salaryOf(2), Currency::fromYen(200));
}

TEST_P(Transactions, RollbackAndClosingUndoTheTransaction)
{
    addPayment(1, 1, 202604, 1, 100);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    addPayment(2, 1, 202604, 1);
    ASSERT_EQ(tb.DAO_Rollback(), 0);
    EXPECT_EQ(tb.DAO_CommitTrans(), -16); // nothing open any more
    EXPECT_EQ(tb.DAO_Rollback(), -17);
    openTable(tb, u"GKKYUYO"_s, 1);

    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    EXPECT_EQ(tb.DAO_BeginTrans(), -15); // no nesting
    addPayment(3, 1, 202604, 1);
    tb.DAO_TableClose();
    EXPECT_EQ(m_db->DAO_DBClose(), 0);
    EXPECT_EQ(countSeenElsewhere(), 1);
}

TEST_P(Transactions, EndingTheProgramRollsBackEveryOpenTransaction)
{
    addPayment(1, 1, 202604, 1, 100);
    auto second = m_test->open();
    ASSERT_TRUE(second);
    clsTbAccess a;
    openTable(a, u"GKKYUYO"_s, 1);
    ASSERT_EQ(a.DAO_BeginTrans(), 0);
    ASSERT_EQ(a.DAO_RecRead(1), 0);
    ASSERT_EQ(a.DAO_Edit(true), 0);
    a.TBRec()[u"KYURYO"] = 5;
    ASSERT_EQ(a.DAO_Update(), 0);

    KorDAO::rollbackAllOpenTransactions();

    EXPECT_EQ(a.DAO_CommitTrans(), -16);
    EXPECT_EQ(salaryOf(1), Currency::fromYen(100));
}

TEST_P(Transactions, ProcessKilledBeforeCommitLeavesNoTrace)
{
    addPayment(1, 1, 202604, 1, 100);
    killHelperWhenReady({});

    EXPECT_EQ(countSeenElsewhere(), 1);
    EXPECT_EQ(salaryOf(1), Currency::fromYen(100));
    EXPECT_EQ(salaryOf(999), Currency::fromYen(-1));
    // The database is not left locked: it takes a new change at once.
    addPayment(2, 1, 202604, 1, 200);
    EXPECT_EQ(salaryOf(2), Currency::fromYen(200));
}

TEST_P(Transactions, ProcessKilledDuringBulkLoadLeavesTableAndCounterAsTheyWere)
{
    addPayment(1, 1, 202604, 1, 100);
    killHelperWhenReady({u"bulk"_s});

    EXPECT_EQ(countSeenElsewhere(), 1);
    EXPECT_EQ(salaryOf(1), Currency::fromYen(100));
    EXPECT_EQ(salaryOf(1000), Currency::fromYen(-1));
    // The counter still follows every record added or removed one by one.
    addPayment(2, 1, 202604, 1, 200);
    EXPECT_EQ(countSeenElsewhere(), 2);
}

} // namespace
} // namespace kordaotest
