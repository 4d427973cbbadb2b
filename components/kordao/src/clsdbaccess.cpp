#include "kordao/kordao.h"

#include "connection.h"
#include "inifile.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

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
    DAO_DBClose();
    m_lastError.clear();
    if (m_iniName.isEmpty()) {
        m_lastError = u"設定ファイル名 (DBIniNameString) が指定されていません。"_s;
        return -18;
    }
    const QString path = findIniFile(m_iniName);
    if (path.isEmpty()) {
        m_lastError = u"設定ファイル %1 が見つかりません ($MOX_INI_DIR、現在のフォルダ、"
                      "~/.config/mox、/etc/mox)。"_s.arg(m_iniName);
        return -20;
    }
    short status = 0;
    std::optional<DbSettings> settings = readDbSettings(path, &status, &m_lastError);
    if (!settings)
        return status;
    settings->statementLimit = m_statementLimit;
    m_conn = Connection::open(*settings, m_createIfMissing, &status, &m_lastError);
    return status;
}

short clsDbAccess::DAO_DBClose()
{
    if (!m_conn)
        return 0;
    // Closing does not commit: a transaction still open is undone.
    if (m_conn->inTransaction()) {
        QString ignored;
        m_conn->rollback(&ignored);
    }
    m_conn.reset();
    return 0;
}

} // namespace KorDAO
