// Figures beyond the money type (about ±922 trillion yen) wherever the entry screen works with
// them: each is refused with the calculation's message, the screen runs on in a consistent
// state, and nothing of such figures is saved.

#include "screenfixture.h"

#include <QApplication>
#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace screentest;

namespace {

constexpr int kDecember = 202612;
constexpr int kNovember = 202611; // the month before: the previous month's pay
constexpr int kBigDaily = 1005;   // pay class 4 with a daily wage whose 21 days do not fit
const QString kTooLarge = u"金額が大きすぎて計算できません。"_s;

QVariant money(std::int64_t v)
{
    return QVariant::fromValue(yen(v));
}

// An amount field as read back: an exact number on either database.
Currency amount(const QVariant& v)
{
    return Currency::parse(v.toString()).value_or(Currency::fromRaw(-1));
}

class EntryOverflow : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        seed(kDecember);
        insert(u"GKJINJI"_s, {{u"SYOKCD"_s, kBigDaily},
                              {u"SIMKNJ"_s, u"大田日額"_s},
                              {u"SYOZOK"_s, u"4201"_s},
                              {u"KYUKBN"_s, 4},
                              {u"NITANK"_s, money(50'000'000'000'000)},
                              {u"ZKAYMD_01"_s, 20100401},
                              {u"ZKNYMD_01"_s, 99991231}});
    }

    /// A bonus record of December whose total (900 trillion) less a negative social insurance
    /// total (−100 trillion) gives a taxable amount beyond the money type.
    void storeHugeBonus(int code)
    {
        insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, code},
                              {u"KYUSYU"_s, 2},
                              {u"SKYUYM"_s, kDecember},
                              {u"KIMATU"_s, money(500'000'000'000'000)},
                              {u"KINBEN"_s, money(400'000'000'000'000)},
                              {u"SSIKYU"_s, money(900'000'000'000'000)},
                              {u"SYAGOK"_s, money(-100'000'000'000'000)}});
    }

    /// Two salary records of November whose taxable pay adds up beyond the money type.
    void storeHugePreviousPay(int code)
    {
        for (int seq : {0, 1})
            insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, code},
                                  {u"KYUSYU"_s, 1},
                                  {u"SKYUYM"_s, kNovember},
                                  {u"KYUSEQ"_s, seq},
                                  {u"KAZEIG"_s, money(500'000'000'000'000)}});
    }

    /// The refusal was shown (once more since \p before boxes) and the program runs on.
    void expectRefused(std::size_t before)
    {
        ASSERT_EQ(m_shell.boxes().size(), before + 1);
        EXPECT_EQ(m_shell.boxes().back().text, kTooLarge);
        EXPECT_EQ(m_shell.boxes().back().icon, mox::MsgIcon::Exclamation);
        EXPECT_EQ(m_shell.boxes().back().title, m_form->windowTitle());
        EXPECT_FALSE(m_shell.ended());
    }

    /// F12 repeats the refusal and writes nothing; F4 then goes back to the selection.
    void expectSaveRefusedThenDiscard(int code, const QVariant& storedSsikyu)
    {
        const std::size_t shown = m_shell.boxes().size();
        const int mode = m_form->keyMode();
        press(12);
        expectRefused(shown);
        EXPECT_EQ(m_form->keyMode(), mode);
        EXPECT_EQ(bonusField(code, kDecember, u"SSIKYU"_s), storedSsikyu);
        press(4);
        EXPECT_EQ(m_form->keyMode(), 0);
        EXPECT_TRUE(list("cboSyokcd")->isEnabled());
    }
};

TEST_F(EntryOverflow, StoredBonusShownForViewingRefusesItsTaxableAmount)
{
    storeHugeBonus(kRegular);
    ASSERT_TRUE(start());
    select(kRegular);
    answerDialog(Qt::Key_F4);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 4);
    EXPECT_EQ(m_form->inputMode(), 3);
    EXPECT_EQ(num("nu1Ssikyu")->value(), yen(900'000'000'000'000)); // the stored figures
    EXPECT_EQ(num("nu1Syagok")->value(), yen(-100'000'000'000'000));
    press(4);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
}

TEST_F(EntryOverflow, StoredBonusOfHandEnteredStaffIsNeverSavedWhileTooLarge)
{
    storeHugeBonus(kManual);
    ASSERT_TRUE(start());
    select(kManual);
    answerDialog(Qt::Key_F12);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 2);
    EXPECT_EQ(m_form->inputMode(), 4);
    expectSaveRefusedThenDiscard(kManual, bonusField(kManual, kDecember, u"SSIKYU"_s));
}

TEST_F(EntryOverflow, StoredBonusCorrectedIsRecalculatedAndThenSaves)
{
    // Correcting works the bonus out again from the personnel record: the stored figures that
    // could not be totalled are replaced, and the new ones save.
    storeHugeBonus(kRegular);
    ASSERT_TRUE(start());
    select(kRegular);
    answerDialog(Qt::Key_F12);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 2);
    const Currency recalculated = num("nu1Ssikyu")->value();
    EXPECT_GT(recalculated, yen(0));
    EXPECT_LT(recalculated, yen(10'000'000));
    press(12);
    EXPECT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(amount(bonusField(kRegular, kDecember, u"SSIKYU"_s)), recalculated);
}

TEST_F(EntryOverflow, PreviousMonthSumAtCallUpRefusesTheNewBonus)
{
    storeHugePreviousPay(kRegular);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 3);
    EXPECT_EQ(m_form->inputMode(), 2);
    EXPECT_EQ(num("nu1Zenkaz")->value(), yen(0)); // left as it was
    expectSaveRefusedThenDiscard(kRegular, QVariant());
    EXPECT_EQ(bonusCount(kRegular, kDecember), 0);
}

