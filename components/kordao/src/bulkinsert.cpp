#include "kordao/bulkinsert.h"
#include "kordao/schema.h"

#include "connection.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

struct BulkInsert::Impl {
    using Slot = BulkValue;

    DatabaseHandle db;
    std::shared_ptr<const TableInfo> info;
    std::vector<int> columns;
    std::optional<Transaction> tx; // the transaction begun for the load, when none was open
    bool done = false;
    std::shared_ptr<BulkLoad> load;
    std::unique_ptr<BulkWriter> writer;
    bool perRecord = false; // Audit::PerRecord

    std::vector<Slot> row;
    QString rowError; // the first value of the row that its field cannot hold

    const ColumnInfo& column(int field) const
    {
        return info->columns[std::size_t(columns[std::size_t(field)])];
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
        const mox::Result<QVariant> out = storedValue(column(field), v, db->engine());
        if (const mox::Status* failure = mox::failure(out)) {
            if (rowError.isEmpty())
                rowError = failure->message;
            return;
        }
        take(row[std::size_t(field)], mox::value(out));
    }

    static void take(Slot& s, const QVariant& out)
    {
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

    // The conversion of storedValue for an amount, without a QVariant on the way for a whole one.
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
            } else {
                take(s, db->engine().fraction(amount));
            }
            return;
        }
    }

    // Every field of the row has its value: the row's own failure first, then a field unset.
    mox::Status complete() const
    {
        if (!rowError.isEmpty())
            return mox::Status::failure(kUpdateFailed, rowError);
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (row[i].kind == Slot::Kind::Unset)
                return mox::Status::failure(
                    kUpdateFailed, u"項目「%1」の値がありません。"_s.arg(column(int(i)).name));
        }
        return {};
    }

    // Ends this load's part in the bulk load of the table (once).
    mox::Status endLoad()
    {
        if (!load)
            return {};
        const std::shared_ptr<BulkLoad> ending = std::move(load);
        load.reset();
        return db->endBulkLoad(ending);
    }

    // Joins the bulk load of the table (or, audited per record, names the writer for the
    // table's triggers) and makes the writer of its rows.
    mox::Status startLoad(const QString& insertHead)
    {
        if (perRecord) {
            db->forgetWritten(); // rows sent wholesale are not kept to settle a lost commit
            if (mox::Status s = db->noteWriter(*info); !s.ok())
                return s;
        } else {
            mox::Result<std::shared_ptr<BulkLoad>> joined = db->beginBulkLoad(*info);
            if (const mox::Status* failure = mox::failure(joined))
                return *failure;
            load = std::move(mox::value(joined));
        }
        mox::Result<std::unique_ptr<BulkWriter>> made =
            db->engine().bulkWriter(insertHead, int(columns.size()));
        if (const mox::Status* failure = mox::failure(made))
            return *failure;
        writer = std::move(mox::value(made));
        return {};
    }

    // Undoes the transaction when it is ours; otherwise leaves the rows added, counted, to the
    // caller's transaction.
    void abandon()
    {
        if (tx) {
            load.reset();
            (void)tx->rollback();
            tx.reset();
        } else {
            (void)endLoad();
        }
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

BulkInsert::BulkInsert(DatabaseHandle db, const QString& table, const QStringList& fields,
                       Audit audit)
    : d(std::make_unique<Impl>())
{
    d->db = std::move(db);
    d->perRecord = audit == Audit::PerRecord;
    if (!d->db) {
        m_status = kTableMissing;
        m_lastError = u"データベースが開かれていません。"_s;
        return;
    }
    mox::Result<std::shared_ptr<const TableInfo>> info = d->db->table(table);
    if (const mox::Status* failure = mox::failure(info)) {
        m_status = kTableMissing;
        m_lastError = failure->message;
        return;
    }
    d->info = std::move(mox::value(info));
    QString names;
    for (const QString& f : fields) {
        const int column = d->info->find(f);
        if (column < 0 || column == d->info->rowAddress) {
            m_status = kBadCondition;
            m_lastError = u"テーブル %1 に項目「%2」はありません。"_s.arg(table, f);
            return;
        }
        d->columns.push_back(column);
        names += (names.isEmpty() ? QString() : u", "_s) +
                 Connection::quote(d->info->columns[std::size_t(column)].name);
    }
    d->row.resize(d->columns.size());
    const QString insertHead =
        u"INSERT INTO "_s + Connection::quote(d->info->name) + u" ("_s + names + u") VALUES"_s;
    if (!d->db->inTransaction()) {
        d->tx.emplace(d->db);
        if (!d->tx->started()) {
            m_status = kBeginFailed;
            m_lastError = d->tx->status().message;
            d->tx.reset();
            return;
        }
    }
    if (mox::Status s = d->startLoad(insertHead); !s.ok()) {
        m_status = kUpdateFailed;
        m_lastError = s.message;
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
        return kUpdateFailed;
    }
    auto fail = [this](const QString& error) {
        m_status = kUpdateFailed;
        m_lastError = u"テーブル %1 の %2 件目: %3"_s.arg(d->info->name).arg(m_rows + 1).arg(error);
        d->abandon();
        return m_status;
    };
    if (mox::Status s = d->complete(); !s.ok())
        return fail(s.message);
    if (mox::Status s = d->writer->add(d->row); !s.ok())
        return fail(s.message);
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
    mox::Status s = d->writer->flush();
    if (s.ok())
        s = d->endLoad();
    if (s.ok() && m_rows > 0 && !d->perRecord)
        s = d->db->auditBulk(*d->info, u"BULK INSERT"_s, m_rows);
    if (!s.ok()) {
        m_status = kUpdateFailed;
        m_lastError = u"テーブル %1: %2"_s.arg(d->info->name, s.message);
        d->abandon();
        return m_status;
    }
    d->done = true;
    if (!d->tx)
        return 0;
    const mox::Status committed = d->tx->commit();
    d->tx.reset();
    if (!committed.ok()) {
        m_status = kCommitFailed;
        m_lastError = committed.message;
        return m_status;
    }
    return 0;
}

mox::Status clearTable(const DatabaseHandle& db, const QString& table)
{
    if (!db)
        return mox::Status::failure(kTableMissing, u"データベースが開かれていません。"_s);
    const mox::Result<std::shared_ptr<const TableInfo>> info = db->table(table);
    if (const mox::Status* failure = mox::failure(info))
        return mox::Status::failure(kTableMissing, failure->message);
    Transaction tx(db);
    if (!tx.started())
        return mox::Status::failure(kBeginFailed, tx.status().message);
    if (mox::Status s = db->clearTable(*mox::value(info)); !s.ok()) // tx undoes its own
        return mox::Status::failure(kUpdateFailed, u"テーブル %1: %2"_s.arg(table, s.message));
    if (mox::Status s = tx.commit(); !s.ok())
        return mox::Status::failure(kCommitFailed, s.message);
    return mox::Status::success();
}

mox::Status holdWorkLock(const DatabaseHandle& db, const QString& name)
{
    if (!db)
        return mox::Status::failure(kTableMissing, u"データベースが開かれていません。"_s);
    if (!db->inTransaction())
        return mox::Status::failure(kUpdateFailed, u"トランザクションが開始されていません。"_s);
    if (!isPostgres(db)) // one writer at a time on SQLite anyway
        return mox::Status::success();
    // A key every process derives alike (64-bit FNV-1a of the name's UTF-8).
    std::uint64_t key = 14695981039346656037ULL;
    for (const char c : name.toUtf8()) {
        key ^= static_cast<unsigned char>(c);
        key *= 1099511628211ULL;
    }
    std::vector<Row> rows;
    const mox::Status s = db->select(u"SELECT pg_advisory_xact_lock(?)"_s,
                                     {QVariant::fromValue(static_cast<qlonglong>(key))}, &rows);
    if (!s.ok())
        return mox::Status::failure(s.code, u"作業「%1」の排他: %2"_s.arg(name, s.message));
    return mox::Status::success();
}

} // namespace KorDAO
