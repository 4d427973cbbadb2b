#include "kordao/schema.h"

// The version of each database's tables: read, checked, recorded by the schema's creation, and
// brought up to date by upgradeSchema. The version itself is stored by the engine
// (schemaversion_sqlite.cpp, schemaversion_postgres.cpp); a database made before versions were
// recorded is recognised by its tables.

#include "connection.h"
#include "schemaversion.h"

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

const QString kNameTable = u"名設定"_s;

QString title(const DatabaseHandle& db, DatabaseKind kind)
{
    return (kind == DatabaseKind::Payroll ? u"給与データベース（%1）"_s
                                          : u"環境データベース（%1）"_s)
        .arg(databaseLocation(db));
}

QString designName(SchemaDesign design)
{
    switch (design) {
    case SchemaDesign::Empty:
        return u"テーブルなし"_s;
    case SchemaDesign::BeforeAudit:
        return u"監査記録のない形式"_s;
    case SchemaDesign::ClientAudit:
        return u"監査記録をプログラムが書く形式"_s;
    case SchemaDesign::Current:
        return u"バージョン %1 の形式"_s.arg(kSchemaVersion);
    }
    return {};
}

// Which of \p names (at most three) are tables of \p db.
mox::Result<QStringList> tablesAmong(const DatabaseHandle& db, QStringList names)
{
    while (names.size() < 3)
        names << names.front();
    std::vector<Connection::Row> rows;
    if (mox::Status s =
            db->select(db->engine().tablesQuery(), {names[0], names[1], names[2]}, &rows);
        !s.ok())
        return s;
    QStringList found;
    for (const Connection::Row& r : rows)
        found << r.front().toString();
    return found;
}

mox::Result<SchemaDesign> design(const DatabaseHandle& db, DatabaseKind kind)
{
    if (kind == DatabaseKind::Environment) {
        const mox::Result<QStringList> found = tablesAmong(db, {kNameTable});
        if (const mox::Status* s = mox::failure(found))
            return *s;
        return mox::value(found).isEmpty() ? SchemaDesign::Empty : SchemaDesign::Current;
    }
    const QString audit = QString::fromUtf16(kAuditTable);
    const mox::Result<QStringList> first =
        tablesAmong(db, {u"GKKANRI"_s, u"GKJINJI"_s, u"GKKYUYO"_s});
    const mox::Result<QStringList> second = tablesAmong(db, {u"GKKOYOU"_s, audit});
    if (const mox::Status* s = mox::failure(first))
        return *s;
    if (const mox::Status* s = mox::failure(second))
        return *s;
    const QStringList found = mox::value(first) + mox::value(second);
    if (found.isEmpty() || (found.size() == 1 && found.front() == audit))
        return SchemaDesign::Empty;
    if (!found.contains(audit))
        return SchemaDesign::BeforeAudit;
    // The address of the client came with the trail that the database's triggers write.
    std::vector<Connection::Row> rows;
    if (mox::Status s = db->select(db->engine().clientColumnQuery(), {audit}, &rows); !s.ok())
        return s;
    return rows.empty() ? SchemaDesign::ClientAudit : SchemaDesign::Current;
}

mox::Status tooNew(const DatabaseHandle& db, DatabaseKind kind, int version)
{
    return mox::Status::failure(
        kSchemaTooNew,
        u"%1はバージョン %2 の形式で、このリリースのプログラムが扱えるバージョン %3 より新しい"
        u"ため使えません。バージョン %2 に対応した新しいリリースのプログラムを使ってください。"_s
            .arg(title(db, kind))
            .arg(version)
            .arg(kSchemaVersion));
}

mox::Status tooOld(const DatabaseHandle& db, DatabaseKind kind, const SchemaState& state)
{
    const QString stored =
        state.version == 0 ? u"バージョンの記録がない古い形式（%1）"_s.arg(designName(state.design))
                           : u"バージョン %1 の形式"_s.arg(state.version);
    return mox::Status::failure(
        kSchemaTooOld,
        u"%1は%2で、このリリースのプログラムが使うバージョン %3 より古いため、このままでは"
        u"使えません。管理者が moxdb upgrade を実行して、バージョン %3 に更新してください"
        u"（更新の前にバックアップが作られ、データはそのまま残ります）。"_s
            .arg(title(db, kind), stored)
            .arg(kSchemaVersion));
}

