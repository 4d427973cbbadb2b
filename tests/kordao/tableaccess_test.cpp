#include "daofixture.h"

#include "kordao/schema.h"

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

class TableWalk : public DaoTest {};
KORDAO_INSTANTIATE(TableWalk);

TEST_P(TableWalk, UnsortedOpenWalksInKeyOrderAndEndsWithMinusNine)
{
    addPayment(300, 1, 202604, 1);
    addPayment(100, 2, 202606, 0);
    addPayment(100, 1, 202606, 1);
    addPayment(100, 1, 202604, 1);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 4);
    EXPECT_EQ(walk(tb), (QStringList{u"100/1/202604/1"_s, u"100/1/202606/1"_s, u"100/2/202606/0"_s,
                                     u"300/1/202604/1"_s}));
    EXPECT_EQ(tb.DAO_RecRead(2), -9);
    EXPECT_EQ(tb.DAO_RecRead(2), -9);
    // Reading again from the first record starts over.
    EXPECT_EQ(tb.DAO_RecRead(1), 0);
    EXPECT_EQ(key(tb), u"100/1/202604/1"_s);
}

TEST_P(TableWalk, FiscalYearOfOneEmployeeInLedgerOrder)
{
    addPayment(123, 1, 202603, 1); // March of the year before: outside
    addPayment(123, 2, 202606, 0);
    addPayment(123, 1, 202606, 1);
    addPayment(123, 4, 202604, 1);
    addPayment(123, 1, 202604, 2);
    addPayment(123, 1, 202604, 1);
    addPayment(123, 3, 202703, 0);
    addPayment(123, 1, 202704, 1); // April of the next year: outside
    addPayment(124, 1, 202606, 1); // another employee
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 6, u"SYOKCD = 123 AND SKYUYM >= 202604 AND SKYUYM <= 202703 "_s,
              u" SKYUYM,KYUSYU,KYUSEQ "_s);
    EXPECT_EQ(walk(tb),
              (QStringList{u"123/1/202604/1"_s, u"123/1/202604/2"_s, u"123/4/202604/1"_s,
                           u"123/1/202606/1"_s, u"123/2/202606/0"_s, u"123/3/202703/0"_s}));
}

TEST_P(TableWalk, EmptyRecordSetCountsZeroAndReadsEnd)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0, u"SYOKCD = 5"_s);
    EXPECT_EQ(tb.DAO_RecRead(1), -9);
    EXPECT_THROW(tb.TBRec()[u"KYURYO"].toCurrency(), KorDAO::DaoError);
}

TEST_P(TableWalk, LongWalksCrossBatchesWithoutLossOrRepeat)
{
    // 5 employees × 12 months × 5 sequences = 300 records, more than several batches.
    {
        clsTbAccess tx;
        openTable(tx, u"GKKYUYO"_s);
        ASSERT_EQ(tx.DAO_BeginTrans(), 0);
        for (int code = 5; code >= 1; --code)
            for (int m = 1; m <= 12; ++m)
                for (int seq = 0; seq < 5; ++seq)
                    addPayment(code, 1, 202600 + m, seq);
        ASSERT_EQ(tx.DAO_CommitTrans(), 0);
    }
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 300);
    const QStringList all = walk(tb);
    ASSERT_EQ(all.size(), 300);
    EXPECT_EQ(all.front(), u"1/1/202601/0"_s);
    EXPECT_EQ(all[299], u"5/1/202612/4"_s);
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), 300);

    // Mixed directions: sequence descending, then the key ascending for ties.
    openTable(tb, u"GKKYUYO"_s, 300, {}, u"KYUSEQ DESC, SKYUYM"_s);
    const QStringList mixed = walk(tb);
    ASSERT_EQ(mixed.size(), 300);
    EXPECT_EQ(mixed[0], u"1/1/202601/4"_s);
    EXPECT_EQ(mixed[1], u"2/1/202601/4"_s);
    EXPECT_EQ(mixed[5], u"1/1/202602/4"_s);
    EXPECT_EQ(mixed[60], u"1/1/202601/3"_s);
    EXPECT_EQ(mixed[299], u"5/1/202612/0"_s);
    EXPECT_EQ(QSet<QString>(mixed.begin(), mixed.end()).size(), 300);
}

