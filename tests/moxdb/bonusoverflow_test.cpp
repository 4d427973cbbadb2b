// moxdb calc, bonus run and bonus check on a demo district where one employee's figures go
// beyond the money type: that employee is refused with the calculation's message, as the entry
// screen refuses him, and everybody else is worked out as before.

#include "support.h"

#include "kordao/kordao.h"

#include <QRegularExpression>

#include <map>

using namespace Qt::StringLiterals;

namespace moxdb::test {
namespace {

constexpr int kDecember = 202612; // the demo district's processing month
const QString kTooLarge = u"金額が大きすぎて計算できません。"_s;

QVariant money(std::int64_t yen)
{
    return QVariant::fromValue(Currency::fromYen(yen));
}

class BonusOverflow : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres && !PostgresPair::serverGiven())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
        m_district = std::make_unique<District>(GetParam());
        const QString failed = m_district->makeDemo();
        ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
        withDatabase(m_district->path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
            // Two employees by salary (pay class 1, figures worked out), without a bonus of
            // the month.
            KorDAO::clsTbAccess jinji;
            jinji.setTBDatabase(db);
            jinji.setTBNameString(u"GKJINJI"_s);
            ASSERT_GT(jinji.DAO_TableOpen(u"KYUKBN = 1 AND HYOKBN = 0"_s, u"SYOKCD"_s), 1);
            ASSERT_EQ(jinji.DAO_RecRead(1), 0);
            m_huge = jinji.TBRec()[u"SYOKCD"].toInt();
            ASSERT_EQ(jinji.DAO_RecRead(2), 0);
            m_plain = jinji.TBRec()[u"SYOKCD"].toInt();
            (void)jinji.DAO_TableClose();
            KorDAO::clsTbAccess kyuyo;
            kyuyo.setTBDatabase(db);
            kyuyo.setTBNameString(u"GKKYUYO"_s);
            ASSERT_GE(kyuyo.DAO_TableOpen(
                          u"KYUSYU = 2 AND SKYUYM = %1 AND SYOKCD in(%2,%3)"_s.arg(kDecember)
                              .arg(m_huge)
                              .arg(m_plain),
                          QString()),
                      0);
            for (short st = kyuyo.DAO_RecRead(1); st == 0; st = kyuyo.DAO_RecRead(2))
                ASSERT_EQ(kyuyo.DAO_Delete(true), 0);
            (void)kyuyo.DAO_TableClose();
        });
    }

    /// Adds one record to GKKYUYO of the district.
    void insertPay(const std::map<QString, QVariant>& fields)
    {
        withDatabase(m_district->path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
            KorDAO::clsTbAccess tb;
            tb.setTBDatabase(db);
            tb.setTBNameString(u"GKKYUYO"_s);
            ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0);
            ASSERT_EQ(tb.DAO_AddNew(true), 0);
            for (const auto& [name, value] : fields) {
                if (value.metaType() == QMetaType::fromType<Currency>())
                    tb.TBRec()[name] = value.value<Currency>();
                else
                    tb.TBRec()[name] = value.toInt();
            }
            ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
            (void)tb.DAO_TableClose();
        });
    }

    /// Two salary records of November whose taxable pay adds up beyond the money type.
    void hugePreviousPay(int code)
    {
        for (int seq : {71, 72})
            insertPay({{u"SYOKCD"_s, code},
                       {u"KYUSYU"_s, 1},
                       {u"SKYUYM"_s, kDecember - 1},
                       {u"KYUSEQ"_s, seq},
                       {u"KAZEIG"_s, money(500'000'000'000'000)}});
    }

    /// The bonus records of the month of \p code.
    int bonusCount(int code)
    {
        int n = -1;
        withDatabase(m_district->path(), u"MOX.INI"_s, [&](const KorDAO::DatabaseHandle& db) {
            KorDAO::clsTbAccess tb;
            tb.setTBDatabase(db);
            tb.setTBNameString(u"GKKYUYO"_s);
            n = tb.DAO_TableOpen(
                u"KYUSYU = 2 AND SKYUYM = %1 AND SYOKCD = %2"_s.arg(kDecember).arg(code),
                QString());
            (void)tb.DAO_TableClose();
        });
        return n;
    }

    /// The line of the output of \p r that names the employee code \p code (seven digits, at
    /// the start or after a tab).
    static QString lineOf(const ProgramRun& r, int code)
    {
        const QRegularExpression start(u"(^|\t)%1[\t ]"_s.arg(code, 7, 10, QChar(u'0')));
        for (const QString& line : r.out.split(u'\n')) {
            if (start.match(line).hasMatch())
                return line;
        }
        return QString();
    }

    std::unique_ptr<District> m_district;
    int m_huge = 0;  // the employee whose figures go beyond the money type
    int m_plain = 0; // an employee whose figures do not
};

