#pragma once

// Shell: the few things the programs ask of the desktop that tests must be able to answer.
//
// Message boxes, ending the program at once, letting pending window events run and handing a
// file to the desktop's viewer all go through the current Shell. The programs install the
// desktop's shell at start (mox::installQtShell in "mox/qtshell.h": QMessageBox, an immediate
// process end that runs no unload handler, QCoreApplication::processEvents,
// QDesktopServices::openUrl). Tests install a ScriptedShell, which records every box and every
// opened address, answers from a queue, and turns the program end into a ProgramEnded exception
// so that a test can see that nothing after the call ran.
//
// This header and its code use QtCore only, so that libraries without widgets (the bonus
// calculation) can report through the shell; the widget shell lives in the "common" library.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <stdexcept>
#include <vector>

namespace mox {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

class Shell {
public:
    virtual ~Shell() = default;

    /// Shows a modal message box and returns the button pressed.
    virtual MsgAnswer messageBox(const QString& text, MsgIcon icon, MsgButtons buttons,
                                 const QString& title) = 0;
    /// Ends the program at once: no window's unload handling runs and nothing is closed. Before
    /// the end, every transaction still open is rolled back (see addBeforeEndHook), so a
    /// half-made change is never left behind. Does not return.
    [[noreturn]] virtual void endProgram(int exitCode = 0) = 0;
    /// Lets the pending window events run once.
    virtual void doEvents() = 0;
    /// Hands \p url (a local file) to the desktop's viewer for its kind and returns at once;
    /// false when the desktop has no viewer for it.
    virtual bool openUrl(const QUrl& url) = 0;

    /// Registers work that must run right before the program ends at once (rolling back open
    /// transactions). Returns an id for removeBeforeEndHook.
    int addBeforeEndHook(std::function<void()> hook);
    void removeBeforeEndHook(int id);

protected:
    void runBeforeEndHooks();
    /// What every process end comes to: the end hooks, every stream flushed, the process ended
    /// at once with \p exitCode.
    [[noreturn]] void endAtOnce(int exitCode);
    /// Writes a box to standard error as one line: "title: text" (the text alone without a
    /// title).
    static void writeToStandardError(const QString& title, const QString& text);

private:
    std::vector<std::pair<int, std::function<void()>>> m_hooks;
    int m_nextHookId = 1;
};

/// The shell in use: the one a test installed with setShell, else the program's own (see
/// setProgramShell), else a HeadlessShell.
Shell& shell();
/// Installs \p s as the shell in use (nullptr restores the program's own). Not owned.
void setShell(Shell* s);
/// Makes \p s the program's own shell, used whenever no other is installed. Not owned.
void setProgramShell(Shell* s);

/// The shell of a process without a desktop: a box is written to the standard error stream and
/// answered Ok, or No when it asks Yes or No; the end runs the hooks and exits at once; nothing
/// is opened.
class HeadlessShell final : public Shell {
public:
    MsgAnswer messageBox(const QString& text, MsgIcon icon, MsgButtons buttons,
                         const QString& title) override;
    [[noreturn]] void endProgram(int exitCode = 0) override;
    void doEvents() override;
    bool openUrl(const QUrl& url) override;
};

/// Thrown by ScriptedShell::endProgram in place of the process end.
struct ProgramEnded : std::runtime_error {
    explicit ProgramEnded(int code) : std::runtime_error("program ended"), exitCode(code) {}
    int exitCode;
};

class ScriptedShell final : public Shell {
public:
    struct Box {
        QString text;
        MsgIcon icon;
        MsgButtons buttons;
        QString title;
    };

    /// Installs itself as the shell in use; the destructor restores the previous one.
    ScriptedShell();
    ~ScriptedShell() override;

    /// Answers for the next Yes/No boxes, in order; an OK box needs none. With the queue empty a
    /// Yes/No box is answered No.
    void queueAnswer(MsgAnswer a) { m_answers.push_back(a); }

    MsgAnswer messageBox(const QString& text, MsgIcon icon, MsgButtons buttons,
                         const QString& title) override;
    [[noreturn]] void endProgram(int exitCode = 0) override;
    void doEvents() override;
    /// Records \p url and opens nothing.
    bool openUrl(const QUrl& url) override;

    /// Work run inside each doEvents, to look at the windows as the user would see them then.
    void setOnDoEvents(std::function<void()> look) { m_onDoEvents = std::move(look); }

    const std::vector<Box>& boxes() const { return m_boxes; }
    const std::vector<QUrl>& openedUrls() const { return m_opened; }
    int doEventsCount() const { return m_doEvents; }
    bool ended() const { return m_ended; }
    void clear();

private:
    std::deque<MsgAnswer> m_answers;
    std::vector<Box> m_boxes;
    std::vector<QUrl> m_opened;
    std::function<void()> m_onDoEvents;
    int m_doEvents = 0;
    bool m_ended = false;
};

} // namespace mox
