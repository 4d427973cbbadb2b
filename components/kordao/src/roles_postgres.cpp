// The group roles of an office's PostgreSQL server (operator, administrator, auditor, and the
// owner of the audit trail) and what they may do in the payroll and environment databases.
// Role names reach the SQL only after isPlainRoleName accepted them, and then quoted; table and
// function names come from the server's catalogue and are quoted too.

#include "kordao/schema.h"

#include "audittrail.h"
#include "connection.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlError>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Runs one statement that takes no values (GRANT, ALTER … OWNER cannot be prepared with binds).
// A failure is the driver's text; the caller names the status.
mox::Status run(const DatabaseHandle& db, const QString& sql)
{
    QSqlQuery q(db->db());
    if (q.exec(sql))
        return mox::Status::success();
    return mox::Status::failure(kUpdateFailed, Connection::errorText(q.lastError()));
}

// The first column of every row of \p sql, appended to \p out.
mox::Status column(const DatabaseHandle& db, const QString& sql, const QVariantList& binds,
                   QStringList* out)
{
    std::vector<Connection::Row> rows;
    if (mox::Status s = db->select(sql, binds, &rows); !s.ok())
        return s;
    for (const Connection::Row& r : rows)
        out->append(r.front().toString());
    return mox::Status::success();
}

mox::Result<bool> roleExists(const DatabaseHandle& db, const QString& role)
{
    QStringList found;
    if (mox::Status s =
            column(db, u"SELECT rolname FROM pg_roles WHERE rolname = ?"_s, {role}, &found);
        !s.ok())
        return s;
    return !found.isEmpty();
}

// Creates \p role (NOLOGIN) unless it exists. Roles belong to the whole server, and another
// administrator may be creating the same role at this moment: a creation that fails because
// the role appeared meanwhile counts as done.
mox::Status ensureRole(const DatabaseHandle& db, const QString& role)
{
    const mox::Result<bool> exists = roleExists(db, role);
    if (const mox::Status* failure = mox::failure(exists))
        return mox::Status::failure(
            kOpenFailed, u"ロール %1 を確認できません: %2"_s.arg(role, failure->message));
    if (mox::value(exists))
        return mox::Status::success();
    const mox::Status created =
        run(db, u"CREATE ROLE "_s + Connection::quote(role) + u" NOLOGIN"_s);
    if (created.ok())
        return mox::Status::success();
    const mox::Result<bool> appeared = roleExists(db, role);
    if (!mox::failure(appeared) && mox::value(appeared))
        return mox::Status::success();
    return mox::Status::failure(kOpenFailed,
                                u"ロール %1 を作成できません: %2"_s.arg(role, created.message));
}

// Everybody's rights but the tables' owners', on the tables \p tables of the database.
void readerRights(const RoleSet& roles, DatabaseKind kind, const QStringList& tables,
                  QStringList* out)
{
    const QString op = Connection::quote(roles.operatorRole);
    const QString admin = Connection::quote(roles.adminRole);
    const QString auditor = Connection::quote(roles.auditorRole);
    const QString audit = QString::fromUtf16(kAuditTable);
    const QString counter = QString::fromUtf16(kRowCountTable);
    // Everybody else's rights are set from nothing each time, so a second run (or a database
    // made by an older version) leaves exactly them.
    const QString others = u"PUBLIC, "_s + op + u", "_s + auditor;
    *out << u"REVOKE ALL ON ALL TABLES IN SCHEMA public FROM "_s + others;
    *out << u"REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM "_s + others + u", "_s + admin;
    // A backup (pg_dump as the administrator) reads where each sequence stands, the trail's
    // numbering included; reading it advances nothing.
    *out << u"GRANT SELECT ON ALL SEQUENCES IN SCHEMA public TO "_s + admin;
    for (const QString& t : {audit, counter}) {
        if (tables.contains(t))
            *out << u"REVOKE ALL ON public."_s + Connection::quote(t) + u" FROM "_s + admin;
    }
    // The schema version is read by every program at start-up and changed by an upgrade alone.
    const QString version = u"KORDAO_VERSION"_s;
    if (tables.contains(version)) {
        *out << u"REVOKE ALL ON public."_s + Connection::quote(version) + u" FROM "_s + admin;
        *out << u"GRANT SELECT ON public."_s + Connection::quote(version) + u" TO "_s + op +
                    u", "_s + admin + u", "_s + auditor;
    }
    // Opening a table reads its record count; the count itself is kept by the counter functions.
    // The administrator lists a table it creates (its count starts from its records).
    if (tables.contains(counter)) {
        *out << u"GRANT SELECT ON public."_s + Connection::quote(counter) + u" TO "_s + op +
                    u", "_s + admin + u", "_s + auditor;
        *out << u"GRANT INSERT ON public."_s + Connection::quote(counter) + u" TO "_s + admin;
    }
    if (kind == DatabaseKind::Environment) {
        for (const QString& t : std::as_const(tables)) {
            if (t != counter && t != version)
                *out << u"GRANT SELECT ON public."_s + Connection::quote(t) + u" TO "_s + op;
        }
        return;
    }
    for (const TableDef& t : payrollTables())
        *out << u"GRANT SELECT, INSERT, UPDATE, DELETE ON public."_s + Connection::quote(t.name) +
                    u" TO "_s + op;
    // The trail is read by the administrator and the auditor, and written by its triggers
    // alone; operators have no right on it at all.
    if (tables.contains(audit))
        *out << u"GRANT SELECT ON public."_s + Connection::quote(audit) + u" TO "_s + admin +
                    u", "_s + auditor;
}

