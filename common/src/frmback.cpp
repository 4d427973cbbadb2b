#include "mox/frmback.h"

#include "instancelock.h"
#include "mox/program.h"
#include "mox/shell.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace mox {

frmBack::frmBack(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint) {
    setWindowTitle(u"Form2"_s);
    setObjectName(u"frmBack"_s);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
}

frmBack::~frmBack() = default;

QString frmBack::defaultLockFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

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
    auto lock = std::make_unique<InstanceLock>(lockFolder, programName);
    if (!lock->tryLock())
        shell().endProgram(0);
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
