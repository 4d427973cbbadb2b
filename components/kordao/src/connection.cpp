#include "connection.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <mutex>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Every open connection, so that the program can roll back what is open before it ends at once.
std::mutex g_registryMutex;
std::vector<Connection *> &registry() {
    static std::vector<Connection *> connections;
    return connections;
}

// Bounds the prepared statements a connection keeps (one per distinct SQL text).
constexpr std::size_t kMaxStatements = 256;

ColumnKind kindOfDeclaredType(const QString &declared) {
    const QString t = declared.toUpper();
    if (t.contains(u"INT"_s))
        return ColumnKind::Integer;
    if (t.contains(u"NUM"_s) || t.contains(u"DEC"_s) || t.contains(u"REAL"_s) ||
        t.contains(u"FLOA"_s) || t.contains(u"DOUB"_s))
        return ColumnKind::Number;
    return ColumnKind::Text;
}

// The largest whole yen a Currency holds.
constexpr qlonglong kMaxYen = std::numeric_limits<qint64>::max() / Currency::kScale;

QString nextConnectionName() {
    static std::atomic<int> counter{0};
    return u"kordao-%1"_s.arg(++counter);
}

} // namespace

int TableInfo::find(QStringView field) const {
    const auto it = byFoldedName.constFind(field.toString().toCaseFolded());
    return it == byFoldedName.constEnd() ? -1 : it.value();
}

QString Connection::quote(const QString &identifier) {
    QString q = identifier;
    q.replace(u'"', u"\"\""_s);
    return u'"' + q + u'"';
}

QString Connection::errorText(const QSqlError &e) {
    QString text = e.databaseText().trimmed();
    const QString driver = e.driverText().trimmed();
    if (text.isEmpty())
        return driver;
    if (!driver.isEmpty() && !text.contains(driver))
        text = driver + u": "_s + text;
    return text;
}

Connection::Connection(Engine engine, QSqlDatabase db, QString name)
    : m_engine(engine), m_db(std::move(db)), m_name(std::move(name)) {
    std::lock_guard lock(g_registryMutex);
    registry().push_back(this);
}

Connection::~Connection() {
    {
        std::lock_guard lock(g_registryMutex);
        auto &r = registry();
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
    if (m_inTransaction) {
        QString ignored;
        rollback(&ignored);
    }
    m_statements.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

std::shared_ptr<Connection> Connection::open(const DbSettings &s, bool createIfMissing,
                                             short *status, QString *error) {
    const QString name = nextConnectionName();
    const bool sqlite = s.engine == Engine::Sqlite;
    if (sqlite && !QFileInfo::exists(s.database)) {
        if (!createIfMissing) {
            *status = -20;
            *error = u"データベースファイル %1 が存在しません。"_s.arg(s.database);
            return nullptr;
        }
        QDir().mkpath(QFileInfo(s.database).absolutePath());
    }
    if (sqlite && QFileInfo(s.database).isDir()) {
        *status = -18;
        *error = u"%1 はフォルダです。データベースファイルではありません。"_s.arg(s.database);
        return nullptr;
    }

    std::shared_ptr<Connection> conn;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? u"QSQLITE"_s : u"QPSQL"_s, name);
        if (!db.isValid()) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            *status = -1;
            *error = u"データベースドライバ %1 を読み込めません。"_s.arg(sqlite ? u"QSQLITE"_s
                                                                                : u"QPSQL"_s);
            return nullptr;
        }
        db.setDatabaseName(s.database);
        if (sqlite) {
            db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=10000"_s);
        } else {
            if (!s.host.isEmpty())
                db.setHostName(s.host);
            if (s.port > 0)
                db.setPort(s.port);
            if (!s.user.isEmpty())
                db.setUserName(s.user);
            if (s.hasPassword)
                db.setPassword(s.password);
            db.setConnectOptions(u"connect_timeout=10"_s);
        }
        db.setNumericalPrecisionPolicy(QSql::HighPrecision);
        conn.reset(new Connection(s.engine, db, name));
    }

    if (!conn->m_db.open()) {
        const QString text = errorText(conn->m_db.lastError());
        const bool missing =
            !sqlite && text.contains(u"does not exist"_s) && text.contains(u"database"_s);
        if (missing && createIfMissing) {
            DbSettings admin = s;
            admin.database = u"postgres"_s;
            auto server = open(admin, false, status, error);
            if (!server)
                return nullptr;
            QSqlQuery create(server->m_db);
            if (!create.exec(u"CREATE DATABASE "_s + quote(s.database))) {
                *status = -1;
                *error = errorText(create.lastError());
                return nullptr;
            }
            create.finish();
            server.reset();
            return open(s, false, status, error);
        }
        *status = missing ? short(-20) : short(-1);
        *error = u"データベース %1 を開けません: %2"_s.arg(s.database, text);
        return nullptr;
    }

    // A file that is not a database opens without complaint; the first read tells.
    QSqlQuery probe(conn->m_db);
    const QString probeSql = sqlite ? u"SELECT count(*) FROM sqlite_master"_s : u"SELECT 1"_s;
    if (!probe.exec(probeSql)) {
        *status = -1;
        *error = u"%1 はデータベースとして読めません: %2"_s.arg(s.database,
                                                                errorText(probe.lastError()));
        return nullptr;
    }
    probe.finish();
    if (!sqlite)
        probe.exec(u"SET client_min_messages TO WARNING"_s); // no notices on the console
    *status = 0;
    return conn;
}