// What the roles may do in this database, every statement in the order it must run.
mox::Status privilegeStatements(const DatabaseHandle& db, const RoleSet& roles, DatabaseKind kind,
                                QStringList* out)
{
    const QString op = Connection::quote(roles.operatorRole);
    const QString admin = Connection::quote(roles.adminRole);
    const QString auditor = Connection::quote(roles.auditorRole);
    const QString owner = Connection::quote(roles.ownerRole);
    const QString audit = QString::fromUtf16(kAuditTable);
    const QString counter = QString::fromUtf16(kRowCountTable);
    QStringList tables;
    QStringList functions;
    QStringList database;
    mox::Status s =
        column(db, u"SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1"_s, {},
               &tables);
    if (s.ok())
        s = column(db,
                   u"SELECT p.proname FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                   "WHERE n.nspname = 'public' AND p.pronargs = 0 AND left(p.proname, 7) = "
                   "'kordao_' ORDER BY 1"_s,
                   {}, &functions);
    if (s.ok())
        s = column(db, u"SELECT current_database()"_s, {}, &database);
    if (!s.ok())
        return mox::Status::failure(kOpenFailed,
                                    u"データベースの一覧を読めません: %1"_s.arg(s.message));

    // The database and its schema: nobody but these roles may connect, nobody may make
    // temporary tables (which could stand in for ours in a careless function), only the
    // administrator may make tables. The superuser owns the database, so that no login owns
    // the schema public (which belongs to the database's owner) through it.
    const QString name = Connection::quote(database.value(0));
    *out << u"ALTER DATABASE "_s + name + u" OWNER TO CURRENT_USER"_s;
    *out << u"REVOKE ALL ON DATABASE "_s + name + u" FROM PUBLIC"_s;
    *out << u"GRANT CONNECT ON DATABASE "_s + name + u" TO "_s + op + u", "_s + admin + u", "_s +
                auditor;
    *out << u"REVOKE ALL ON SCHEMA public FROM PUBLIC"_s;
    *out << u"GRANT USAGE ON SCHEMA public TO "_s + op + u", "_s + auditor + u", "_s + owner;
    *out << u"GRANT USAGE, CREATE ON SCHEMA public TO "_s + admin;

    // The administrator role owns the tables, so that any of its logins may run the set-up
    // again and load data. The trail, the record counter and the trigger functions that write
    // them belong to the owner role, which nobody logs in as: an administrator cannot rewrite
    // the trail, the counts or the functions.
    for (const QString& t : std::as_const(tables)) {
        const bool kept = t == audit || t == counter || t == u"KORDAO_VERSION"_s;
        *out << u"ALTER TABLE public."_s + Connection::quote(t) + u" OWNER TO "_s +
                    (kept ? owner : admin);
        if (!kept)
            *out << u"GRANT ALL PRIVILEGES ON public."_s + Connection::quote(t) + u" TO "_s + admin;
    }
    for (const QString& f : std::as_const(functions)) {
        const QString function = u"FUNCTION public."_s + Connection::quote(f) + u"()"_s;
        *out << u"ALTER "_s + function + u" OWNER TO "_s + owner;
        // Only a role that attaches the triggers needs them.
        *out << u"REVOKE ALL ON "_s + function + u" FROM PUBLIC"_s;
        *out << u"GRANT EXECUTE ON "_s + function + u" TO "_s + admin;
    }

    readerRights(roles, kind, tables, out);
    return mox::Status::success();
}

