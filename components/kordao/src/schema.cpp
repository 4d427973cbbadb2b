#include "kordao/schema.h"

#include "audittrail.h"
#include "connection.h"
#include "schemaversion.h"

#include <QSqlError>

#include <functional>
#include <tuple>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

void add(TableDef* t, FieldType type, std::initializer_list<const char16_t*> names)
{
    for (const char16_t* n : names)
        t->fields.push_back({QString::fromUtf16(n), type});
}

// name_01 … name_<count>
void addNumbered(TableDef* t, FieldType type, const QString& stem, int count)
{
    for (int i = 1; i <= count; ++i)
        t->fields.push_back({stem + u"_%1"_s.arg(i, 2, 10, QChar(u'0')), type});
}

// name1 … name<count>
void addSeries(TableDef* t, FieldType type, const QString& stem, int count)
{
    for (int i = 1; i <= count; ++i)
        t->fields.push_back({stem + QString::number(i), type});
}

TableDef kanri()
{
    TableDef t{u"GKKANRI"_s, {}, {u"KEY"_s}, {}};
    add(&t, FieldType::Text, {u"KEY"});
    add(&t, FieldType::Integer, {u"SYORID"});
    add(&t, FieldType::Amount,
        {u"KM6KM", u"KM12KM", u"KM6KB", u"KM12KB", u"NKM12KM", u"CHIRIT", u"KENGEN", u"KOSGEN",
         u"KENTOK", u"KENTK2", u"KAITOK", u"KAITK2", u"KOSTOK", u"KOSTK2"});
    add(&t, FieldType::Text, {u"GKNAME", u"SYOZOKU"});
    return t;
}

TableDef jinji()
{
    TableDef t{u"GKJINJI"_s, {}, {u"SYOKCD"_s}, {}};
    add(&t, FieldType::Integer, {u"SYOKCD"});
    add(&t, FieldType::Text, {u"SIMKNJ", u"SYOZOK"});
    add(&t, FieldType::Integer,
        {u"KYUKBN", u"HYOKBN", u"KAIKBN", u"GENFUY", u"GENHAI", u"SYOSYU", u"KGOKYU", u"KGOGHO"});
    add(&t, FieldType::Amount, {u"KYURYO", u"NITANK", u"TYOSEI", u"KTYOSE", u"FUYO"});
    add(&t, FieldType::Integer, {u"ZKAYMD_01", u"ZKNYMD_01", u"ZKAYMD_02", u"ZKNYMD_02"});
    addNumbered(&t, FieldType::Integer, u"KAIYMD"_s, 8);
    addNumbered(&t, FieldType::Integer, u"KANYMD"_s, 8);
    return t;
}

TableDef kyuyo()
{
    // Key: employee, payment kind, payment year-month, sequence. The second index serves the
    // fiscal-year walk of one employee in the order year-month, kind, sequence.
    TableDef t{u"GKKYUYO"_s,
               {},
               {u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s},
               {{u"SYOKCD"_s, u"SKYUYM"_s, u"KYUSYU"_s, u"KYUSEQ"_s}}};
    add(&t, FieldType::Integer, {u"SYOKCD", u"KYUSYU", u"SKYUYM", u"KYUSEQ"});
    add(&t, FieldType::Text, {u"SYOZOK"});
    add(&t, FieldType::Integer,
        {u"ZAIMU", u"SYOSYU", u"KYUKBN", u"KGOKYU", u"KGOGHO", u"GENFUY", u"GENHAI"});
    // The bonus record.
    add(&t, FieldType::Amount,
        {u"KYURYO", u"KTYOGK", u"STYOGK", u"FUYOTE", u"KMCHIIKI", u"KBCHIIKI", u"KIMATU", u"KINBEN",
         u"SSIKYU", u"KAZEIG", u"KENKO",  u"KOSEI",  u"KOYOU",    u"SYOTOK",   u"KOUGOK", u"SYAGOK",
         u"HKZEGK", u"SASIHK", u"ZENKAZ", u"ZENZEI", u"KMRITU",   u"NMRITU",   u"KBRITU"});
    add(&t, FieldType::Integer, {u"FSINSU"});
    add(&t, FieldType::Amount, {u"ZEIRT2"});
    add(&t, FieldType::Integer, {u"KMMMDD"});
    add(&t, FieldType::Amount, {u"KMZRIT"});
    add(&t, FieldType::Integer, {u"KBMMDD"});
    add(&t, FieldType::Amount, {u"KBZRIT"});
    add(&t, FieldType::Integer, {u"TOKKBN", u"ROUKBN"});
    add(&t, FieldType::Text, {u"NIREM1", u"NIREM2", u"NIREM3"});
    // The further payments of monthly pay that the ledger sums; "kmzoge" is lower case.
    add(&t, FieldType::Amount,
        {u"CHIIKI", u"KTOKUB", u"TUKINH", u"TUKINK", u"JYUKYO", u"HEKICI", u"HEKJUN", u"TOKGYO",
         u"TANSIN", u"SYUKUH", u"KISYUH", u"SYUKUK", u"KISYUK", u"KYUJIT", u"ZANGYO", u"TAGAKU",
         u"JIDOU", u"kmzoge", u"NENFUS"});
    return t;
}

