// SQLite: loading and clearing tables in bulk, and naming the writer for the audit triggers.
//
// While a table is loaded, its record counter's per-record insert trigger is set aside and the
// writer is marked as loading in bulk (the trail's insert and delete triggers then skip the
// records; the load writes one summary row). The counter is set from one count and the trigger
// put back when the last load of the table ends, at the latest right before the commit; all of
// it inside the transaction, so an undone load leaves the file as it was. While any load is
// open the page cache is enlarged and temporary files are kept in memory.

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

    mox::Status add(const std::vector<BulkValue>& row) override
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
        mox::Status result;
        if (rc != SQLITE_DONE)
            result =
                mox::Status::failure(kUpdateFailed, QString::fromUtf8(sqlite3_errmsg(m_sqlite)));
        sqlite3_reset(m_stmt);
        return result;
    }

    mox::Status flush() override { return {}; } // every row is written as it comes

private:
    sqlite3* m_sqlite;
    sqlite3_stmt* m_stmt;
};

} // namespace

mox::Result<std::unique_ptr<BulkWriter>> SqliteEngine::bulkWriter(const QString& insertHead,
                                                                  int columns)
{
    const QByteArray sql = insertValuesSql(insertHead, columns, 1).toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_sqlite, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, nullptr) != SQLITE_OK) {
        mox::Status failure = failed(QString::fromUtf8(sqlite3_errmsg(m_sqlite)));
        sqlite3_finalize(stmt);
        return failure;
    }
    return std::unique_ptr<BulkWriter>(std::make_unique<SqliteBulkWriter>(m_sqlite, stmt));
}

