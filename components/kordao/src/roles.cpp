// The two group roles of an office's PostgreSQL server and what they may do in the payroll and
// environment databases. Role names reach the SQL only after isPlainRoleName accepted them, and
// then quoted; table and function names come from the server's catalogue and are quoted too.

#include "kordao/schema.h"

#include "connection.h"

#include <QRegularExpression>
#include <QSqlError>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Runs one statement that takes no values (GRANT, ALTER … OWNER cannot be prepared with binds).
bool run(const DatabaseHandle& db, const QString& sql, QString* error)
{
    QSqlQuery q(db->db());
    if (q.exec(sql))
        return true;
    *error = Connection::errorText(q.lastError());
    return false;
}

// The first column of every row of \p sql.
bool column(const DatabaseHandle& db, const QString& sql, const QVariantList& binds,
            QStringList* out, QString* error)
{
    std::vector<Connection::Row> rows;
    if (!db->select(sql, binds, &rows, error))
        return false;
    for (const Connection::Row& r : rows)
        out->append(r.front().toString());
    return true;
}

bool roleExists(const DatabaseHandle& db, const QString& role, bool* exists, QString* error)
{
    QStringList found;
    if (!column(db, u"SELECT rolname FROM pg_roles WHERE rolname = ?"_s, {role}, &found, error))
        return false;
    *exists = !found.isEmpty();
    return true;
}

// Creates \p role (NOLOGIN) unless it exists. Roles belong to the whole server, and another
// administrator may be creating the same role at this moment: a creation that fails because
// the role appeared meanwhile counts as done.
mox::Status ensureRole(const DatabaseHandle& db, const QString& role)
{
    QString error;
    bool exists = false;
    if (!roleExists(db, role, &exists, &error))
        return mox::Status::failure(-1, u"ロール %1 を確認できません: %2"_s.arg(role, error));
    if (exists)
        return mox::Status::success();
    if (run(db, u"CREATE ROLE "_s + Connection::quote(role) + u" NOLOGIN"_s, &error))
        return mox::Status::success();
    QString ignored;
    if (roleExists(db, role, &exists, &ignored) && exists)
        return mox::Status::success();
    return mox::Status::failure(-1, u"ロール %1 を作成できません: %2"_s.arg(role, error));
}

// What the roles may do in this database, every statement in the order it must run.
mox::Status privilegeStatements(const DatabaseHandle& db, const QString& operatorRole,
                                const QString& adminRole, DatabaseKind kind, QStringList* out)
{
    const QString op = Connection::quote(operatorRole);
    const QString admin = Connection::quote(adminRole);
    QString error;
    QStringList tables;
    QStringList functions;
    QStringList database;
    QStringList member;
    if (!column(db, u"SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1"_s, {},
                &tables, &error) ||
        !column(db,
                u"SELECT p.proname FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                "WHERE n.nspname = 'public' AND p.pronargs = 0 AND left(p.proname, 7) = 'kordao_' "
                "ORDER BY 1"_s,
                {}, &functions, &error) ||
        !column(db, u"SELECT current_database()"_s, {}, &database, &error) ||
        !column(db, u"SELECT pg_has_role(current_user, ?, 'MEMBER')::text"_s, {adminRole}, &member,
                &error))
        return mox::Status::failure(-1, u"データベースの一覧を読めません: %1"_s.arg(error));

    // The administrator role owns the tables and the record-counter functions, so that any of
    // its logins may run the set-up again (indexes, triggers and functions are replaced only by
    // their owner) and the counter functions run with its rights. Handing an object to a role
    // needs membership of it.
    // Only the administrator may make tables; PUBLIC loses CREATE where an older server gave it.
    // (A new owner must also be allowed to create in the schema, so this comes first.)
    *out << u"GRANT CONNECT ON DATABASE "_s + Connection::quote(database.value(0)) + u" TO "_s +
                op + u", "_s + admin;
    *out << u"REVOKE CREATE ON SCHEMA public FROM PUBLIC"_s;
    *out << u"GRANT USAGE, CREATE ON SCHEMA public TO "_s + admin;
    *out << u"GRANT USAGE ON SCHEMA public TO "_s + op;
    if (member.value(0) != u"true"_s)
        *out << u"GRANT "_s + admin + u" TO CURRENT_USER"_s;
    for (const QString& t : std::as_const(tables))
        *out << u"ALTER TABLE "_s + Connection::quote(t) + u" OWNER TO "_s + admin;
    for (const QString& f : std::as_const(functions))
        *out << u"ALTER FUNCTION "_s + Connection::quote(f) + u"() OWNER TO "_s + admin;
    *out << u"GRANT ALL PRIVILEGES ON ALL TABLES IN SCHEMA public TO "_s + admin;
    *out << u"GRANT ALL PRIVILEGES ON ALL SEQUENCES IN SCHEMA public TO "_s + admin;

    // The operator's rights are set from nothing each time, so a second run leaves exactly them.
    *out << u"REVOKE ALL ON ALL TABLES IN SCHEMA public FROM "_s + op;
    if (kind == DatabaseKind::Environment) {
        *out << u"GRANT SELECT ON ALL TABLES IN SCHEMA public TO "_s + op;
        return mox::Status::success();
    }
    for (const TableDef& t : payrollTables())
        *out << u"GRANT SELECT, INSERT, UPDATE, DELETE ON "_s + Connection::quote(t.name) +
                    u" TO "_s + op;
    // Opening a table reads its record count; the count itself is kept by the counter
    // functions, which run with the owner's rights.
    *out << u"GRANT SELECT ON "_s + Connection::quote(QString::fromUtf16(kRowCountTable)) +
                u" TO "_s + op;
    // The audit trail may be added to and nothing else: no reading, correcting or removing.
    // Its identity column needs no right on its sequence.
    *out << u"GRANT INSERT ON "_s + Connection::quote(QString::fromUtf16(kAuditTable)) + u" TO "_s +
                op;
    return mox::Status::success();
}

} // namespace