// The event trigger that keeps every counted table's triggers in place (only the superuser may
// make one), inside the open transaction.
mox::Status keepTriggers(const DatabaseHandle& db, DatabaseKind kind)
{
    QStringList audited;
    if (kind == DatabaseKind::Payroll) {
        for (const TableDef& t : payrollTables())
            audited << t.name;
    }
    QStringList present;
    mox::Status s = ensureServerFunctions(*db, {keepTriggersFunction(audited)});
    if (s.ok())
        s = column(db,
                   u"SELECT evtname FROM pg_event_trigger WHERE evtname = 'kordao_keep_triggers'"_s,
                   {}, &present);
    if (s.ok() && present.isEmpty())
        s = run(db, u"CREATE EVENT TRIGGER kordao_keep_triggers ON ddl_command_end "
                    "EXECUTE FUNCTION public.kordao_keep_triggers()"_s);
    if (!s.ok())
        return mox::Status::failure(kBadCondition,
                                    u"トリガーを守る設定ができません: %1"_s.arg(s.message));
    return mox::Status::success();
}

// True when the login is the server's superuser.
mox::Result<bool> isSuperuser(const DatabaseHandle& db)
{
    QStringList found;
    if (mox::Status s = column(
            db, u"SELECT rolsuper::text FROM pg_roles WHERE rolname = current_user"_s, {}, &found);
        !s.ok())
        return s;
    return found.value(0) == u"true"_s;
}

} // namespace

bool isPlainRoleName(const QString& name)
{
    static const QRegularExpression plain(u"^[a-z_][a-z0-9_]{0,62}$"_s);
    return plain.match(name).hasMatch();
}

mox::Status grantRoles(const DatabaseHandle& db, const RoleSet& roles, DatabaseKind kind)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    if (!isPostgres(db))
        return mox::Status::failure(
            kOpenFailed, u"ロールは PostgreSQL サーバーのデータベースにだけ設定できます（SQLite "
                         "のデータベースには利用者の区別がありません）。"_s);
    const QStringList names = {roles.operatorRole, roles.adminRole, roles.auditorRole,
                               roles.ownerRole};
    for (const QString& role : names) {
        if (!isPlainRoleName(role))
            return mox::Status::failure(
                kBadCondition, u"ロール名「%1」は使えません。英小文字・数字・_ の 63 文字以内で、"
                               "数字で始まらない名前にしてください。"_s.arg(role));
    }
    if (QSet<QString>(names.begin(), names.end()).size() != names.size())
        return mox::Status::failure(
            kBadCondition,
            u"操作者・管理者・監査担当・監査記録の所有者のロールには、それぞれ別の名前が"
            "必要です。"_s);
    if (db->inTransaction())
        return mox::Status::failure(kBeginFailed,
                                    u"トランザクションの途中ではロールを設定できません。"_s);
    if (mox::Status s = checkSuperuser(db); !s.ok())
        return s;

    for (const QString& role : names) {
        if (mox::Status s = ensureRole(db, role); !s.ok())
            return s;
    }

    Transaction tx(db);
    if (!tx.started())
        return mox::Status::failure(kBeginFailed, tx.status().message);
    mox::Status s = keepTriggers(db, kind);
    QStringList statements;
    // The owner of the trail must stay a role nobody logs in as, even one made earlier by hand.
    statements << u"ALTER ROLE "_s + Connection::quote(roles.ownerRole) + u" NOLOGIN"_s;
    if (s.ok())
        s = privilegeStatements(db, roles, kind, &statements);
    for (qsizetype i = 0; s.ok() && i < statements.size(); ++i) {
        if (mox::Status r = run(db, statements[i]); !r.ok())
            s = mox::Status::failure(kBadCondition, u"権限を設定できません: %1"_s.arg(r.message));
    }
    if (!s.ok())
        return s; // undone by tx
    if (mox::Status c = tx.commit(); !c.ok())
        return mox::Status::failure(kCommitFailed, u"権限を設定できません: %1"_s.arg(c.message));
    db->forgetCatalogue();
    return mox::Status::success();
}

mox::Status checkSuperuser(const DatabaseHandle& db)
{
    if (!db || !isPostgres(db))
        return mox::Status::success();
    const mox::Result<bool> yes = isSuperuser(db);
    if (const mox::Status* failure = mox::failure(yes))
        return mox::Status::failure(kOpenFailed,
                                    u"ログインの権限を確認できません: %1"_s.arg(failure->message));
    if (!mox::value(yes))
        return mox::Status::failure(
            kOpenFailed,
            u"ロールの設定（moxdb init --roles）は、サーバーのスーパーユーザー（postgres "
            "など）のログインで実行してください。ロールを作れるだけのログインでは、自分に"
            "監査記録の所有者のロールを与えて記録を書き換えられるため、実行できません。"_s);
    return mox::Status::success();
}

bool isPrivilegeFailure(const QString& message)
{
    // The driver ends a server's message with its state in parentheses: "… (42501)".
    return message.contains(u"(42501)"_s);
}

} // namespace KorDAO
