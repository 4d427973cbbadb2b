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
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (switches.contains(a)) {
            m_values.insert(a, QString());
        } else if (withValue.contains(a)) {
            if (i + 1 >= args.size()) {
                m_error = u"%1 needs a value"_s.arg(a);
                return;
            }
            m_values.insert(a, args[++i]);
        } else {
            m_error = u"unknown argument %1"_s.arg(a);
            return;
        }
    }
}

QString Options::value(const QString& name, const QString& fallback) const
{
    return m_values.value(name, fallback);
}

int Options::number(const QString& name, int fallback, int low, int high)
{
    if (!has(name))
        return fallback;
    bool ok = false;
    const int n = value(name).toInt(&ok);
    if (!ok || n < low || n > high) {
        m_error = u"%1 must be a whole number from %2 to %3"_s.arg(name).arg(low).arg(high);
        return fallback;
    }
    return n;
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
