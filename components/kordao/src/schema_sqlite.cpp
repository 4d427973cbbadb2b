#include "audittrail.h"
#include "connection.h"
#include "sqliteengine.h"

#include <tuple>

// How the tables, the record counter and the audit trail are declared on SQLite.

using namespace Qt::StringLiterals;

namespace KorDAO {

QString SqliteEngine::amountType() const
{
    return u"NUMERIC"_s;
}

// A keyed table is stored in key order, so a walk by key reads it sequentially.
QString SqliteEngine::keyedTableOptions() const
{
    return u" WITHOUT ROWID"_s;
}

QString SqliteEngine::counterTableDdl() const
{
    return u"CREATE TABLE IF NOT EXISTS "_s +
           Connection::quote(QString::fromUtf16(kRowCountTable)) +
           u" (\"NAME\" TEXT NOT NULL PRIMARY KEY, \"N\" INTEGER NOT NULL DEFAULT 0) "
           "WITHOUT ROWID"_s;
}

// The triggers are plain SQL: nothing to make first.
mox::Status SqliteEngine::ensureTriggerFunctions(bool)
{
    return {};
}

// One update of the counter per record.
QStringList SqliteEngine::counterTriggerDdl(const QString& table) const
{
    const QString counter = Connection::quote(QString::fromUtf16(kRowCountTable));
    const QString name = Connection::quote(table);
    QStringList ddl;
    for (const auto& [suffix, event, delta] :
         {std::tuple{u"_ROWS_ADDED"_s, u"INSERT"_s, u"+ 1"_s},
          std::tuple{u"_ROWS_REMOVED"_s, u"DELETE"_s, u"- 1"_s}}) {
        ddl << u"CREATE TRIGGER IF NOT EXISTS "_s + Connection::quote(table + suffix) +
                   u" AFTER "_s + event + u" ON "_s + name + u" BEGIN UPDATE "_s + counter +
                   u" SET \"N\" = \"N\" "_s + delta + u" WHERE \"NAME\" = "_s +
                   sqliteLiteral(table) + u"; END"_s;
    }
    return ddl;
}

QStringList SqliteEngine::auditTriggerDdl(const TableDef& table) const
{
    return sqliteAuditTriggerDdl(table);
}

QString SqliteEngine::auditIdColumn() const
{
    return u"\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT"_s;
}

QString SqliteEngine::indexExistsQuery() const
{
    return u"SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?"_s;
}

QString SqliteEngine::clientColumnQuery() const
{
    return u"SELECT 1 FROM pragma_table_info(?) WHERE name = 'CLIENT'"_s;
}

// The writer of the open transaction, read by the audit triggers.
QStringList SqliteEngine::auditTrailExtraDdl() const
{
    return {u"CREATE TABLE IF NOT EXISTS "_s + Connection::quote(QString::fromUtf16(kWriterTable)) +
            u" (\"ONE\" INTEGER PRIMARY KEY CHECK (\"ONE\" = 1), \"PROGRAM\" TEXT, "
            "\"OSUSER\" TEXT, \"HOST\" TEXT, \"BULK\" INTEGER NOT NULL DEFAULT 0)"_s};
}

} // namespace KorDAO
