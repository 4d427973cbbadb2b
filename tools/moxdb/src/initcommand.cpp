#include "kordao/kordao.h"
#include "kordao/schema.h"
#include "moxdb/command.h"
#include "moxdb/init.h"

#include <QDir>

#include <optional>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// "<$variable>/mox", or "~/<fallback>/mox" when the variable is unset or empty.
QString userFolder(const char* variable, const QString& fallback)
{
    QString base = qEnvironmentVariable(variable);
    if (base.isEmpty())
        base = QDir::homePath() + u'/' + fallback;
    return base + u"/mox"_s;
}

// The role names of --roles (each option or its default); nullopt, with the reason on \p err,
// when one is not a plain name.
std::optional<RoleNames> roleNames(const Options& options, bool roles, QTextStream& err)
{
    RoleNames names;
    names.operatorRole = options.value(u"--operator-role"_s, names.operatorRole);
    names.adminRole = options.value(u"--admin-role"_s, names.adminRole);
    names.auditorRole = options.value(u"--auditor-role"_s, names.auditorRole);
    names.ownerRole = options.value(u"--owner-role"_s, names.ownerRole);
    for (const QString& role :
         {names.operatorRole, names.adminRole, names.auditorRole, names.ownerRole}) {
        if (roles && !KorDAO::isPlainRoleName(role)) {
            err << "moxdb init: "
                << u"ロール名「%1」は使えません。英小文字・数字・_ の 63 "
                   u"文字以内で、数字で始まらない"
                   u"名前にしてください。"_s.arg(role)
                << '\n';
            return std::nullopt;
        }
    }
    return names;
}

int runInit(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const QStringList roleOptions = {u"--operator-role"_s, u"--admin-role"_s, u"--auditor-role"_s,
                                     u"--owner-role"_s};
    Options options(args, QStringList{u"--dir"_s} + roleOptions, {u"--roles"_s});
    const bool roles = options.has(u"--roles"_s);
    if (!options.ok()) {
        err << "moxdb init: " << options.error() << '\n';
        return 2;
    }
    for (const QString& option : roleOptions) {
        if (!roles && options.has(option)) {
            err << "moxdb init: " << option << " goes with --roles\n";
            return 2;
        }
    }
    std::optional<RoleNames> names = roleNames(options, roles, err);
    if (!names)
        return 2;
    // With --dir only that folder counts; otherwise the usual search. Default files go to
    // $MOX_INI_DIR when it is set (the current folder when it is empty); with no setting at all
    // they are the user's own: the INI files in $XDG_CONFIG_HOME/mox, where the search finds
    // them, and the databases in $XDG_DATA_HOME/mox.
    QStringList folders = KorDAO::iniSearchFolders();
    QString defaultDir = qEnvironmentVariable("MOX_INI_DIR", QDir::currentPath());
    QString databaseDir;
    if (!qEnvironmentVariableIsSet("MOX_INI_DIR")) {
        defaultDir = userFolder("XDG_CONFIG_HOME", u".config"_s);
        databaseDir = userFolder("XDG_DATA_HOME", u".local/share"_s);
    }
    if (options.has(u"--dir"_s)) {
        defaultDir = options.value(u"--dir"_s);
        databaseDir.clear();
        folders = {defaultDir};
        useIniFolder(defaultDir);
    }
    if (roles) {
        // The default files name SQLite databases, where roles mean nothing: never write them.
        mox::Status s =
            findIni(kPayrollIni, folders).isEmpty() || findIni(kEnvironmentIni, folders).isEmpty()
                ? mox::Status::failure(KorDAO::kDatabaseMissing,
                                       u"--roles には PostgreSQL サーバーを指す %1 と %2 が必要です"
                                       u"（Driver=QPSQL）。"_s.arg(kPayrollIni, kEnvironmentIni))
                : checkRolesPossible();
        if (!s.ok()) {
            err << "moxdb init: " << s.message << '\n';
            return 1;
        }
    }
    auto files = ensureIniFiles(folders, defaultDir, databaseDir);
    if (const mox::Status* s = mox::failure(files)) {
        err << "moxdb init: " << failureText(s->message) << '\n';
        return 1;
    }
    const IniFiles& f = mox::value(files);
    if (f.written)
        out << "wrote " << f.payroll << " and " << f.environment << '\n';
    else
        out << "using " << f.payroll << " and " << f.environment << '\n';
    if (mox::Status s = initDatabases(initSteps(), out); !s.ok()) {
        err << "moxdb init: " << failureText(s.message) << '\n';
        return 1;
    }
    if (roles) {
        if (mox::Status s = setUpRoles(*names, out); !s.ok()) {
            err << "moxdb init: " << failureText(s.message) << '\n';
            return 1;
        }
    }
    return 0;
}

} // namespace

Command initCommand()
{
    return {u"init"_s,
            u"[--dir DIR] [--roles [--operator-role NAME] [--admin-role NAME] "
            u"[--auditor-role NAME] [--owner-role NAME]]"_s,
            u"create the payroll and environment databases named by MOX.INI and MOXENV.INI "
            u"(writing default SQLite files into DIR when neither exists); with --roles, run by "
            u"the PostgreSQL server's superuser, also the roles of operators, administrators, "
            u"auditors and the owner of the audit trail, and their rights (defaults "
            u"mox_operator, mox_admin, mox_auditor, mox_audit_owner)"_s,
            &runInit};
}

} // namespace moxdb