TEST_P(TableWalk, SortOnFieldWithNullsIsTotalAcrossBatches)
{
    // 40 records: no comment for 1-15, "A" for 16-30, "B" for 31-40. NULL sorts first
    // ascending and last descending; ties follow the key. The second batch starts at record 33.
    {
        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s, 0);
        for (int code = 1; code <= 40; ++code) {
            ASSERT_EQ(tb.DAO_AddNew(true), 0);
            tb.TBRec()[u"SYOKCD"] = code;
            if (code > 15)
                tb.TBRec()[u"NIREM1"] = code > 30 ? u"B"_s : u"A"_s;
            ASSERT_EQ(tb.DAO_Update(), 0);
        }
    }
    auto codes = [this](const QString& sort) {
        clsTbAccess tb;
        openTable(tb, u"GKKYUYO"_s, 40, {}, sort);
        QList<int> out;
        for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2))
            out << tb.TBRec()[u"SYOKCD"].toInt();
        return out;
    };
    QList<int> ascending;
    for (int code = 1; code <= 40; ++code)
        ascending << code;
    QList<int> descending;
    for (int code = 31; code <= 40; ++code)
        descending << code;
    for (int code = 16; code <= 30; ++code)
        descending << code;
    for (int code = 1; code <= 15; ++code)
        descending << code;
    EXPECT_EQ(codes(u"NIREM1"_s), ascending);
    EXPECT_EQ(codes(u"NIREM1 DESC"_s), descending);
}

TEST_P(TableWalk, FindIsFirstInSortOrderAndReadingContinuesAfterIt)
{
    addPayment(100, 1, 202604, 1);
    addPayment(200, 1, 202605, 1);
    addPayment(200, 1, 202604, 1);
    addPayment(300, 1, 202604, 1);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 4, {}, u"SKYUYM DESC"_s);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 200"_s), 0);
    EXPECT_EQ(key(tb), u"200/1/202605/1"_s);
    EXPECT_EQ(walk(tb, 2),
              (QStringList{u"100/1/202604/1"_s, u"200/1/202604/1"_s, u"300/1/202604/1"_s}));

    // A miss keeps the current record and the place of the walk.
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 300"_s), 0);
    EXPECT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 999"_s), -8);
    EXPECT_EQ(key(tb), u"300/1/202604/1"_s);
    EXPECT_EQ(tb.DAO_RecRead(2), -9);
}

TEST_P(TableWalk, FindLooksOnlyInsideTheFilter)
{
    addPayment(123, 1, 202611, 1);
    addPayment(123, 2, 202612, 0);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1, u"KYUSYU = 1"_s);
    EXPECT_EQ(tb.DAO_RecFind(1, u"KYUSYU = 2 And SKYUYM = 202612 And SYOKCD = 123"_s), -8);
    openTable(tb, u"GKKYUYO"_s, 2);
    EXPECT_EQ(tb.DAO_RecFind(1, u"KYUSYU = 2 And SKYUYM = 202612 And SYOKCD = 123"_s), 0);
}

TEST_P(TableWalk, MissingTableIsMinusTwoNamingIt)
{
    clsTbAccess tb;
    tb.setTBDatabase(m_db->DBDatabase());
    tb.setTBNameString(u"GKNOTHERE"_s);
    EXPECT_EQ(tb.DAO_TableOpen({}, {}), -2);
    EXPECT_TRUE(tb.lastError().contains(u"GKNOTHERE"_s));
    EXPECT_EQ(tb.DAO_RecRead(1), -7);
}

TEST_P(TableWalk, WholeTableCountFollowsEveryKindOfChange)
{
    // The count of a whole table is kept by the database; a filtered open counts the records.
    auto counts = [this] {
        clsTbAccess whole;
        whole.setTBDatabase(m_db->DBDatabase());
        whole.setTBNameString(u"GKKYUYO"_s);
        clsTbAccess counted;
        counted.setTBDatabase(m_db->DBDatabase());
        counted.setTBNameString(u"GKKYUYO"_s);
        return std::pair(whole.DAO_TableOpen({}, {}),
                         counted.DAO_TableOpen(u"SYOKCD >= 0 OR SYOKCD < 0"_s, {}));
    };
    ASSERT_TRUE(m_test->rawExec(u"INSERT INTO \"GKKYUYO\" (\"SYOKCD\") VALUES (1), (2), (3)"_s));
    EXPECT_EQ(counts(), std::pair(3, 3));
    ASSERT_TRUE(m_test->rawExec(u"DELETE FROM \"GKKYUYO\" WHERE \"SYOKCD\" = 2"_s));
    EXPECT_EQ(counts(), std::pair(2, 2));
    addPayment(4, 1, 202604, 1);
    EXPECT_EQ(counts(), std::pair(3, 3));
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 3);
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    addPayment(5, 1, 202604, 1);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 1"_s), 0);
    ASSERT_EQ(tb.DAO_Delete(true), 0);
    EXPECT_EQ(counts(), std::pair(3, 3));
    ASSERT_EQ(tb.DAO_Rollback(), 0);
    EXPECT_EQ(counts(), std::pair(3, 3));
    const QString clear =
        GetParam() == Backend::Postgres ? u"TRUNCATE \"GKKYUYO\""_s : u"DELETE FROM \"GKKYUYO\""_s;
    ASSERT_TRUE(m_test->rawExec(clear));
    EXPECT_EQ(counts(), std::pair(0, 0));
}

