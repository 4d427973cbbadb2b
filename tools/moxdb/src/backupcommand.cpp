// moxdb backup FILE and moxdb restore FILE [--replace]: see moxdb/backup.h.
//
//   moxdb backup FILE [--dir DIR]
//   moxdb restore FILE [--replace] [--dir DIR]

#include "moxdb/backup.h"
#include "moxdb/command.h"

#include <csignal>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kBackupUsage = u"FILE [--dir DIR]"_s;
const QString kRestoreUsage = u"FILE [--replace] [--dir DIR]"_s;

// A file size limit (ulimit -f) must end in a message and a removed temporary file, not in the
// signal that would kill the process half-way.
void writeFailuresAsErrors()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

int runBackup(const QStringList& args, QTextStream& out, QTextStream& err)
{
    QStringList rest = args;
    const QString file =
        rest.isEmpty() || rest.first().startsWith(u"--"_s) ? QString() : rest.takeFirst();
    Options options(rest, {u"--dir"_s});
    if (file.isEmpty() || !options.ok()) {
        err << "moxdb backup: " << (options.ok() ? u"FILE is missing"_s : options.error())
            << "\nusage: moxdb backup " << kBackupUsage << '\n';
        return 2;
    }
    writeFailuresAsErrors();
    if (mox::Status s = makeBackup(options.value(u"--dir"_s), file, out); !s.ok()) {
        err << "moxdb backup: " << failureText(s.message) << '\n';
        return 1;
    }
    return 0;
}

int runRestore(const QStringList& args, QTextStream& out, QTextStream& err)
{
    QStringList rest = args;
    const QString file =
        rest.isEmpty() || rest.first().startsWith(u"--"_s) ? QString() : rest.takeFirst();
    Options options(rest, {u"--dir"_s}, {u"--replace"_s});
    if (file.isEmpty() || !options.ok()) {
        err << "moxdb restore: " << (options.ok() ? u"FILE is missing"_s : options.error())
            << "\nusage: moxdb restore " << kRestoreUsage << '\n';
        return 2;
    }
    writeFailuresAsErrors();
    if (mox::Status s =
            restoreBackup(options.value(u"--dir"_s), file, options.has(u"--replace"_s), out);
        !s.ok()) {
        err << "moxdb restore: " << failureText(s.message) << '\n';
        return 1;
    }
    return 0;
}

} // namespace

Command backupCommand()
{
    return {u"backup"_s, kBackupUsage,
            u"write both databases, checked, into one backup file (while desks work)"_s,
            &runBackup};
}

Command restoreCommand()
{
    return {u"restore"_s, kRestoreUsage,
            u"restore a backup into empty databases of its engine (--replace: over data)"_s,
            &runRestore};
}

} // namespace moxdb