mox::Result<std::shared_ptr<BulkLoad>> SqliteEngine::beginBulkLoad(const TableInfo& t)
{
    if (m_bulkLoads.empty()) {
        std::vector<Row> rows;
        if (mox::Status s = m_conn.select(u"PRAGMA cache_size"_s, {}, &rows); !s.ok())
            return s;
        if (rows.empty())
            return failed({});
        m_cacheSize = rows.front().front().toLongLong();
        rows.clear();
        if (mox::Status s = m_conn.select(u"PRAGMA temp_store"_s, {}, &rows); !s.ok())
            return s;
        m_tempStore = rows.empty() ? 0 : rows.front().front().toLongLong();
        if (mox::Status s = m_conn.execute(u"PRAGMA cache_size = %1"_s.arg(-kBulkCacheKiB), {});
            !s.ok())
            return s;
        // The insert trigger of the trail makes every insert keep a statement journal, which
        // SQLite writes to a temporary file, a page per record, once the enlarged cache is
        // full; in memory it costs a copy.
        if (mox::Status s = m_conn.execute(u"PRAGMA temp_store = MEMORY"_s, {}); !s.ok())
            return s;
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
    mox::Status set = t.counted ? setTriggersAside({t.name + u"_ROWS_ADDED"_s}, &fresh->triggerSql)
                                : mox::Status{};
    if (set.ok())
        set = setWriter(true);
    if (!set.ok()) {
        m_bulkLoads.erase(t.name);
        if (m_bulkLoads.empty())
            (void)restoreCacheSize();
        return set;
    }
    load = fresh;
    return load;
}

mox::Status SqliteEngine::endBulkLoad(const std::shared_ptr<BulkLoad>& load)
{
    if (!load || !load->open || --load->users > 0)
        return {};
    return restoreBulkLoad(load->table);
}

mox::Status SqliteEngine::restoreBulkLoad(const QString& table)
{
    const auto it = m_bulkLoads.find(table);
    if (it == m_bulkLoads.end())
        return {};
    const std::shared_ptr<BulkLoad> load = it->second;
    m_bulkLoads.erase(it);
    load->open = false;
    mox::Status result;
    if (!load->triggerSql.isEmpty()) {
        result = m_conn.execute(u"UPDATE "_s + counterTable() +
                                    u" SET \"N\" = (SELECT COUNT(*) FROM "_s +
                                    Connection::quote(table) + u") WHERE \"NAME\" = ?"_s,
                                {table});
        for (qsizetype i = 0; result.ok() && i < load->triggerSql.size(); ++i)
            result = m_conn.execute(load->triggerSql[i], {});
    }
    if (result.ok() && m_bulkLoads.empty() && m_writerBulk)
        result = setWriter(false);
    if (m_bulkLoads.empty()) {
        // The first failure is the one reported.
        mox::Status restored = restoreCacheSize();
        if (result.ok())
            result = std::move(restored);
    }
    return result;
}

mox::Status SqliteEngine::restoreCacheSize()
{
    mox::Status s = m_conn.execute(u"PRAGMA cache_size = %1"_s.arg(m_cacheSize), {});
    if (s.ok())
        s = m_conn.execute(u"PRAGMA temp_store = %1"_s.arg(m_tempStore), {});
    return s;
}

void SqliteEngine::forgetBulkLoads()
{
    if (m_bulkLoads.empty())
        return;
    for (auto& [table, load] : m_bulkLoads)
        load->open = false;
    m_bulkLoads.clear();
    (void)restoreCacheSize();
}

mox::Status SqliteEngine::clearTable(const TableInfo& t)
{
    // The counter's trigger is set aside for the statement and the counter set to 0 instead; the
    // trail's trigger skips the records while the writer is marked as loading in bulk, and one
    // audit row is written instead.
    const QString name = Connection::quote(t.name);
    int removed = 0;
    QStringList triggerSql;
    const bool wasBulk = m_writerBulk;
    mox::Status s =
        t.counted ? setTriggersAside({t.name + u"_ROWS_REMOVED"_s}, &triggerSql) : mox::Status{};
    if (s.ok())
        s = setWriter(true);
    if (s.ok())
        s = m_conn.execute(u"DELETE FROM "_s + name, {}, &removed);
    if (s.ok() && !wasBulk)
        s = setWriter(false);
    for (qsizetype i = 0; s.ok() && i < triggerSql.size(); ++i)
        s = m_conn.execute(triggerSql[i], {});
    if (s.ok() && t.counted)
        s = m_conn.execute(u"UPDATE "_s + counterTable() + u" SET \"N\" = 0 WHERE \"NAME\" = ?"_s,
                           {t.name});
    if (!s.ok())
        return s;
    return auditBulk(t, u"CLEAR"_s, removed);
}

mox::Status SqliteEngine::setTriggersAside(const QStringList& names, QStringList* sql)
{
    for (const QString& trigger : names) {
        std::vector<Row> rows;
        if (mox::Status s = m_conn.select(triggerSqlQuery(), {trigger}, &rows); !s.ok())
            return s;
        if (rows.empty())
            continue;
        sql->append(rows.front().front().toString());
        if (mox::Status s = m_conn.execute(u"DROP TRIGGER "_s + Connection::quote(trigger), {});
            !s.ok())
            return s;
    }
    return {};
}

mox::Status SqliteEngine::auditBulk(const TableInfo& table, const QString& action, qint64 records)
{
    const mox::Result<bool> yes = m_conn.audited(table);
    if (const mox::Status* failure = mox::failure(yes))
        return *failure;
    if (!mox::value(yes))
        return {};
    AuditEntry e;
    e.table = table.name;
    e.action = action;
    e.changes = u"{\"records\":%1}"_s.arg(records);
    return m_conn.writeAudit(e);
}

mox::Status SqliteEngine::noteWriter(const TableInfo& table)
{
    if (m_writerNoted || !m_conn.inTransaction())
        return {};
    const mox::Result<bool> yes = m_conn.audited(table);
    if (const mox::Status* failure = mox::failure(yes))
        return *failure;
    return mox::value(yes) ? setWriter(false) : mox::Status{};
}

mox::Status SqliteEngine::setWriter(bool bulk)
{
    if (m_writerNoted && m_writerBulk == bulk)
        return {};
    const mox::Result<const Connection::Facts*> facts = m_conn.facts();
    if (const mox::Status* failure = mox::failure(facts))
        return *failure;
    if (!mox::value(facts)->writer)
        return {};
    const Author& a = author();
    if (mox::Status s = m_conn.execute(
            u"INSERT OR REPLACE INTO "_s + Connection::quote(QString::fromUtf16(kWriterTable)) +
                u" (\"ONE\", \"PROGRAM\", \"OSUSER\", \"HOST\", \"BULK\") "
                "VALUES (1, ?, ?, ?, ?)"_s,
            {a.program, a.osUser, a.host, bulk ? 1 : 0});
        !s.ok())
        return s;
    m_writerNoted = true;
    m_writerBulk = bulk;
    return {};
}

mox::Status SqliteEngine::beforeCommit()
{
    // Loads still open are written back first, so the committed counters and triggers are whole;
    // the writer of the transaction goes, so that a later write by other means has none.
    while (!m_bulkLoads.empty() || m_writerNoted) {
        mox::Status s;
        if (!m_bulkLoads.empty()) {
            const QString table = m_bulkLoads.begin()->first; // a copy: the entry goes
            s = restoreBulkLoad(table);
        } else {
            m_writerNoted = false;
            m_writerBulk = false;
            s = m_conn.execute(
                u"DELETE FROM "_s + Connection::quote(QString::fromUtf16(kWriterTable)), {});
        }
        if (!s.ok()) {
            forgetBulkLoads();
            return s;
        }
    }
    return {};
}

void SqliteEngine::transactionEnded()
{
    m_writerNoted = false;
    m_writerBulk = false;
    forgetBulkLoads();
}

} // namespace KorDAO
