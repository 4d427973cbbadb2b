// Several connections on one database: the audit trail written with every change, bounded lock
// waits, and a connection the server dropped.

#include "daofixture.h"

#include "kordao/bulkinsert.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

struct AuditRow {
    QString action;
    QString key;
    int syokcd = 0;
    QJsonArray changes;
    QString program;
    QString osUser;
    QString host;
};

class SeveralDesks : public DaoTest {
protected:
    // The audit rows in the order they were written, read through the component.
    std::vector<AuditRow> auditRows()
    {
        clsTbAccess tb;
        openTable(tb, QString::fromUtf16(KorDAO::kAuditTable), -1, {}, u"ID"_s);
        std::vector<AuditRow> rows;
        for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
            auto r = tb.TBRec();
            rows.push_back({r[u"ACTION"].toString(), r[u"RECKEY"].toString(), r[u"SYOKCD"].toInt(),
                            QJsonDocument::fromJson(r[u"CHANGES"].toString().toUtf8()).array(),
                            r[u"PROGRAM"].toString(), r[u"OSUSER"].toString(),
                            r[u"HOST"].toString()});
        }
        return rows;
    }

    // Rewrites MOX.INI with a lock timeout of \p seconds; later connections take it.
    void setLockTimeout(int seconds)
    {
        QFile ini(m_test->folder() + u"/MOX.INI"_s);
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(ini.readAll());
        ini.close();
        m_test->writeIni(u"MOX.INI"_s, text + u"LockTimeout=%1\n"_s.arg(seconds));
    }

    // Finds the payment record of employee \p code on \p db and stores salary \p yen in one
    // transaction, as a desk saves.
    void saveSalary(KorDAO::clsDbAccess& db, int code, int yen)
    {
        clsTbAccess tb;
        findPayment(db, tb, code);
        ASSERT_EQ(tb.DAO_BeginTrans(), 0);
        ASSERT_EQ(tb.DAO_Edit(true), 0);
        tb.TBRec()[u"KYURYO"] = yen;
        ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
        ASSERT_EQ(tb.DAO_CommitTrans(), 0);
        EXPECT_EQ(m_test->rawScalar(u"SELECT \"KYURYO\" FROM \"GKKYUYO\""_s).toInt(), yen);
    }

    // Opens the payment table of \p db and finds the record of employee \p code.
    void findPayment(KorDAO::clsDbAccess& db, clsTbAccess& tb, int code)
    {
        tb.setTBDatabase(db.DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GE(tb.DAO_TableOpen({}, {}), 0) << tb.lastError().toStdString();
        ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)), 0);
    }
};
KORDAO_INSTANTIATE(SeveralDesks);

TEST_P(SeveralDesks, EveryChangeLeavesOneAuditRowWithItsOldAndNewValues)
{
    addPayment(10025, 2, 202612, 0, 336996); // INSERT
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = Currency::fromRaw(3'400'005'000); // 340,000.5
    tb.TBRec()[u"KIMATU"] = 0;                                // unchanged: not listed
    tb.TBRec()[u"NIREM1"] = u"訂正"_s;
    ASSERT_EQ(tb.DAO_Update(), 0);
    ASSERT_EQ(tb.DAO_Delete(true), 0);

    // A change undone leaves no audit row either.
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    addPayment(777, 1, 202604, 1, 5);
    ASSERT_EQ(tb.DAO_Rollback(), 0);

    {
        KorDAO::BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s, {u"SYOKCD"_s, u"KYUSYU"_s});
        ASSERT_EQ(bulk.addRow({1, 1}), 0);
        ASSERT_EQ(bulk.addRow({2, 1}), 0);
        ASSERT_EQ(bulk.finish(), 0);
    }

    const std::vector<AuditRow> rows = auditRows();
    ASSERT_EQ(rows.size(), 4u);
    const QString key = u"SYOKCD=10025 KYUSYU=2 SKYUYM=202612 KYUSEQ=0"_s;
    EXPECT_EQ(rows[0].action, u"INSERT"_s);
    EXPECT_EQ(rows[0].key, key);
    EXPECT_EQ(rows[0].syokcd, 10025);
    EXPECT_TRUE(rows[0].changes.contains(QJsonArray{u"KYURYO"_s, QJsonValue(), u"336996"_s}));

    EXPECT_EQ(rows[1].action, u"UPDATE"_s);
    EXPECT_EQ(rows[1].changes, (QJsonArray{QJsonArray{u"KYURYO"_s, u"336996"_s, u"340000.5"_s},
                                           QJsonArray{u"NIREM1"_s, QJsonValue(), u"訂正"_s}}));
    // On PostgreSQL the server takes them from the session's application_name.
    EXPECT_EQ(rows[1].program, QCoreApplication::applicationName());
    EXPECT_FALSE(rows[1].osUser.isEmpty());
    EXPECT_FALSE(rows[1].host.isEmpty());

    // The same text on both engines, as the programs wrote it before the server did.
    EXPECT_EQ(m_test
                  ->rawScalar(u"SELECT \"CHANGES\" FROM \"KORDAO_AUDIT\" WHERE \"ACTION\" = "
                              "'UPDATE'"_s)
                  .toString(),
              u"[[\"KYURYO\",\"336996\",\"340000.5\"],[\"NIREM1\",null,\"訂正\"]]"_s);

    EXPECT_EQ(rows[2].action, u"DELETE"_s);
    EXPECT_EQ(rows[2].key, key);
    EXPECT_TRUE(rows[2].changes.contains(QJsonArray{u"KYURYO"_s, u"340000.5"_s, QJsonValue()}));

    EXPECT_EQ(rows[3].action, u"BULK INSERT"_s);
    EXPECT_EQ(m_test
                  ->rawScalar(u"SELECT \"CHANGES\" FROM \"KORDAO_AUDIT\" WHERE \"ID\" = "
                              "(SELECT MAX(\"ID\") FROM \"KORDAO_AUDIT\")"_s)
                  .toString(),
              u"{\"records\":2}"_s);
}

