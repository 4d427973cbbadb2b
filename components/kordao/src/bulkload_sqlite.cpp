// SQLite: loading and clearing tables in bulk, and naming the writer for the audit triggers.
//
// While a table is loaded, its record counter's per-record insert trigger is set aside and the
// writer is marked as loading in bulk (the trail's insert and delete triggers then skip the
// records; the load writes one summary row). The counter is set from one count and the trigger
// put back when the last load of the table ends, at the latest right before the commit; all of
// it inside the transaction, so an undone load leaves the file as it was.

#include "audittrail.h"
#include "sqliteengine.h"

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// SQLite's page cache while a bulk load is open, in KiB (a negative cache_size): large enough
// that pages being filled are not written out and read back again and again before the commit.
constexpr int kBulkCacheKiB = 262144;

QString triggerSqlQuery()
{
    return u"SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = ?"_s;
}

QString counterTable()
{
    return Connection::quote(QString::fromUtf16(kRowCountTable));
}

// One statement of one record, prepared for the load and bound value by value.
class SqliteBulkWriter final : public BulkWriter {
public:
    SqliteBulkWriter(sqlite3* handle, sqlite3_stmt* stmt) : m_sqlite(handle), m_stmt(stmt) {}
    ~SqliteBulkWriter() override { sqlite3_finalize(m_stmt); }

    bool add(const std::vector<BulkValue>& row, QString* error) override
    {
        int rc = SQLITE_OK;
        for (std::size_t i = 0; i < row.size() && rc == SQLITE_OK; ++i) {
            const BulkValue& s = row[i];
            const int at = int(i) + 1;
            switch (s.kind) {
            case BulkValue::Kind::Integer:
                rc = sqlite3_bind_int64(m_stmt, at, s.integer);
                break;
            case BulkValue::Kind::Real:
                rc = sqlite3_bind_double(m_stmt, at, s.real);
                break;
            case BulkValue::Kind::Text:
            case BulkValue::Kind::Unset:
                // The text stays in its slot until the statement has run. A null text is
                // NULL, as the PostgreSQL path sends it.
                rc = s.text.isNull() ? sqlite3_bind_null(m_stmt, at)
                                     : sqlite3_bind_text16(m_stmt, at, s.text.utf16(),
                                                           int(s.text.size() * 2), SQLITE_STATIC);
                break;
            }
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_step(m_stmt);
        const bool ok = rc == SQLITE_DONE;
        if (!ok)
            *error = QString::fromUtf8(sqlite3_errmsg(m_sqlite));
        sqlite3_reset(m_stmt);
        return ok;
    }

    bool flush(QString*) override { return true; } // every row is written as it comes

private:
    sqlite3* m_sqlite;
    sqlite3_stmt* m_stmt;
};

} // namespace

std::unique_ptr<BulkWriter> SqliteEngine::bulkWriter(const QString& insertHead, int columns,
                                                     QString* error)
{
    const QByteArray sql = insertValuesSql(insertHead, columns, 1).toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_sqlite, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(m_sqlite));
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return std::make_unique<SqliteBulkWriter>(m_sqlite, stmt);
}

std::shared_ptr<BulkLoad> SqliteEngine::beginBulkLoad(const TableInfo& t, QString* error)
{
    if (m_bulkLoads.empty()) {
        std::vector<Row> rows;
        if (!m_conn.select(u"PRAGMA cache_size"_s, {}, &rows, error) || rows.empty())
            return nullptr;
        m_cacheSize = rows.front().front().toLongLong();
        if (!m_conn.execute(u"PRAGMA cache_size = %1"_s.arg(-kBulkCacheKiB), {}, error))
            return nullptr;
    }
    std::shared_ptr<BulkLoad>& load = m_bulkLoads[t.name];
    if (load) {
        ++load->users;
        return load;
    }
    auto fresh = std::make_shared<BulkLoad>();
    fresh->table = t.name;
    fresh->users = 1;
    // The trail's triggers skip the records while the writer is marked as loading in bulk; the
    // load writes one audit row at its end.
    const bool ok =
        (!t.counted || setTriggersAside({t.name + u"_ROWS_ADDED"_s}, &fresh->triggerSql, error)) &&
        setWriter(true, error);
    if (!ok) {
        m_bulkLoads.erase(t.name);
        if (m_bulkLoads.empty()) {
            QString ignored;
            (void)restoreCacheSize(&ignored);
        }
        return nullptr;
    }
    load = fresh;
    return load;
}

bool SqliteEngine::endBulkLoad(const std::shared_ptr<BulkLoad>& load, QString* error)
{
    if (!load || !load->open || --load->users > 0)
        return true;
    return restoreBulkLoad(load->table, error);
}

