#pragma once

// frmSAIKEISAN (recalculation confirmation): asks whether a stored bonus record is only to be
// shown or to be corrected. The answer is flgMode(): 4 show, 12 correct. The dialog cannot be
// closed without an answer: the close box, Esc and every key but F4 and F12 do nothing; F4 and
// F12 (with any modifier) press their buttons wherever the focus is.

#include <QDialog>

class QLabel;
class QPushButton;

class frmSAIKEISAN : public QDialog {
    Q_OBJECT

public:
    explicit frmSAIKEISAN(QWidget* parent = nullptr);

    /// Loads the dialog (choice 0), shows it modally and returns the choice once it is closed.
    short showModal();
    /// Esc and the close box: refused while no choice is made.
    void reject() override;

    /// p_iFlgMode (mode flag): 0 no choice, 4 show the stored record, 12 correct it.
    short flgMode() const { return p_iFlgMode; }
    /// Forgets the last choice (0), as when no stored record was shown.
    void clearChoice() { p_iFlgMode = 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    short p_iFlgMode = 0;
    // Found by these object names in tests, as a user's tool finds them.
    QLabel* Label1 = nullptr;
    QPushButton* cmdF4 = nullptr;  // "内容を表示する　（Ｆ４）"
    QPushButton* cmdF12 = nullptr; // "内容を修正する　（Ｆ12）"

    void choose(short mode);
    /// Form_KeyDown (key preview): true when the key was taken by the dialog.
    bool Form_KeyDown(QKeyEvent* event);
};
