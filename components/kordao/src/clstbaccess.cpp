#include "kordao/kordao.h"

#include "connection.h"
#include "criteria.h"
#include "tablecursor.h"

#include <QSqlError>

using namespace Qt::StringLiterals;

namespace KorDAO {

struct clsTbAccess::Impl {
    DatabaseHandle db;
    std::unique_ptr<TableCursor> cursor;
};

clsTbAccess::clsTbAccess() : d(std::make_unique<Impl>()) {}

clsTbAccess::~clsTbAccess() = default;

void clsTbAccess::setTBDatabase(DatabaseHandle db)
{
    d->cursor.reset();
    d->db = std::move(db);
}

void clsTbAccess::setTBWorkspace(DatabaseHandle ws)
{
    if (ws != d->db)
        setTBDatabase(std::move(ws));
}

int clsTbAccess::DAO_TableOpen(const QString& filter, const QString& sort)
{
    d->cursor.reset();
    m_lastError.clear();
    if (!d->db) {
        m_lastError = u"テーブル %1: データベースが開かれていません。"_s.arg(m_tableName);
        return kTableMissing;
    }
    auto cursor = std::make_unique<TableCursor>(d->db);
    const mox::Status f = cursor->open(m_tableName, filter, sort);
    if (!f.ok()) {
        m_lastError = f.message;
        return f.code;
    }
    const int count = int(cursor->count());
    d->cursor = std::move(cursor);
    return count;
}

short clsTbAccess::DAO_TableClose()
{
    d->cursor.reset();
    return 0;
}

short clsTbAccess::report(const mox::Status& s)
{
    m_lastError = s.message;
    return short(s.code);
}

short clsTbAccess::notOpen(short status)
{
    m_lastError = u"テーブル %1 は開かれていません。"_s.arg(m_tableName);
    return status;
}

short clsTbAccess::DAO_RecRead(short mode)
{
    if (!d->cursor)
        return notOpen(kTableNotOpen);
    if (mode != 1 && mode != 2) {
        m_lastError = u"DAO_RecRead の指定 %1 は使えません (1 または 2)。"_s.arg(mode);
        return kBadArgument;
    }
    return report(mode == 1 ? d->cursor->first() : d->cursor->next());
}

short clsTbAccess::DAO_RecFind(short mode, const QString& criteria)
{
    if (!d->cursor)
        return notOpen(kTableNotOpen);
    if (mode != 1) {
        m_lastError = u"DAO_RecFind の指定 %1 は使えません (1 のみ)。"_s.arg(mode);
        return kBadArgument;
    }
    return report(d->cursor->find(criteria));
}

short clsTbAccess::DAO_Edit(bool)
{
    return d->cursor ? report(d->cursor->edit()) : notOpen(kEditFailed);
}

short clsTbAccess::DAO_AddNew(bool)
{
    return d->cursor ? report(d->cursor->addNew()) : notOpen(kAddNewFailed);
}

short clsTbAccess::DAO_Update()
{
    return d->cursor ? report(d->cursor->update()) : notOpen(kUpdateFailed);
}

short clsTbAccess::DAO_Delete(bool)
{
    return d->cursor ? report(d->cursor->remove()) : notOpen(kDeleteFailed);
}

RecordStamp clsTbAccess::DAO_RecStamp() const
{
    RecordStamp stamp;
    stamp.m_table = m_tableName;
    if (const std::vector<QVariant>* row = d->cursor ? d->cursor->lastFound() : nullptr) {
        stamp.m_present = true;
        stamp.m_values = QVariantList(row->begin(), row->end());
    }
    return stamp;
}

short clsTbAccess::DAO_RecCheck(const RecordStamp& stamp)
{
    if (!d->cursor)
        return notOpen(kTableNotOpen);
    mox::Status failure;
    const std::vector<QVariant>* row = d->cursor->lastFound(&failure);
    if (!failure.ok() && failure.code != kRecordChanged)
        return report(failure);
    const TableInfo& info = d->cursor->info();
    if (stamp.m_table != m_tableName)
        return report(
            {kBadArgument, u"テーブル %1 に別のテーブル %2 の読込記録は使えません。"_s.arg(
                               m_tableName, stamp.m_table)});
    if (!stamp.m_present && !row)
        return 0;
    if (!stamp.m_present)
        return report({kRecordChanged,
                       u"テーブル %1 に、読み込んだ後に他の端末でレコードが追加されました。"_s.arg(
                           m_tableName)});
    if (!row)
        return report({kRecordChanged,
                       u"テーブル %1 のレコードは読み込んだ後に他の端末で削除されました。"_s.arg(
                           m_tableName)});
    bool same = qsizetype(row->size()) == stamp.m_values.size();
    for (std::size_t i = 0; same && i < row->size(); ++i) {
        // PostgreSQL gives a record moved by an update a new row address: only fields count.
        if (int(i) != info.rowAddress)
            same = sameValue((*row)[i], stamp.m_values[qsizetype(i)]);
    }
    if (!same)
        return report({kRecordChanged,
                       u"テーブル %1 のレコードは読み込んだ後に他の端末で更新されました。"_s.arg(
                           m_tableName)});
    return 0;
}

short clsTbAccess::DAO_BeginTrans()
{
    if (!d->db) {
        m_lastError = u"データベースが開かれていません。"_s;
        return kBeginFailed;
    }
    if (mox::Status s = d->db->begin(); !s.ok())
        return report(s);
    return 0;
}

short clsTbAccess::DAO_CommitTrans()
{
    if (!d->db) {
        m_lastError = u"データベースが開かれていません。"_s;
        return kCommitFailed;
    }
    mox::Status s = d->db->commit();
    if (!s.ok())
        return report(s);
    // A commit settled as saved after the connection was lost says so.
    if (d->db->lostCommit() == CommitLoss::Saved)
        m_lastError = s.message;
    return 0;
}

CommitLoss clsTbAccess::DAO_CommitLoss() const
{
    return d->db ? d->db->lostCommit() : CommitLoss::None;
}

short clsTbAccess::DAO_Rollback()
{
    if (!d->db) {
        m_lastError = u"データベースが開かれていません。"_s;
        return kRollbackFailed;
    }
    if (d->cursor)
        d->cursor->cancelEdit();
    // Right after a commit that failed (and was undone by it) there is nothing to undo, and the
    // commit's failure stays the one reported.
    if (!d->db->inTransaction() && d->db->commitFailed())
        return 0;
    if (mox::Status s = d->db->rollback(); !s.ok())
        return report(s);
    if (d->cursor)
        d->cursor->cancelEdit();
    return 0;
}

const QVariant& clsTbAccess::fieldValue(const QString& field, ColumnKind* kind)
{
    return fieldValueAt(d->cursor ? d->cursor->info().find(field) : -1, field, kind);
}

const QVariant& clsTbAccess::fieldValueAt(int column, const QString& field, ColumnKind* kind)
{
    if (!d->cursor)
        throw DaoError(kFieldUnreadable, u"テーブル %1 は開かれていません。"_s.arg(m_tableName));
    mox::Status failure;
    const QVariant* v = d->cursor->valueAt(column, field, kind, &failure);
    if (!v) {
        m_lastError = failure.message;
        throw DaoError(short(failure.code), m_lastError);
    }
    return *v;
}

int clsTbAccess::DAO_FieldIndex(const QString& field) const
{
    if (!d->cursor)
        return -1;
    const int column = d->cursor->info().find(field);
    return column == d->cursor->info().rowAddress ? -1 : column;
}

QString clsTbAccess::fieldName(int column) const
{
    if (!d->cursor || column < 0 || column >= int(d->cursor->info().columns.size()))
        return u"#%1"_s.arg(column);
    return d->cursor->info().columns[std::size_t(column)].name;
}

void clsTbAccess::assignField(const QString& field, QVariant value)
{
    if (!d->cursor)
        throw DaoError(kNotWriting, u"テーブル %1 は開かれていません。"_s.arg(m_tableName));
    const mox::Status f = d->cursor->assign(field, std::move(value));
    if (!f.ok()) {
        m_lastError = f.message;
        throw DaoError(short(f.code), f.message);
    }
}

} // namespace KorDAO
