// moxdb audit: the audit trail of the payroll database, oldest first.
//
//   moxdb audit [--employee N] [--since YYYY-MM-DD] [--dir DIR]
//
// The database is the one "MOX.INI" names. Reading the trail needs a login allowed to read the
// audit table (an administrator's or an auditor's on a PostgreSQL server); operators have no
// right on it. Who made a change is printed "osuser@host (DB: login)": the part before "(DB:"
// is what the writing program reported, the login is the server's own.

#include "moxdb/audit.h"
#include "moxdb/command.h"
#include "moxdb/init.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kUsage = u"[--employee N] [--since YYYY-MM-DD] [--dir DIR]"_s;

int runAudit(const QStringList& args, QTextStream& out, QTextStream& err)
{
    Options options(args, {u"--employee"_s, u"--since"_s, u"--dir"_s});
    const int employee = options.number(u"--employee"_s, 0, 0, 999'999'999);
    if (!options.ok()) {
        err << "moxdb audit: " << options.error() << "\nusage: moxdb audit " << kUsage << '\n';
        return 2;
    }
    AuditSelection selection;
    if (options.has(u"--employee"_s))
        selection.employee = employee;
    selection.since = options.value(u"--since"_s);
    const mox::Result<QString> filter = auditFilter(selection);
    if (const mox::Status* s = mox::failure(filter)) {
        err << "moxdb audit: " << s->message << '\n';
        return 2;
    }
    if (options.has(u"--dir"_s))
        useIniFolder(options.value(u"--dir"_s));

    KorDAO::clsDbAccess db;
    db.setDBIniNameString(kPayrollIni);
    if (db.DAO_DBOpen() != 0) {
        err << "moxdb audit: "
            << failureText(
                   u"給与データベース（%1）を開けません: %2"_s.arg(kPayrollIni, db.lastError()))
            << '\n';
        return 1;
    }
    if (mox::Status s = checkVersion(kPayrollIni, db.DBDatabase()); !s.ok()) {
        err << "moxdb audit: " << s.message << '\n';
        return 1;
    }
    const mox::Result<int> printed = printAuditTrail(db.DBDatabase(), selection, out);
    (void)db.DAO_DBClose();
    if (const mox::Status* s = mox::failure(printed)) {
        err << "moxdb audit: " << failureText(s->message) << '\n';
        return 1;
    }
    return 0;
}

} // namespace

Command auditCommand()
{
    return {u"audit"_s, kUsage,
            u"print the audit trail of the payroll database (who changed what, oldest first)"_s,
            &runAudit};
}

} // namespace moxdb
