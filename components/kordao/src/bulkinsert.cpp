#include "kordao/bulkinsert.h"

#include "connection.h"

#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// PostgreSQL takes this many records per INSERT statement.
constexpr int kPostgresRowsPerStatement = 200;

} // namespace

struct BulkInsert::Impl {
    DatabaseHandle db;
    std::shared_ptr<const TableInfo> info;
    std::vector<int> columns;
    bool ownTransaction = false;
    bool done = false;
    QString insertHead; // INSERT INTO "T" ("A", "B") VALUES

    // SQLite: one statement of the engine itself, bound and stepped per record.
    sqlite3 *handle = nullptr;
    sqlite3_stmt *stmt = nullptr;

    // PostgreSQL: records collected into multi-record INSERT statements.
    QVariantList pending;
    int pendingRows = 0;

    ~Impl() {
        if (stmt)
            sqlite3_finalize(stmt);
    }

    QString valuesSql(int rows) const {
        QString one = u"("_s;
        for (std::size_t i = 0; i < columns.size(); ++i)
            one += i == 0 ? u"?"_s : u", ?"_s;
        one += u')';
        QString sql = insertHead;
        for (int r = 0; r < rows; ++r)
            sql += (r == 0 ? u" "_s : u", "_s) + one;
        return sql;
    }

    bool flushPostgres(QString *error) {
        if (pendingRows == 0)
            return true;
        const bool ok = db->execute(valuesSql(pendingRows), pending, error);
        pending.clear();
        pendingRows = 0;
        return ok;
    }

    bool stepSqlite(const QVariantList &values, QString *error) {
        for (int i = 0; i < values.size(); ++i) {
            const QVariant &v = values[i];
            int rc = SQLITE_OK;
            if (v.metaType().id() == QMetaType::LongLong) {
                rc = sqlite3_bind_int64(stmt, i + 1, v.toLongLong());
            } else if (info->columns[std::size_t(columns[std::size_t(i)])].kind ==
                       ColumnKind::Number) {
                // The nearest double of a four-decimal amount is the raw value divided by 10^4
                // (both exact, the division rounded once): the same number SQLite makes of the
                // decimal text.
                const std::optional<Currency> c = Currency::parse(v.toString());
                rc = sqlite3_bind_double(stmt, i + 1, double(c->raw()) / double(Currency::kScale));
            } else {
                const QByteArray text = v.toString().toUtf8();
                rc = sqlite3_bind_text(stmt, i + 1, text.constData(), int(text.size()),
                                       SQLITE_TRANSIENT);
            }
            if (rc != SQLITE_OK) {
                *error = QString::fromUtf8(sqlite3_errmsg(handle));
                return false;
            }
        }
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (rc != SQLITE_DONE) {
            *error = QString::fromUtf8(sqlite3_errmsg(handle));
            return false;
        }
        return true;
    }
};

BulkInsert::BulkInsert(DatabaseHandle db, const QString &table, const QStringList &fields)
    : d(std::make_unique<Impl>()) {
    d->db = std::move(db);
    if (!d->db) {
        m_status = -2;
        m_lastError = u"データベースが開かれていません。"_s;
        return;
    }
    d->info = d->db->table(table, &m_lastError);
    if (!d->info) {
        m_status = -2;
        return;
    }
    QString names;
    for (const QString &f : fields) {
        const int column = d->info->find(f);
        if (column < 0 || column == d->info->rowAddress) {
            m_status = -66;
            m_lastError = u"テーブル %1 に項目「%2」はありません。"_s.arg(table, f);
            return;
        }
        d->columns.push_back(column);
        names += (names.isEmpty() ? QString() : u", "_s) +
                 Connection::quote(d->info->columns[std::size_t(column)].name);
    }
    d->insertHead =
        u"INSERT INTO "_s + Connection::quote(d->info->name) + u" ("_s + names + u") VALUES"_s;
    if (!d->db->inTransaction()) {
        if (!d->db->begin(&m_lastError)) {
            m_status = -15;
            return;
        }
        d->ownTransaction = true;
    }
    if (d->db->engine() == Engine::Sqlite) {
        const QVariant h = d->db->db().driver()->handle();
        d->handle = h.isValid() ? *static_cast<sqlite3 *const *>(h.constData()) : nullptr;
        const QByteArray sql = d->valuesSql(1).toUtf8();
        if (!d->handle || sqlite3_prepare_v2(d->handle, sql.constData(), int(sql.size()), &d->stmt,
                                             nullptr) != SQLITE_OK) {
            m_status = -12;
            m_lastError = d->handle ? QString::fromUtf8(sqlite3_errmsg(d->handle))
                                    : u"SQLite の接続を取得できません。"_s;
        }
    }
}

BulkInsert::~BulkInsert() {
    if (d->ownTransaction && !d->done && d->db->inTransaction()) {
        QString ignored;
        d->db->rollback(&ignored);
    }
}

short BulkInsert::addRow(const QVariantList &values) {
    if (m_status != 0)
        return m_status;
    if (d->done) {
        m_lastError = u"BulkInsert は終了しています。"_s;
        return -12;
    }
    auto fail = [this](const QString &error) {
        m_status = -12;
        m_lastError = u"テーブル %1 の %2 件目: %3"_s.arg(d->info->name).arg(m_rows + 1).arg(error);
        if (d->ownTransaction) {
            QString ignored;
            d->db->rollback(&ignored);
        }
        return m_status;
    };
    if (values.size() != qsizetype(d->columns.size()))
        return fail(
            u"値が %1 個あります (項目は %2 個)。"_s.arg(values.size()).arg(d->columns.size()));
    QVariantList bound;
    bound.reserve(values.size());
    for (int i = 0; i < values.size(); ++i) {
        QVariant v;
        QString error;
        if (!storedValue(d->info->columns[std::size_t(d->columns[std::size_t(i)])], values[i], &v,
                         &error))
            return fail(error);
        bound.push_back(std::move(v));
    }
    QString error;
    if (d->stmt) {
        if (!d->stepSqlite(bound, &error))
            return fail(error);
    } else {
        d->pending += bound;
        if (++d->pendingRows == kPostgresRowsPerStatement && !d->flushPostgres(&error))
            return fail(error);
    }
    ++m_rows;
    return 0;
}

short BulkInsert::finish() {
    if (m_status != 0)
        return m_status;
    if (d->done)
        return 0;
    QString error;
    if (!d->stmt && !d->flushPostgres(&error)) {
        m_status = -12;
        m_lastError = u"テーブル %1: %2"_s.arg(d->info->name, error);
        if (d->ownTransaction) {
            QString ignored;
            d->db->rollback(&ignored);
        }
        return m_status;
    }
    d->done = true;
    if (d->stmt) {
        sqlite3_finalize(d->stmt);
        d->stmt = nullptr;
    }
    if (d->ownTransaction && !d->db->commit(&error)) {
        m_status = -16;
        m_lastError = error;
        return m_status;
    }
    return 0;
}

} // namespace KorDAO
