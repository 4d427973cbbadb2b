// Two desks on one payroll database: the entry screen on one connection, and a second desk on a
// connection of its own saving or deleting through the same functions the screen uses. A save
// or delete at the screen that would overwrite the other desk's work is refused; the operator's
// figures stay on screen and the program goes on.

#include "screenfixture.h"

#include "mox110/kyuyorecord.h"

#include "../support/lossynetwork.h"

#include <QComboBox>
#include <QFile>

using namespace Qt::StringLiterals;
using namespace screentest;

namespace {

constexpr int kDecember = 202612;

const QString kChanged = u"この職員の賞与データは、読み込んだ後に他の端末で更新されました。"
                         "取消（F4）して読み込み直してください。"_s;
const QString kDeleted = u"この職員の賞与データは、読み込んだ後に他の端末で削除されました。"
                         "取消（F4）して読み込み直してください。"_s;

// The other desk: its own connection and payment table, calling up and writing as F11, F12
// and F5 do.
class OtherDesk {
public:
    OtherDesk()
    {
        m_db.setDBIniNameString(u"MOX.INI"_s);
        m_db.setPrivateConnection(true);
        EXPECT_EQ(m_db.DAO_DBOpen(), 0) << m_db.lastError().toStdString();
        m_tb.setTBDatabase(m_db.DBDatabase());
        m_tb.setTBNameString(u"GKKYUYO"_s);
        EXPECT_GE(m_tb.DAO_TableOpen({}, {}), 0);
    }

    void callUp()
    {
        (void)m_tb.DAO_RecFind(1, criteria());
        m_seen = m_tb.DAO_RecStamp();
    }

    short save(std::int64_t kyuryo)
    {
        const mox110::KyuyoValues values{{u"SYOKCD"_s, kRegular},
                                         {u"KYUSYU"_s, 2},
                                         {u"SKYUYM"_s, kDecember},
                                         {u"KYUSEQ"_s, 0},
                                         {u"KYURYO"_s, QVariant::fromValue(yen(kyuryo))}};
        return mox110::saveKyuyo(m_tb, criteria(), m_seen, values).status;
    }

    short remove() { return mox110::deleteKyuyo(m_tb, criteria(), m_seen).status; }

    KorDAO::clsTbAccess& table() { return m_tb; }

private:
    static QString criteria()
    {
        return u"KYUSYU = 2 AND SKYUYM = %1 AND SYOKCD = %2"_s.arg(kDecember).arg(kRegular);
    }

    KorDAO::clsDbAccess m_db;
    KorDAO::clsTbAccess m_tb;
    KorDAO::RecordStamp m_seen;
};

struct Race {
    const char* name;
    bool storedBefore; // a bonus record exists when both desks call up
    bool otherDeletes; // the other desk deletes (else it saves 777,777)
    int key;           // what the screen presses afterwards: 12 save, 5 delete
    const QString* message;
};

const Race kRaces[] = {
    {"TwoNewEntries", false, false, 12, &kChanged},
    {"SaveAfterOtherSave", true, false, 12, &kChanged},
    {"SaveAfterOtherDelete", true, true, 12, &kDeleted},
    {"DeleteAfterOtherSave", true, false, 5, &kChanged},
};

class DeskTest : public ScreenTest {
protected:
    Backend backend() const override { return m_backend; }

