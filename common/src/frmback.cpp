#include "mox/frmback.h"

#include "instancelock.h"
#include "mox/program.h"
#include "mox/shell.h"

#include <QGuiApplication>
#include <QScreen>

using namespace Qt::StringLiterals;

namespace mox {
namespace {

// Exit code of a start refused because the lock file could not be made.
constexpr int kLockFailureExit = 1;

// Without its lock the program cannot tell whether another copy runs, so it does not start;
// unlike a second copy, this is said, since the operator has to act on it. Does not return.
void lockFailed(const QString &reason) {
    shell().messageBox(reason + u"\r\n\r\nプログラムを起動できません。"
                                u"フォルダの書き込み権限と空き容量を確認してください。"_s,
                       MsgIcon::Critical, MsgButtons::Ok, QString());
    shell().endProgram(kLockFailureExit);
}

} // namespace

frmBack::frmBack(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint) {
    setWindowTitle(u"Form2"_s);
    setObjectName(u"frmBack"_s);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
}

frmBack::~frmBack() = default;

void frmBack::Form_Load(const QString &commandLine, const QString &programName,
                        const QString &lockFolder) {
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
        if (const Status *s = failure(found)) {
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

std::unique_ptr<frmBack> startUp(const QStringList &args, const QString &programName) {
    setProgramId(programName);
    auto back = std::make_unique<frmBack>();
    back->Form_Load(args.join(u' '), programName);
    back->show();
    return back;
}

} // namespace mox