TEST_F(EntryOverflow, PreviousMonthRecalledWithF1IsRefusedAndKeepsTheFigures)
{
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 1},
                          {u"SKYUYM"_s, kNovember},
                          {u"KYUSEQ"_s, 5},
                          {u"KAZEIG"_s, money(300'000)}});
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    ASSERT_TRUE(m_shell.boxes().empty());
    storeHugePreviousPay(kRegular);
    press(1);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 3);
    EXPECT_EQ(num("nu1Zenkaz")->value(), yen(300'000));
    expectSaveRefusedThenDiscard(kRegular, QVariant());
}

TEST_F(EntryOverflow, PreviousMonthTaxableLessInsuranceBeyondTheTypeIsRefused)
{
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 4},
                          {u"SKYUYM"_s, kNovember},
                          {u"KAZEIG"_s, money(900'000'000'000'000)},
                          {u"SYAGOK"_s, money(-900'000'000'000'000)}});
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 3);
    expectSaveRefusedThenDiscard(kRegular, QVariant());
}

TEST_F(EntryOverflow, DailyWageTooLargeForTheSalaryIsRefusedAtCallUp)
{
    ASSERT_TRUE(start());
    select(kBigDaily);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 3);
    expectSaveRefusedThenDiscard(kBigDaily, QVariant());
    EXPECT_EQ(bonusCount(kBigDaily, kDecember), 0);
}

TEST_F(EntryOverflow, DailyWageTooLargeIsRefusedWhenTheDialogAsksToCorrect)
{
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kBigDaily},
                          {u"KYUSYU"_s, 2},
                          {u"SKYUYM"_s, kDecember},
                          {u"SSIKYU"_s, money(123'456)}});
    ASSERT_TRUE(start());
    select(kBigDaily);
    answerDialog(Qt::Key_F12);
    press(11);
    expectRefused(0);
    EXPECT_EQ(m_form->keyMode(), 2);
    expectSaveRefusedThenDiscard(kBigDaily, bonusField(kBigDaily, kDecember, u"SSIKYU"_s));
    EXPECT_EQ(amount(bonusField(kBigDaily, kDecember, u"SSIKYU"_s)), yen(123'456));
}

TEST_F(EntryOverflow, EnteringABoxHoldingTheEdgeOfTheRangeKeepsItsValue)
{
    // 922,337,203,685,477.5 yen rounds, for editing without decimals, to a whole number the
    // type cannot hold; the box shows it as text and its value stays as stored.
    const Currency edge = *Currency::parse(u"922337203685477.5");
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kManual},
                          {u"KYUSYU"_s, 2},
                          {u"SKYUYM"_s, kDecember},
                          {u"KYURYO"_s, QVariant::fromValue(edge)}});
    ASSERT_TRUE(start());
    select(kManual);
    answerDialog(Qt::Key_F12);
    press(11);
    ASSERT_EQ(m_form->inputMode(), 4);
    KorNumIn::KorNum* box = num("nu1Kyuryo");
    ASSERT_EQ(box->value(), edge);
    const int before = m_form->recalculations();
    box->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(box->hasFocus());
    EXPECT_EQ(box->text(), u"922337203685478"_s);
    list("cboTokkbn")->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(box->value(), edge);
    EXPECT_EQ(m_form->recalculations(), before); // unchanged: nothing recalculated
    EXPECT_FALSE(m_shell.ended());
}

TEST_F(EntryOverflow, ProcessingMonthTooLargeForADateEndsTheStartWithTheMessage)
{
    // Twelve in the month's digits, but too large to become a date.
    KorDAO::clsTbAccess kanri;
    kanri.setTBDatabase(m_payroll->DBDatabase());
    kanri.setTBNameString(u"GKKANRI"_s);
    ASSERT_GE(kanri.DAO_TableOpen(QString(), QString()), 0);
    ASSERT_EQ(kanri.DAO_RecFind(1, u"KEY = 'KANRI'"_s), 0);
    ASSERT_EQ(kanri.DAO_Edit(true), 0);
    kanri.TBRec()[u"SYORID"] = Currency::fromYen(9'999'120'000'000);
    ASSERT_EQ(kanri.DAO_Update(), 0);
    ASSERT_EQ(kanri.DAO_TableClose(), 0);
    EXPECT_FALSE(start());
    ASSERT_FALSE(m_shell.boxes().empty());
    EXPECT_EQ(m_shell.boxes().back().text, kTooLarge);
    EXPECT_EQ(m_shell.boxes().back().icon, mox::MsgIcon::Critical);
}

TEST_F(EntryOverflow, OverflowInsideASaveRollsBackAndTheScreenRunsOn)
{
    // Any overflow that escapes a key's action is caught where the keys run: the save's
    // transaction is undone, the entry keeps its input, and F1 recalculates so F12 saves.
    ASSERT_TRUE(start());
    bool raise = true;
    m_form->setBeforeCommitHook([&] {
        if (raise)
            throw std::overflow_error("Currency: result does not fit 64 bits");
    });
    select(kRegular);
    press(11);
    ASSERT_EQ(m_form->keyMode(), 3);
    press(12);
    expectRefused(0);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 0);
    EXPECT_EQ(m_form->keyMode(), 3);
    EXPECT_EQ(m_form->inputMode(), 2);
    EXPECT_TRUE(list("cboTokkbn")->isEnabled());
    EXPECT_FALSE(list("cboSyokcd")->isEnabled());
    raise = false;
    press(12);
    expectRefused(1); // not saved until a calculation has succeeded again
    press(1);
    press(12);
    EXPECT_EQ(m_shell.boxes().size(), 2u);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
    EXPECT_EQ(m_form->keyMode(), 0);
}

} // namespace
