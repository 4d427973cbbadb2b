#pragma once

// The sub-commands of moxdb. Each lives in a file of its own and is listed once in main.cpp:
//
//     const moxdb::Command commands[] = {moxdb::initCommand(), moxdb::demoCommand(), ...};
//     return moxdb::dispatch(commands, app.arguments().mid(1), out, err);
//
// A command gets its own arguments (without the program and command names) and two streams; it
// returns the process exit code (0 success).

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <span>

namespace moxdb {

struct Command {
    QString name;    // the word after "moxdb", e.g. "init"
    QString usage;   // the arguments, e.g. "[--dir DIR]"
    QString summary; // one line for the help text
    int (*run)(const QStringList& args, QTextStream& out, QTextStream& err);
};

/// Runs the command named by the first of \p args with the rest; prints the list of commands
/// for no argument, "help", "-h" or "--help" (exit 0) and for an unknown name (exit 2).
int dispatch(std::span<const Command> commands, const QStringList& args, QTextStream& out,
             QTextStream& err);

/// Options of a command: "--name value" pairs and "--flag" switches.
class Options {
public:
    /// Splits \p args; names in \p withValue take the next argument as their value, names in
    /// \p switches take none. Anything else makes ok() false with error() naming it.
    Options(const QStringList& args, const QStringList& withValue,
            const QStringList& switches = {});

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    bool has(const QString& name) const { return m_values.contains(name); }
    QString value(const QString& name, const QString& fallback = {}) const;
    /// The whole number given for \p name, \p fallback when it is absent; a value that is not
    /// a whole number from \p low to \p high sets error().
    int number(const QString& name, int fallback, int low, int high);

private:
    QHash<QString, QString> m_values;
    QString m_error;
};

/// Makes the folder \p dir the only place where the configuration files are looked for, for the
/// rest of the process: the --dir of every command.
void useIniFolder(const QString& dir);

/// A failure text as the commands print it: when the database server refused for lack of
/// privilege, it first says that the login has no right to do this, then gives the server's text.
QString failureText(const QString& message);

Command initCommand();
Command demoCommand();
Command synthCommand();
Command taxCommand();
Command calcCommand();
Command auditCommand();
Command exportCommand();
Command ledgerCommand();
Command upgradeCommand();
Command importCommand();

} // namespace moxdb
