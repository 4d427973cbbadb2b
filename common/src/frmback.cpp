#include "mox/frmback.h"

#include "instancelock.h"
#include "mox/program.h"
#include "mox/qtshell.h"
#include "mox/shell.h"

#if MOX_WITH_KORDAO
#include "kordao/kordao.h"
#endif

#include <QGuiApplication>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

// Exit code of a start refused because the lock file could not be made.
constexpr int kLockFailureExit = 1;

// Without its lock the program cannot tell whether another copy runs, so it does not start;
// unlike a second copy, this is said, since the operator has to act on it. Does not return.
void lockFailed(const QString& reason)
{
    shell().messageBox(reason + u"\r\n\r\nプログラムを起動できません。"
                                u"フォルダの書き込み権限と空き容量を確認してください。"_s,
                       MsgIcon::Critical, MsgButtons::Ok, QString());
    shell().endProgram(kLockFailureExit);
}

} // namespace

frmBack::frmBack(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint)
{
    setWindowTitle(u"Form2"_s);
    setObjectName(u"frmBack"_s);
    // Small grey text in a corner, out of the forms' way: which database this desk works on.
    m_database = new QLabel(this);
    m_database->setObjectName(u"lblDatabase"_s);
    m_database->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    m_database->setTextFormat(Qt::PlainText);
    m_database->setStyleSheet(u"color: gray;"_s);
    m_database->hide();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
}

frmBack::~frmBack()
{
#if MOX_WITH_KORDAO
    if (m_noticesInstalled)
        KorDAO::setNotices({});
#endif
}

void frmBack::showDatabaseNotices()
{
#if MOX_WITH_KORDAO
    // A database may be opened, or a file read, outside the window's thread: the notice is
    // then handed to it and shown there.
    const QPointer<frmBack> self(this);
    const auto onWindowThread = [self](std::function<void()> work) {
        if (!self)
            return;
        if (QThread::currentThread() == self->thread())
            work();
        else
            QMetaObject::invokeMethod(self.data(), std::move(work), Qt::QueuedConnection);
    };
    KorDAO::Notices notices;
    notices.warning = [onWindowThread](const QString& text) {
        onWindowThread(
            [text] { shell().messageBox(text, MsgIcon::Exclamation, MsgButtons::Ok, QString()); });
    };
    notices.opened = [self, onWindowThread](const QString& iniName, const QString& location) {
        onWindowThread([self, iniName, location] {
            if (self)
                self->showDatabase(iniName, location);
        });
    };
    KorDAO::setNotices(std::move(notices));
    m_noticesInstalled = true;
#endif
}

void frmBack::showDatabase(const QString& iniName, const QString& location)
{
    auto it = std::find_if(m_databases.begin(), m_databases.end(),
                           [&](const auto& d) { return d.first == iniName; });
    if (it == m_databases.end())
        m_databases.emplace_back(iniName, location);
    else
        it->second = location;
    QStringList lines;
    for (const auto& [ini, where] : m_databases)
        lines << u"データベース（%1）: %2"_s.arg(ini, where);
    m_database->setText(lines.join(u'\n'));
    m_database->show();
    placeDatabaseLabel();
}

void frmBack::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeDatabaseLabel();
}

void frmBack::placeDatabaseLabel()
{
    constexpr int kMargin = 8;
    m_database->adjustSize();
    m_database->move(width() - m_database->width() - kMargin,
                     height() - m_database->height() - kMargin);
}

void frmBack::Form_Load(const QString& commandLine, const QString& programName,
                        const QString& lockFolder)
{
    const QString line = commandLine.trimmed();
    if (line.isEmpty() && p_iFrmBackOption == 0)
        shell().endProgram(0);
    if (line.endsWith(u'@')) {
        setWindowState(Qt::WindowNoState);
        setFixedSize(0, 0);
        m_shrunk = true;
        shell().doEvents();
    }
    QString folder = lockFolder;
    if (folder.isEmpty()) {
        Result<QString> found = privateLockFolder();
        if (const Status* s = failure(found)) {
            lockFailed(s->message);
            return;
        }
        folder = value(found);
    }
    auto lock = std::make_unique<InstanceLock>(folder, programName);
    const InstanceLock::Outcome outcome = lock->tryLock();
    if (outcome == InstanceLock::Outcome::HeldElsewhere)
        shell().endProgram(0);
    if (outcome == InstanceLock::Outcome::Failed) {
        lockFailed(lock->error());
        return;
    }
    m_lock = std::move(lock);
}

std::unique_ptr<frmBack> startUp(const QStringList& args, const QString& programName)
{
    installQtShell();
    setProgramId(programName);
    auto back = std::make_unique<frmBack>();
    back->Form_Load(args.join(u' '), programName);
    back->showDatabaseNotices();
    back->show();
    return back;
}

} // namespace mox
