#pragma once

// frmMox110: the bonus entry screen "期末勤勉手当計算結果入力".
//
// The operator picks an employee, calls the bonus up (F11), corrects inputs and saves (F12) or
// deletes (F5) the bonus record of the processing month. The form only binds: it copies its
// boxes into a mox110::BonusScreen, calls the calculation, and copies the result back. The
// database is reached through KorDAO; a failing status ends the program through prsDaoStatus.

#include "kordao/kordao.h"
#include "kornum/kornum.h"
#include "kortax/kortax.h"
#include "mox110/bonusscreen.h"
#include "mox110/calccontext.h"
#include "mox110/kyuyorecord.h"
#include "mox110ui/boxbindings.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class frmSAIKEISAN;

namespace mox {
class FunctionKeyFilter;
}

class frmMox110 : public QWidget {
    Q_OBJECT

public:
    using KorNum = KorNumIn::KorNum;

    /// Form_Load: places the window and creates the database and tax objects; no database access.
    explicit frmMox110(QWidget* parent = nullptr);
    ~frmMox110() override;

    /// Form_Set: opens the database and the tables, fills the employee list, clears the screen
    /// and checks the processing month (which may end the program).
    void Form_Set();

    /// cmdPFKEY_Click: the action of function key \p index + 1, when its button is enabled and no
    /// other key action is running.
    void cmdPFKEY_Click(int index);

    /// Runs right before the bonus record is committed; lets tests end or kill the program in
    /// the middle of a save.
    void setBeforeCommitHook(std::function<void()> hook) { m_beforeCommit = std::move(hook); }

    /// The screen mode of the function keys (0, 2, 3 or 4) and the input mode last set.
    int keyMode() const { return m_keyMode; }
    int inputMode() const { return m_inputMode; }
    /// The saved taxable amount of the bonus on screen.
    Currency curKazeig() const { return m_ctx.curKazeig; }
    /// How many recalculations ran since the start (prsZaiseki, prsKeisan or prsGokei started by
    /// a change or a key).
    int recalculations() const { return m_recalculations; }
    frmSAIKEISAN* saikeisan() const { return m_saikeisan; }

private:
    // Controls, under the names of the screen; tests and tools find them by these object
    // names. The boxes bound to the screen's values are reached through m_boxes.
    QLabel* lblYm = nullptr; // processing month in era form
    QFrame *frmSyocd = nullptr, *frmRitu = nullptr, *frmKubn = nullptr, *frmZaisyo = nullptr,
           *frmKsnritu = nullptr, *frmTxt = nullptr, *frmTeate = nullptr, *frmTeate1 = nullptr,
           *frmTeate2 = nullptr, *frmTeate3 = nullptr, *frmTeate4 = nullptr, *frmKojyo = nullptr,
           *frmGokei = nullptr, *frmTa = nullptr, *frmTa1 = nullptr;
    QComboBox *cboSyokcd = nullptr, *cboTokkbn = nullptr, *cboRoukbn = nullptr;
    KorNum *nu1Kankmritu = nullptr, *nu1Kankbritu = nullptr;
    KorNum *nu1Kmmm = nullptr, *nu1Kmdd = nullptr, *nu1Kbmm = nullptr, *nu1Kbdd = nullptr;
    KorNum *nu1Kmkikan = nullptr, *nu1Kbkikan = nullptr;
    QLineEdit *txtTxt1 = nullptr, *txtTxt2 = nullptr, *txtTxt3 = nullptr;
    KorNum *nu1Kyuryo = nullptr, *nu1Ktyogk = nullptr, *nu1Styogk = nullptr, *nu1Fuyote = nullptr,
           *nu1Kmchiiki = nullptr, *nu1Kimatu = nullptr, *nu1Kbchiiki = nullptr,
           *nu1Kinben = nullptr;
    KorNum *nu1Kenko = nullptr, *nu1Kosei = nullptr, *nu1Koyou = nullptr, *nu1Syotok = nullptr,
           *nu1Zenkaz = nullptr, *nu1Zenzei = nullptr;
    KorNum *nu1Ssikyu = nullptr, *nu1Hkzegk = nullptr, *nu1Syagok = nullptr, *nu1Kazeig = nullptr,
           *nu1Kougok = nullptr, *nu1Sasihk = nullptr;
    QLineEdit *txtKmritu = nullptr, *txtKbritu = nullptr;
    KorNum *nu1Fsinsu = nullptr, *nu1Zeirit = nullptr;
    std::array<QPushButton*, 12> cmdPFKEY{};

