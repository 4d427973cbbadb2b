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

    bool add(const std::vector<BulkValue>& row, QString* error) override
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
        return ++m_pendingRows < kRowsPerStatement || flush(error);
    }

    bool flush(QString* error) override
    {
        if (m_pendingRows == 0)
            return true;
        const bool ok =
            m_conn.execute(m_pendingRows == kRowsPerStatement
                               ? m_fullSql
                               : insertValuesSql(m_insertHead, m_columns, m_pendingRows),
                           m_pending, error);
        m_pending.clear();
        m_pendingRows = 0;
        return ok;
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

std::unique_ptr<BulkWriter> PostgresEngine::bulkWriter(const QString& insertHead, int columns,
                                                       QString*)
{
    return std::make_unique<PostgresBulkWriter>(m_conn, insertHead, columns);
}

std::shared_ptr<BulkLoad> PostgresEngine::beginBulkLoad(const TableInfo& t, QString* error)
{
    auto load = std::make_shared<BulkLoad>();
    load->table = t.name;
    load->open = false;
    if (m_bulkMarks == 0 && !markBulk(true, error))
        return nullptr;
    ++m_bulkMarks;
    load->marked = true;
    return load;
}

bool PostgresEngine::endBulkLoad(const std::shared_ptr<BulkLoad>& load, QString* error)
{
    if (!load || !load->marked)
        return true;
    load->marked = false;
    if (m_bulkMarks > 0 && --m_bulkMarks == 0 && m_conn.inTransaction())
        return markBulk(false, error);
    return true;
}

bool PostgresEngine::clearTable(const TableInfo& t, QString* error)
{
    // The server's audit triggers write the one row "CLEAR" for the marked session.
    const bool mark = m_bulkMarks == 0;
    return (!mark || markBulk(true, error)) &&
           m_conn.execute(u"DELETE FROM "_s + Connection::quote(t.name), {}, error) &&
           (!mark || markBulk(false, error));
}

bool PostgresEngine::markBulk(bool on, QString* error)
{
    std::vector<Row> rows;
    return m_conn.select(u"SELECT set_config('kordao.bulk', ?, true)"_s, {on ? u"on"_s : u"off"_s},
                         &rows, error);
}

bool PostgresEngine::beforeCommit(QString*)
{
    m_bulkMarks = 0; // the mark was local to the transaction
    return true;
}

} // namespace KorDAO
