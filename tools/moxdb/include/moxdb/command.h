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

/// The options a command accepts, for Options.
struct OptionNames {
    QStringList withValue = {};  // "--out FILE": each takes the next argument as its value
    QStringList switches = {};   // "--replace": none takes a value
    QStringList withValues = {}; // "--employee 10025 10026": the arguments up to the next "--…"
    bool positional = false;     // other arguments not starting with "--" are kept, in order
};

/// Options of a command: "--name value" pairs, "--name value…" lists, "--flag" switches and,
/// where the command takes them, positional arguments ("moxdb export GKJINJI GKKYUYO").
///
///     Options o(args, {.withValue = {u"--out"_s}, .withValues = {u"--employee"_s},
///                      .positional = true});
///     if (!o.ok()) … o.fault(), o.faultArgument() name what was wrong
class Options {
public:
    /// What made ok() false.
    enum class Fault {
        None,
        Unknown, // an option not accepted, or a positional argument where none is
        NoValue, // an option without its value (a list option without any)
        BadValue // a value number() refused
    };

    /// Splits \p args; names in \p withValue take the next argument as their value, names in
    /// \p switches take none. Anything else makes ok() false with error() naming it.
    Options(const QStringList& args, const QStringList& withValue,
            const QStringList& switches = {});
    /// Splits \p args as \p names accept them; the first fault ends the split.
    Options(const QStringList& args, const OptionNames& names);

    bool ok() const { return m_fault == Fault::None; }
    /// The fault, in English, for the commands that print it as it is.
    const QString& error() const { return m_error; }
    Fault fault() const { return m_fault; }
    /// The argument at fault (the option, or the positional argument).
    const QString& faultArgument() const { return m_faultArgument; }

    bool has(const QString& name) const { return m_values.contains(name); }
    /// The value given for \p name (the last when given more than once).
    QString value(const QString& name, const QString& fallback = {}) const;
    /// Every value given for \p name, in order: for a list option those of each time it is
    /// given, for an option with a value one a time it is given.
    QStringList values(const QString& name) const { return m_values.value(name); }
    /// The arguments that belong to no option, in order.
    const QStringList& positional() const { return m_positional; }
    /// The whole number given for \p name, \p fallback when it is absent; a value that is not
    /// a whole number from \p low to \p high sets error().
    int number(const QString& name, int fallback, int low, int high);

private:
    void refuse(Fault fault, const QString& argument, const QString& error);

    QHash<QString, QStringList> m_values;
    QStringList m_positional;
    Fault m_fault = Fault::None;
    QString m_faultArgument;
    QString m_error;
};

/// The fault of \p options in Japanese, as the data commands print it: "--x は使えない指定です。"
/// for an option they do not take, "--x には値が要ります。" for one without its value.
QString optionFaultText(const Options& options);
/// The first of \p names that \p options holds more than one value of; empty when none.
QString repeatedOption(const Options& options, const QStringList& names);

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
Command bonusCommand();

} // namespace moxdb
