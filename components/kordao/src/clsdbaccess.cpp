#include "kordao/kordao.h"

#include "connection.h"
#include "inifile.h"

using namespace Qt::StringLiterals;

#include <map>
#include <mutex>

namespace KorDAO {

namespace {

// The connections open in this process, by where they lead: every DAO_DBOpen of the same
// database shares one, which closes when its last user (database or table object) lets go.
std::mutex g_poolMutex;
std::map<QString, std::weak_ptr<Connection>>& pool()
{
    static std::map<QString, std::weak_ptr<Connection>> connections;
    return connections;
}

QString poolKey(const DbSettings& s)
{
    return QStringList{QString::number(int(s.engine)),
                       s.database,
                       s.host,
                       QString::number(s.port),
                       s.user,
                       s.hasPassword ? u"1"_s + s.password : u"0"_s,
                       QString::number(s.lockTimeout),
                       QString::number(int(s.statementLimit)),
                       QString::number(s.statementTimeout),
                       s.sslMode,
                       s.sslRootCert,
                       s.sslCert,
                       s.sslKey,
                       s.channelBinding}
        .join(QChar(0x1f));
}

} // namespace

DaoError::DaoError(short status, const QString& what)
    : std::runtime_error(what.toStdString()), m_status(status)
{
}

clsDbAccess::clsDbAccess() = default;

clsDbAccess::~clsDbAccess()
{
    DAO_DBClose();
}

short clsDbAccess::DAO_DBOpen()
{
    // Opening the same database again reuses its connection: the old one is let go only once
    // the new one is had.
    const DatabaseHandle previous = m_conn;
    DAO_DBClose();
    m_lastError.clear();
    if (m_iniName.isEmpty()) {
        m_lastError = u"設定ファイル名 (DBIniNameString) が指定されていません。"_s;
        return kBadSetting;
    }
    const QString path = findIniFile(m_iniName);
    if (path.isEmpty()) {
        m_lastError = u"設定ファイル %1 が見つかりません（探したフォルダ: %2）。"_s.arg(
            m_iniName, iniSearchFolders().join(u"、"_s));
        return kDatabaseMissing;
    }
    mox::Result<DbSettings> read = readDbSettings(path);
    if (const mox::Status* failure = mox::failure(read)) {
        m_lastError = failure->message;
        return short(failure->code);
    }
    DbSettings& settings = mox::value(read);
    settings.statementLimit = m_statementLimit;
    const QString key = poolKey(settings);
    if (!m_private) {
        std::lock_guard lock(g_poolMutex);
        const auto it = pool().find(key);
        if (it != pool().end()) {
            m_conn = it->second.lock();
            if (!m_conn)
                pool().erase(it);
        }
    }
    if (!m_conn) {
        mox::Result<std::shared_ptr<Connection>> opened =
            Connection::open(settings, m_createIfMissing);
        if (const mox::Status* failure = mox::failure(opened)) {
            m_lastError = failure->message;
            return short(failure->code);
        }
        m_conn = std::move(mox::value(opened));
        if (!m_private) {
            std::lock_guard lock(g_poolMutex);
            pool()[key] = m_conn;
        }
    }
    m_conn->addUser();
    noticeOpened(m_iniName, databaseLocation(m_conn));
    return 0;
}

QString sqliteDatabaseFile(const DatabaseHandle& db)
{
    return db ? db->engine().databaseFile() : QString();
}

QString databaseLocation(const DatabaseHandle& db)
{
    return db ? db->engine().location() : QString();
}

short clsDbAccess::DAO_DBClose()
{
    if (!m_conn)
        return 0;
    // Closing does not commit: a transaction still open is undone, once no other database
    // object of the process shares the connection.
    if (m_conn->removeUser() == 0 && m_conn->inTransaction())
        (void)m_conn->rollback();
    m_conn.reset();
    return 0;
}

} // namespace KorDAO
