#include "audittrail.h"

#include "connection.h"

// The SQLite side of the audit trail: per-table triggers built from the column list in plain
// SQL, so that the sqlite3 shell keeps working on the file.

using namespace Qt::StringLiterals;

namespace KorDAO {

QString sqliteLiteral(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', u"''"_s);
    return u'\'' + quoted + u'\'';
}

namespace {

// A field of the record as the trail shows it: numbers as decimal text, texts as they are.
QString sqliteValue(const FieldDef& f, const QString& record)
{
    const QString field = record + u'.' + Connection::quote(f.name);
    return f.type == FieldType::Text ? field : u"CAST("_s + field + u" AS TEXT)"_s;
}

// The JSON text [["FIELD", old, new], ...] of one SQLite trigger, built by concatenation so
// that the fields keep the column order.
QString sqliteChanges(const TableDef& t, const QString& action)
{
    QString parts;
    for (const FieldDef& f : t.fields) {
        const QString oldValue = sqliteValue(f, u"OLD"_s);
        const QString newValue = sqliteValue(f, u"NEW"_s);
        const QString name = Connection::quote(f.name);
        QString when;
        QString entry;
        if (action == u"UPDATE"_s) {
            when = u"OLD."_s + name + u" IS NOT NEW."_s + name;
            entry = oldValue + u", "_s + newValue;
        } else if (action == u"INSERT"_s) {
            when = u"NEW."_s + name + u" IS NOT NULL"_s +
                   (f.type == FieldType::Text ? QString() : u" AND NEW."_s + name + u" <> 0"_s);
            entry = u"NULL, "_s + newValue;
        } else {
            when = u"OLD."_s + name + u" IS NOT NULL"_s;
            entry = oldValue + u", NULL"_s;
        }
        parts += (parts.isEmpty() ? QString() : u" || "_s) + u"CASE WHEN "_s + when +
                 u" THEN ',' || json_array("_s + sqliteLiteral(f.name) + u", "_s + entry +
                 u") ELSE '' END"_s;
    }
    return u"'[' || substr("_s + parts + u", 2) || ']'"_s;
}

} // namespace

QStringList sqliteAuditTriggerDdl(const TableDef& t)
{
    const QString name = Connection::quote(t.name);
    const QString writer = Connection::quote(QString::fromUtf16(kWriterTable));
    bool hasCode = false;
    for (const FieldDef& f : t.fields)
        hasCode = hasCode || f.name == u"SYOKCD"_s;
    QStringList ddl;
    for (const QString& action : {u"INSERT"_s, u"UPDATE"_s, u"DELETE"_s}) {
        const QString record = action == u"DELETE"_s ? u"OLD"_s : u"NEW"_s;
        QString key;
        for (const QString& k : t.primaryKey) {
            for (const FieldDef& f : t.fields) {
                if (f.name == k)
                    key += (key.isEmpty() ? QString() : u" || ' ' || "_s) +
                           sqliteLiteral(k + u'=') + u" || coalesce("_s + sqliteValue(f, record) +
                           u", '')"_s;
            }
        }
        ddl << u"CREATE TRIGGER IF NOT EXISTS "_s +
                   Connection::quote(t.name + u"_TRAIL_"_s + action) + u" AFTER "_s + action +
                   u" ON "_s + name +
                   (action == u"UPDATE"_s ? QString()
                                          : u" WHEN NOT EXISTS (SELECT 1 FROM "_s + writer +
                                                u" WHERE \"BULK\" = 1)"_s) +
                   u" BEGIN INSERT INTO "_s + Connection::quote(QString::fromUtf16(kAuditTable)) +
                   u" (\"AT\", \"DBUSER\", \"OSUSER\", \"HOST\", \"PROGRAM\", \"CLIENT\", "
                   "\"TABLENAME\", \"SYOKCD\", \"RECKEY\", \"ACTION\", \"CHANGES\") VALUES ("
                   "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), NULL, (SELECT \"OSUSER\" FROM "_s +
                   writer + u"), (SELECT \"HOST\" FROM "_s + writer +
                   u"), (SELECT \"PROGRAM\" FROM "_s + writer + u"), NULL, "_s +
                   sqliteLiteral(t.name) + u", "_s +
                   (hasCode ? record + u".\"SYOKCD\""_s : u"0"_s) + u", "_s +
                   (key.isEmpty() ? u"NULL"_s : key) + u", "_s + sqliteLiteral(action) + u", "_s +
                   sqliteChanges(t, action) + u"); END"_s;
    }
    return ddl;
}

} // namespace KorDAO
