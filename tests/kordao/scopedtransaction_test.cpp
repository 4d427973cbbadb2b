// KorDAO::Transaction: begins or joins, undone unless committed; and DAO_Rollback with nothing
// open. Every case looks at what another connection sees, so a transaction left open or a
// rollback that did not happen shows as a wrong count.

#include "daofixture.h"

#include "connection.h"
#include "values.h"

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;
using KorDAO::Transaction;

namespace kordaotest {
namespace {

class ScopedTransaction : public DaoTest {
protected:
    bool open() const { return m_db->DBDatabase()->inTransaction(); }
};
KORDAO_INSTANTIATE(ScopedTransaction);

TEST_P(ScopedTransaction, LeavingTheScopeWithoutCommitUndoesTheWrites)
{
    {
        Transaction tx(m_db->DBDatabase());
        ASSERT_TRUE(tx.started()) << tx.status().message.toStdString();
        EXPECT_FALSE(tx.joined());
        addPayment(10001, 1, 202604, 1, 250000);
        addPayment(10002, 1, 202604, 1, 260000);
        EXPECT_TRUE(open());
    }
    EXPECT_FALSE(open());
    EXPECT_EQ(countSeenElsewhere(), 0);
}

TEST_P(ScopedTransaction, CommitKeepsTheWritesOnceAndASecondCommitIsRefused)
{
    Transaction tx(m_db->DBDatabase());
    ASSERT_TRUE(tx.started());
    addPayment(10001, 1, 202604, 1, 250000);
    EXPECT_EQ(countSeenElsewhere(), 0);
    const mox::Status first = tx.commit();
    EXPECT_TRUE(first.ok()) << first.message.toStdString();
    EXPECT_FALSE(open());
    EXPECT_EQ(countSeenElsewhere(), 1);
    EXPECT_EQ(tx.commit().code, KorDAO::kCommitFailed);
}

TEST_P(ScopedTransaction, ExplicitRollbackUndoesAtOnceAndTheDestructorDoesNothingMore)
{
    Transaction tx(m_db->DBDatabase());
    ASSERT_TRUE(tx.started());
    addPayment(10001, 1, 202604, 1);
    EXPECT_TRUE(tx.rollback().ok());
    EXPECT_FALSE(open());
    // A transaction begun after the rollback is not undone by the first one's destructor.
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    addPayment(10002, 1, 202604, 1);
    EXPECT_EQ(tx.commit().code, KorDAO::kCommitFailed);
    ASSERT_EQ(tb.DAO_CommitTrans(), 0);
    EXPECT_EQ(countSeenElsewhere(), 1);
}

TEST_P(ScopedTransaction, JoinedTransactionLeavesCommitAndRollbackToItsOwner)
{
    clsTbAccess owner;
    openTable(owner, u"GKKYUYO"_s);
    ASSERT_EQ(owner.DAO_BeginTrans(), 0);
    {
        Transaction inner(m_db->DBDatabase());
        ASSERT_TRUE(inner.started());
        EXPECT_TRUE(inner.joined());
        addPayment(10001, 1, 202604, 1);
        EXPECT_TRUE(inner.commit().ok());
        EXPECT_TRUE(open()); // not committed by the joiner
        EXPECT_EQ(countSeenElsewhere(), 0);
    }
    {
        Transaction failing(m_db->DBDatabase());
        addPayment(10002, 1, 202604, 1);
    } // leaves without commit: the owner's transaction goes on
    EXPECT_TRUE(open());
    ASSERT_EQ(owner.DAO_CommitTrans(), 0);
    EXPECT_EQ(countSeenElsewhere(), 2);
}

TEST_P(ScopedTransaction, ThroughATableItNeverJoinsAndKeepsTheTablesStatus)
{
    clsTbAccess owner;
    openTable(owner, u"GKKYUYO"_s);
    ASSERT_EQ(owner.DAO_BeginTrans(), 0);
    clsTbAccess other;
    openTable(other, u"GKKYUYO"_s);
    {
        Transaction tx(other);
        EXPECT_FALSE(tx.started());
        EXPECT_EQ(tx.status().code, KorDAO::kBeginFailed);
        EXPECT_EQ(tx.status().message, other.lastError());
        EXPECT_FALSE(tx.status().message.isEmpty());
    } // must not undo the owner's transaction
    EXPECT_TRUE(open());
    ASSERT_EQ(owner.DAO_Rollback(), 0);
    {
        Transaction tx(other);
        ASSERT_TRUE(tx.started());
        addPayment(10001, 1, 202604, 1);
    }
    EXPECT_FALSE(open());
    EXPECT_EQ(countSeenElsewhere(), 0);
}

TEST_P(ScopedTransaction, WithoutADatabaseItDoesNotStart)
{
    Transaction tx(KorDAO::DatabaseHandle{});
    EXPECT_FALSE(tx.started());
    EXPECT_EQ(tx.status().code, KorDAO::kBeginFailed);
    EXPECT_EQ(tx.commit().code, KorDAO::kCommitFailed);
}

TEST_P(ScopedTransaction, RollbackWithNothingOpenIsMinus17NamingWhy)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    EXPECT_EQ(tb.DAO_Rollback(), KorDAO::kRollbackFailed);
    EXPECT_EQ(KorDAO::kRollbackFailed, -17);
    EXPECT_TRUE(tb.lastError().contains(u"トランザクション"_s)) << tb.lastError().toStdString();
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    ASSERT_EQ(tb.DAO_CommitTrans(), 0);
    EXPECT_EQ(tb.DAO_Rollback(), KorDAO::kRollbackFailed); // a commit that succeeded leaves none
}

// What a program's value becomes when bound: whole numbers exact up to the largest yen a
// Currency holds, a fraction as each engine keeps it, nothing beyond the limit.
TEST_P(ScopedTransaction, ValuesBoundAtTheLimitsOfAnAmount)
{
    const KorDAO::DatabaseEngine& engine = m_db->DBDatabase()->engine();
    const KorDAO::ColumnInfo amount{u"KYURYO"_s, KorDAO::ColumnKind::Number, true};
    const KorDAO::ColumnInfo code{u"SYOKCD"_s, KorDAO::ColumnKind::Integer, true};
    const auto stored = [&](const KorDAO::ColumnInfo& c, const QVariant& v) {
        return KorDAO::storedValue(c, v, engine);
    };

    mox::Result<QVariant> out = stored(amount, KorDAO::kMaxYen);
    ASSERT_FALSE(mox::failure(out));
    EXPECT_EQ(mox::value(out), QVariant(KorDAO::kMaxYen));
    EXPECT_EQ(KorDAO::kMaxYen, 922337203685477LL); // INT64_MAX / 10^4
    EXPECT_TRUE(mox::failure(stored(amount, KorDAO::kMaxYen + 1)));
    out = stored(amount, -KorDAO::kMaxYen);
    ASSERT_FALSE(mox::failure(out));
    EXPECT_EQ(mox::value(out), QVariant(-KorDAO::kMaxYen));

    const QVariant fraction = QVariant::fromValue(Currency::fromRaw(-12345)); // -1.2345 yen
    out = stored(amount, fraction);
    ASSERT_FALSE(mox::failure(out));
    EXPECT_EQ(KorDAO::amountOf(mox::value(out)), Currency::fromRaw(-12345))
        << mox::value(out).toString().toStdString();
    out = stored(code, fraction);
    const mox::Status* refused = mox::failure(out);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, KorDAO::kUpdateFailed);
    EXPECT_TRUE(refused->message.contains(u"SYOKCD"_s)) << refused->message.toStdString();

    EXPECT_EQ(KorDAO::amountOf(QVariant(KorDAO::kMaxYen)), Currency::fromYen(KorDAO::kMaxYen));
    EXPECT_EQ(KorDAO::amountOf(QVariant(-KorDAO::kMaxYen - 1)), std::nullopt);
    EXPECT_EQ(KorDAO::amountOf(QVariant(0.0001)), Currency::fromRaw(1));
}

} // namespace
} // namespace kordaotest