TEST_P(SeveralDesks, StampTellsChangedVanishedAndAppearedRecordsApart)
{
    addPayment(1, 2, 202612, 0, 100);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 1"_s), 0);
    const KorDAO::RecordStamp present = tb.DAO_RecStamp();
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 2"_s), -8);
    const KorDAO::RecordStamp absent = tb.DAO_RecStamp();
    EXPECT_TRUE(present.isPresent());
    EXPECT_FALSE(absent.isPresent());

    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 1"_s), 0);
    EXPECT_EQ(tb.DAO_RecCheck(present), 0);
    EXPECT_EQ(tb.DAO_RecCheck(absent), KorDAO::kRecordChanged); // appeared

    ASSERT_TRUE(m_test->rawExec(u"UPDATE \"GKKYUYO\" SET \"NIREM3\" = 'x'"_s));
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 1"_s), 0);
    EXPECT_EQ(tb.DAO_RecCheck(present), KorDAO::kRecordChanged); // changed

    ASSERT_TRUE(m_test->rawExec(u"DELETE FROM \"GKKYUYO\""_s));
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 1"_s), -8);
    EXPECT_EQ(tb.DAO_RecCheck(present), KorDAO::kRecordChanged); // vanished
    EXPECT_EQ(tb.DAO_RecCheck(absent), 0);
}

// NULL and '' are different values on both engines: in the check of a stamp, in the condition
// of an update or delete, and when a null or an empty text is written.
TEST_P(SeveralDesks, NullAndEmptyTextAreDifferentValues)
{
    addPayment(1, 2, 202612, 0, 100); // NIREM1 NULL
    addPayment(2, 2, 202612, 0, 100);
    ASSERT_TRUE(m_test->rawExec(u"UPDATE \"GKKYUYO\" SET \"NIREM1\" = '' WHERE \"SYOKCD\" = 2"_s));
    const auto count = [this](const QString& where) {
        return m_test->rawScalar(u"SELECT COUNT(*) FROM \"GKKYUYO\" WHERE "_s + where).toInt();
    };
    const auto flip = [this](int code) {
        return m_test->rawExec(
            u"UPDATE \"GKKYUYO\" SET \"NIREM1\" = CASE WHEN \"NIREM1\" IS NULL THEN '' END "
            "WHERE \"SYOKCD\" = %1"_s.arg(code));
    };
    for (int code : {1, 2}) {
        SCOPED_TRACE(code == 1 ? "NULL, then ''" : "'', then NULL");
        clsTbAccess tb;
        findPayment(*m_db, tb, code);
        EXPECT_EQ(tb.TBRec()[u"NIREM1"].isNull(), code == 1);
        const KorDAO::RecordStamp seen = tb.DAO_RecStamp();
        ASSERT_TRUE(flip(code)); // another desk
        ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)), 0);
        EXPECT_EQ(tb.DAO_RecCheck(seen), KorDAO::kRecordChanged);

        // The record as read before the change is neither updated nor deleted.
        clsTbAccess stale;
        findPayment(*m_db, stale, code);
        ASSERT_TRUE(flip(code));
        ASSERT_EQ(stale.DAO_Edit(true), 0);
        stale.TBRec()[u"KYURYO"] = 500;
        EXPECT_EQ(stale.DAO_Update(), KorDAO::kRecordChanged);
        EXPECT_EQ(stale.DAO_Delete(true), KorDAO::kRecordChanged);
        EXPECT_EQ(count(u"\"SYOKCD\" = %1 AND \"KYURYO\" = 100"_s.arg(code)), 1);
    }

    // A null text is stored as NULL, an empty one as ''; the record written stays writable.
    clsTbAccess tb;
    findPayment(*m_db, tb, 1);
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"NIREM1"] = QString();
    tb.TBRec()[u"NIREM2"] = u""_s;
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = 700;
    EXPECT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    EXPECT_EQ(count(u"\"SYOKCD\" = 1 AND \"KYURYO\" = 700 AND \"NIREM1\" IS NULL AND "
                    "\"NIREM2\" = ''"_s),
              1);

    // A bulk load stores a null text as NULL and an empty one as '', on both engines.
    {
        KorDAO::BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s,
                                {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"NIREM1"_s});
        ASSERT_EQ(bulk.addRow({3, 1, 202612, 0, QString()}), 0);
        ASSERT_EQ(bulk.addRow({4, 1, 202612, 0, u""_s}), 0);
        ASSERT_EQ(bulk.finish(), 0) << bulk.lastError().toStdString();
    }
    EXPECT_EQ(count(u"\"SYOKCD\" = 3 AND \"NIREM1\" IS NULL"_s), 1);
    EXPECT_EQ(count(u"\"SYOKCD\" = 4 AND \"NIREM1\" = ''"_s), 1);

    // A filter on '' finds the empty texts (employees 2 and 4), not the NULLs.
    clsTbAccess empty;
    openTable(empty, u"GKKYUYO"_s, 2, u"NIREM1 = ''"_s);
}

