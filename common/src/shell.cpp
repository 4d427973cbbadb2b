#include "mox/shell.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace mox {
namespace {

HeadlessShell& headlessShell()
{
    static HeadlessShell instance;
    return instance;
}

Shell* g_current = nullptr;
Shell* g_program = nullptr;

} // namespace

int Shell::addBeforeEndHook(std::function<void()> hook)
{
    const int id = m_nextHookId++;
    m_hooks.emplace_back(id, std::move(hook));
    return id;
}

void Shell::removeBeforeEndHook(int id)
{
    std::erase_if(m_hooks, [id](const auto& h) { return h.first == id; });
}

void Shell::runBeforeEndHooks()
{
    // Newest first, like destructors; a hook may not add or remove hooks.
    const auto hooks = m_hooks;
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
        it->second();
}

Shell& shell()
{
    if (g_current)
        return *g_current;
    return g_program ? *g_program : headlessShell();
}

void setShell(Shell* s)
{
    g_current = s;
}

void setProgramShell(Shell* s)
{
    g_program = s;
}

MsgAnswer HeadlessShell::messageBox(const QString& text, MsgIcon, MsgButtons buttons,
                                    const QString& title)
{
    writeToStandardError(title, text);
    return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

void HeadlessShell::endProgram(int exitCode)
{
    endAtOnce(exitCode);
}

void Shell::endAtOnce(int exitCode)
{
    runBeforeEndHooks();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

void Shell::writeToStandardError(const QString& title, const QString& text)
{
    std::fprintf(stderr, "%s%s%s\n", qPrintable(title), title.isEmpty() ? "" : ": ",
                 qPrintable(text));
}

void HeadlessShell::doEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

bool HeadlessShell::openUrl(const QUrl&)
{
    return false;
}

ScriptedShell::ScriptedShell()
{
    setShell(this);
}

ScriptedShell::~ScriptedShell()
{
    if (g_current == this)
        setShell(nullptr);
}

MsgAnswer ScriptedShell::messageBox(const QString& text, MsgIcon icon, MsgButtons buttons,
                                    const QString& title)
{
    m_boxes.push_back(Box{text, icon, buttons, title});
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    if (m_answers.empty())
        return MsgAnswer::No;
    const MsgAnswer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void ScriptedShell::endProgram(int exitCode)
{
    runBeforeEndHooks();
    m_ended = true;
    throw ProgramEnded(exitCode);
}

void ScriptedShell::doEvents()
{
    ++m_doEvents;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    if (m_onDoEvents)
        m_onDoEvents();
}

bool ScriptedShell::openUrl(const QUrl& url)
{
    m_opened.push_back(url);
    return true;
}

void ScriptedShell::clear()
{
    m_answers.clear();
    m_boxes.clear();
    m_opened.clear();
    m_doEvents = 0;
    m_ended = false;
}

} // namespace mox