bool isPlainRoleName(const QString& name)
{
    static const QRegularExpression plain(u"^[a-z_][a-z0-9_]{0,62}$"_s);
    return plain.match(name).hasMatch();
}

mox::Status grantRoles(const DatabaseHandle& db, const QString& operatorRole,
                       const QString& adminRole, DatabaseKind kind)
{
    if (!db)
        return mox::Status::failure(-1, u"データベースが開かれていません。"_s);
    if (!isPostgres(db))
        return mox::Status::failure(
            -1, u"ロールは PostgreSQL サーバーのデータベースにだけ設定できます（SQLite "
                "のデータベースには利用者の区別がありません）。"_s);
    for (const QString& role : {operatorRole, adminRole}) {
        if (!isPlainRoleName(role))
            return mox::Status::failure(
                -66, u"ロール名「%1」は使えません。英小文字・数字・_ の 63 文字以内で、"
                     "数字で始まらない名前にしてください。"_s.arg(role));
    }
    if (operatorRole == adminRole)
        return mox::Status::failure(-66, u"操作者と管理者のロールには別の名前が必要です。"_s);
    if (db->inTransaction())
        return mox::Status::failure(-15, u"トランザクションの途中ではロールを設定できません。"_s);

    for (const QString& role : {operatorRole, adminRole}) {
        if (mox::Status s = ensureRole(db, role); !s.ok())
            return s;
    }

    QString error;
    if (!db->begin(&error))
        return mox::Status::failure(-15, error);
    QStringList statements;
    mox::Status s = privilegeStatements(db, operatorRole, adminRole, kind, &statements);
    for (qsizetype i = 0; s.ok() && i < statements.size(); ++i) {
        if (!run(db, statements[i], &error))
            s = mox::Status::failure(-66, u"権限を設定できません: %1"_s.arg(error));
    }
    if (s.ok() && !db->commit(&error))
        s = mox::Status::failure(-16, u"権限を設定できません: %1"_s.arg(error));
    if (!s.ok()) {
        QString ignored;
        if (db->inTransaction())
            db->rollback(&ignored);
        return s;
    }
    db->forgetCatalogue();
    return mox::Status::success();
}

bool isPrivilegeFailure(const QString& message)
{
    // The driver ends a server's message with its state in parentheses: "… (42501)".
    return message.contains(u"(42501)"_s);
}

} // namespace KorDAO
