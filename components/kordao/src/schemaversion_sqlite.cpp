#include "sqliteengine.h"

#include "connection.h"

// The schema version of a SQLite database: the header's user_version, which a transaction
// changes and a rollback restores like any page of the file.

using namespace Qt::StringLiterals;

namespace KorDAO {

mox::Result<int> SqliteEngine::readSchemaVersion()
{
    std::vector<Row> rows;
    if (mox::Status s = m_conn.select(u"PRAGMA user_version"_s, {}, &rows); !s.ok())
        return s;
    return rows.empty() ? 0 : rows.front().front().toInt();
}

mox::Status SqliteEngine::writeSchemaVersion(int version)
{
    // A pragma takes no bound value; the version is a number of the program's own.
    return m_conn.execute(u"PRAGMA user_version = "_s + QString::number(version), {});
}

} // namespace KorDAO
