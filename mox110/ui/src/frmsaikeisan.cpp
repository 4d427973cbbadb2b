#include "mox110ui/frmsaikeisan.h"

#include "mox/fonts.h"
#include "mox/screen.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

frmSAIKEISAN::frmSAIKEISAN(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(u"確認メッセージ"_s);
    setFont(QFont(mox::gothicFamily(), 10));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(mox::twipsSize(4560, 2400));

    // A raised panel under the controls keeps the dialog distinct from the form behind it.
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setLineWidth(2);
    panel->setGeometry(rect());

    Label1 = new QLabel(u"データが登録されています"_s, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setGeometry(mox::twipsRect(240, 240, 4080, 360));
    Label1->setAlignment(Qt::AlignCenter);

    cmdF4 = new QPushButton(u"内容を表示する　（Ｆ４）"_s, this);
    cmdF4->setObjectName(u"cmdF4"_s);
    cmdF4->setGeometry(mox::twipsRect(600, 840, 3360, 480));
    cmdF12 = new QPushButton(u"内容を修正する　（Ｆ12）"_s, this);
    cmdF12->setObjectName(u"cmdF12"_s);
    cmdF12->setGeometry(mox::twipsRect(600, 1500, 3360, 480));
    for (QPushButton* b : {cmdF4, cmdF12}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->installEventFilter(this);
    }
    setTabOrder(cmdF4, cmdF12);

    connect(cmdF4, &QPushButton::clicked, this, [this] { choose(4); });
    connect(cmdF12, &QPushButton::clicked, this, [this] { choose(12); });
}

short frmSAIKEISAN::showModal()
{
    p_iFlgMode = 0;
    cmdF4->setFocus();
    exec();
    return p_iFlgMode;
}

void frmSAIKEISAN::choose(short mode)
{
    p_iFlgMode = mode;
    accept();
}

bool frmSAIKEISAN::Form_KeyDown(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_F4:
        cmdF4->click();
        return true;
    case Qt::Key_F12:
        cmdF12->click();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false; // moving between the two buttons stays possible
    default:
        return true; // every other key is cleared
    }
}

bool frmSAIKEISAN::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (event->type() == QEvent::ShortcutOverride) {
            // Keep F4/F12 and the rest away from shortcuts; they arrive as key presses.
            event->accept();
            return false;
        }
        return Form_KeyDown(key);
    }
    if (event->type() == QEvent::KeyRelease)
        return true;
    return QDialog::eventFilter(watched, event);
}

void frmSAIKEISAN::keyPressEvent(QKeyEvent* event)
{
    if (!Form_KeyDown(event))
        QDialog::keyPressEvent(event);
}

void frmSAIKEISAN::closeEvent(QCloseEvent* event)
{
    if (p_iFlgMode == 0)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void frmSAIKEISAN::reject()
{
    // Esc and the close box: refused while no choice is made.
    if (p_iFlgMode != 0)
        QDialog::reject();
}
