// TableCursor's writing half: a record opened by Edit or AddNew, its fields assigned, then
// stored by Update, or the current record deleted. An edit and a delete carry every field as
// read in their condition, so they write only while the record is as it was read.

#include "tablecursor.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

const mox::Status kOk{0, {}};

} // namespace

void TableCursor::startWriting(Mode mode)
{
    m_assigned.fill(0, qsizetype(m_info->columns.size()));
    m_pendingValues.resize(m_info->columns.size());
    m_mode = mode;
}

mox::Status TableCursor::edit()
{
    if (!m_hasCurrent)
        return {kEditFailed, u"テーブル %1 にカレントレコードがありません。"_s.arg(m_info->name)};
    if (mox::Status f = completeCurrent(); !f.ok())
        return f;
    startWriting(Mode::Edit);
    return kOk;
}

mox::Status TableCursor::addNew()
{
    startWriting(Mode::AddNew);
    return kOk;
}

void TableCursor::cancelEdit()
{
    m_mode = Mode::Browse;
}

mox::Status TableCursor::assign(const QString& field, QVariant value)
{
    if (m_mode == Mode::Browse)
        return {kNotWriting, u"テーブル %1 のレコードは編集中ではありません (項目「%2」)。"_s.arg(
                                 m_info->name, field)};
    const int column = m_info->find(field);
    if (column < 0 || column == m_info->rowAddress)
        return {kFieldUnreadable,
                u"テーブル %1 に項目「%2」はありません。"_s.arg(m_info->name, field)};
    mox::Result<QVariant> bound =
        storedValue(m_info->columns[std::size_t(column)], value, m_db->engine());
    if (const mox::Status* failure = mox::failure(bound))
        return {kUpdateFailed, u"テーブル %1: %2"_s.arg(m_info->name, failure->message)};
    m_pendingValues[std::size_t(column)] = std::move(mox::value(bound));
    m_assigned[column] = 1;
    return kOk;
}

void TableCursor::identity(const Row& row, QString* where, QVariantList* binds) const
{
    if (m_info->rowAddress >= 0) {
        *where = columnSql(m_info->rowAddress) + u" = ?"_s;
        binds->push_back(row[std::size_t(m_info->rowAddress)]);
        return;
    }
    for (int column : m_info->primaryKey) {
        if (!where->isEmpty())
            *where += u" AND "_s;
        *where += columnSql(column) + u" = ?"_s;
        binds->push_back(row[std::size_t(column)]);
    }
}

// Every field other than the identity as it is in \p row: an edit or delete under this condition
// touches the record only while no one else has changed it since it was read.
void TableCursor::asRead(const Row& row, QString* where, QVariantList* binds) const
{
    const auto& key = m_info->primaryKey;
    for (std::size_t column = 0; column < m_info->columns.size(); ++column) {
        if (int(column) == m_info->rowAddress ||
            std::find(key.begin(), key.end(), int(column)) != key.end())
            continue;
        const QVariant& v = row[column];
        if (isSqlNull(v)) {
            *where += u" AND "_s + columnSql(int(column)) + u" IS NULL"_s;
        } else {
            *where += u" AND "_s + columnSql(int(column)) + u" = ?"_s;
            binds->push_back(v);
        }
    }
}

// The INSERT or UPDATE of the fields assigned, in column order. A program writes the same fields
// record after record, so the text of the last statement is kept and reused.
const QString& TableCursor::writeSql(Mode mode)
{
    QByteArray key = m_assigned;
    key.append(char(mode));
    if (mode == Mode::Edit) {
        // The condition on the fields as read names the NULLs among them.
        for (const QVariant& v : m_current)
            key.append(isSqlNull(v) ? '0' : '1');
    }
    if (key == m_writeKey)
        return m_writeSql;
    const QString table = Connection::quote(m_info->name);
    QString names;
    QString marks;
    for (qsizetype column = 0; column < m_assigned.size(); ++column) {
        if (!m_assigned[column])
            continue;
        const QString name = columnSql(int(column));
        if (mode == Mode::AddNew) {
            names += (names.isEmpty() ? QString() : u", "_s) + name;
            marks += marks.isEmpty() ? u"?"_s : u", ?"_s;
        } else {
            names += (names.isEmpty() ? QString() : u", "_s) + name + u" = ?"_s;
        }
    }
    if (mode == Mode::AddNew) {
        m_writeSql = names.isEmpty() ? u"INSERT INTO "_s + table + u" DEFAULT VALUES"_s
                                     : u"INSERT INTO "_s + table + u" ("_s + names +
                                           u") VALUES ("_s + marks + u")"_s;
    } else {
        QString where;
        QVariantList unused;
        identity(m_current, &where, &unused);
        asRead(m_current, &where, &unused);
        m_writeSql = u"UPDATE "_s + table + u" SET "_s + names + u" WHERE "_s + where;
        // An engine that moves an updated row tells its new address.
        if (m_info->rowAddress >= 0)
            m_writeSql += m_db->engine().newAddressReturned();
    }
    m_writeKey = key;
    return m_writeSql;
}

mox::Status TableCursor::writeFailure(short own, const QString& error) const
{
    return {m_db->statusOf(own), u"テーブル %1: %2"_s.arg(m_info->name, error)};
}

