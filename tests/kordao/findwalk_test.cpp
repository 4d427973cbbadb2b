// A walk of finds in the order of the record set ("SYOKCD = n" for one employee after another, as
// a list is filled) gives what one find at a time gives, in a few statements, and a new walk
// sees what other connections committed meanwhile.

#include "daofixture.h"

#include "kordao/bulkinsert.h"

#include <QThread>

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

constexpr int kStaff = 300;

class FindWalk : public DaoTest {
protected:
    // Employees 1 … 300; every third has no payment; the others two or three, in months given
    // out of key order, monthly pay (kind 1) and, for even codes, a bonus (kind 2).
    void SetUp() override
    {
        DaoTest::SetUp();
        if (IsSkipped())
            return;
        KorDAO::BulkInsert bulk(m_db->DBDatabase(), u"GKKYUYO"_s,
                                {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s, u"KYURYO"_s});
        for (int code = 1; code <= kStaff; ++code) {
            if (code % 3 == 0)
                continue;
            ASSERT_EQ(bulk.addRow({code, 1, 202605, 0, code * 10}), 0);
            ASSERT_EQ(bulk.addRow({code, 1, 202604, 0, code * 10 + 1}), 0);
            if (code % 2 == 0) {
                ASSERT_EQ(bulk.addRow({code, 2, 202606, 0, code * 10 + 2}), 0);
            }
        }
        ASSERT_EQ(bulk.finish(), 0) << bulk.lastError().toStdString();
    }

    // Walks the finds of every employee: "code:KYUSYU/SKYUYM:next" for those found, where next
    // is the record read on after the find.
    QStringList walkFinds(clsTbAccess& tb)
    {
        QStringList out;
        for (int code = 1; code <= kStaff; ++code) {
            const short st = tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code));
            if (st == -8)
                continue;
            EXPECT_EQ(st, 0) << tb.lastError().toStdString();
            QString line = u"%1:%2/%3"_s.arg(code)
                               .arg(tb.TBRec()[u"KYUSYU"].toInt())
                               .arg(tb.TBRec()[u"SKYUYM"].toInt());
            if (code % 50 == 1) { // now and then the program reads on after the find
                line += tb.DAO_RecRead(2) == 0 ? u":"_s + key(tb) : u":end"_s;
            }
            out << line;
        }
        return out;
    }
};
KORDAO_INSTANTIATE(FindWalk);

TEST_P(FindWalk, GivesWhatSingleFindsGiveInAFewStatements)
{
    for (const QString& filter : {QString(), u"KYUSYU = 2"_s}) {
        // What one find at a time gives: each on a record set of its own.
        QStringList expected;
        for (int code = 1; code <= kStaff; ++code) {
            clsTbAccess single;
            openTable(single, u"GKKYUYO"_s, -1, filter);
            if (single.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)) != 0)
                continue;
            QString line = u"%1:%2/%3"_s.arg(code)
                               .arg(single.TBRec()[u"KYUSYU"].toInt())
                               .arg(single.TBRec()[u"SKYUYM"].toInt());
            if (code % 50 == 1)
                line += single.DAO_RecRead(2) == 0 ? u":"_s + key(single) : u":end"_s;
            expected << line;
        }
        ASSERT_FALSE(expected.isEmpty());

        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s, -1, filter);
        const qint64 before = KorDAO::statementsSent();
        EXPECT_EQ(walkFinds(tb), expected) << filter.toStdString();
        const qint64 statements = KorDAO::statementsSent() - before;
        // 300 finds: the first alone, the rest ahead by 16, 32, … values, plus the reads on;
        // PostgreSQL prepares each statement once.
        EXPECT_LE(statements, 24) << filter.toStdString();
    }
}

TEST_P(FindWalk, NextWalkSeesWhatOthersCommitted)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    const QStringList first = walkFinds(tb);
    EXPECT_TRUE(first.contains(u"1:1/202604:1/1/202605/0"_s)) << first.join(u' ').toStdString();
    EXPECT_FALSE(first.join(u' ').contains(u" 3:"_s));

    // Another desk pays employee 3 and removes employee 1's records.
    auto other = m_test->open();
    ASSERT_TRUE(other);
    {
        KorDAO::BulkInsert bulk(other->DBDatabase(), u"GKKYUYO"_s,
                                {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s});
        ASSERT_EQ(bulk.addRow({3, 1, 202607, 0}), 0);
        ASSERT_EQ(bulk.finish(), 0);
    }
    ASSERT_TRUE(m_test->rawExec(u"DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" = 1"_s));

    // The next list, on the same connection and even the same record set.
    const QStringList second = walkFinds(tb);
    EXPECT_FALSE(second.join(u' ').startsWith(u"1:"_s));
    EXPECT_TRUE(second.contains(u"3:1/202607"_s)) << second.join(u' ').toStdString();
}

TEST_P(FindWalk, ListWalkSendsAFewStatementsAndARecordDeletedBeforeItIsUsedIsNotWritten)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    // A list only asks whether each employee has records.
    const qint64 before = KorDAO::statementsSent();
    int found = 0;
    for (int code = 1; code <= 200; ++code)
        found += tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)) == 0;
    EXPECT_EQ(found, 134);
    EXPECT_LE(KorDAO::statementsSent() - before, 10);

    // Employee 200's record, found by the walk, is deleted by another desk before it is used:
    // changing it writes nothing back.
    ASSERT_TRUE(m_test->rawExec(u"DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" = 200"_s));
    // Reading it gives what was found (a record fetched whole) or says it was deleted meanwhile
    // (one found by its key alone), never that the field cannot be read.
    try {
        EXPECT_EQ(tb.TBRec()[u"KYURYO"].toInt(), 2001);
    } catch (const KorDAO::DaoError& e) {
        EXPECT_EQ(e.status(), KorDAO::kRecordChanged) << e.what();
    }
    short st = tb.DAO_Edit(false);
    if (st == 0) {
        tb.TBRec()[u"KYURYO"] = 1;
        st = tb.DAO_Update();
    }
    EXPECT_EQ(st, KorDAO::kRecordChanged);
    EXPECT_EQ(
        m_test->rawScalar(u"SELECT COUNT(*) FROM \"GKKYUYO\" WHERE \"SYOKCD\" = 200"_s).toInt(), 0);
}

// A find the walk served by its key alone (SQLite: by the employee's code alone) and used at
// once, with no field read first: reading on continues after the employee's first record, and a
// delete removes that record and no other.
TEST_P(FindWalk, RecordServedByItsKeyIsReadOnAndDeletedAsFound)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    for (int code = 1; code < 100; ++code)
        tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code));
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 100"_s), 0);
    ASSERT_EQ(tb.DAO_RecRead(2), 0) << tb.lastError().toStdString();
    EXPECT_EQ(key(tb), u"100/1/202605/0"_s);

    clsTbAccess other;
    openTable(other, u"GKKYUYO"_s);
    for (int code = 1; code < 151; ++code)
        other.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code));
    ASSERT_EQ(other.DAO_RecFind(1, u"SYOKCD = 151"_s), 0);
    ASSERT_EQ(other.DAO_Delete(true), 0) << other.lastError().toStdString();
    EXPECT_EQ(m_test
                  ->rawScalar(u"SELECT MIN(\"SKYUYM\") * 10 + COUNT(*) FROM \"GKKYUYO\" "
                              "WHERE \"SYOKCD\" = 151"_s)
                  .toLongLong(),
              2026051);
}

