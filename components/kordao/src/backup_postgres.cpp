// What a backup of a PostgreSQL database needs of the component: one snapshot whose record
// counts are those pg_dump writes (pg_dump --snapshot), and the connection settings of the INI
// file for the server's client tools.
#include "kordao/backup.h"

#include "connection.h"

#include <QSqlError>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace KorDAO {

QString postgresTableListQuery()
{
    return u"SELECT tablename::text FROM pg_catalog.pg_tables WHERE schemaname = 'public' "
           "ORDER BY 1"_s;
}

mox::Result<std::unique_ptr<ServerSnapshot>> ServerSnapshot::take(const DatabaseHandle& db)
{
    if (!db || db->settings().engine != Engine::Postgres)
        return mox::Status::failure(kBadArgument, u"PostgreSQL のデータベースではありません。"_s);
    std::unique_ptr<ServerSnapshot> snap(new ServerSnapshot(db));
    if (mox::Status s = db->begin(); !s.ok())
        return s;
    const auto fail = [&](const mox::Status& s) {
        (void)db->rollback();
        return mox::Status::failure(s.code, u"%1 のスナップショットを取れません: %2"_s.arg(
                                                db->engine().location(), s.message));
    };
    // Sent as it is, not prepared: the server prepares no SET.
    {
        QSqlQuery set(db->db());
        countStatement();
        if (!set.exec(u"SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"_s))
            return fail(mox::Status::failure(kBeginFailed, Connection::errorText(set.lastError())));
    }
    std::vector<Row> rows;
    if (mox::Status s = db->select(u"SELECT pg_catalog.pg_export_snapshot()"_s, {}, &rows); !s.ok())
        return fail(s);
    snap->m_id = rows.front().front().toString();
    mox::Result<TableCounts> counts = tableCounts(db);
    if (const mox::Status* failure = mox::failure(counts))
        return fail(*failure);
    snap->m_counts = std::move(mox::value(counts));
    return snap;
}

ServerSnapshot::~ServerSnapshot()
{
    if (m_db->inTransaction())
        (void)m_db->rollback();
}

QString truncateStatement(const TableCounts& tables)
{
    QStringList names;
    for (const TableCount& t : tables)
        names.append(Connection::quote(t.table));
    return u"TRUNCATE "_s + names.join(u", "_s);
}

QHash<QString, QString> clientEnvironment(const DatabaseHandle& db)
{
    QHash<QString, QString> env;
    if (!db || db->settings().engine != Engine::Postgres)
        return env;
    const DbSettings& s = db->settings();
    const auto put = [&env](const char* name, const QString& value) {
        if (!value.isEmpty())
            env.insert(QString::fromLatin1(name), value);
    };
    put("PGHOST", s.host);
    put("PGPORT", s.port > 0 ? QString::number(s.port) : QString());
    put("PGUSER", s.user);
    put("PGDATABASE", s.database);
    put("PGSSLMODE", effectiveSslMode(s));
    put("PGSSLROOTCERT", s.sslRootCert);
    put("PGSSLCERT", s.sslCert);
    put("PGSSLKEY", s.sslKey);
    put("PGCHANNELBINDING", s.channelBinding);
    const Author& a = author();
    put("PGAPPNAME", sessionApplicationName(a.program, a.osUser, a.host));
    if (s.hasPassword)
        env.insert(u"PGPASSWORD"_s, s.password);
    return env;
}

} // namespace KorDAO