TEST_P(SeveralDesks, LockHeldLongerThanTheTimeoutGivesItsStatusAndChangesNothing)
{
    addPayment(1, 2, 202612, 0, 100);
    setLockTimeout(2);
    auto holder = m_test->open();
    auto waiter = m_test->open();
    ASSERT_TRUE(holder && waiter);

    // The other desk is in the middle of saving the same record.
    clsTbAccess held;
    findPayment(*holder, held, 1);
    ASSERT_EQ(held.DAO_BeginTrans(), 0);
    ASSERT_EQ(held.DAO_Edit(true), 0);
    held.TBRec()[u"KYURYO"] = 200;
    ASSERT_EQ(held.DAO_Update(), 0);

    clsTbAccess tb;
    findPayment(*waiter, tb, 1);
    QElapsedTimer clock;
    clock.start();
    short st = tb.DAO_BeginTrans(); // SQLite waits here, for the write lock
    if (st == 0) {
        ASSERT_EQ(tb.DAO_Edit(true), 0);
        tb.TBRec()[u"KYURYO"] = 300;
        st = tb.DAO_Update(); // PostgreSQL waits here, for the record
        tb.DAO_Rollback();
    }
    const qint64 waited = clock.elapsed();
    EXPECT_EQ(st, KorDAO::kLockTimeout) << tb.lastError().toStdString();
    EXPECT_GE(waited, 1900);
    EXPECT_LT(waited, 3000);

    ASSERT_EQ(held.DAO_Rollback(), 0);
    EXPECT_EQ(m_test->rawScalar(u"SELECT \"KYURYO\" FROM \"GKKYUYO\""_s).toInt(), 100);

    // Once the lock is gone the same connection saves.
    saveSalary(*waiter, 1, 300);
}

TEST_P(SeveralDesks, ConnectionDroppedMidSaveIsReportedAndTheNextActionConnectsAgain)
{
    if (GetParam() != Backend::Postgres)
        GTEST_SKIP() << "an SQLite file has no connection to lose";
    addPayment(1, 2, 202612, 0, 100);
    clsTbAccess tb;
    findPayment(*m_db, tb, 1);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = 200;
    // The server ends the connection (as on a restart) between the edit and the update.
    ASSERT_TRUE(
        m_test->rawExec(u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                        "WHERE datname = current_database() AND pid <> pg_backend_pid()"_s));
    EXPECT_EQ(tb.DAO_Update(), KorDAO::kConnectionLost) << tb.lastError().toStdString();
    tb.DAO_Rollback();
    EXPECT_EQ(m_test->rawScalar(u"SELECT \"KYURYO\" FROM \"GKKYUYO\""_s).toInt(), 100);

    // The next call-up and save run on a new connection.
    saveSalary(*m_db, 1, 300);

    // A connection dropped while idle: the next read simply connects again.
    ASSERT_TRUE(
        m_test->rawExec(u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                        "WHERE datname = current_database() AND pid <> pg_backend_pid()"_s));
    findPayment(*m_db, tb, 1);
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toInt(), 300);
}

} // namespace
} // namespace kordaotest
