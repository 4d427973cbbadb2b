#include "mox/qtshell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace mox {

void installQtShell()
{
    static QtShell instance;
    setProgramShell(&instance);
}

MsgAnswer QtShell::messageBox(const QString& text, MsgIcon icon, MsgButtons buttons,
                              const QString& title)
{
    // An error shown to the person at the desk also goes to standard error, so that it stays in
    // the session's log (or the terminal) after the box is closed.
    if (icon == MsgIcon::Critical) {
        QString line = text;
        writeToStandardError(
            title, line.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\n', u' '));
    }
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    // Screen readers announce the box by its title and read the message as its description.
    box.setAccessibleDescription(text);
    switch (icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

void QtShell::endProgram(int exitCode)
{
    endAtOnce(exitCode);
}

void QtShell::doEvents()
{
    QCoreApplication::processEvents();
}

bool QtShell::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace mox
