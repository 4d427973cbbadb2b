#include "audittrail.h"
#include "connection.h"
#include "postgresengine.h"

// How the tables, the record counter and the audit trail are declared on PostgreSQL.

using namespace Qt::StringLiterals;

namespace KorDAO {

QString PostgresEngine::amountType() const
{
    return u"NUMERIC(19,4)"_s;
}

QString PostgresEngine::keyedTableOptions() const
{
    return {};
}

QString PostgresEngine::counterTableDdl() const
{
    return u"CREATE TABLE IF NOT EXISTS "_s +
           Connection::quote(QString::fromUtf16(kRowCountTable)) +
           u" (\"NAME\" TEXT NOT NULL PRIMARY KEY, \"N\" BIGINT NOT NULL DEFAULT 0)"_s;
}

// The triggers call the counter and audit functions, which must exist before them.
mox::Status PostgresEngine::ensureTriggerFunctions(bool audited)
{
    if (mox::Status s = ensureServerFunctions(m_conn, counterFunctions()); !s.ok() || !audited)
        return s;
    return ensureServerFunctions(m_conn, auditFunctions());
}

// Statement triggers: one update of the counter per statement, however many records; TRUNCATE
// sets it to zero.
QStringList PostgresEngine::counterTriggerDdl(const QString& table) const
{
    const QString name = Connection::quote(table);
    return {u"CREATE OR REPLACE TRIGGER "_s + Connection::quote(table + u"_ROWS_ADDED"_s) +
                u" AFTER INSERT ON public."_s + name +
                u" REFERENCING NEW TABLE AS added FOR EACH STATEMENT "
                "EXECUTE FUNCTION public.kordao_rows_added()"_s,
            u"CREATE OR REPLACE TRIGGER "_s + Connection::quote(table + u"_ROWS_REMOVED"_s) +
                u" AFTER DELETE ON public."_s + name +
                u" REFERENCING OLD TABLE AS removed FOR EACH STATEMENT "
                "EXECUTE FUNCTION public.kordao_rows_removed()"_s,
            u"CREATE OR REPLACE TRIGGER "_s + Connection::quote(table + u"_ROWS_CLEARED"_s) +
                u" AFTER TRUNCATE ON public."_s + name +
                u" FOR EACH STATEMENT EXECUTE FUNCTION public.kordao_rows_cleared()"_s};
}

QStringList PostgresEngine::auditTriggerDdl(const TableDef& table) const
{
    return postgresAuditTriggerDdl(table);
}

QString PostgresEngine::auditIdColumn() const
{
    return u"\"ID\" BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"_s;
}

QString PostgresEngine::indexExistsQuery() const
{
    return u"SELECT 1 FROM pg_class WHERE oid = to_regclass(quote_ident(?))"_s;
}

QString PostgresEngine::clientColumnQuery() const
{
    return u"SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass(quote_ident(?)) AND "
           "attname = 'CLIENT' AND NOT attisdropped"_s;
}

// The server writes the trail itself: nothing beside its table.
QStringList PostgresEngine::auditTrailExtraDdl() const
{
    return {};
}

} // namespace KorDAO
