// KorDAO::readFields: a field read that throws becomes the status and message of a result.

#include "daofixture.h"

using namespace Qt::StringLiterals;
using KorDAO::clsTbAccess;

namespace kordaotest {
namespace {

class ReadFields : public DaoTest {};
KORDAO_INSTANTIATE(ReadFields);

TEST_P(ReadFields, GivesTheValuesOrTheStatusOfTheFieldThatCouldNotBeRead)
{
    addPayment(10001, 1, 202604, 1, 250000);
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);
    KorDAO::Record rec = tb.TBRec();

    const mox::Result<Currency> pay = KorDAO::readFields(
        [&] { return rec[u"KYURYO"].toCurrency() + rec[u"KTYOGK"].toCurrency(); });
    ASSERT_EQ(mox::failure(pay), nullptr);
    EXPECT_EQ(mox::value(pay), Currency::fromYen(250000));

    int readBefore = 0;
    const mox::Result<int> missing = KorDAO::readFields([&] {
        readBefore = rec[u"SYOKCD"].toInt();
        return rec[u"NOSUCHFIELD"].toInt() + readBefore;
    });
    const mox::Status* failed = mox::failure(missing);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->code, KorDAO::kFieldUnreadable);
    EXPECT_TRUE(failed->message.contains(u"NOSUCHFIELD"_s)) << failed->message.toStdString();
    EXPECT_EQ(readBefore, 10001); // the reads before the failing one were made
}

TEST_P(ReadFields, WorkWithoutAValueOrWithAStatusKeepsItsShape)
{
    clsTbAccess tb;
    openTable(tb, u"GKKYUYO"_s);
    ASSERT_EQ(tb.DAO_RecRead(1), KorDAO::kEndOfRecords); // empty: no current record

    const mox::Status none = KorDAO::readFields([&] { (void)tb.TBRec()[u"KYURYO"].toCurrency(); });
    EXPECT_EQ(none.code, KorDAO::kFieldUnreadable);
    EXPECT_FALSE(none.message.isEmpty());

    const mox::Status fine = KorDAO::readFields([] {});
    EXPECT_TRUE(fine.ok());

    const mox::Status own =
        KorDAO::readFields([] { return mox::Status::failure(-1, u"own failure"_s); });
    EXPECT_EQ(own.code, -1);
    EXPECT_EQ(own.message, u"own failure"_s);

    // Assigning without DAO_Edit or DAO_AddNew is refused with its own status.
    const mox::Status assign = KorDAO::readFields([&] { tb.TBRec()[u"KYURYO"] = 1; });
    EXPECT_EQ(assign.code, KorDAO::kNotWriting);
}

} // namespace
} // namespace kordaotest
