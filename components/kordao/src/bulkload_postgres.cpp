// PostgreSQL: loading and clearing tables in bulk.
//
// The server's counter triggers run once per statement, not per record, so nothing is set
// aside. While a load or a clear runs, the session's transaction is marked (kordao.bulk); the
// server's audit triggers then write one row per statement for a login that may empty the
// table. Rows go to the server as the data of COPY … FROM STDIN, a few megabytes to a COPY, sent
// by a thread while the next rows are queued; every statement of the engine waits for the COPY
// in flight first (so nothing else on the connection ever meets a COPY in progress). Without
// the client library's handle, many rows go to an INSERT statement.

#include "postgresengine.h"

#include <QSqlDriver>

#include <libpq-fe.h>

#include <future>
#include <system_error>
#include <utility>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// The data of one COPY: rows are sent when this much is queued.
constexpr qsizetype kCopyBytes = 4 << 20;

// The client library's connection under the Qt connection \p db; nullptr when it has none.
PGconn* pgconnOf(QSqlDatabase& db)
{
    const QVariant h = db.driver() ? db.driver()->handle() : QVariant();
    // The driver's type is named after libpq's struct: "pg_conn*" (PGconn is its typedef).
    if (h.isValid() &&
        (qstrcmp(h.typeName(), "pg_conn*") == 0 || qstrcmp(h.typeName(), "PGconn*") == 0))
        return *static_cast<PGconn* const*>(h.constData());
    return nullptr;
}

// "INSERT INTO "T" ("A", "B") VALUES" -> "COPY "T" ("A", "B") FROM STDIN".
QByteArray copySql(const QString& insertHead)
{
    QString sql = insertHead;
    if (sql.startsWith(u"INSERT INTO "_s))
        sql.remove(0, 12);
    if (sql.endsWith(u" VALUES"_s))
        sql.chop(7);
    return (u"COPY "_s + sql + u" FROM STDIN"_s).toUtf8();
}

// Appends \p text to \p out as a field of COPY's text format: backslash, tab, line feed and
// carriage return escaped; the connection's client encoding is UTF-8.
void appendCopyText(QByteArray& out, QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    qsizetype plain = 0; // the start of the bytes not yet appended
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char* escaped = nullptr;
        switch (utf8[i]) {
        case '\\':
            escaped = "\\\\";
            break;
        case '\t':
            escaped = "\\t";
            break;
        case '\n':
            escaped = "\\n";
            break;
        case '\r':
            escaped = "\\r";
            break;
        default:
            continue;
        }
        out.append(utf8.constData() + plain, i - plain);
        out.append(escaped, 2);
        plain = i + 1;
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
}

// How one COPY ended, as the thread that ran it saw it: the server's state and message when it
// failed.
struct CopyOutcome {
    bool ok = true;
    QByteArray state;
    QByteArray text;
};

// Runs one COPY … FROM STDIN \p sql with \p data on \p pg and reads it to its end.
CopyOutcome runCopy(PGconn* pg, const QByteArray& sql, const QByteArray& data)
{
    CopyOutcome out;
    const auto fail = [&](const PGresult* r) {
        if (!out.ok)
            return;
        out.ok = false;
        const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        out.state = state ? state : "";
        out.text = r ? PQresultErrorMessage(r) : PQerrorMessage(pg);
    };
    PGresult* started = PQexec(pg, sql.constData());
    const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
    if (!copying)
        fail(started);
    PQclear(started);
    if (!copying)
        return out;
    const bool sent = PQputCopyData(pg, data.constData(), int(data.size())) == 1;
    if (PQputCopyEnd(pg, sent ? nullptr : "the client could not send the rows") != 1)
        fail(nullptr);
    // The outcome of the COPY, then the end of its results.
    while (PGresult* r = PQgetResult(pg)) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK)
            fail(r);
        PQclear(r);
    }
    return out;
}

} // namespace