std::shared_ptr<const TableInfo> Connection::table(const QString &name, QString *error) {
    if (auto it = m_catalogue.find(name); it != m_catalogue.end())
        return it->second;
    std::shared_ptr<const TableInfo> info = loadTable(name, error);
    if (info)
        m_catalogue.emplace(name, info);
    return info;
}

std::shared_ptr<TableInfo> Connection::loadTable(const QString &name, QString *error) {
    // name, declared type, NOT NULL, position in the primary key (0 = not part of it)
    const QString sql =
        m_engine == Engine::Sqlite
            ? u"SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)"_s
            : u"SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull, "
              "COALESCE((SELECT k.n FROM pg_index i, unnest(i.indkey) WITH ORDINALITY AS k(att, n) "
              "WHERE i.indrelid = a.attrelid AND i.indisprimary AND k.att = a.attnum), 0) "
              "FROM pg_attribute a WHERE a.attrelid = to_regclass(quote_ident(?)) "
              "AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"_s;
    QSqlQuery *q = prepared(sql, error);
    if (!q)
        return nullptr;
    q->bindValue(0, name);
    if (!q->exec()) {
        *error = errorText(q->lastError());
        q->finish();
        return nullptr;
    }
    auto info = std::make_shared<TableInfo>();
    info->name = name;
    std::vector<std::pair<int, int>> keyParts; // position in key, column index
    while (q->next()) {
        ColumnInfo c;
        c.name = q->value(0).toString();
        c.kind = kindOfDeclaredType(q->value(1).toString());
        c.notNull = q->value(2).toBool();
        const int pk = q->value(3).toInt();
        const int index = int(info->columns.size());
        if (pk > 0)
            keyParts.emplace_back(pk, index);
        info->byFoldedName.insert(c.name.toCaseFolded(), index);
        info->columns.push_back(std::move(c));
    }
    q->finish();
    if (info->columns.empty()) {
        *error = u"テーブル %1 が存在しません。"_s.arg(name);
        return nullptr;
    }
    std::sort(keyParts.begin(), keyParts.end());
    for (const auto &part : keyParts)
        info->primaryKey.push_back(part.second);
    if (info->primaryKey.empty()) {
        ColumnInfo address;
        address.name = m_engine == Engine::Sqlite ? u"rowid"_s : u"ctid"_s;
        address.kind = m_engine == Engine::Sqlite ? ColumnKind::Integer : ColumnKind::Text;
        address.notNull = true;
        info->rowAddress = int(info->columns.size());
        info->columns.push_back(address);
    }
    return info;
}

