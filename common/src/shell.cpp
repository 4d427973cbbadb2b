#include "mox/shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace mox {
namespace {

QtShell &qtShell() {
    static QtShell instance;
    return instance;
}

Shell *g_current = nullptr;

} // namespace

int Shell::addBeforeEndHook(std::function<void()> hook) {
    const int id = m_nextHookId++;
    m_hooks.emplace_back(id, std::move(hook));
    return id;
}

void Shell::removeBeforeEndHook(int id) {
    std::erase_if(m_hooks, [id](const auto &h) { return h.first == id; });
}

void Shell::runBeforeEndHooks() {
    // Newest first, like destructors; a hook may not add or remove hooks.
    const auto hooks = m_hooks;
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
        it->second();
}

Shell &shell() {
    return g_current ? *g_current : qtShell();
}

void setShell(Shell *s) {
    g_current = s;
}

MsgAnswer QtShell::messageBox(const QString &text, MsgIcon icon, MsgButtons buttons,
                              const QString &title) {
    // An error shown to the person at the desk also goes to standard error, so that it stays in
    // the session's log (or the terminal) after the box is closed.
    if (icon == MsgIcon::Critical) {
        QString line = text;
        line.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\n', u' ');
        std::fputs(qPrintable(title + QLatin1String(": ") + line + u'\n'), stderr);
    }
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
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

void QtShell::endProgram(int exitCode) {
    runBeforeEndHooks();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

void QtShell::doEvents() {
    QCoreApplication::processEvents();
}

bool QtShell::openUrl(const QUrl &url) {
    return QDesktopServices::openUrl(url);
}

ScriptedShell::ScriptedShell() {
    setShell(this);
}

ScriptedShell::~ScriptedShell() {
    if (g_current == this)
        setShell(nullptr);
}

MsgAnswer ScriptedShell::messageBox(const QString &text, MsgIcon icon, MsgButtons buttons,
                                    const QString &title) {
    m_boxes.push_back(Box{text, icon, buttons, title});
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    if (m_answers.empty())
        return MsgAnswer::No;
    const MsgAnswer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void ScriptedShell::endProgram(int exitCode) {
    runBeforeEndHooks();
    m_ended = true;
    throw ProgramEnded(exitCode);
}

void ScriptedShell::doEvents() {
    ++m_doEvents;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    if (m_onDoEvents)
        m_onDoEvents();
}

bool ScriptedShell::openUrl(const QUrl &url) {
    m_opened.push_back(url);
    return true;
}

void ScriptedShell::clear() {
    m_answers.clear();
    m_boxes.clear();
    m_opened.clear();
    m_doEvents = 0;
    m_ended = false;
}

} // namespace mox
