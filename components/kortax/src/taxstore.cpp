#include "kortax/kortax.h"

#include "editioncheck.h"
#include "taxschema.h"

#include <algorithm>
#include <map>

using namespace Qt::StringLiterals;

namespace KorTAX {

namespace {

int dateKey(QDate d)
{
    return d.year() * 10'000 + d.month() * 100 + d.day();
}

QDate dateFromKey(int key)
{
    return QDate(key / 10'000, key / 100 % 100, key % 100);
}

QString zeiColumn(int d)
{
    return u"ZEI%1"_s.arg(d);
}

// A table object on \p db for \p table with its record set open; the status on failure.
short openTable(KorDAO::clsTbAccess& tb, const KorDAO::DatabaseHandle& db, const QString& table,
                const QString& filter, const QString& sort)
{
    tb.setTBDatabase(db);
    tb.setTBWorkspace(db);
    tb.setTBNameString(table);
    const int n = tb.DAO_TableOpen(filter, sort);
    return n < 0 ? static_cast<short>(n) : short{0};
}

mox::Status dbFailure(short status, const KorDAO::clsTbAccess& tb, const QString& doing)
{
    return mox::Status::failure(
        status, u"税額表 %1 の%2に失敗しました（%3）: %4"_s.arg(tb.TBNameString(), doing)
                    .arg(status)
                    .arg(tb.lastError()));
}

// Removes the records of one edition from one table.
mox::Status deleteEdition(const KorDAO::DatabaseHandle& db, const QString& table, int key)
{
    KorDAO::clsTbAccess tb;
    if (short st = openTable(tb, db, table, u"TEKIYO = %1"_s.arg(key), QString()); st != 0)
        return dbFailure(st, tb, u"読み込み"_s);
    for (short st = tb.DAO_RecRead(1); st == 0; st = tb.DAO_RecRead(2)) {
        if (short del = tb.DAO_Delete(true); del != 0)
            return dbFailure(del, tb, u"削除"_s);
    }
    (void)tb.DAO_TableClose();
    return mox::Status::success();
}

QString storeTable(Table table)
{
    return table == Table::Monthly ? kTableMonthly : kTableBonus;
}

// Settles which tables of \p e an import writes, asked inside the transaction that writes them.
// A table the stored edition lacks stays in \p e to be added. A table it already holds: with
// Refuse the import fails with kStatusTableLoaded naming the edition and the table, with Keep it
// is taken out of \p e so that the stored one stays, with Replace it stays in \p e.
mox::Status settleTables(const KorDAO::DatabaseHandle& db, Edition& e, IfStored ifStored)
{
    const int key = dateKey(e.from);
    for (const Table table : {Table::Monthly, Table::Bonus}) {
        if (!e.holds(table) || ifStored == IfStored::Replace)
            continue;
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db);
        tb.setTBWorkspace(db);
        tb.setTBNameString(storeTable(table));
        const int n = tb.DAO_TableOpen(u"TEKIYO = %1"_s.arg(key), QString());
        if (n < 0)
            return dbFailure(static_cast<short>(n), tb, u"読み込み"_s);
        (void)tb.DAO_TableClose();
        if (n == 0)
            continue;
        if (ifStored == IfStored::Refuse)
            return mox::Status::failure(
                kStatusTableLoaded,
                u"%1（%2 から）の%3はすでに読み込まれています。"_s.arg(
                    editionName(e.from), e.from.toString(Qt::ISODate), tableName(table)));
        if (table == Table::Monthly)
            e.monthly.clear();
        else
            e.bonus = {};
    }
    return mox::Status::success();
}

// Writes the tables \p e holds into its edition, replacing those tables; the edition's other
// table stays as stored.
mox::Status writeEdition(const KorDAO::DatabaseHandle& db, const Edition& e)
{
    const int key = dateKey(e.from);
    if (mox::Status s = deleteEdition(db, kTableEdition, key); !s.ok())
        return s;
    for (const Table table : {Table::Monthly, Table::Bonus}) {
        if (!e.holds(table))
            continue;
        if (mox::Status s = deleteEdition(db, storeTable(table), key); !s.ok())
            return s;
    }

    KorDAO::clsTbAccess han;
    if (short st = openTable(han, db, kTableEdition, u"TEKIYO = %1"_s.arg(key), QString()); st != 0)
        return dbFailure(st, han, u"読み込み"_s);
    if (short st = han.DAO_AddNew(true); st != 0)
        return dbFailure(st, han, u"追加"_s);
    han.TBRec()[u"TEKIYO"] = key;
    if (short st = han.DAO_Update(); st != 0)
        return dbFailure(st, han, u"追加"_s);

    KorDAO::clsTbAccess getu;
    if (short st = openTable(getu, db, kTableMonthly, u"TEKIYO = %1"_s.arg(key), QString());
        st != 0)
        return dbFailure(st, getu, u"読み込み"_s);
    for (const MonthlyBand& band : e.monthly) {
        if (short st = getu.DAO_AddNew(true); st != 0)
            return dbFailure(st, getu, u"追加"_s);
        KorDAO::Record rec = getu.TBRec();
        rec[u"TEKIYO"] = key;
        rec[u"KAGEN"] = band.lower;
        rec[u"JOGEN"] = band.upper;
        for (int d = 0; d < kColumns; ++d)
            rec[zeiColumn(d)] = band.base[static_cast<std::size_t>(d)];
        rec[u"RITU"] = band.rate;
        if (short st = getu.DAO_Update(); st != 0)
            return dbFailure(st, getu, u"追加"_s);
    }

    KorDAO::clsTbAccess syo;
    if (short st = openTable(syo, db, kTableBonus, u"TEKIYO = %1"_s.arg(key), QString()); st != 0)
        return dbFailure(st, syo, u"読み込み"_s);
    for (int d = 0; d < kColumns; ++d) {
        for (const BonusBand& band : e.bonus[static_cast<std::size_t>(d)]) {
            if (short st = syo.DAO_AddNew(true); st != 0)
                return dbFailure(st, syo, u"追加"_s);
            KorDAO::Record rec = syo.TBRec();
            rec[u"TEKIYO"] = key;
            rec[u"FUYO"] = d;
            rec[u"KAGEN"] = band.lower;
            rec[u"RITU"] = band.rate;
            if (short st = syo.DAO_Update(); st != 0)
                return dbFailure(st, syo, u"追加"_s);
        }
    }
    return mox::Status::success();
}

// Every record of \p table in \p sort order, handed to \p use; the status of a failing read.
template <class Use>
mox::Status scan(const KorDAO::DatabaseHandle& db, const QString& table, const QString& sort,
                 Use use)
{
    KorDAO::clsTbAccess tb;
    if (short st = openTable(tb, db, table, QString(), sort); st != 0)
        return dbFailure(st, tb, u"読み込み"_s);
    short st = tb.DAO_RecRead(1);
    for (; st == 0; st = tb.DAO_RecRead(2)) {
        if (mox::Status s = use(tb.TBRec()); !s.ok())
            return s;
    }
    if (st != KorDAO::kEndOfRecords)
        return dbFailure(st, tb, u"読み込み"_s);
    (void)tb.DAO_TableClose();
    return mox::Status::success();
}

mox::Status incomplete(int key, const QString& what)
{
    return mox::Status::failure(kStatusBrokenTable,
                                u"税額表 %1 が不完全です: %2"_s.arg(key).arg(what));
}

// A stored edition holds at least one table, and each table it holds covers every amount, as
// an imported one does.
mox::Status checkLoaded(int key, const Edition& e)
{
    if (!e.holds(Table::Monthly) && std::all_of(e.bonus.begin(), e.bonus.end(),
                                                [](const auto& column) { return column.empty(); }))
        return incomplete(key, u"月額表も賞与の算出率の表もありません。"_s);
    if (const QString fault = bandFault(e); !fault.isEmpty())
        return incomplete(key, fault);
    return mox::Status::success();
}

mox::Result<std::vector<Edition>> loadAll(const KorDAO::DatabaseHandle& db)
{
    std::map<int, Edition> byKey;
    mox::Status s = scan(db, kTableEdition, u"TEKIYO"_s, [&](KorDAO::Record rec) {
        const int key = rec[u"TEKIYO"].toInt();
        byKey[key].from = dateFromKey(key);
        return mox::Status::success();
    });
    if (!s.ok())
        return s;
    s = scan(db, kTableMonthly, u"TEKIYO, KAGEN"_s, [&](KorDAO::Record rec) {
        auto it = byKey.find(rec[u"TEKIYO"].toInt());
        if (it == byKey.end())
            return mox::Status::success();
        MonthlyBand band{
            rec[u"KAGEN"].toCurrency(), rec[u"JOGEN"].toCurrency(), {}, rec[u"RITU"].toCurrency()};
        for (int d = 0; d < kColumns; ++d)
            band.base[static_cast<std::size_t>(d)] = rec[zeiColumn(d)].toCurrency();
        it->second.monthly.push_back(band);
        return mox::Status::success();
    });
    if (!s.ok())
        return s;
    s = scan(db, kTableBonus, u"TEKIYO, FUYO, KAGEN"_s, [&](KorDAO::Record rec) {
        auto it = byKey.find(rec[u"TEKIYO"].toInt());
        const int d = rec[u"FUYO"].toInt();
        if (it == byKey.end() || d < 0 || d >= kColumns)
            return mox::Status::success();
        it->second.bonus[static_cast<std::size_t>(d)].push_back(
            {rec[u"KAGEN"].toCurrency(), rec[u"RITU"].toCurrency()});
        return mox::Status::success();
    });
    if (!s.ok())
        return s;

    std::vector<Edition> out;
    for (auto& [key, e] : byKey) {
        if (mox::Status bad = checkLoaded(key, e); !bad.ok())
            return bad;
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace

mox::Status importEdition(const KorDAO::DatabaseHandle& db, QDate from, const QString& dir,
                          IfStored ifStored, bool* written,
                          const std::function<void(int stage)>& stageDone)
{
    if (written)
        *written = false;
    const auto stage = [&stageDone](int n) {
        if (stageDone)
            stageDone(n);
    };
    mox::Result<Edition> read = readEditionDir(dir, from);
    if (const mox::Status* s = mox::failure(read))
        return *s;
    stage(1);
    if (mox::Status s = createTaxSchema(db); !s.ok())
        return s;

    KorDAO::clsTbAccess control;
    control.setTBDatabase(db);
    control.setTBWorkspace(db);
    control.setTBNameString(kTableEdition);
    KorDAO::Transaction tx(control); // undone unless committed below
    if (!tx.started())
        return dbFailure(short(tx.status().code), control, u"トランザクション開始"_s);
    Edition& edition = mox::value(read);
    bool nothingToWrite = false;
    mox::Status s;
    try {
        s = settleTables(db, edition, ifStored);
        if (s.ok())
            stage(2);
        nothingToWrite = s.ok() && !edition.holds(Table::Monthly) && !edition.holds(Table::Bonus);
        if (s.ok() && !nothingToWrite)
            s = writeEdition(db, edition);
    } catch (const KorDAO::DaoError& e) {
        s = mox::Status::failure(e.status(), QString::fromUtf8(e.what()));
    }
    if (!s.ok() || nothingToWrite)
        return s;
    stage(3);
    if (mox::Status c = tx.commit(); !c.ok()) // a failed commit is undone by the component
        return dbFailure(short(c.code), control, u"コミット"_s);
    stage(kImportStages);
    if (written)
        *written = true;
    return mox::Status::success();
}

mox::Result<std::vector<Edition>> loadEditions(const KorDAO::DatabaseHandle& db)
{
    try {
        return loadAll(db);
    } catch (const KorDAO::DaoError& e) {
        return mox::Status::failure(e.status(), QString::fromUtf8(e.what()));
    }
}

mox::Result<QList<EditionInfo>> listEditions(const KorDAO::DatabaseHandle& db)
{
    mox::Result<std::vector<Edition>> all = loadEditions(db);
    if (const mox::Status* s = mox::failure(all))
        return *s;
    QList<EditionInfo> out;
    for (const Edition& e : mox::value(all)) {
        int bonusBands = 0;
        for (const auto& column : e.bonus)
            bonusBands += static_cast<int>(column.size());
        out.append({e.from, static_cast<int>(e.monthly.size()), bonusBands});
    }
    return out;
}

} // namespace KorTAX