TEST_P(FindWalk, SlowWalkGivesNothingOlderThanASecond)
{
    {
        KorDAO::BulkInsert bulk(m_db->DBDatabase(), u"GKJINJI"_s, {u"SYOKCD"_s, u"SIMKNJ"_s});
        for (int code = 1; code <= 40; ++code) {
            ASSERT_EQ(bulk.addRow({code, u"職員%1"_s.arg(code)}), 0);
        }
        ASSERT_EQ(bulk.finish(), 0) << bulk.lastError().toStdString();
    }
    clsTbAccess tb;
    openTable(tb, u"GKJINJI"_s);
    // A quick start: from the third find on, the next values are fetched ahead.
    for (int code = 1; code <= 3; ++code) {
        ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)), 0);
    }

    // Another desk renames employee 10 and deletes employee 8.
    auto other = m_test->open();
    ASSERT_TRUE(other);
    clsTbAccess desk;
    desk.setTBDatabase(other->DBDatabase());
    desk.setTBNameString(u"GKJINJI"_s);
    ASSERT_GE(desk.DAO_TableOpen({}, {}), 0);
    ASSERT_EQ(desk.DAO_RecFind(1, u"SYOKCD = 10"_s), 0);
    ASSERT_EQ(desk.DAO_Edit(true), 0);
    desk.TBRec()[u"SIMKNJ"] = u"改姓後"_s;
    ASSERT_EQ(desk.DAO_Update(), 0) << desk.lastError().toStdString();
    ASSERT_EQ(desk.DAO_RecFind(1, u"SYOKCD = 8"_s), 0);
    ASSERT_EQ(desk.DAO_Delete(true), 0) << desk.lastError().toStdString();

    // The walk goes on slowly (300 ms between finds, still a walk) for well over a second;
    // only the names of the last employees are read, as a list looks only for who is there.
    QStringList seen;
    for (int code = 4; code <= 11; ++code) {
        QThread::msleep(300);
        const short st = tb.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code));
        if (st == -8) {
            seen << u"%1:-"_s.arg(code);
            continue;
        }
        ASSERT_EQ(st, 0) << tb.lastError().toStdString();
        if (code >= 8) {
            try {
                seen << u"%1:%2"_s.arg(code).arg(tb.TBRec()[u"SIMKNJ"].toString());
            } catch (const KorDAO::DaoError& e) {
                seen << u"%1:error %2"_s.arg(code).arg(e.status());
            }
        }
    }
    EXPECT_EQ(seen.join(u' ').toStdString(), "8:- 9:職員9 10:改姓後 11:職員11");
}

TEST_P(FindWalk, FilteredOpenCountsAndFetchesTheFirstRecordsInOneStatement)
{
    for (int code : {2, 4}) { // the second open finds its statement prepared
        clsTbAccess tb;
        const qint64 before = KorDAO::statementsSent();
        openTable(tb, u"GKKYUYO"_s, 3, u"SYOKCD = %1"_s.arg(code), u"SKYUYM DESC"_s);
        const QStringList keys = walk(tb);
        const qint64 statements = KorDAO::statementsSent() - before;
        EXPECT_EQ(keys, (QStringList{u"%1/2/202606/0"_s.arg(code), u"%1/1/202605/0"_s.arg(code),
                                     u"%1/1/202604/0"_s.arg(code)}));
        if (code == 4) {
            EXPECT_EQ(statements, 1);
        }
        // Reading again from the start asks the database afresh.
        ASSERT_TRUE(m_test->rawExec(u"DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" = %1 AND "
                                    "\"KYUSYU\" = 2"_s.arg(code)));
        EXPECT_EQ(walk(tb).size(), 2);
    }
}

} // namespace
} // namespace kordaotest
