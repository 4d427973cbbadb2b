#include "daofixture.h"

#include "kordao/bulkinsert.h"

#include "../support/lossynetwork.h"

#include <QFile>

#include <QProcess>

#include <csignal>

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

class Transactions : public DaoTest {
protected:
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

namespace kordaotest {
namespace {

// A failure keeps its own status and text: a commit refused by the server is not reported as the
// rollback after it, and a read that meets a damaged file is not a failed statement (-66).
TEST_P(Transactions, FailuresAreReportedAsWhatTheyAre)
{
    if (GetParam() == Backend::Postgres) {
        ASSERT_TRUE(m_test->rawExec(
            u"CREATE FUNCTION kordao_test_refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "RAISE EXCEPTION 'refused at commit'; END $$; "
            "CREATE CONSTRAINT TRIGGER kordao_test_refuse AFTER INSERT ON \"GKKYUYO\" "
            "DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION kordao_test_refuse()"_s));
        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s);
        ASSERT_EQ(tb.DAO_BeginTrans(), 0);
        addPayment(77, 1, 202604, 0, 1000);
        EXPECT_EQ(tb.DAO_CommitTrans(), -16);
        EXPECT_TRUE(tb.lastError().contains(u"refused at commit"_s))
            << tb.lastError().toStdString();
        EXPECT_EQ(tb.DAO_Rollback(), 0);
        EXPECT_TRUE(tb.lastError().contains(u"refused at commit"_s))
            << tb.lastError().toStdString();
        EXPECT_EQ(countSeenElsewhere(), 0);
        return;
    }
    {
        KorDAO::BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s,
                                {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"SYOZOK"_s});
        for (int code = 1; code <= 3000; ++code)
            ASSERT_EQ(bulk.addRow({code, 1, 202604, 0, QString(40, u'x')}), 0);
        ASSERT_EQ(bulk.finish(), 0);
    }
    m_db.reset(); // the last user closes the connection
    QFile file(m_test->folder() + u"/data/pay.db"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    ASSERT_TRUE(file.seek(size / 2));
    ASSERT_EQ(file.write(QByteArray(size - size / 2, '\x5a')), size - size / 2);
    file.close();
    m_db = m_test->open();
    ASSERT_TRUE(m_db);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    short st = 0;
    for (int n = 0; st == 0 && n < 4000; ++n)
        st = tb.DAO_RecRead(n == 0 ? 1 : 2);
    EXPECT_EQ(st, -3) << tb.lastError().toStdString();
}

// The connection lost during COMMIT (PostgreSQL): what the transaction wrote is read back on a
// new connection to tell whether the server committed it.
TEST_P(Transactions, CommitWhoseAnswerIsLostIsSettledByReadingBack)
{
    if (GetParam() != Backend::Postgres)
        GTEST_SKIP() << "an SQLite file has no connection to lose";
    moxtest::LossyNetwork network;
    QString error;
    ASSERT_TRUE(network.start(&error)) << error.toStdString();
    QFile ini(m_test->folder() + u"/MOX.INI"_s);
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    m_test->writeIni(u"MOX.INI"_s, network.through(QString::fromUtf8(ini.readAll())));
    auto desk = m_test->open();
    ASSERT_TRUE(desk);
    addPayment(2, 1, 202612, 0, 200);
    const auto terminateOthers = [this] {
        return m_test->rawExec(u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                               "datname = current_database() AND pid <> pg_backend_pid()"_s);
    };

    clsTbAccess tb;
    tb.setTBDatabase(desk->DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    ASSERT_GE(tb.DAO_TableOpen({}, {}), 0) << tb.lastError().toStdString();
    // Writes one transaction: employee 1 added with \p yen (or, when there, changed to it),
    // employee 2 deleted when \p remove.
    const auto write = [&](int yen, bool remove) {
        ASSERT_EQ(tb.DAO_BeginTrans(), 0) << tb.lastError().toStdString();
        if (tb.DAO_RecFind(1, u"SYOKCD = 1"_s) == 0) {
            ASSERT_EQ(tb.DAO_Edit(true), 0);
        } else {
            ASSERT_EQ(tb.DAO_AddNew(true), 0);
            tb.TBRec()[u"SYOKCD"] = 1;
            tb.TBRec()[u"KYUSYU"] = 1;
            tb.TBRec()[u"SKYUYM"] = 202612;
            tb.TBRec()[u"NIREM1"] = u"備考"_s;
        }
        tb.TBRec()[u"KYURYO"] = Currency::parse(u"%1.5"_s.arg(yen)).value();
        ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
        if (remove) {
            ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 2"_s), 0);
            ASSERT_EQ(tb.DAO_Delete(true), 0) << tb.lastError().toStdString();
        }
    };
    const auto stored = [this](int code) {
        const QString sql = u"SELECT COUNT(*) FROM \"GKKYUYO\" WHERE \"SYOKCD\" = %1"_s.arg(code);
        return m_test->rawScalar(sql).toInt();
    };

    // The server commits; its answer never arrives.
    write(100, true);
    network.loseNextCommitAnswer();
    EXPECT_EQ(tb.DAO_CommitTrans(), 0) << tb.lastError().toStdString();
    EXPECT_TRUE(network.commitAnswerLost());
    EXPECT_EQ(tb.DAO_CommitLoss(), KorDAO::CommitLoss::Saved);
    EXPECT_TRUE(tb.lastError().contains(u"保存されていることを確かめました"_s))
        << tb.lastError().toStdString();
    EXPECT_EQ(stored(1), 1);
    EXPECT_EQ(stored(2), 0);
    EXPECT_EQ(salaryOf(1), Currency::parse(u"100.5"_s).value());

    // An edit committed the same way; then a plain commit reports no loss.
    write(150, false);
    network.loseNextCommitAnswer();
    EXPECT_EQ(tb.DAO_CommitTrans(), 0) << tb.lastError().toStdString();
    EXPECT_EQ(tb.DAO_CommitLoss(), KorDAO::CommitLoss::Saved);
    EXPECT_EQ(salaryOf(1), Currency::parse(u"150.5"_s).value());
    write(160, false);
    EXPECT_EQ(tb.DAO_CommitTrans(), 0) << tb.lastError().toStdString();
    EXPECT_EQ(tb.DAO_CommitLoss(), KorDAO::CommitLoss::None);

    // The server ends the connection before the COMMIT: it rolled back, and says so.
    write(200, false);
    ASSERT_TRUE(terminateOthers());
    EXPECT_EQ(tb.DAO_CommitTrans(), KorDAO::kConnectionLost);
    EXPECT_EQ(tb.DAO_CommitLoss(), KorDAO::CommitLoss::NotSaved);
    EXPECT_EQ(salaryOf(1), Currency::parse(u"160.5"_s).value());

    // The network goes for good: whether it was saved cannot be told, and the message says so.
    write(300, false);
    network.cut();
    EXPECT_EQ(tb.DAO_CommitTrans(), KorDAO::kConnectionLost);
    EXPECT_EQ(tb.DAO_CommitLoss(), KorDAO::CommitLoss::Unknown);
    EXPECT_TRUE(tb.lastError().contains(u"保存されたかどうか分かりません"_s))
        << tb.lastError().toStdString();
    EXPECT_EQ(salaryOf(1), Currency::parse(u"160.5"_s).value());
}

} // namespace
} // namespace kordaotest
