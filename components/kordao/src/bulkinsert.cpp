#include "kordao/bulkinsert.h"

#include "connection.h"

#include <sqlite3.h>

#include <limits>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// PostgreSQL takes this many records per INSERT statement.
constexpr int kPostgresRowsPerStatement = 200;

// The largest whole yen a Currency holds.
constexpr qlonglong kMaxYen = std::numeric_limits<qint64>::max() / Currency::kScale;

} // namespace

struct BulkInsert::Impl {
    // One value of the row being built, as it is bound.
    struct Slot {
        enum class Kind : unsigned char { Unset, Integer, Real, Text };
        Kind kind = Kind::Unset;
        qint64 integer = 0;
        double real = 0;
        QString text;
    };

    DatabaseHandle db;
    std::shared_ptr<const TableInfo> info;
    std::vector<int> columns;
    bool ownTransaction = false;
    bool done = false;
    QString insertHead; // INSERT INTO "T" ("A", "B") VALUES
    std::shared_ptr<Connection::BulkLoad> load;

    std::vector<Slot> row;
    QString rowError; // the first value of the row that its field cannot hold

    // SQLite: one statement of one record, prepared for this load and bound value by value.
    sqlite3_stmt* stmt = nullptr;

    // PostgreSQL: records not yet sent, many per INSERT statement.
    QVariantList pending;
    int pendingRows = 0;
    int rowsPerStatement = 1;
    QString fullSql; // the statement of rowsPerStatement records

    ~Impl()
    {
        if (stmt)
            sqlite3_finalize(stmt);
    }

    const ColumnInfo& column(int field) const
    {
        return info->columns[std::size_t(columns[std::size_t(field)])];
    }

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

    bool valid(int field)
    {
        if (field >= 0 && std::size_t(field) < row.size())
            return true;
        if (rowError.isEmpty())
            rowError = u"項目番号 %1 はありません (項目は %2 個)。"_s.arg(field).arg(row.size());
        return false;
    }

    void setStored(int field, const QVariant& v)
    {
        QVariant out;
        QString error;
        if (!storedValue(column(field), v, db->engine(), &out, &error)) {
            if (rowError.isEmpty())
                rowError = error;
            return;
        }
        Slot& s = row[std::size_t(field)];
        switch (out.metaType().id()) {
        case QMetaType::LongLong:
            s.kind = Slot::Kind::Integer;
            s.integer = out.toLongLong();
            break;
        case QMetaType::Double:
            s.kind = Slot::Kind::Real;
            s.real = out.toDouble();
            break;
        default:
            s.kind = Slot::Kind::Text;
            s.text = out.toString();
            break;
        }
    }

    // The conversion of storedValue for an amount, without a QVariant on the way.
    void setAmount(int field, Currency amount)
    {
        const ColumnInfo& c = column(field);
        Slot& s = row[std::size_t(field)];
        const bool whole = amount.raw() % Currency::kScale == 0;
        switch (c.kind) {
        case ColumnKind::Text:
            s.kind = Slot::Kind::Text;
            s.text = amount.toPlainString();
            return;
        case ColumnKind::Integer:
            if (!whole) {
                if (rowError.isEmpty())
                    rowError = u"項目「%1」に整数でない値「%2」は書けません。"_s.arg(
                        c.name, amount.toPlainString());
                return;
            }
            s.kind = Slot::Kind::Integer;
            s.integer = amount.raw() / Currency::kScale;
            return;
        case ColumnKind::Number:
            if (whole) {
                s.kind = Slot::Kind::Integer;
                s.integer = amount.raw() / Currency::kScale;
            } else if (db->engine() == Engine::Sqlite) {
                s.kind = Slot::Kind::Real;
                s.real = double(amount.raw()) / double(Currency::kScale);
            } else {
                s.kind = Slot::Kind::Text;
                s.text = amount.toPlainString();
            }
            return;
        }
    }

