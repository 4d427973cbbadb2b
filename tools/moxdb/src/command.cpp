#include "moxdb/command.h"

#include "kordao/schema.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

void printUsage(std::span<const Command> commands, QTextStream& s)
{
    s << "usage: moxdb <command> [options]\n\n";
    for (const Command& c : commands)
        s << "  moxdb " << c.name << ' ' << c.usage << "\n      " << c.summary << '\n';
    s.flush();
}

} // namespace

int dispatch(std::span<const Command> commands, const QStringList& args, QTextStream& out,
             QTextStream& err)
{
    if (args.isEmpty() || args.first() == u"help"_s || args.first() == u"-h"_s ||
        args.first() == u"--help"_s) {
        printUsage(commands, out);
        return 0;
    }
    for (const Command& c : commands) {
        if (c.name == args.first()) {
            const int rc = c.run(args.mid(1), out, err);
            out.flush();
            err.flush();
            return rc;
        }
    }
    err << "moxdb: unknown command " << args.first() << "\n\n";
    printUsage(commands, err);
    return 2;
}

Options::Options(const QStringList& args, const QStringList& withValue, const QStringList& switches)
    : Options(args, OptionNames{.withValue = withValue, .switches = switches})
{
}

Options::Options(const QStringList& args, const OptionNames& names)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (names.switches.contains(a)) {
            (void)m_values[a]; // present, without a value
        } else if (names.withValue.contains(a)) {
            if (i + 1 >= args.size()) {
                refuse(Fault::NoValue, a, u"%1 needs a value"_s.arg(a));
                return;
            }
            m_values[a].append(args[++i]);
        } else if (names.withValues.contains(a)) {
            QStringList& list = m_values[a];
            const qsizetype first = i + 1;
            while (i + 1 < args.size() && !args[i + 1].startsWith(u"--"_s))
                list.append(args[++i]);
            if (i < first) {
                refuse(Fault::NoValue, a, u"%1 needs a value"_s.arg(a));
                return;
            }
        } else if (names.positional && !a.startsWith(u"--"_s)) {
            m_positional.append(a);
        } else {
            refuse(Fault::Unknown, a, u"unknown argument %1"_s.arg(a));
            return;
        }
    }
}

void Options::refuse(Fault fault, const QString& argument, const QString& error)
{
    m_fault = fault;
    m_faultArgument = argument;
    m_error = error;
}

QString Options::value(const QString& name, const QString& fallback) const
{
    const QStringList given = m_values.value(name);
    return given.isEmpty() ? fallback : given.last();
}

int Options::number(const QString& name, int fallback, int low, int high)
{
    if (!has(name))
        return fallback;
    bool ok = false;
    const int n = value(name).toInt(&ok);
    if (!ok || n < low || n > high) {
        refuse(Fault::BadValue, name,
               u"%1 must be a whole number from %2 to %3"_s.arg(name).arg(low).arg(high));
        return fallback;
    }
    return n;
}

QString optionFaultText(const Options& options)
{
    switch (options.fault()) {
    case Options::Fault::None:
        return {};
    case Options::Fault::Unknown:
        return u"%1 は使えない指定です。"_s.arg(options.faultArgument());
    case Options::Fault::NoValue:
        return u"%1 には値が要ります。"_s.arg(options.faultArgument());
    case Options::Fault::BadValue:
        break;
    }
    return options.error();
}

QString repeatedOption(const Options& options, const QStringList& names)
{
    for (const QString& name : names) {
        if (options.values(name).size() > 1)
            return name;
    }
    return {};
}

void useIniFolder(const QString& dir)
{
    KorDAO::confineIniSearch(QDir(dir).absolutePath());
}

QString failureText(const QString& message)
{
    if (!KorDAO::isPrivilegeFailure(message))
        return message;
    return u"権限がありません。このデータベースのログインには、この操作が許されていません"
           u"（管理者のログインで実行してください）。サーバーの応答: "_s +
           message;
}

} // namespace moxdb
