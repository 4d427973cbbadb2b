// PostgreSQL: loading and clearing tables in bulk.
//
// The server's counter triggers run once per statement, not per record, so nothing is set
// aside. While a load or a clear runs, the session's transaction is marked (kordao.bulk); the
// server's audit triggers then write one row per statement for a login that is a member of the
// table's owner. Rows go many to an INSERT statement, one round trip for each.

#include "postgresengine.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Rows per INSERT statement.
constexpr int kRowsPerStatement = 200;

// Queues rows and sends them kRowsPerStatement to a statement.
class PostgresBulkWriter final : public BulkWriter {
public:
    PostgresBulkWriter(Connection& connection, QString insertHead, int columns)
        : m_conn(connection), m_insertHead(std::move(insertHead)), m_columns(columns),
          m_fullSql(insertValuesSql(m_insertHead, m_columns, kRowsPerStatement))
    {
    }

    mox::Status add(const std::vector<BulkValue>& row) override
    {
        m_pending.reserve(m_pending.size() + qsizetype(row.size()));
        for (const BulkValue& s : row) {
            switch (s.kind) {
            case BulkValue::Kind::Integer:
                m_pending.push_back(qlonglong(s.integer));
                break;
            case BulkValue::Kind::Real:
                m_pending.push_back(s.real);
                break;
            case BulkValue::Kind::Text:
            case BulkValue::Kind::Unset:
                m_pending.push_back(s.text);
                break;
            }
        }
        return ++m_pendingRows < kRowsPerStatement ? mox::Status{} : flush();
    }

    mox::Status flush() override
    {
        if (m_pendingRows == 0)
            return {};
        mox::Status sent =
            m_conn.execute(m_pendingRows == kRowsPerStatement
                               ? m_fullSql
                               : insertValuesSql(m_insertHead, m_columns, m_pendingRows),
                           m_pending);
        m_pending.clear();
        m_pendingRows = 0;
        return sent;
    }

private:
    Connection& m_conn;
    QString m_insertHead;
    int m_columns;
    QString m_fullSql; // the statement of kRowsPerStatement rows
    QVariantList m_pending;
    int m_pendingRows = 0;
};

} // namespace

mox::Result<std::unique_ptr<BulkWriter>> PostgresEngine::bulkWriter(const QString& insertHead,
                                                                    int columns)
{
    return std::unique_ptr<BulkWriter>(
        std::make_unique<PostgresBulkWriter>(m_conn, insertHead, columns));
}

mox::Result<std::shared_ptr<BulkLoad>> PostgresEngine::beginBulkLoad(const TableInfo& t)
{
    auto load = std::make_shared<BulkLoad>();
    load->table = t.name;
    load->open = false;
    if (m_bulkMarks == 0) {
        if (mox::Status s = markBulk(true); !s.ok())
            return s;
    }
    ++m_bulkMarks;
    load->marked = true;
    return load;
}

mox::Status PostgresEngine::endBulkLoad(const std::shared_ptr<BulkLoad>& load)
{
    if (!load || !load->marked)
        return {};
    load->marked = false;
    if (m_bulkMarks > 0 && --m_bulkMarks == 0 && m_conn.inTransaction())
        return markBulk(false);
    return {};
}

mox::Status PostgresEngine::clearTable(const TableInfo& t)
{
    // The server's audit triggers write the one row "CLEAR" for the marked session.
    const bool mark = m_bulkMarks == 0;
    mox::Status s = mark ? markBulk(true) : mox::Status{};
    if (s.ok())
        s = m_conn.execute(u"DELETE FROM "_s + Connection::quote(t.name), {});
    if (s.ok() && mark)
        s = markBulk(false);
    return s;
}

mox::Status PostgresEngine::markBulk(bool on)
{
    std::vector<Row> rows;
    return m_conn.select(u"SELECT set_config('kordao.bulk', ?, true)"_s, {on ? u"on"_s : u"off"_s},
                         &rows);
}

mox::Status PostgresEngine::beforeCommit()
{
    m_bulkMarks = 0; // the mark was local to the transaction
    return {};
}

} // namespace KorDAO