TEST_P(BonusOverflow, CalcRefusesThePreviousPayBeyondTheType)
{
    hugePreviousPay(m_huge);
    const ProgramRun refused = m_district->run({u"calc"_s, QString::number(m_huge)});
    EXPECT_EQ(refused.code, 1) << outcome(refused);
    EXPECT_TRUE(refused.err.contains(u"moxdb calc: "_s + kTooLarge)) << outcome(refused);
    EXPECT_TRUE(refused.out.isEmpty()) << outcome(refused);
    const ProgramRun plain = m_district->run({u"calc"_s, QString::number(m_plain)});
    EXPECT_EQ(plain.code, 0) << outcome(plain);
}

TEST_P(BonusOverflow, BonusRunRefusesThatEmployeeAndWritesTheOthers)
{
    hugePreviousPay(m_huge);
    const ProgramRun r = m_district->run({u"bonus"_s, u"run"_s});
    ASSERT_EQ(r.code, 0) << outcome(r);
    const QString huge = lineOf(r, m_huge);
    EXPECT_TRUE(huge.contains(u"\t計算不可\t"_s)) << outcome(r);
    EXPECT_TRUE(huge.endsWith(kTooLarge)) << huge.toStdString();
    EXPECT_TRUE(lineOf(r, m_plain).contains(u"\t書込\t"_s)) << outcome(r);
    EXPECT_EQ(bonusCount(m_huge), 0);
    EXPECT_EQ(bonusCount(m_plain), 1);
}

TEST_P(BonusOverflow, BonusCheckListsBothKindsAsRefused)
{
    // One without a record whom today's calculation refuses, one whose stored record is too
    // large to check.
    hugePreviousPay(m_huge);
    insertPay({{u"SYOKCD"_s, m_plain},
               {u"KYUSYU"_s, 2},
               {u"SKYUYM"_s, kDecember},
               {u"TOKKBN"_s, 1},
               {u"KMMMDD"_s, 600},
               {u"KBMMDD"_s, 600},
               {u"KIMATU"_s, money(500'000'000'000'000)},
               {u"KINBEN"_s, money(500'000'000'000'000)}});
    const ProgramRun r = m_district->run({u"bonus"_s, u"check"_s});
    ASSERT_EQ(r.code, 0) << outcome(r);
    const QString huge = lineOf(r, m_huge);
    EXPECT_TRUE(huge.contains(u"REFUSED"_s)) << huge.toStdString();
    EXPECT_TRUE(huge.contains(kTooLarge)) << huge.toStdString();
    const QString stored = lineOf(r, m_plain);
    EXPECT_TRUE(stored.contains(u"\tREFUSED\t"_s + kTooLarge)) << stored.toStdString();
}

TEST_P(BonusOverflow, BonusCheckTotalsBeyondTheTypeEndTheCheckWithTheMessage)
{
    for (int code : {m_huge, m_plain})
        insertPay({{u"SYOKCD"_s, code},
                   {u"KYUSYU"_s, 2},
                   {u"SKYUYM"_s, kDecember},
                   {u"KMMMDD"_s, 600},
                   {u"KBMMDD"_s, 600},
                   {u"SSIKYU"_s, money(500'000'000'000'000)}});
    const ProgramRun r = m_district->run({u"bonus"_s, u"check"_s});
    EXPECT_EQ(r.code, 1) << outcome(r);
    EXPECT_TRUE(r.err.contains(kTooLarge)) << outcome(r);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, BonusOverflow,
                         testing::Values(Engine::Sqlite, Engine::Postgres), engineName);

} // namespace
} // namespace moxdb::test