// Whether a database in \p state may be worked on: its version is this release's, or it holds
// none of its tables yet.
mox::Status verdict(const DatabaseHandle& db, DatabaseKind kind, const SchemaState& state)
{
    if (state.version > kSchemaVersion)
        return tooNew(db, kind, state.version);
    if (state.version == kSchemaVersion ||
        (state.version == 0 && state.design == SchemaDesign::Empty))
        return mox::Status::success();
    return tooOld(db, kind, state);
}

// One step of the upgrade: from version \p from to the next, for a database whose tables show
// \p design (when it records no version). Lines for the administrator go to \p done.
struct Step {
    int from;
    mox::Status (*run)(const DatabaseHandle& db, DatabaseKind kind, SchemaDesign design,
                       QStringList* done);
};

mox::Result<qint64> countOf(const DatabaseHandle& db, const QString& table)
{
    std::vector<Connection::Row> rows;
    if (mox::Status s =
            db->select(u"SELECT COUNT(*) FROM "_s + Connection::quote(table), {}, &rows);
        !s.ok())
        return s;
    return rows.empty() ? 0 : rows.front().front().toLongLong();
}

// To version 1: the audit trail kept by the database's triggers, and the hardened counter
// functions on PostgreSQL; the records of every table stay as they are.
mox::Status toVersion1(const DatabaseHandle& db, DatabaseKind kind, SchemaDesign design,
                       QStringList* done)
{
    if (kind == DatabaseKind::Environment) {
        if (mox::Status s = buildEnvironmentSchema(db); !s.ok())
            return s;
        *done << u"バージョン 1: テーブルはそのまま、記録件数を数えるトリガーを確認しました"_s;
        return mox::Status::success();
    }
    const QString audit = QString::fromUtf16(kAuditTable);
    qint64 kept = 0;
    if (design == SchemaDesign::ClientAudit) {
        const mox::Result<qint64> rows = countOf(db, audit);
        if (const mox::Status* s = mox::failure(rows))
            return *s;
        kept = mox::value(rows);
    }
    if (mox::Status s = buildPayrollSchema(db); !s.ok())
        return s;
    switch (design) {
    case SchemaDesign::BeforeAudit:
        *done << u"バージョン 1: 監査テーブル %1 を作り、給与テーブルの追加・変更・削除を"
                 u"データベースのトリガーが記録するようにしました"_s.arg(audit);
        break;
    case SchemaDesign::ClientAudit:
        *done << u"バージョン 1: 監査テーブル %1 に接続元（CLIENT）の列を加え、給与テーブルの"
                 u"変更をプログラムではなくデータベースのトリガーが記録するようにしました"
                 u"（これまでの監査記録 %2 件はそのまま）"_s.arg(audit)
                     .arg(kept);
        break;
    default:
        *done << u"バージョン 1: テーブルはこのリリースの形式のまま、バージョンを記録しました"_s;
        break;
    }
    return mox::Status::success();
}

constexpr Step kSteps[] = {
    {0, &toVersion1},
};

} // namespace

mox::Result<SchemaState> schemaState(const DatabaseHandle& db, DatabaseKind kind)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    SchemaState state;
    const mox::Result<int> version = db->engine().readSchemaVersion();
    if (const mox::Status* s = mox::failure(version))
        return mox::Status::failure(
            s->code, u"%1のバージョンを読めません: %2"_s.arg(title(db, kind), s->message));
    state.version = mox::value(version);
    if (state.version != 0) {
        state.design = SchemaDesign::Current;
        return state;
    }
    const mox::Result<SchemaDesign> found = design(db, kind);
    if (const mox::Status* s = mox::failure(found))
        return mox::Status::failure(
            s->code, u"%1のテーブルを確認できません: %2"_s.arg(title(db, kind), s->message));
    state.design = mox::value(found);
    return state;
}