bool SqliteEngine::restoreBulkLoad(const QString& table, QString* error)
{
    const auto it = m_bulkLoads.find(table);
    if (it == m_bulkLoads.end())
        return true;
    const std::shared_ptr<BulkLoad> load = it->second;
    m_bulkLoads.erase(it);
    load->open = false;
    bool ok = true;
    if (!load->triggerSql.isEmpty()) {
        ok = m_conn.execute(u"UPDATE "_s + counterTable() +
                                u" SET \"N\" = (SELECT COUNT(*) FROM "_s +
                                Connection::quote(table) + u") WHERE \"NAME\" = ?"_s,
                            {table}, error);
        for (qsizetype i = 0; ok && i < load->triggerSql.size(); ++i)
            ok = m_conn.execute(load->triggerSql[i], {}, error);
    }
    if (ok && m_bulkLoads.empty() && m_writerBulk)
        ok = setWriter(false, error);
    if (m_bulkLoads.empty() && !restoreCacheSize(ok ? error : nullptr))
        ok = false;
    return ok;
}

bool SqliteEngine::restoreCacheSize(QString* error)
{
    QString ignored;
    return m_conn.execute(u"PRAGMA cache_size = %1"_s.arg(m_cacheSize), {},
                          error ? error : &ignored);
}

void SqliteEngine::forgetBulkLoads()
{
    if (m_bulkLoads.empty())
        return;
    for (auto& [table, load] : m_bulkLoads)
        load->open = false;
    m_bulkLoads.clear();
    (void)restoreCacheSize(nullptr);
}

bool SqliteEngine::clearTable(const TableInfo& t, QString* error)
{
    // The counter's trigger is set aside for the statement and the counter set to 0 instead; the
    // trail's trigger skips the records while the writer is marked as loading in bulk, and one
    // audit row is written instead.
    const QString name = Connection::quote(t.name);
    int removed = 0;
    QStringList triggerSql;
    const bool wasBulk = m_writerBulk;
    if ((t.counted && !setTriggersAside({t.name + u"_ROWS_REMOVED"_s}, &triggerSql, error)) ||
        !setWriter(true, error) || !m_conn.execute(u"DELETE FROM "_s + name, {}, error, &removed) ||
        (!wasBulk && !setWriter(false, error)))
        return false;
    for (const QString& sql : std::as_const(triggerSql)) {
        if (!m_conn.execute(sql, {}, error))
            return false;
    }
    if (t.counted &&
        !m_conn.execute(u"UPDATE "_s + counterTable() + u" SET \"N\" = 0 WHERE \"NAME\" = ?"_s,
                        {t.name}, error))
        return false;
    return auditBulk(t, u"CLEAR"_s, removed, error);
}

bool SqliteEngine::setTriggersAside(const QStringList& names, QStringList* sql, QString* error)
{
    for (const QString& trigger : names) {
        std::vector<Row> rows;
        if (!m_conn.select(triggerSqlQuery(), {trigger}, &rows, error))
            return false;
        if (rows.empty())
            continue;
        sql->append(rows.front().front().toString());
        if (!m_conn.execute(u"DROP TRIGGER "_s + Connection::quote(trigger), {}, error))
            return false;
    }
    return true;
}

bool SqliteEngine::auditBulk(const TableInfo& table, const QString& action, qint64 records,
                             QString* error)
{
    const std::optional<bool> yes = m_conn.audited(table, error);
    if (!yes)
        return false;
    if (!*yes)
        return true;
    AuditEntry e;
    e.table = table.name;
    e.action = action;
    e.changes = u"{\"records\":%1}"_s.arg(records);
    return m_conn.writeAudit(e, error);
}

bool SqliteEngine::noteWriter(const TableInfo& table, QString* error)
{
    if (m_writerNoted || !m_conn.inTransaction())
        return true;
    const std::optional<bool> yes = m_conn.audited(table, error);
    if (!yes)
        return false;
    return !*yes || setWriter(false, error);
}

bool SqliteEngine::setWriter(bool bulk, QString* error)
{
    if (m_writerNoted && m_writerBulk == bulk)
        return true;
    const Connection::Facts* f = m_conn.facts(error);
    if (!f)
        return false;
    if (!f->writer)
        return true;
    const Author& a = author();
    if (!m_conn.execute(u"INSERT OR REPLACE INTO "_s +
                            Connection::quote(QString::fromUtf16(kWriterTable)) +
                            u" (\"ONE\", \"PROGRAM\", \"OSUSER\", \"HOST\", \"BULK\") "
                            "VALUES (1, ?, ?, ?, ?)"_s,
                        {a.program, a.osUser, a.host, bulk ? 1 : 0}, error))
        return false;
    m_writerNoted = true;
    m_writerBulk = bulk;
    return true;
}

bool SqliteEngine::beforeCommit(QString* error)
{
    // Loads still open are written back first, so the committed counters and triggers are whole;
    // the writer of the transaction goes, so that a later write by other means has none.
    while (!m_bulkLoads.empty() || m_writerNoted) {
        bool ok;
        if (!m_bulkLoads.empty()) {
            const QString table = m_bulkLoads.begin()->first; // a copy: the entry goes
            ok = restoreBulkLoad(table, error);
        } else {
            m_writerNoted = false;
            m_writerBulk = false;
            ok = m_conn.execute(
                u"DELETE FROM "_s + Connection::quote(QString::fromUtf16(kWriterTable)), {}, error);
        }
        if (!ok) {
            forgetBulkLoads();
            return false;
        }
    }
    return true;
}

void SqliteEngine::transactionEnded()
{
    m_writerNoted = false;
    m_writerBulk = false;
    forgetBulkLoads();
}

} // namespace KorDAO