// Starts a write. The audit trail is written by the database's triggers; on SQLite they take
// the writer (program, user, host) from the writer table, which is filled for the length of a
// transaction: a write to an audited table outside one gets a transaction of its own, \p tx.
mox::Status TableCursor::beginWrite(short own, std::optional<Transaction>* tx)
{
    if (!m_db->engine().writesNameTheWriter())
        return kOk;
    const mox::Result<bool> isAudited = m_db->audited(*m_info);
    if (const mox::Status* failure = mox::failure(isAudited))
        return writeFailure(own, failure->message);
    if (mox::value(isAudited) && !m_db->inTransaction()) {
        tx->emplace(m_db);
        if (!(*tx)->started())
            return writeFailure(own, (*tx)->status().message);
    }
    if (mox::Status s = m_db->noteWriter(*m_info); !s.ok())
        return writeFailure(own, s.message); // tx undoes its transaction
    return kOk;
}

// The record edited or deleted is no longer as it was read.
mox::Status TableCursor::changedMeanwhile() const
{
    return {kRecordChanged, u"テーブル %1 のレコードは読み込んだ後に他の端末で更新または"
                            "削除されました。"_s.arg(m_info->name)};
}

// Ends a write: commits the transaction opened for it (\p tx) when the write succeeded; a
// failed write's transaction is undone as \p tx goes.
mox::Status TableCursor::finishWrite(std::optional<Transaction>& tx, mox::Status result)
{
    if (!tx || !result.ok())
        return result;
    if (mox::Status s = tx->commit(); !s.ok())
        return writeFailure(kCommitFailed, s.message);
    return result;
}

// Tells the connection the record just stored by an edit or add, every field as it now is in the
// table (a new record's fields not assigned hold the defaults: 0, NULL for texts).
void TableCursor::rememberWritten(Mode mode)
{
    if (!m_db->inTransaction())
        return;
    Row row = mode == Mode::Edit ? m_current : Row(m_info->columns.size());
    for (std::size_t column = 0; column < row.size(); ++column) {
        if (m_assigned[qsizetype(column)])
            row[column] = m_pendingValues[column];
        else if (mode == Mode::AddNew && m_info->columns[column].kind != ColumnKind::Text)
            row[column] = qlonglong(0);
    }
    m_db->noteWritten(m_info, row, false, mode == Mode::Edit ? &m_current : nullptr);
}

mox::Status TableCursor::update()
{
    m_ahead.reset();
    m_hasOpenBatch = false;
    if (m_mode == Mode::Browse)
        return {kUpdateFailed,
                u"テーブル %1 のレコードは編集中ではありません。"_s.arg(m_info->name)};
    const Mode mode = m_mode;
    cancelEdit();
    if (mode == Mode::Edit && !m_assigned.contains(char(1)))
        return kOk;

    QVariantList binds;
    for (qsizetype column = 0; column < m_assigned.size(); ++column) {
        if (m_assigned[column])
            binds.push_back(m_pendingValues[std::size_t(column)]);
    }
    if (mode == Mode::Edit) {
        QString where;
        identity(m_current, &where, &binds);
        asRead(m_current, &where, &binds);
    }

    std::optional<Transaction> own;
    if (mox::Status f = beginWrite(kUpdateFailed, &own); !f.ok())
        return f;

    int affected = 0;
    mox::Status written;
    QString newAddress;
    if (mode == Mode::Edit && m_info->rowAddress >= 0 &&
        !m_db->engine().newAddressReturned().isEmpty()) {
        std::vector<Connection::Row> moved;
        written = m_db->select(writeSql(mode), binds, &moved);
        affected = int(moved.size());
        if (affected == 1)
            newAddress = moved.front().front().toString();
    } else {
        written = m_db->execute(writeSql(mode), binds, &affected);
    }
    if (!written.ok()) {
        if (mode == Mode::AddNew && m_db->lastFailure() == FailureKind::Duplicate)
            return finishWrite(
                own, {kRecordChanged,
                      u"テーブル %1 に同じキーのレコードが既にあります "
                      "(他の端末で追加されました): %2"_s.arg(m_info->name, written.message)});
        return finishWrite(own, writeFailure(kUpdateFailed, written.message));
    }
    if (affected != 1)
        return finishWrite(own, changedMeanwhile());
    rememberWritten(mode);

    Row stored = mode == Mode::Edit ? m_current : Row(m_info->columns.size());
    for (qsizetype column = 0; column < m_assigned.size(); ++column) {
        if (m_assigned[column])
            stored[std::size_t(column)] = m_pendingValues[std::size_t(column)];
    }
    mox::Status done = finishWrite(own, kOk);
    if (!done.ok())
        return done;
    if (mode == Mode::Edit) {
        m_current = std::move(stored);
        if (!newAddress.isEmpty())
            m_current[std::size_t(m_info->rowAddress)] = newAddress;
    }
    return kOk;
}

mox::Status TableCursor::remove()
{
    m_ahead.reset();
    m_hasOpenBatch = false;
    cancelEdit();
    if (!m_hasCurrent)
        return {kDeleteFailed, u"テーブル %1 にカレントレコードがありません。"_s.arg(m_info->name)};
    if (mox::Status f = completeCurrent(); !f.ok())
        return f;
    QString where;
    QVariantList binds;
    identity(m_current, &where, &binds);
    asRead(m_current, &where, &binds);
    std::optional<Transaction> own;
    if (mox::Status f = beginWrite(kDeleteFailed, &own); !f.ok())
        return f;
    int affected = 0;
    if (mox::Status s = m_db->execute(u"DELETE FROM "_s + Connection::quote(m_info->name) +
                                          u" WHERE "_s + where,
                                      binds, &affected);
        !s.ok())
        return finishWrite(own, writeFailure(kDeleteFailed, s.message));
    if (affected != 1)
        return finishWrite(own, changedMeanwhile());
    m_db->noteWritten(m_info, m_current, true, &m_current);
    if (mox::Status f = finishWrite(own, kOk); !f.ok())
        return f;
    m_hasCurrent = false;
    return kOk;
}

} // namespace KorDAO