mox::Status checkSchemaVersion(const DatabaseHandle& db, DatabaseKind kind)
{
    const mox::Result<SchemaState> state = schemaState(db, kind);
    if (const mox::Status* s = mox::failure(state))
        return *s;
    return verdict(db, kind, mox::value(state));
}

mox::Status createPayrollSchema(const DatabaseHandle& db)
{
    return createVersioned(db, DatabaseKind::Payroll);
}

mox::Status createEnvironmentSchema(const DatabaseHandle& db)
{
    return createVersioned(db, DatabaseKind::Environment);
}

mox::Status createVersioned(const DatabaseHandle& db, DatabaseKind kind)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    Transaction tx(db);
    if (!tx.started())
        return mox::Status::failure(kBeginFailed, tx.status().message);
    const mox::Result<SchemaState> state = schemaState(db, kind);
    if (const mox::Status* s = mox::failure(state))
        return *s;
    const SchemaState& st = mox::value(state);
    if (mox::Status s = verdict(db, kind, st); !s.ok())
        return s;
    mox::Status s =
        kind == DatabaseKind::Payroll ? buildPayrollSchema(db) : buildEnvironmentSchema(db);
    if (s.ok() && st.version != kSchemaVersion) {
        if (mox::Status w = db->engine().writeSchemaVersion(kSchemaVersion); !w.ok())
            s = mox::Status::failure(kUpdateFailed, u"%1にバージョンを記録できません: %2"_s.arg(
                                                        title(db, kind), w.message));
    }
    if (!s.ok())
        return s; // undone by tx
    if (mox::Status c = tx.commit(); !c.ok())
        return mox::Status::failure(kCommitFailed, c.message);
    return mox::Status::success();
}

mox::Result<SchemaUpgrade> upgradeSchema(const DatabaseHandle& db, DatabaseKind kind)
{
    if (!db)
        return mox::Status::failure(kOpenFailed, u"データベースが開かれていません。"_s);
    if (db->inTransaction())
        return mox::Status::failure(kBeginFailed,
                                    u"トランザクションの途中ではデータベースを更新できません。"_s);
    Transaction tx(db);
    if (!tx.started())
        return mox::Status::failure(kBeginFailed, tx.status().message);
    const mox::Result<SchemaState> state = schemaState(db, kind);
    if (const mox::Status* s = mox::failure(state))
        return *s;
    const SchemaState& st = mox::value(state);
    SchemaUpgrade report{st.version, kSchemaVersion, st.design, {}};
    if (st.version > kSchemaVersion)
        return tooNew(db, kind, st.version);
    if (st.version == kSchemaVersion)
        return report; // nothing to do; tx undoes nothing
    if (st.version == 0 && st.design == SchemaDesign::Empty)
        return mox::Status::failure(
            kBeginFailed,
            u"%1には更新するテーブルがありません。新しく作るときは moxdb init を実行してください。"_s
                .arg(title(db, kind)));
    for (const Step& step : kSteps) {
        if (step.from < st.version)
            continue;
        if (mox::Status s = step.run(db, kind, st.design, &report.done); !s.ok())
            return mox::Status::failure(
                s.code, u"%1を更新できません（何も変更していません）: %2"_s.arg(title(db, kind),
                                                                                s.message));
    }
    if (mox::Status s = db->engine().writeSchemaVersion(kSchemaVersion); !s.ok())
        return mox::Status::failure(
            kUpdateFailed, u"%1にバージョンを記録できません（何も変更していません）: %2"_s.arg(
                               title(db, kind), s.message));
    db->forgetCatalogue();
    if (mox::Status c = tx.commit(); !c.ok())
        return mox::Status::failure(kCommitFailed,
                                    u"%1の更新を確定できません（何も変更していません）: %2"_s.arg(
                                        title(db, kind), c.message));
    return report;
}

} // namespace KorDAO