    void setUpOn(Backend b)
    {
        m_backend = b;
        if (b == Backend::Postgres && qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST"))
            GTEST_SKIP() << "no PostgreSQL server for tests (MOX_TEST_PGHOST)";
        ScreenTest::SetUp();
        seed(kDecember);
    }

    void storeBonus()
    {
        insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                              {u"KYUSYU"_s, 2},
                              {u"SKYUYM"_s, kDecember},
                              {u"KYURYO"_s, QVariant::fromValue(yen(111'111))}});
    }

    // Calls the employee up at the screen, correcting a stored bonus.
    void callUp(bool stored)
    {
        select(kRegular);
        if (stored)
            answerDialog(Qt::Key_F12);
        press(11);
        ASSERT_EQ(m_form->keyMode(), stored ? 2 : 3);
    }

    Backend m_backend = Backend::Sqlite;
};

class TwoDesks : public DeskTest, public testing::WithParamInterface<std::tuple<Backend, Race>> {
protected:
    void SetUp() override { setUpOn(std::get<0>(GetParam())); }
};

TEST_P(TwoDesks, SecondWriterIsRefusedAndKeepsItsFigures)
{
    const Race& race = std::get<1>(GetParam());
    if (race.storedBefore)
        storeBonus();
    ASSERT_TRUE(start());
    OtherDesk other;
    callUp(race.storedBefore);
    other.callUp();
    const int keyMode = m_form->keyMode();
    const Currency kimatu = num("nu1Kimatu")->value();

    ASSERT_EQ(race.otherDeletes ? other.remove() : other.save(777'777), 0);
    const std::size_t boxes = m_shell.boxes().size();
    if (race.key == 5)
        m_shell.queueAnswer(mox::MsgAnswer::Yes);
    ASSERT_NO_THROW(press(race.key)) << "the program must go on";

    ASSERT_EQ(m_shell.boxes().size(), boxes + (race.key == 5 ? 2 : 1));
    EXPECT_EQ(m_shell.boxes().back().text, *race.message);
    EXPECT_EQ(m_shell.boxes().back().icon, mox::MsgIcon::Exclamation);
    EXPECT_EQ(m_form->keyMode(), keyMode);
    EXPECT_EQ(m_form->inputMode(), 2);
    EXPECT_TRUE(list("cboTokkbn")->isEnabled());
    EXPECT_EQ(num("nu1Kimatu")->value(), kimatu);

    // The other desk's work is what is stored.
    if (race.otherDeletes) {
        EXPECT_EQ(bonusCount(kRegular, kDecember), 0);
    } else {
        EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
        EXPECT_EQ(Currency::parse(bonusField(kRegular, kDecember, u"KYURYO"_s).toString()),
                  yen(777'777));
    }

    // Called up again, the screen saves over what is there now.
    press(4);
    callUp(!race.otherDeletes);
    press(12);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
    EXPECT_EQ(Currency::parse(bonusField(kRegular, kDecember, u"KYURYO"_s).toString()),
              yen(300'000));
}

INSTANTIATE_TEST_SUITE_P(Engines, TwoDesks,
                         testing::Combine(testing::Values(Backend::Sqlite, Backend::Postgres),
                                          testing::ValuesIn(kRaces)),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param) == Backend::Sqlite
                                                    ? "Sqlite"
                                                    : "Postgres") +
                                    std::get<1>(p.param).name;
                         });

class LockWait : public DeskTest, public testing::WithParamInterface<Backend> {
protected:
    void SetUp() override { setUpOn(GetParam()); }
};

TEST_P(LockWait, SaveMeetingAnotherDesksOpenSaveWaitsOnlyUpToTheLockTimeout)
{
    QFile ini(m_dir.filePath(u"MOX.INI"_s));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("LockTimeout=1\n");
    ini.close();
    ASSERT_TRUE(start());
    OtherDesk other;
    callUp(false);
    other.callUp();

    // The other desk is in the middle of adding the same record.
    KorDAO::clsTbAccess& tb = other.table();
    ASSERT_EQ(tb.DAO_BeginTrans(), 0);
    ASSERT_EQ(tb.DAO_AddNew(true), 0);
    tb.TBRec()[u"SYOKCD"] = int{kRegular};
    tb.TBRec()[u"KYUSYU"] = 2;
    tb.TBRec()[u"SKYUYM"] = kDecember;
    ASSERT_EQ(tb.DAO_Update(), 0);

    press(12);
    ASSERT_FALSE(m_shell.boxes().empty());
    EXPECT_TRUE(m_shell.boxes().back().text.startsWith(u"他の端末がデータを更新中のため"_s))
        << m_shell.boxes().back().text.toStdString();
    EXPECT_EQ(m_form->keyMode(), 3);

    // Once the other desk gives up, the same figures are saved.
    ASSERT_EQ(tb.DAO_Rollback(), 0);
    press(12);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, LockWait, testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& p) {
                             return p.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

// The screen's connection lost during the COMMIT of F12 (PostgreSQL): when the server committed,
// the operator is told that the figures were saved, and F12 again saves over them.
class LostCommit : public DeskTest {
protected:
    void SetUp() override
    {
        setUpOn(Backend::Postgres);
        if (IsSkipped())
            return;
        QString error;
        ASSERT_TRUE(m_network.start(&error)) << error.toStdString();
        // The screen reaches the server through the network; the test's own connection does not.
        QFile ini(m_dir.filePath(u"MOX.INI"_s));
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        const QString text = m_network.through(QString::fromUtf8(ini.readAll()));
        ini.close();
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(text.toUtf8());
        ini.close();
        ASSERT_TRUE(start());
        callUp(false);
    }

    moxtest::LossyNetwork m_network;
};

TEST_F(LostCommit, SaveThatWentThroughIsReportedSavedAndSavesAgain)
{
    moxtest::LossyNetwork& network = m_network;
    const Currency kimatu = num("nu1Kimatu")->value();

    network.loseNextCommitAnswer();
    const std::size_t boxes = m_shell.boxes().size();
    ASSERT_NO_THROW(press(12)) << "the program must go on";
    EXPECT_TRUE(network.commitAnswerLost());
    ASSERT_EQ(m_shell.boxes().size(), boxes + 1);
    EXPECT_EQ(m_shell.boxes().back().text,
              u"データベースとの接続が途中で切れましたが、保存されました。"_s);
    EXPECT_EQ(m_shell.boxes().back().icon, mox::MsgIcon::Information);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
    EXPECT_EQ(Currency::parse(bonusField(kRegular, kDecember, u"KIMATU"_s).toString()), kimatu);
    // The figures stay on screen, open for input.
    EXPECT_EQ(m_form->keyMode(), 3);
    EXPECT_TRUE(list("cboTokkbn")->isEnabled());
    EXPECT_EQ(num("nu1Kimatu")->value(), kimatu);

    // F12 again is not taken for another desk's change: it saves over this desk's own save.
    press(12);
    EXPECT_EQ(m_shell.boxes().size(), boxes + 1);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
}

TEST_F(LostCommit, SaveWhoseOutcomeCannotBeToldSaysSoAndKeepsTheFigures)
{
    // The network goes for good right before the commit: the server never sees it.
    m_form->setBeforeCommitHook([this] { m_network.cut(); });
    const std::size_t boxes = m_shell.boxes().size();
    ASSERT_NO_THROW(press(12)) << "the program must go on";
    ASSERT_EQ(m_shell.boxes().size(), boxes + 1);
    EXPECT_EQ(m_shell.boxes().back().text,
              u"確定の途中でデータベースとの接続が切れたため、保存されたかどうか確かめられません"
              "でした。入力内容はそのままです。取消（F4）して読み込み直し、保存されているか"
              "確かめてください。"_s);
    EXPECT_EQ(m_shell.boxes().back().icon, mox::MsgIcon::Exclamation);
    EXPECT_EQ(m_form->keyMode(), 3);
    // Nothing was saved (read on the test's own connection, which does not go through the
    // network).
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(m_payroll->DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    EXPECT_EQ(tb.DAO_TableOpen(u"SYOKCD = %1 AND KYUSYU = 2"_s.arg(kRegular), {}), 0);
}

} // namespace
