// How much the entry screen asks of the database for its everyday actions, on both engines: a
// call-up, a recalculation with both deductions charged and a save send a handful of statements
// over the connections already open. A change that brings back a connection per lookup, or a
// catalogue read per table opened, fails here.

#include "screenfixture.h"

#include "kordao/kordao.h"

#include <QComboBox>

using namespace Qt::StringLiterals;
using namespace screentest;

namespace {

constexpr int kDecember = 202612;

struct Cost {
    qint64 statements = 0;
    qint64 connections = 0;
};

class RoundTrips : public ScreenTest, public testing::WithParamInterface<Backend> {
protected:
    Backend backend() const override { return GetParam(); }

    void SetUp() override
    {
        if (GetParam() == Backend::Postgres && qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST"))
            GTEST_SKIP() << "no PostgreSQL server for tests (MOX_TEST_PGHOST)";
        ScreenTest::SetUp();
        seed(kDecember);
        m_payroll.reset(); // the screen's own connections are the only ones
    }

    // What \p action costs.
    template <typename F> static Cost cost(F action)
    {
        const Cost before{KorDAO::statementsSent(), KorDAO::connectionsOpened()};
        action();
        return {KorDAO::statementsSent() - before.statements,
                KorDAO::connectionsOpened() - before.connections};
    }
};

TEST_P(RoundTrips, CallUpRecalculationAndSaveReuseTheOpenConnections)
{
    ASSERT_TRUE(start());
    // A first entry prepares the statements every later one reuses.
    select(kShortCode);
    press(11);
    list("cboRoukbn")->setCurrentIndex(1);
    press(4);

    // Another desk changes the salary meanwhile: the next call-up sees it.
    KorDAO::clsDbAccess other;
    other.setDBIniNameString(u"MOX.INI"_s);
    other.setPrivateConnection(true);
    ASSERT_EQ(other.DAO_DBOpen(), 0);
    KorDAO::clsTbAccess jinji;
    jinji.setTBDatabase(other.DBDatabase());
    jinji.setTBNameString(u"GKJINJI"_s);
    ASSERT_GE(jinji.DAO_TableOpen(u"SYOKCD = %1"_s.arg(int{kRegular}), {}), 1);
    ASSERT_EQ(jinji.DAO_RecRead(1), 0);
    ASSERT_EQ(jinji.DAO_Edit(true), 0);
    jinji.TBRec()[u"KYURYO"] = Currency::fromYen(310'000);
    ASSERT_EQ(jinji.DAO_Update(), 0);

    select(kRegular);
    const Cost callUp = cost([&] { press(11); });
    EXPECT_EQ(num("nu1Kyuryo")->value(), yen(310'000)) << "the other desk's change is seen";
    const Cost recalc = cost([&] {
        list("cboTokkbn")->setCurrentIndex(1);
        list("cboRoukbn")->setCurrentIndex(1);
    });
    const Cost save = cost([&] { press(12); });
    ASSERT_EQ(m_form->keyMode(), 0);

    EXPECT_EQ(callUp.connections + recalc.connections + save.connections, 0);
    // Call-up: personnel record, bonus record, previous month's pay (count and read), the era.
    EXPECT_LE(callUp.statements, 6);
    // Each deduction class: the name table's rounding (count and read); employment insurance:
    // its table (count and read).
    EXPECT_LE(recalc.statements, 6);
    // Save: begin, find, insert, commit (the server's trigger writes the audit row); then the
    // cleared screen: management record and era. PostgreSQL prepares the insert the first time;
    // SQLite names the writer for its audit triggers after begin and removes it before commit.
    EXPECT_LE(save.statements, GetParam() == Backend::Postgres ? 8 : 9);
}

INSTANTIATE_TEST_SUITE_P(Engines, RoundTrips, testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& p) {
                             return p.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

} // namespace