    void buildLayout();
    // The frames of the form, top to bottom, built by buildLayout.
    void buildCodeAndRates();
    void buildClassesAndPeriods();
    void buildComments();
    void buildAmounts();
    void buildOther();
    void buildKeysAndTabOrder();
    void connectHandlers();

    void prsDbOpen();
    void prsDbClose();
    void prsTbOpen();
    void prsTbClose();
    bool prfReadKanri();
    void prsKanriSet();
    bool prfReadJinji(int code);
    bool prfReadKyuyo();
    QString kyuyoCriteria() const;

    /// The action of function key \p index + 1.
    void runKeyAction(int index);
    /// Runs a key's action or a focus handler's recalculation: a database failure ends the
    /// program with its message (prsDaoStatus); an amount beyond the money type is refused with
    /// the calculation's message and the screen runs on (refuseAmountOverflow).
    void guarded(const std::function<void()>& action);
    /// Refuses the figures on screen as too large: reported, kept from being saved, and the
    /// frames given the input of the key mode again.
    void refuseAmountOverflow();

    void prsSetPFMode(int mode);
    void prsDspInp(int mode);
    void prsDspClr();
    void prsItemClr();
    bool prfInpChek();

    void prsPf00();
    void prsPf03();
    void prsPf04();
    void prsPf05();
    void prsPf09();
    void prsPf10();
    void prsPf11();

    /// Runs \p action under the wait window.
    void underWait(const std::function<void()>& action);

    /// Writes \p values as the bonus record of the month (added or updated) in one transaction,
    /// only while the record is still as the call-up found it (or still absent). Its status is
    /// 0 when saved; a transient status (changed meanwhile, lock wait too long, connection lost)
    /// when nothing was written and the operator may go on; any other failure ends the program.
    mox110::WriteResult prsWriteKyuyo(const mox110::KyuyoValues& values);
    /// Deletes the bonus record the call-up found, under the same rules.
    mox110::WriteResult prsDeleteKyuyo();
    /// Tells the operator why a save or delete was refused; the figures stay on screen.
    void reportWriteRefused(const mox110::WriteResult& refused, bool deleting);
    /// The input mode of the entry on screen, as the call-up set it.
    void prsEntryInput();

    void onBoxGotFocus(KorNum* box);
    void onBoxLostFocus(KorNum* box, mox110ui::Recalc recalc);
    void onListChanged(mox110ui::Recalc recalc);
    /// Runs \p recalc on the screen.
    void recalculate(mox110ui::Recalc recalc);

    /// Copies the boxes into a BonusScreen and back again.
    mox110::BonusScreen readScreen() const;
    void writeScreen(const mox110::BonusScreen& s);
    /// Runs one step of the calculation on the screen and reports a failure.
    void calculate(const std::function<mox::Status(mox110::BonusScreen&)>& step);
    void reportCalcFailure(const mox::Status& st);
    int selectedCode() const;

    KorDAO::clsDbAccess m_db;
    KorDAO::clsTbAccess m_kanriTb;           // GKKANRI, its single record
    KorDAO::clsTbAccess m_jinjiTb;           // GKJINJI, in order of SYOKCD
    KorDAO::clsTbAccess m_kyuyoTb;           // GKKYUYO, unfiltered
    std::unique_ptr<KorTAX::clsTax> SYOTOKU; // the income-tax object

    std::unique_ptr<mox110ui::BoundBoxes> m_boxes; // the boxes bound to the screen's values
    mox110::CalcContext m_ctx;
    frmSAIKEISAN* m_saikeisan = nullptr;
    mox::FunctionKeyFilter* m_keyFilter = nullptr;
    std::function<void()> m_beforeCommit;
    KorDAO::RecordStamp m_readStamp; // the bonus record as the call-up found it (or none)

    int m_keyMode = 0;
    int m_inputMode = 0;
    int m_recalculations = 0;
    bool m_updating = false;   // the program itself is filling the lists
    bool m_keyBusy = false;    // a function key's action is running
    Currency m_valueOnEntry;   // the value the focused amount box had when it got the focus
    mox::Status m_calcFailure; // the last calculation's failure; a save is refused while set
};
