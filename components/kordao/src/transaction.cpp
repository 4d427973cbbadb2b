#include "kordao/kordao.h"

#include "connection.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

mox::Status noDatabase(int status)
{
    return mox::Status::failure(status, u"データベースが開かれていません。"_s);
}

} // namespace

Transaction::Transaction(DatabaseHandle db) : m_db(std::move(db))
{
    if (!m_db) {
        m_status = noDatabase(kBeginFailed);
        return;
    }
    if (m_db->inTransaction()) {
        m_joined = true;
        return;
    }
    if (mox::Status s = m_db->begin(); !s.ok()) {
        m_status = std::move(s);
        return;
    }
    m_open = true;
}

Transaction::Transaction(clsTbAccess& table) : m_table(&table)
{
    if (const short st = table.DAO_BeginTrans(); st != 0) {
        m_status = mox::Status::failure(st, table.lastError());
        return;
    }
    m_open = true;
}

Transaction::~Transaction()
{
    if (m_open)
        (void)rollback();
}

mox::Status Transaction::commit()
{
    if (m_joined && m_status.ok())
        return mox::Status::success();
    if (!m_open)
        return mox::Status::failure(kCommitFailed, m_status.ok()
                                                       ? u"トランザクションは終了しています。"_s
                                                       : m_status.message);
    m_open = false; // a commit that fails is undone by the connection
    if (m_table) {
        const short st = m_table->DAO_CommitTrans();
        return st == 0 ? mox::Status::success() : mox::Status::failure(st, m_table->lastError());
    }
    // A failure carries its status; a commit settled as saved after the connection was lost
    // says so in its message.
    return m_db->commit();
}

mox::Status Transaction::rollback()
{
    if (!m_open)
        return mox::Status::success();
    m_open = false;
    if (m_table) {
        const short st = m_table->DAO_Rollback();
        return st == 0 ? mox::Status::success() : mox::Status::failure(st, m_table->lastError());
    }
    if (!m_db->inTransaction())
        return mox::Status::success();
    return m_db->rollback();
}

} // namespace KorDAO
