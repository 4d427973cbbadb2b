#include "moxdb/loading.h"

#include "moxdb/command.h"
#include "moxdb/init.h"
#include "moxdb/tables.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

const QString kMarkTable = u"MOXDB_LOAD"_s;

// The tables a load replaces, per database.
QStringList replacedTables(bool payroll)
{
    if (!payroll)
        return {nameLayout().table()};
    return {kanriLayout().table(), jinjiLayout().table(), kyuyoLayout().table(),
            koyouLayout().table()};
}

// The tables of \p tables holding records, with their counts ("GKJINJI 61 件"), when \p db bears
// no mark of a load; empty when it may be replaced.
mox::Result<QStringList> unmarkedData(Database& db, const QStringList& tables)
{
    const int marks = db.count(kMarkTable);
    if (marks < 0)
        return mox::Status::failure(marks, u"%1 を読めません。"_s.arg(kMarkTable));
    if (marks > 0)
        return QStringList();
    QStringList held;
    for (const QString& table : tables) {
        const int n = db.count(table);
        if (n < 0)
            return mox::Status::failure(n, u"%1 を読めません。"_s.arg(table));
        if (n > 0)
            held << u"%1 %2 件"_s.arg(table).arg(n);
    }
    return held;
}

} // namespace

KorDAO::TableDef loadMarkTable()
{
    return {kMarkTable,
            {{u"KIND"_s, KorDAO::FieldType::Text}, {u"LOADED"_s, KorDAO::FieldType::Text}},
            {},
            {}};
}

const RowLayout& loadMarkLayout()
{
    static const RowLayout layout(kMarkTable,
                                  {{u"KIND"_s, ColumnKind::Text}, {u"LOADED"_s, ColumnKind::Text}});
    return layout;
}

std::vector<Row> loadMark(const QString& kind)
{
    Row mark(loadMarkLayout());
    mark.set(u"KIND"_s, kind);
    mark.set(u"LOADED"_s, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    return {mark};
}

mox::Result<LoadTargets> openLoadTargets(const QString& dir, QTextStream& out)
{
    if (!dir.isEmpty()) {
        useIniFolder(dir);
        auto files = ensureIniFiles({dir}, dir);
        if (const mox::Status* s = mox::failure(files))
            return *s;
        if (mox::value(files).written) {
            out << "wrote " << mox::value(files).payroll << " and " << mox::value(files).environment
                << '\n';
            if (mox::Status s = initDatabases(initSteps(), out); !s.ok())
                return s;
        }
    }
    LoadTargets t;
    for (const auto& [ini, target] :
         {std::pair{kPayrollIni, &t.payroll}, std::pair{kEnvironmentIni, &t.environment}}) {
        auto db = Database::open(ini, /*create=*/false);
        if (const mox::Status* s = mox::failure(db))
            return mox::Status::failure(s->code, s->message + u"（先に moxdb init を実行して"
                                                              u"ください）"_s);
        if (mox::Status s = KorDAO::createTable(mox::value(db)->handle(), loadMarkTable()); !s.ok())
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(ini, s.message));
        *target = std::move(mox::value(db));
    }
    return t;
}

mox::Status checkReplaceable(LoadTargets& targets, bool replace)
{
    if (replace)
        return mox::Status::success();
    for (const auto& [ini, db] : {std::pair{kPayrollIni, targets.payroll.get()},
                                  std::pair{kEnvironmentIni, targets.environment.get()}}) {
        const auto held = unmarkedData(*db, replacedTables(ini == kPayrollIni));
        if (const mox::Status* s = mox::failure(held))
            return mox::Status::failure(s->code,
                                        u"%1（%2）: %3"_s.arg(ini, db->location(), s->message));
        if (mox::value(held).isEmpty())
            continue;
        return mox::Status::failure(
            -1,
            u"%1 のデータベース（%2）には moxdb demo や synth が作ったものではないデータがあります"
            u"（%3）。置き換えてよいときだけ --replace を付けて実行してください。"_s.arg(
                ini, db->location(), mox::value(held).join(u"、"_s)));
    }
    return mox::Status::success();
}

void printTargets(const LoadTargets& targets, QTextStream& out)
{
    out << u"書き込み先: 給与データベース（%1）%2\n"_s.arg(kPayrollIni,
                                                           targets.payroll->location());
    out << u"書き込み先: 環境データベース（%1）%2\n"_s.arg(kEnvironmentIni,
                                                           targets.environment->location());
}

} // namespace moxdb