class RecordWrite : public DaoTest {};
KORDAO_INSTANTIATE(RecordWrite);

TEST_P(RecordWrite, AmountsKeepFourDecimalsExactly)
{
    struct Case {
        const char16_t* field;
        Currency value;
    };
    const Case cases[] = {
        {u"KYURYO", Currency::fromYen(45000)},
        {u"KENKO", Currency::fromRaw(1234)},               // 0.1234
        {u"KOSEI", Currency::fromRaw(-5)},                 // -0.0005
        {u"KBRITU", Currency::fromRaw(1'234'567'891'234)}, // 123456789.1234
        {u"kmzoge", Currency::fromRaw(-99'999'999'999'9999)},
        {u"SSIKYU", Currency::fromYen(900'000'000'000'000)},
        {u"ZEIRT2", Currency::fromRaw(40'840)}, // 4.084
    };
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 0);
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    tb.TBRec()[u"SYOKCD"] = 1;
    for (const Case& c : cases)
        tb.TBRec()[c.field] = c.value;
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();

    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    for (const Case& c : cases)
        EXPECT_EQ(tb.TBRec()[c.field].toCurrency().raw(), c.value.raw())
            << QString::fromUtf16(c.field).toStdString();
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toString(), u"45000"_s);
    EXPECT_EQ(tb.TBRec()[u"ZEIRT2"].toString(), u"4.084"_s);
    // Field names are matched without regard to case.
    EXPECT_EQ(tb.TBRec()[u"KMZOGE"].toCurrency().raw(), -99'999'999'999'9999);
    EXPECT_EQ(tb.TBRec()[u"kyuryo"].toInt(), 45000);
}

TEST_P(RecordWrite, WholeAmountsAreStoredAsPlainNumbers)
{
    addPayment(1, 1, 202604, 1, 45000);
    EXPECT_EQ(m_test->rawScalar(u"SELECT \"KYURYO\" FROM \"GKKYUYO\""_s).toString().toDouble(),
              45000.0);
    if (GetParam() == Backend::Sqlite) {
        EXPECT_EQ(m_test->rawScalar(u"SELECT typeof(KYURYO) FROM GKKYUYO"_s).toString(),
                  u"integer"_s);
    }
}

TEST_P(RecordWrite, RecordWithOnlyItsKeyReadsZerosAndEmptyTexts)
{
    ASSERT_TRUE(
        m_test->rawExec(u"INSERT INTO \"GKKYUYO\" (\"SYOKCD\", \"KYUSYU\", \"SKYUYM\", \"KYUSEQ\") "
                        "VALUES (7, 2, 202612, 0)"_s));
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    for (const char16_t* f :
         {u"KYURYO", u"KIMATU", u"kmzoge", u"NENFUS", u"KMRITU", u"ZAIMU", u"KMMMDD", u"TOKKBN"})
        EXPECT_EQ(tb.TBRec()[f].toCurrency().raw(), 0) << QString::fromUtf16(f).toStdString();
    EXPECT_TRUE(tb.TBRec()[u"NIREM1"].isNull());
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), QString());
}

TEST_P(RecordWrite, EditUpdatesInPlaceAndDeleteRemoves)
{
    addPayment(123, 2, 202612, 0, 1000);
    addPayment(124, 2, 202612, 0, 2000);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 2);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 123"_s), 0);
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = Currency::fromYen(312400);
    tb.TBRec()[u"NIREM1"] = u"賞与 コメント"_s;
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toCurrency(), Currency::fromYen(312400));
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), u"賞与 コメント"_s);

    openTable(tb, u"GKKYUYO"_s, 2);
    ASSERT_EQ(tb.DAO_RecFind(1, u"SYOKCD = 123"_s), 0);
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toCurrency(), Currency::fromYen(312400));
    EXPECT_EQ(tb.TBRec()[u"NIREM1"].toString(), u"賞与 コメント"_s);
    ASSERT_EQ(tb.DAO_Delete(true), 0);
    EXPECT_THROW(tb.TBRec()[u"KYURYO"].toCurrency(), KorDAO::DaoError);
    // The walk goes on after the deleted record.
    EXPECT_EQ(tb.DAO_RecRead(2), 0);
    EXPECT_EQ(key(tb), u"124/2/202612/0"_s);
    EXPECT_EQ(tb.TBRec()[u"KYURYO"].toCurrency(), Currency::fromYen(2000));

    openTable(tb, u"GKKYUYO"_s, 1);
}

