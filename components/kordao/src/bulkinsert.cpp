#include "kordao/bulkinsert.h"

#include "connection.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// PostgreSQL takes this many records per INSERT statement.
constexpr int kPostgresRowsPerStatement = 200;

} // namespace

struct BulkInsert::Impl {
    DatabaseHandle db;
    std::shared_ptr<const TableInfo> info;
    std::vector<int> columns;
    bool ownTransaction = false;
    bool done = false;
    QString insertHead; // INSERT INTO "T" ("A", "B") VALUES

    // Records not yet sent: PostgreSQL takes many per INSERT statement, SQLite one.
    QVariantList pending;
    int pendingRows = 0;
    int rowsPerStatement = 1;
    QString fullSql; // the statement of rowsPerStatement records

    QString valuesSql(int rows) const
    {
        QString one = u"("_s;
        for (std::size_t i = 0; i < columns.size(); ++i)
            one += i == 0 ? u"?"_s : u", ?"_s;
        one += u')';
        QString sql = insertHead;
        for (int r = 0; r < rows; ++r)
            sql += (r == 0 ? u" "_s : u", "_s) + one;
        return sql;
    }

    bool flush(QString* error)
    {
        if (pendingRows == 0)
            return true;
        const bool ok = db->execute(
            pendingRows == rowsPerStatement ? fullSql : valuesSql(pendingRows), pending, error);
        pending.clear();
        pendingRows = 0;
        return ok;
    }
};

BulkInsert::BulkInsert(DatabaseHandle db, const QString& table, const QStringList& fields)
    : d(std::make_unique<Impl>())
{
    d->db = std::move(db);
    if (!d->db) {
        m_status = -2;
        m_lastError = u"データベースが開かれていません。"_s;
        return;
    }
    d->info = d->db->table(table, &m_lastError);
    if (!d->info) {
        m_status = -2;
        return;
    }
    QString names;
    for (const QString& f : fields) {
        const int column = d->info->find(f);
        if (column < 0 || column == d->info->rowAddress) {
            m_status = -66;
            m_lastError = u"テーブル %1 に項目「%2」はありません。"_s.arg(table, f);
            return;
        }
        d->columns.push_back(column);
        names += (names.isEmpty() ? QString() : u", "_s) +
                 Connection::quote(d->info->columns[std::size_t(column)].name);
    }
    d->insertHead =
        u"INSERT INTO "_s + Connection::quote(d->info->name) + u" ("_s + names + u") VALUES"_s;
    if (!d->db->inTransaction()) {
        if (!d->db->begin(&m_lastError)) {
            m_status = -15;
            return;
        }
        d->ownTransaction = true;
    }
    d->rowsPerStatement = d->db->engine() == Engine::Postgres ? kPostgresRowsPerStatement : 1;
    d->fullSql = d->valuesSql(d->rowsPerStatement);
}

BulkInsert::~BulkInsert()
{
    if (d->ownTransaction && !d->done && d->db->inTransaction()) {
        QString ignored;
        d->db->rollback(&ignored);
    }
}

short BulkInsert::addRow(const QVariantList& values)
{
    if (m_status != 0)
        return m_status;
    if (d->done) {
        m_lastError = u"BulkInsert は終了しています。"_s;
        return -12;
    }
    auto fail = [this](const QString& error) {
        m_status = -12;
        m_lastError = u"テーブル %1 の %2 件目: %3"_s.arg(d->info->name).arg(m_rows + 1).arg(error);
        if (d->ownTransaction) {
            QString ignored;
            d->db->rollback(&ignored);
            d->ownTransaction = false;
        }
        return m_status;
    };
    if (values.size() != qsizetype(d->columns.size()))
        return fail(
            u"値が %1 個あります (項目は %2 個)。"_s.arg(values.size()).arg(d->columns.size()));
    // Converted in place into the records waiting to be sent.
    const Engine engine = d->db->engine();
    d->pending.reserve(d->pending.size() + values.size());
    for (int i = 0; i < values.size(); ++i) {
        QVariant v;
        QString error;
        if (!storedValue(d->info->columns[std::size_t(d->columns[std::size_t(i)])], values[i],
                         engine, &v, &error))
            return fail(error);
        d->pending.push_back(std::move(v));
    }
    QString error;
    if (++d->pendingRows == d->rowsPerStatement && !d->flush(&error))
        return fail(error);
    ++m_rows;
    return 0;
}

short BulkInsert::finish()
{
    if (m_status != 0)
        return m_status;
    if (d->done)
        return 0;
    QString error;
    if (!d->flush(&error)) {
        m_status = -12;
        m_lastError = u"テーブル %1: %2"_s.arg(d->info->name, error);
        if (d->ownTransaction) {
            QString ignored;
            d->db->rollback(&ignored);
            d->ownTransaction = false;
        }
        return m_status;
    }
    d->done = true;
    if (d->ownTransaction && !d->db->commit(&error)) {
        m_status = -16;
        m_lastError = error;
        return m_status;
    }
    return 0;
}

} // namespace KorDAO
