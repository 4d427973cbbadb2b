// SQLite's own means of copying a database while it is in use: VACUUM INTO for a backup (one
// read transaction, so the copy is one moment of the database however many desks write), the
// online backup interface for a restore (the destination is replaced in one write transaction).
#include "kordao/backup.h"

#include "connection.h"

#include <QFile>
#include <QSqlDriver>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

QString sqliteTableListQuery()
{
    return u"SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
           "ESCAPE '\\' ORDER BY name"_s;
}

namespace {

// A SQLite file opened read-only by the engine's own interface, closed when it goes.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& file) : m_file(file)
    {
        const QByteArray path = QFile::encodeName(file);
        m_rc = sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READONLY, nullptr);
    }
    ~ReadOnlyFile() { sqlite3_close_v2(m_db); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    sqlite3* handle() const { return m_db; }
    bool opened() const { return m_rc == SQLITE_OK; }

    /// The rows of \p sql, each value as text (NULL as a null text).
    mox::Result<std::vector<QStringList>> rows(const QString& sql) const
    {
        sqlite3_stmt* stmt = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            return failure();
        std::vector<QStringList> out;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* v = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                row.append(v ? QString::fromUtf8(v) : QString());
            }
            out.push_back(row);
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            return failure();
        return out;
    }

    mox::Status failure() const
    {
        return mox::Status::failure(kOpenFailed,
                                    u"%1 は SQLite のデータベースとして読めません: %2"_s.arg(
                                        m_file, QString::fromUtf8(sqlite3_errmsg(m_db))));
    }

private:
    QString m_file;
    sqlite3* m_db = nullptr;
    int m_rc = SQLITE_ERROR;
};

sqlite3* handleOf(const DatabaseHandle& db)
{
    const QVariant h = db->db().driver()->handle();
    if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(h.constData());
    return nullptr;
}

} // namespace

mox::Result<TableCounts> checkSqliteFile(const QString& file)
{
    if (!QFile::exists(file))
        return mox::Status::failure(kDatabaseMissing,
                                    u"データベースファイル %1 が存在しません。"_s.arg(file));
    ReadOnlyFile f(file);
    if (!f.opened())
        return f.failure();
    const mox::Result<std::vector<QStringList>> check = f.rows(u"PRAGMA integrity_check"_s);
    if (const mox::Status* failure = mox::failure(check))
        return *failure;
    const std::vector<QStringList>& result = mox::value(check);
    if (result.size() != 1 || result.front().value(0) != u"ok"_s) {
        QStringList problems;
        for (const QStringList& r : result)
            problems.append(r.value(0));
        return mox::Status::failure(
            kOpenFailed,
            u"SQLite のデータベース %1 が壊れています (PRAGMA integrity_check: %2)。"_s.arg(
                file, problems.mid(0, 5).join(u"; "_s)));
    }
    const mox::Result<std::vector<QStringList>> names = f.rows(sqliteTableListQuery());
    if (const mox::Status* failure = mox::failure(names))
        return *failure;
    TableCounts counts;
    for (const QStringList& r : mox::value(names)) {
        const mox::Result<std::vector<QStringList>> n =
            f.rows(u"SELECT COUNT(*) FROM "_s + Connection::quote(r.front()));
        if (const mox::Status* failure = mox::failure(n))
            return *failure;
        counts.push_back({r.front(), mox::value(n).front().front().toLongLong()});
    }
    return counts;
}

mox::Result<TableCounts> copySqliteDatabase(const DatabaseHandle& db, const QString& file)
{
    if (!db || db->settings().engine != Engine::Sqlite)
        return mox::Status::failure(kBadArgument,
                                    u"SQLite のデータベースではないため、複製できません。"_s);
    if (QFile::exists(file))
        return mox::Status::failure(kBadArgument, u"%1 は既に存在します。"_s.arg(file));
    // VACUUM INTO runs in a read transaction of its own: it cannot join an open one.
    if (db->inTransaction())
        return mox::Status::failure(kBadArgument, u"トランザクションの途中では複製できません。"_s);
    if (mox::Status s = db->execute(u"VACUUM INTO ?"_s, {file}); !s.ok()) {
        QFile::remove(file);
        return mox::Status::failure(s.code, u"%1 を %2 に複製できません: %3"_s.arg(
                                                db->settings().database, file, s.message));
    }
    return checkSqliteFile(file);
}

mox::Status replaceSqliteDatabase(const DatabaseHandle& db, const QString& file)
{
    if (!db || db->settings().engine != Engine::Sqlite)
        return mox::Status::failure(kBadArgument,
                                    u"SQLite のデータベースではないため、置き換えられません。"_s);
    if (db->inTransaction())
        return mox::Status::failure(kBadArgument,
                                    u"トランザクションの途中では置き換えられません。"_s);
    sqlite3* target = handleOf(db);
    if (!target)
        return mox::Status::failure(kOpenFailed, u"SQLite の接続を取得できません。"_s);
    ReadOnlyFile source(file);
    if (!source.opened())
        return source.failure();
    db->engine().dropStatements();
    db->forgetCatalogue();
    sqlite3_backup* b = sqlite3_backup_init(target, "main", source.handle(), "main");
    if (!b) {
        return mox::Status::failure(kUpdateFailed, u"%1 を %2 に書き戻せません: %3"_s.arg(
                                                       file, db->settings().database,
                                                       QString::fromUtf8(sqlite3_errmsg(target))));
    }
    // All pages in one step: the destination is written in one write transaction, which waits
    // for other connections' locks as the busy timeout allows.
    const int step = sqlite3_backup_step(b, -1);
    const int finish = sqlite3_backup_finish(b);
    if (step != SQLITE_DONE || finish != SQLITE_OK) {
        const int code = step != SQLITE_DONE ? step : finish;
        const short status =
            code == SQLITE_BUSY || code == SQLITE_LOCKED ? kLockTimeout : kUpdateFailed;
        return mox::Status::failure(
            status, u"%1 を %2 に書き戻せません: %3"_s.arg(
                        file, db->settings().database, QString::fromUtf8(sqlite3_errstr(code))));
    }
    return {};
}

} // namespace KorDAO
