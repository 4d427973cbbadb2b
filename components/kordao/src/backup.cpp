// Record counts and the restore's audit row, the same on both engines; the engines' own means
// of copying are in backup_sqlite.cpp and backup_postgres.cpp.
#include "kordao/backup.h"

#include "connection.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace KorDAO {

// Defined in backup_sqlite.cpp and backup_postgres.cpp: the query that lists the tables of the
// database, one name a row.
QString sqliteTableListQuery();
QString postgresTableListQuery();

mox::Result<TableCounts> tableCounts(const DatabaseHandle& db)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    const QString list = db->settings().engine == Engine::Postgres ? postgresTableListQuery()
                                                                   : sqliteTableListQuery();
    std::vector<Row> names;
    if (mox::Status s = db->select(list, {}, &names); !s.ok())
        return s;
    TableCounts counts;
    for (const Row& r : names) {
        const QString table = r.front().toString();
        std::vector<Row> n;
        if (mox::Status s =
                db->select(u"SELECT COUNT(*) FROM "_s + Connection::quote(table), {}, &n);
            !s.ok())
            return mox::Status::failure(
                s.code, u"テーブル %1 の件数を数えられません: %2"_s.arg(table, s.message));
        counts.push_back({table, n.front().front().toLongLong()});
    }
    std::sort(counts.begin(), counts.end(),
              [](const TableCount& a, const TableCount& b) { return a.table < b.table; });
    return counts;
}

mox::Status writeAuditSummary(const DatabaseHandle& db, const QString& table, const QString& action,
                              const QString& changes)
{
    const mox::Result<const Connection::Facts*> facts = db->facts();
    if (const mox::Status* failure = mox::failure(facts))
        return *failure;
    if (!mox::value(facts)->audited)
        return {};
    if (mox::Status s = db->begin(); !s.ok())
        return s;
    AuditEntry e;
    e.table = table;
    e.action = action;
    e.changes = changes;
    if (mox::Status s = db->writeAudit(e); !s.ok()) {
        (void)db->rollback();
        return mox::Status::failure(s.code, u"監査記録 %1 に行を書けません: %2"_s.arg(
                                                QString::fromUtf16(kAuditTable), s.message));
    }
    return db->commit();
}

} // namespace KorDAO