TableDef koyou()
{
    TableDef t{u"GKKOYOU"_s, {}, {}, {}};
    add(&t, FieldType::Amount, {u"KAISHI", u"KAKRIT"});
    addNumbered(&t, FieldType::Amount, u"TINGIN"_s, 60);
    addNumbered(&t, FieldType::Amount, u"HOKEN"_s, 60);
    return t;
}

QString columnDdl(const FieldDef& f, const DatabaseEngine& engine, bool inKey)
{
    const QString name = Connection::quote(f.name);
    switch (f.type) {
    case FieldType::Integer:
        return name + u" INTEGER NOT NULL DEFAULT 0"_s;
    case FieldType::Amount:
        return name + u' ' + engine.amountType() + u" NOT NULL DEFAULT 0"_s;
    case FieldType::Text:
        return name + (inKey ? u" TEXT NOT NULL"_s : u" TEXT"_s);
    }
    return name;
}

QString fieldList(const QStringList& fields)
{
    QString out;
    for (const QString& f : fields)
        out += (out.isEmpty() ? QString() : u", "_s) + Connection::quote(f);
    return out;
}

// Runs \p statements as they stand (DDL takes no values), up to the first failure (the
// driver's text; the caller names the status).
mox::Status runAll(const DatabaseHandle& db, const QStringList& statements)
{
    for (const QString& sql : statements) {
        QSqlQuery q(db->db());
        if (!q.exec(sql))
            return mox::Status::failure(kUpdateFailed, Connection::errorText(q.lastError()));
    }
    return mox::Status::success();
}

// True when the query \p sql with \p binds gives at least one row.
mox::Result<bool> exists(const DatabaseHandle& db, const QString& sql, const QVariantList& binds)
{
    std::vector<Connection::Row> rows;
    if (mox::Status s = db->select(sql, binds, &rows); !s.ok())
        return s;
    return !rows.empty();
}

// Runs \p work inside a transaction of its own unless one is open; a failure undoes it.
mox::Status inTransaction(const DatabaseHandle& db, const std::function<mox::Status()>& work)
{
    Transaction tx(db);
    if (!tx.started())
        return mox::Status::failure(kBeginFailed, tx.status().message);
    if (mox::Status s = work(); !s.ok())
        return s;
    db->forgetCatalogue();
    if (mox::Status s = tx.commit(); !s.ok())
        return mox::Status::failure(kCommitFailed, s.message);
    return mox::Status::success();
}

} // namespace

std::vector<TableDef> payrollTables()
{
    return {kanri(), jinji(), kyuyo(), koyou()};
}

TableDef nameTable()
{
    TableDef t{u"名設定"_s, {}, {}, {}};
    addSeries(&t, FieldType::Text, u"SYOKU"_s, 10);
    addSeries(&t, FieldType::Text, u"ZAIMU"_s, 9);
    addSeries(&t, FieldType::Text, u"HATSU"_s, 8);
    addSeries(&t, FieldType::Text, u"NENKB"_s, 3);
    addSeries(&t, FieldType::Text, u"NENKJ"_s, 3);
    addSeries(&t, FieldType::Integer, u"NENST"_s, 3);
    add(&t, FieldType::Text, {u"KIGOU"});
    add(&t, FieldType::Amount, {u"KENKO", u"KOSEI"});
    return t;
}

namespace {

// createTable, with \p audited: the audit triggers too, attached before the table is listed in
// the record counter (a table listed must always have its triggers).
mox::Status createTableWith(const DatabaseHandle& db, const TableDef& table, bool audited)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    DatabaseEngine& engine = db->engine();
    QStringList statements;
    QString columns;
    for (const FieldDef& f : table.fields) {
        columns += (columns.isEmpty() ? QString() : u", "_s) +
                   columnDdl(f, engine, table.primaryKey.contains(f.name));
    }
    if (!table.primaryKey.isEmpty())
        columns += u", PRIMARY KEY ("_s + fieldList(table.primaryKey) + u')';
    const QString name = Connection::quote(table.name);
    const QString options = table.primaryKey.isEmpty() ? QString() : engine.keyedTableOptions();
    statements << u"CREATE TABLE IF NOT EXISTS "_s + name + u" ("_s + columns + u")"_s + options;
    for (std::size_t i = 0; i < table.indexes.size(); ++i) {
        const QString index = Connection::quote(table.name + u"_IX%1"_s.arg(i + 1));
        statements << u"CREATE INDEX IF NOT EXISTS "_s + index + u" ON "_s + name + u" ("_s +
                          fieldList(table.indexes[i]) + u')';
    }

