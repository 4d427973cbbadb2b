#include "kordao/kordao.h"
#include "moxdb/command.h"
#include "moxdb/init.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

int runInit(const QStringList& args, QTextStream& out, QTextStream& err)
{
    Options options(args, {u"--dir"_s});
    if (!options.ok()) {
        err << "moxdb init: " << options.error() << '\n';
        return 2;
    }
    // With --dir only that folder counts; otherwise the usual search, and defaults go to
    // $MOX_INI_DIR or the current folder.
    QStringList folders = KorDAO::iniSearchFolders();
    QString defaultDir = qEnvironmentVariable("MOX_INI_DIR", QDir::currentPath());
    if (options.has(u"--dir"_s)) {
        defaultDir = options.value(u"--dir"_s);
        folders = {defaultDir};
        useIniFolder(defaultDir);
    }
    auto files = ensureIniFiles(folders, defaultDir);
    if (const mox::Status* s = mox::failure(files)) {
        err << "moxdb init: " << s->message << '\n';
        return 1;
    }
    const IniFiles& f = mox::value(files);
    if (f.written)
        out << "wrote " << f.payroll << " and " << f.environment << '\n';
    else
        out << "using " << f.payroll << " and " << f.environment << '\n';
    if (mox::Status s = initDatabases(initSteps(), out); !s.ok()) {
        err << "moxdb init: " << s.message << '\n';
        return 1;
    }
    return 0;
}

} // namespace

Command initCommand()
{
    return {u"init"_s, u"[--dir DIR]"_s,
            u"create the payroll and environment databases named by MOX.INI and MOXENV.INI "
            u"(writing default SQLite files into DIR when neither exists)"_s,
            &runInit};
}

} // namespace moxdb
