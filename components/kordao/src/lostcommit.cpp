// Settling a commit whose answer was lost with the connection: what the transaction wrote is
// kept record by record and read back on a new connection.

#include "connection.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

void Connection::noteWritten(const std::shared_ptr<const TableInfo>& table,
                             const std::vector<QVariant>& row, bool deleted,
                             const std::vector<QVariant>* before)
{
    if (!m_inTransaction || !m_engine->keepsWrittenRecords() || !m_writtenComplete)
        return;
    // A transaction of many records (a load) is not worth the memory: past this many, a lost
    // commit is simply unknown.
    constexpr std::size_t kMaxWritten = 1000;
    if (table->rowAddress >= 0 || table->primaryKey.empty() || m_written.size() >= kMaxWritten) {
        // A record without a key cannot be found again for sure.
        forgetWritten();
        return;
    }
    QString key = table->name;
    for (int column : table->primaryKey)
        key += QChar(0x1f) + row[std::size_t(column)].toString();
    // The last write of a key is what the record must be; the first one knew what it was.
    if (const auto it = m_writtenIndex.constFind(key); it != m_writtenIndex.constEnd()) {
        Written& w = m_written[it.value()];
        w.row = row;
        w.deleted = deleted;
        return;
    }
    m_writtenIndex.insert(key, m_written.size());
    Written w{table, row, deleted, std::nullopt};
    if (before)
        w.before = *before;
    m_written.push_back(std::move(w));
}

namespace {

// Whether the record \p read (nullptr: none) is \p expected (nullptr: none).
bool sameRecord(const TableInfo& t, const std::vector<QVariant>* read,
                const std::vector<QVariant>* expected)
{
    if (!read || !expected)
        return !read && !expected;
    for (std::size_t i = 0; i < t.columns.size(); ++i)
        if (int(i) != t.rowAddress && !sameStored(t.columns[i], (*read)[i], (*expected)[i]))
            return false;
    return true;
}

} // namespace

// Reads the record of \p w's key back and tells whether it is as the transaction wrote it, as it
// was before, or neither.
mox::Result<Connection::Outcome> Connection::readBack(const Written& w)
{
    const TableInfo& t = *w.table;
    QString where;
    QVariantList binds;
    for (int column : t.primaryKey) {
        where += (where.isEmpty() ? QString() : u" AND "_s) +
                 quote(t.columns[std::size_t(column)].name) + u" = ?"_s;
        binds.push_back(w.row[std::size_t(column)]);
    }
    std::vector<Row> rows;
    if (mox::Status s = select(t.selectAll + u" WHERE "_s + where, binds, &rows); !s.ok())
        return s;
    const Row* now = rows.empty() ? nullptr : &rows.front();
    const bool asWritten = sameRecord(t, now, w.deleted ? nullptr : &w.row);
    const bool asBefore = sameRecord(t, now, w.before ? &*w.before : nullptr);
    return asWritten && asBefore ? Outcome::Either
           : asWritten           ? Outcome::Written
           : asBefore            ? Outcome::Before
                                 : Outcome::Neither;
}

// The connection was lost during COMMIT: connects again and reads back what the transaction
// wrote. The server commits a transaction whole or not at all, so records as written mean it
// committed and records as they were before mean it did not (a record written as it already was
// tells nothing); a mixture (another desk changed some since) or a server out of reach leaves
// it unknown.
mox::Status Connection::settleLostCommit(std::vector<Written> written, bool complete,
                                         const mox::Status& lost)
{
    m_lostCommit = CommitLoss::Unknown;
    const auto unknown = [&](const QString& why) {
        m_engine->setLastFailure(FailureKind::Lost);
        return mox::Status::failure(
            kConnectionLost,
            u"確定（COMMIT）の途中でデータベースとの接続が切れたため、保存されたかどうか"
            "分かりません (%1): %2"_s.arg(why, lost.message));
    };
    if (!complete || written.empty())
        return unknown(u"書き込んだレコードを確かめられません"_s);
    std::size_t saved = 0;
    std::size_t notSaved = 0;
    for (const Written& w : written) {
        const mox::Result<Outcome> read = readBack(w);
        if (const mox::Status* failure = mox::failure(read))
            return unknown(u"読み直せません: "_s + failure->message);
        const Outcome outcome = mox::value(read);
        if (outcome == Outcome::Neither)
            return unknown(u"書き込んだレコードが他の端末で変更されています"_s);
        saved += outcome == Outcome::Written;
        notSaved += outcome == Outcome::Before;
    }
    if (saved > 0 && notSaved > 0)
        return unknown(u"書き込んだレコードの一部が他の端末で変更されています"_s);
    if (notSaved == 0) {
        m_lostCommit = CommitLoss::Saved;
        m_commitFailed = false;
        m_engine->setLastFailure(FailureKind::Other);
        // Saved: success, with a message saying how it was found out.
        return mox::Status{0, u"確定（COMMIT）の途中でデータベースとの接続が切れましたが、"
                              "接続し直して読み直し、保存されていることを確かめました。"_s};
    }
    m_lostCommit = CommitLoss::NotSaved;
    m_engine->setLastFailure(FailureKind::Lost);
    return mox::Status::failure(kConnectionLost, lost.message);
}

void Connection::forgetWritten()
{
    m_writtenComplete = false;
    m_written.clear();
    m_writtenIndex.clear();
}

} // namespace KorDAO