    const QString counter = Connection::quote(QString::fromUtf16(kRowCountTable));
    statements << engine.counterTableDdl();
    QStringList triggers = engine.counterTriggerDdl(table.name);
    if (audited)
        triggers << engine.auditTriggerDdl(table);

    return inTransaction(db, [&]() -> mox::Status {
        const auto failed = [&](const mox::Status& s) {
            return mox::Status::failure(
                kBadCondition, u"テーブル %1 を作成できません: %2"_s.arg(table.name, s.message));
        };
        mox::Status s = runAll(db, statements);
        if (s.ok())
            s = engine.ensureTriggerFunctions(audited);
        if (s.ok())
            s = runAll(db, triggers);
        if (!s.ok())
            return failed(s);
        // The counter starts from the records already there (none for a new table). Only its
        // owner may add to it: a table already counted is left alone.
        const mox::Result<bool> counted =
            exists(db, u"SELECT 1 FROM "_s + counter + u" WHERE \"NAME\" = ?"_s, {table.name});
        if (const mox::Status* failure = mox::failure(counted))
            return failed(*failure);
        if (mox::value(counted))
            return mox::Status::success();
        if (mox::Status c = db->execute(u"INSERT INTO "_s + counter +
                                            u" (\"NAME\", \"N\") SELECT ?, COUNT(*) FROM "_s + name,
                                        {table.name});
            !c.ok())
            return failed(c);
        return mox::Status::success();
    });
}

} // namespace

mox::Status createTable(const DatabaseHandle& db, const TableDef& table)
{
    return createTableWith(db, table, /*audited=*/false);
}

mox::Status createAuditTable(const DatabaseHandle& db)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    const DatabaseEngine& engine = db->engine();
    const QString name = QString::fromUtf16(kAuditTable);
    const QString table = Connection::quote(name);
    const QString index = name + u"_IX1"_s;
    const QString id = engine.auditIdColumn();
    return inTransaction(db, [&]() -> mox::Status {
        const auto failed = [&](const mox::Status& s) {
            return mox::Status::failure(kBadCondition,
                                        u"監査テーブルを作成できません: %1"_s.arg(s.message));
        };
        // What exists is left as it is: on a PostgreSQL server only the trail's owner may
        // change it, and an administrator's login runs this again.
        if (mox::Status s = runAll(
                db, {u"CREATE TABLE IF NOT EXISTS "_s + table + u" ("_s + id +
                     u", \"AT\" TEXT NOT NULL, \"DBUSER\" TEXT, \"OSUSER\" TEXT, \"HOST\" TEXT, "
                     "\"PROGRAM\" TEXT, \"TABLENAME\" TEXT NOT NULL, "
                     "\"SYOKCD\" INTEGER NOT NULL DEFAULT 0, \"RECKEY\" TEXT, "
                     "\"ACTION\" TEXT NOT NULL, \"CHANGES\" TEXT, \"CLIENT\" TEXT)"_s});
            !s.ok())
            return failed(s);
        const mox::Result<bool> indexed = exists(db, engine.indexExistsQuery(), {index});
        if (const mox::Status* failure = mox::failure(indexed))
            return failed(*failure);
        const mox::Result<bool> client = exists(db, engine.clientColumnQuery(), {name});
        if (const mox::Status* failure = mox::failure(client))
            return failed(*failure);
        const bool hasIndex = mox::value(indexed);
        const bool hasClient = mox::value(client);
        QStringList ddl;
        // A trail made before the client's address was kept.
        if (!hasClient)
            ddl << u"ALTER TABLE "_s + table + u" ADD COLUMN \"CLIENT\" TEXT"_s;
        if (!hasIndex)
            ddl << u"CREATE INDEX "_s + Connection::quote(index) + u" ON "_s + table +
                       u" (\"SYOKCD\", \"ID\")"_s;
        ddl << engine.auditTrailExtraDdl();
        if (mox::Status s = runAll(db, ddl); !s.ok())
            return failed(s);
        return mox::Status::success();
    });
}

mox::Status buildPayrollSchema(const DatabaseHandle& db)
{
    if (mox::Status s = createAuditTable(db); !s.ok())
        return s;
    for (const TableDef& t : payrollTables()) {
        if (mox::Status s = createTableWith(db, t, /*audited=*/true); !s.ok())
            return s;
    }
    return mox::Status::success();
}

mox::Status buildEnvironmentSchema(const DatabaseHandle& db)
{
    return createTable(db, nameTable());
}

} // namespace KorDAO