TEST_P(RecordWrite, MisuseGivesTheSystemsStatuses)
{
    addPayment(1, 1, 202604, 1);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    EXPECT_EQ(tb.DAO_Edit(true), -11);   // no current record yet
    EXPECT_EQ(tb.DAO_Delete(true), -13); // no current record yet
    EXPECT_EQ(tb.DAO_Update(), -12);     // nothing opened for writing
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    try {
        tb.TBRec()[u"KYURYO"] = 5;
        ADD_FAILURE() << "assignment outside Edit/AddNew";
    } catch (const KorDAO::DaoError& e) {
        EXPECT_EQ(e.status(), -23);
    }
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    EXPECT_THROW(tb.TBRec()[u"NOFIELD"] = 5, KorDAO::DaoError);
    // A fraction cannot go into a code field.
    EXPECT_THROW(tb.TBRec()[u"KYUSEQ"] = Currency::fromRaw(15'000), KorDAO::DaoError);
    EXPECT_THROW(tb.TBRec()[u"KYURYO"] = u"abc"_s, KorDAO::DaoError);

    // A second record with the same key is refused as one added by another desk.
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    tb.TBRec()[u"SYOKCD"] = 1;
    tb.TBRec()[u"KYUSYU"] = 1;
    tb.TBRec()[u"SKYUYM"] = 202604;
    tb.TBRec()[u"KYUSEQ"] = 1;
    EXPECT_EQ(tb.DAO_Update(), KorDAO::kRecordChanged);
    EXPECT_FALSE(tb.lastError().isEmpty());
    openTable(tb, u"GKKYUYO"_s, 1);
}

TEST_P(RecordWrite, RecordChangedOrVanishedSinceReadIsNeitherUpdatedNorDeleted)
{
    addPayment(1, 1, 202604, 1, 100);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    // Another desk changes one field the program never writes.
    ASSERT_TRUE(m_test->rawExec(u"UPDATE \"GKKYUYO\" SET \"ZANGYO\" = 7"_s));
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = 5;
    EXPECT_EQ(tb.DAO_Update(), KorDAO::kRecordChanged);
    EXPECT_EQ(tb.DAO_Delete(true), KorDAO::kRecordChanged);
    EXPECT_EQ(m_test->rawScalar(u"SELECT \"KYURYO\" FROM \"GKKYUYO\""_s).toInt(), 100);

    // Read again, the record is written; once gone, it is neither written nor deleted.
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = 5;
    EXPECT_EQ(tb.DAO_Update(), 0);
    ASSERT_TRUE(m_test->rawExec(u"DELETE FROM \"GKKYUYO\""_s));
    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"KYURYO"] = 6;
    EXPECT_EQ(tb.DAO_Update(), KorDAO::kRecordChanged);
    EXPECT_EQ(tb.DAO_Delete(true), KorDAO::kRecordChanged);
}

TEST_P(RecordWrite, TableWithoutKeyIsReadAndEditedByRowAddress)
{
    clsTbAccess tb;
    openTable(tb, u"GKKOYOU"_s, 0);
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    tb.TBRec()[u"KAISHI"] = Currency::fromYen(1000);
    tb.TBRec()[u"TINGIN_60"] = Currency::fromYen(999999);
    tb.TBRec()[u"KAKRIT"] = Currency::fromRaw(80'000);
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();

    openTable(tb, u"GKKOYOU"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    EXPECT_EQ(tb.TBRec()[u"TINGIN_60"].toCurrency(), Currency::fromYen(999999));
    EXPECT_EQ(tb.TBRec()[u"HOKEN_01"].toCurrency(), Currency());
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(tb.DAO_Edit(true), 0);
        tb.TBRec()[u"KAKRIT"] = Currency::fromYen(round);
        ASSERT_EQ(tb.DAO_Update(), 0) << "round " << round << tb.lastError().toStdString();
    }
    EXPECT_EQ(tb.DAO_RecRead(2), -9);
    openTable(tb, u"GKKOYOU"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    EXPECT_EQ(tb.TBRec()[u"KAKRIT"].toCurrency(), Currency::fromYen(2));
}

TEST_P(RecordWrite, NullOrTextReadAsNumberThrowsMinusThree)
{
    ASSERT_TRUE(m_test->rawExec(u"CREATE TABLE \"LOOSE\" (\"ID\" INTEGER PRIMARY KEY, "
                                "\"AMOUNT\" NUMERIC, \"NOTE\" TEXT)"_s));
    ASSERT_TRUE(m_test->rawExec(u"INSERT INTO \"LOOSE\" VALUES (1, NULL, 'abc')"_s));
    clsTbAccess tb;
    openTable(tb, u"LOOSE"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    for (const char16_t* field : {u"AMOUNT", u"NOTE", u"MISSING"}) {
        try {
            tb.TBRec()[field].toCurrency();
            ADD_FAILURE() << "no exception for " << QString::fromUtf16(field).toStdString();
        } catch (const KorDAO::DaoError& e) {
            EXPECT_EQ(e.status(), -3);
        }
        EXPECT_THROW(tb.TBRec()[field].toInt(), KorDAO::DaoError);
    }
    EXPECT_TRUE(tb.TBRec()[u"AMOUNT"].isNull());
    EXPECT_EQ(tb.TBRec()[u"AMOUNT"].toString(), QString());
}

TEST_P(TableWalk, FieldByPositionReadsWhatItsNameReadsInEveryRecord)
{
    addPayment(100, 1, 202604, 1, 250);
    addPayment(200, 2, 202605, 0, 7);
    clsTbAccess tb;
    EXPECT_EQ(tb.DAO_FieldIndex(u"SYOKCD"_s), -1); // no table open
    openTable(tb, u"GKKYUYO"_s, 2);
    const int code = tb.DAO_FieldIndex(u"SYOKCD"_s);
    const int pay = tb.DAO_FieldIndex(u"kyuryo"_s); // matched as TBRec()[] matches names
    const int note = tb.DAO_FieldIndex(u"NIREM1"_s);
    ASSERT_GE(code, 0);
    ASSERT_GE(pay, 0);
    ASSERT_GE(note, 0);
    EXPECT_NE(code, pay);
    EXPECT_EQ(tb.DAO_FieldIndex(u"NOFIELD"_s), -1);
    const KorDAO::Record rec = tb.TBRec();
    QStringList read;
    for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
        EXPECT_EQ(rec.field(code).toInt(), rec[u"SYOKCD"].toInt());
        EXPECT_EQ(rec.field(note).variant(), rec[u"NIREM1"].variant());
        read << u"%1/%2"_s.arg(rec.field(code).toInt()).arg(rec.field(pay).toString());
    }
    EXPECT_EQ(read, (QStringList{u"100/250"_s, u"200/7"_s}));
    // A position the table does not have fails as an unknown name does.
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    for (const int column : {-1, 10'000}) {
        try {
            rec.field(column).toString();
            ADD_FAILURE() << "no exception for " << column;
        } catch (const KorDAO::DaoError& e) {
            EXPECT_EQ(e.status(), -3) << column;
        }
    }
}

TEST_P(RecordWrite, SchemaCreationIsIdempotentAndKeepsData)
{
    addPayment(1, 1, 202604, 1, 100);
    const mox::Status again = KorDAO::createPayrollSchema(m_db->DBDatabase());
    ASSERT_TRUE(again.ok()) << again.message.toStdString();
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s, 1);
}

TEST_P(RecordWrite, NameTableIsFoundUnderItsJapaneseName)
{
    ASSERT_TRUE(KorDAO::createEnvironmentSchema(m_db->DBDatabase()).ok());
    clsTbAccess tb;
    openTable(tb, u"名設定"_s, 0);
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    tb.TBRec()[u"SYOKU1"] = u"校長"_s;
    tb.TBRec()[u"NENST3"] = 20190501;
    tb.TBRec()[u"KENKO"] = Currency::fromRaw(5000);
    ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
    openTable(tb, u"名設定"_s, 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    EXPECT_EQ(tb.TBRec()[u"SYOKU1"].toString(), u"校長"_s);
    EXPECT_EQ(tb.TBRec()[u"NENST3"].toCurrency(), Currency::fromYen(20190501));
    EXPECT_EQ(tb.TBRec()[u"KENKO"].toCurrency().raw(), 5000);
    EXPECT_TRUE(tb.TBRec()[u"SYOKU2"].isNull());
}

} // namespace
} // namespace kordaotest