// Queues rows in COPY's text format and sends them kCopyBytes at a time, each batch one
// COPY … FROM STDIN. A batch is sent by a thread of its own while the caller queues the next
// one, so that reading the rows and the server's storing of them overlap. Meanwhile the
// connection is the sending thread's: every statement of the engine waits for the COPY to end
// first (settleCopy), and so does the writer before its next batch and when it goes.
class PostgresCopyWriter final : public BulkWriter {
public:
    PostgresCopyWriter(PostgresEngine& engine, PGconn* pg, const QString& insertHead)
        : m_engine(engine), m_pg(pg), m_sql(copySql(insertHead))
    {
        m_data.reserve(kCopyBytes + (64 << 10));
    }
    ~PostgresCopyWriter() override { wait(); }
    PostgresCopyWriter(const PostgresCopyWriter&) = delete;
    PostgresCopyWriter& operator=(const PostgresCopyWriter&) = delete;

    mox::Status add(const std::vector<BulkValue>& row) override
    {
        bool first = true;
        for (const BulkValue& v : row) {
            if (!first)
                m_data += '\t';
            first = false;
            switch (v.kind) {
            case BulkValue::Kind::Integer:
                m_data += QByteArray::number(v.integer);
                break;
            case BulkValue::Kind::Real:
                m_data += QByteArray::number(v.real, 'g', 17);
                break;
            case BulkValue::Kind::Text:
            case BulkValue::Kind::Unset:
                if (v.text.isNull())
                    m_data += "\\N";
                else
                    appendCopyText(m_data, v.text);
                break;
            }
        }
        m_data += '\n';
        return m_data.size() < kCopyBytes ? mox::Status{} : send();
    }

    mox::Status flush() override
    {
        mox::Status s = m_data.isEmpty() ? mox::Status{} : send();
        wait();
        return s.ok() ? std::exchange(m_failed, mox::Status{}) : s;
    }

    // Waits for the COPY in flight, if any; its failure is kept for the next add or flush.
    void wait()
    {
        if (!m_job.valid())
            return;
        const CopyOutcome o = m_job.get();
        m_engine.copyInFlight(nullptr);
        if (!o.ok && m_failed.ok())
            m_failed = m_engine.noteFailure(QString::fromLatin1(o.state),
                                            QString::fromUtf8(o.text).trimmed());
    }

private:
    // Hands the rows queued to a thread that sends them as one COPY, once the previous COPY
    // has ended well; the previous one's failure instead.
    mox::Status send()
    {
        // One COPY at a time on the connection: a writer of another table may have one in
        // flight (a load that fills several tables side by side), which must end first.
        m_engine.settleCopy();
        wait();
        if (!m_failed.ok()) {
            m_data.resize(0);
            return std::exchange(m_failed, mox::Status{});
        }
        std::swap(m_data, m_sending);
        m_data.resize(0);
        countStatement();
        m_engine.statementStarts();
        try {
            m_job = std::async(std::launch::async, runCopy, m_pg, std::cref(m_sql),
                               std::cref(m_sending));
        } catch (const std::system_error&) {
            // No thread to be had: the COPY is sent here and now.
            std::promise<CopyOutcome> done;
            done.set_value(runCopy(m_pg, m_sql, m_sending));
            m_job = done.get_future();
        }
        m_engine.copyInFlight(this);
        return {};
    }

    PostgresEngine& m_engine;
    PGconn* m_pg;
    QByteArray m_sql;
    QByteArray m_data;    // the rows being queued
    QByteArray m_sending; // the rows of the COPY in flight
    std::future<CopyOutcome> m_job;
    mox::Status m_failed; // the failure of a COPY not yet reported
};

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
    if (PGconn* pg = pgconnOf(m_conn.db()))
        return std::unique_ptr<BulkWriter>(
            std::make_unique<PostgresCopyWriter>(*this, pg, insertHead));
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

void PostgresEngine::settleCopy()
{
    if (m_copying)
        m_copying->wait();
}

mox::Status PostgresEngine::beforeCommit()
{
    m_bulkMarks = 0; // the mark was local to the transaction
    return {};
}

} // namespace KorDAO