    bool complete(QString* error) const
    {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (row[i].kind == Slot::Kind::Unset) {
                *error = u"項目「%1」の値がありません。"_s.arg(column(int(i)).name);
                return false;
            }
        }
        return true;
    }

    bool writeSqlite(QString* error)
    {
        int rc = SQLITE_OK;
        for (std::size_t i = 0; i < row.size() && rc == SQLITE_OK; ++i) {
            const Slot& s = row[i];
            const int at = int(i) + 1;
            switch (s.kind) {
            case Slot::Kind::Integer:
                rc = sqlite3_bind_int64(stmt, at, s.integer);
                break;
            case Slot::Kind::Real:
                rc = sqlite3_bind_double(stmt, at, s.real);
                break;
            case Slot::Kind::Text:
            case Slot::Kind::Unset:
                // The text stays in its slot until the statement has run. A null text is
                // NULL, as the PostgreSQL path sends it.
                rc = s.text.isNull() ? sqlite3_bind_null(stmt, at)
                                     : sqlite3_bind_text16(stmt, at, s.text.utf16(),
                                                           int(s.text.size() * 2), SQLITE_STATIC);
                break;
            }
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_step(stmt);
        const bool ok = rc == SQLITE_DONE;
        if (!ok)
            *error = QString::fromUtf8(sqlite3_errmsg(db->sqliteHandle()));
        sqlite3_reset(stmt);
        return ok;
    }

    void queuePostgres()
    {
        pending.reserve(pending.size() + qsizetype(row.size()));
        for (const Slot& s : row) {
            switch (s.kind) {
            case Slot::Kind::Integer:
                pending.push_back(qlonglong(s.integer));
                break;
            case Slot::Kind::Real:
                pending.push_back(s.real);
                break;
            case Slot::Kind::Text:
            case Slot::Kind::Unset:
                pending.push_back(s.text);
                break;
            }
        }
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

    // Ends this load's part in the bulk load of the table (once).
    bool endLoad(QString* error)
    {
        if (!load)
            return true;
        const std::shared_ptr<Connection::BulkLoad> ending = std::move(load);
        load.reset();
        return db->endBulkLoad(ending, error);
    }

    // Undoes the transaction when it is ours; otherwise leaves the rows added, counted, to the
    // caller's transaction.
    void abandon()
    {
        QString ignored;
        if (ownTransaction && db->inTransaction()) {
            load.reset();
            db->rollback(&ignored);
        } else {
            endLoad(&ignored);
        }
        ownTransaction = false;
    }

    void clearRow()
    {
        for (Slot& s : row) {
            s.kind = Slot::Kind::Unset;
            s.text.resize(0);
        }
        rowError.clear();
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
    d->row.resize(d->columns.size());
    d->insertHead =
        u"INSERT INTO "_s + Connection::quote(d->info->name) + u" ("_s + names + u") VALUES"_s;
    if (!d->db->inTransaction()) {
        if (!d->db->begin(&m_lastError)) {
            m_status = -15;
            return;
        }
        d->ownTransaction = true;
    }
    d->load = d->db->beginBulkLoad(*d->info, &m_lastError);
    if (!d->load) {
        m_status = -12;
        d->abandon();
        return;
    }
    if (d->db->engine() == Engine::Postgres) {
        d->rowsPerStatement = kPostgresRowsPerStatement;
        d->fullSql = d->valuesSql(d->rowsPerStatement);
        return;
    }
    const QByteArray sql = d->valuesSql(1).toUtf8();
    if (sqlite3_prepare_v3(d->db->sqliteHandle(), sql.constData(), int(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &d->stmt, nullptr) != SQLITE_OK) {
        m_status = -12;
        m_lastError = QString::fromUtf8(sqlite3_errmsg(d->db->sqliteHandle()));
        d->abandon();
    }
}

BulkInsert::~BulkInsert()
{
    if (!d->done && d->db)
        d->abandon();
}

void BulkInsert::setInteger(int field, qlonglong value)
{
    if (!d->valid(field))
        return;
    if (value > kMaxYen || value < -kMaxYen)
        d->setStored(field, value);
    else
        d->setAmount(field, Currency::fromYen(value));
}

void BulkInsert::setAmount(int field, Currency value)
{
    if (d->valid(field))
        d->setAmount(field, value);
}

void BulkInsert::setText(int field, const QString& value)
{
    if (!d->valid(field))
        return;
    if (d->column(field).kind == ColumnKind::Text) {
        auto& s = d->row[std::size_t(field)];
        s.kind = Impl::Slot::Kind::Text;
        s.text = value;
    } else {
        d->setStored(field, value);
    }
}

short BulkInsert::addRow(const QVariantList& values)
{
    if (m_status != 0 || d->done)
        return addRow();
    if (values.size() != qsizetype(d->columns.size())) {
        d->rowError =
            u"値が %1 個あります (項目は %2 個)。"_s.arg(values.size()).arg(d->columns.size());
        return addRow();
    }
    for (int i = 0; i < values.size(); ++i)
        d->setStored(i, values[i]);
    return addRow();
}

short BulkInsert::addRow()
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
        d->abandon();
        return m_status;
    };
    QString error = d->rowError;
    if (!error.isEmpty() || !d->complete(&error))
        return fail(error);
    if (d->stmt) {
        if (!d->writeSqlite(&error))
            return fail(error);
    } else {
        d->queuePostgres();
        if (++d->pendingRows == d->rowsPerStatement && !d->flush(&error))
            return fail(error);
    }
    d->clearRow();
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
    if (!d->flush(&error) || !d->endLoad(&error) ||
        (m_rows > 0 && !d->db->auditBulk(*d->info, u"BULK INSERT"_s, m_rows, &error))) {
        m_status = -12;
        m_lastError = u"テーブル %1: %2"_s.arg(d->info->name, error);
        d->abandon();
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

short clearTable(const DatabaseHandle& db, const QString& table, QString* error)
{
    if (!db) {
        *error = u"データベースが開かれていません。"_s;
        return -2;
    }
    const std::shared_ptr<const TableInfo> info = db->table(table, error);
    if (!info)
        return -2;
    const bool own = !db->inTransaction();
    if (own && !db->begin(error))
        return -15;
    if (!db->clearTable(*info, error)) {
        *error = u"テーブル %1: %2"_s.arg(table, *error);
        if (own) {
            QString ignored;
            db->rollback(&ignored);
        }
        return -12;
    }
    if (own && !db->commit(error))
        return -16;
    return 0;
}

} // namespace KorDAO
