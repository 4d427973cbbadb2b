#include "postgresengine.h"

#include "connection.h"

#include <QSqlError>
#include <QSqlQuery>

// The schema version of a PostgreSQL database: the one-row table KORDAO_VERSION, owned like the
// record counter (by the role that owns the audit trail once grantRoles has run), so that no
// operator's or administrator's login can change it; those who may read the record counter may
// read it.

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

const QString kTable = u"public.\"KORDAO_VERSION\""_s;

// The first column of every row of \p sql.
mox::Result<QStringList> column(Connection& db, const QString& sql)
{
    std::vector<Row> rows;
    if (mox::Status s = db.select(sql, {}, &rows); !s.ok())
        return s;
    QStringList out;
    for (const Row& r : rows)
        out << r.front().toString();
    return out;
}

// Runs one statement that takes no values (CREATE, GRANT, ALTER … OWNER), as the other DDL of
// the component is run.
mox::Status run(Connection& db, const QString& sql)
{
    QSqlQuery q(db.db());
    if (q.exec(sql))
        return mox::Status::success();
    return mox::Status::failure(kUpdateFailed, Connection::errorText(q.lastError()));
}

} // namespace

mox::Result<int> PostgresEngine::readSchemaVersion()
{
    // Asked first, so that a database without the table does not fail (and end) a transaction.
    const mox::Result<QStringList> present =
        column(m_conn, u"SELECT relname::text FROM pg_class WHERE oid = to_regclass('"_s + kTable +
                           u"')"_s);
    if (const mox::Status* s = mox::failure(present))
        return *s;
    if (mox::value(present).isEmpty())
        return 0;
    const mox::Result<QStringList> stored =
        column(m_conn, u"SELECT \"VERSION\" FROM "_s + kTable + u" WHERE \"ONE\" = 1"_s);
    if (const mox::Status* s = mox::failure(stored))
        return *s;
    return mox::value(stored).value(0).toInt();
}

mox::Status PostgresEngine::writeSchemaVersion(int version)
{
    const mox::Result<QStringList> present =
        column(m_conn, u"SELECT relname::text FROM pg_class WHERE oid = to_regclass('"_s + kTable +
                           u"')"_s);
    if (const mox::Status* s = mox::failure(present))
        return *s;
    const bool made = mox::value(present).isEmpty();
    if (made) {
        if (mox::Status s = run(m_conn, u"CREATE TABLE "_s + kTable +
                                            u" (\"ONE\" INTEGER PRIMARY KEY CHECK (\"ONE\" = 1), "
                                            "\"VERSION\" INTEGER NOT NULL)"_s);
            !s.ok())
            return s;
    }
    if (mox::Status s =
            m_conn.execute(u"INSERT INTO "_s + kTable +
                               u" (\"ONE\", \"VERSION\") VALUES (1, ?) ON CONFLICT "
                               "(\"ONE\") DO UPDATE SET \"VERSION\" = EXCLUDED.\"VERSION\""_s,
                           {version});
        !s.ok() || !made)
        return s;

    // A new table is read by whoever may read the record counter and goes to the counter's
    // owner, when that is not this login (a server whose roles are set up).
    const mox::Result<QStringList> readers = column(
        m_conn, u"SELECT r.rolname::text FROM pg_class c CROSS JOIN LATERAL aclexplode(c.relacl) a "
                "JOIN pg_roles r ON r.oid = a.grantee WHERE c.oid = "
                "to_regclass('public.\"KORDAO_ROWS\"') AND a.privilege_type = 'SELECT' "
                "ORDER BY 1"_s);
    if (const mox::Status* s = mox::failure(readers))
        return *s;
    for (const QString& role : mox::value(readers)) {
        if (mox::Status s =
                run(m_conn, u"GRANT SELECT ON "_s + kTable + u" TO "_s + Connection::quote(role));
            !s.ok())
            return s;
    }
    const mox::Result<QStringList> owner =
        column(m_conn, u"SELECT pg_get_userbyid(c.relowner)::text FROM pg_class c WHERE c.oid = "
                       "to_regclass('public.\"KORDAO_ROWS\"') AND pg_get_userbyid(c.relowner) <> "
                       "current_user"_s);
    if (const mox::Status* s = mox::failure(owner))
        return *s;
    if (mox::value(owner).isEmpty())
        return mox::Status::success();
    return run(m_conn, u"ALTER TABLE "_s + kTable + u" OWNER TO "_s +
                           Connection::quote(mox::value(owner).front()));
}

} // namespace KorDAO