QSqlQuery *Connection::prepared(const QString &sql, QString *error) {
    if (auto it = m_statements.find(sql); it != m_statements.end())
        return it->second.get();
    if (m_statements.size() >= kMaxStatements)
        m_statements.clear();
    auto q = std::make_unique<QSqlQuery>(m_db);
    q->setForwardOnly(true);
    if (!q->prepare(sql)) {
        *error = errorText(q->lastError());
        return nullptr;
    }
    return m_statements.emplace(sql, std::move(q)).first->second.get();
}

bool Connection::execute(const QString &sql, const QVariantList &binds, QString *error,
                         int *rowsAffected) {
    QSqlQuery *q = prepared(sql, error);
    if (!q)
        return false;
    for (int i = 0; i < binds.size(); ++i)
        q->bindValue(i, binds[i]);
    const bool ok = q->exec();
    if (!ok)
        *error = errorText(q->lastError());
    else if (rowsAffected)
        *rowsAffected = q->numRowsAffected();
    q->finish();
    return ok;
}

bool Connection::begin(QString *error) {
    if (m_inTransaction) {
        *error = u"トランザクションは既に開始されています。"_s;
        return false;
    }
    if (!m_db.transaction()) {
        *error = errorText(m_db.lastError());
        return false;
    }
    m_inTransaction = true;
    return true;
}

bool Connection::commit(QString *error) {
    if (!m_inTransaction) {
        *error = u"トランザクションが開始されていません。"_s;
        return false;
    }
    if (!m_db.commit()) {
        *error = errorText(m_db.lastError());
        // A commit that failed leaves nothing half done: undo what is left.
        m_db.rollback();
        m_inTransaction = false;
        return false;
    }
    m_inTransaction = false;
    return true;
}

bool Connection::rollback(QString *error) {
    if (!m_inTransaction) {
        *error = u"トランザクションが開始されていません。"_s;
        return false;
    }
    m_inTransaction = false;
    if (!m_db.rollback()) {
        *error = errorText(m_db.lastError());
        return false;
    }
    return true;
}

bool storedValue(const ColumnInfo &c, const QVariant &v, QVariant *out, QString *error) {
    const bool isCurrency = v.metaType() == QMetaType::fromType<Currency>();
    const bool isText = v.metaType() == QMetaType::fromType<QString>();
    std::optional<Currency> amount;
    if (isCurrency)
        amount = v.value<Currency>();
    else if (isText && c.kind != ColumnKind::Text)
        amount = Currency::parse(v.toString());
    else if (!isText && std::llabs(v.toLongLong()) <= kMaxYen)
        amount = Currency::fromYen(v.toLongLong());

    switch (c.kind) {
    case ColumnKind::Text:
        *out = isText || !amount ? v.toString() : amount->toPlainString();
        return true;
    case ColumnKind::Integer:
        if (!amount || amount->raw() % Currency::kScale != 0) {
            *error = u"項目「%1」に整数でない値「%2」は書けません。"_s.arg(
                c.name, amount ? amount->toPlainString() : v.toString());
            return false;
        }
        *out = qlonglong(amount->raw() / Currency::kScale);
        return true;
    case ColumnKind::Number:
        if (!amount) {
            *error = u"項目「%1」に数値でない値「%2」は書けません。"_s.arg(c.name, v.toString());
            return false;
        }
        // Whole amounts are stored as integers, others as exact decimal text, which SQLite
        // turns into its nearest number and PostgreSQL into NUMERIC.
        *out = amount->raw() % Currency::kScale == 0
                   ? QVariant(qlonglong(amount->raw() / Currency::kScale))
                   : QVariant(amount->toPlainString());
        return true;
    }
    return false;
}

void rollbackAllOpenTransactions() {
    std::vector<Connection *> open;
    {
        std::lock_guard lock(g_registryMutex);
        open = registry();
    }
    for (Connection *c : open) {
        if (c->inTransaction()) {
            QString ignored;
            c->rollback(&ignored);
        }
    }
}

} // namespace KorDAO
