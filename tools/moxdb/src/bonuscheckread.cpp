#include "moxdb/bonuscheckread.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// Employees calculated together: one walk each of their personnel records, previous month's pay
// and bonus records.
constexpr std::size_t kBatch = 500;

// Calls \p each with every record of \p table that meets \p filter, in the order \p sort; a
// table that does not open or a read that fails ends the walk with the table named.
template <class Each>
mox::Status walk(const KorDAO::DatabaseHandle& db, const QString& table, const QString& filter,
                 const QString& sort, Each each)
{
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(db);
    tb.setTBNameString(table);
    const auto failed = [&](int status) {
        return mox::Status::failure(
            status, u"%1 を読めません（%2）: %3"_s.arg(table).arg(status).arg(tb.lastError()));
    };
    if (const int n = tb.DAO_TableOpen(filter, sort); n < 0)
        return failed(n);
    short st = tb.DAO_RecRead(1);
    for (; st == 0; st = tb.DAO_RecRead(2)) {
        if (mox::Status s = KorDAO::readFields([&] { return each(tb.TBRec()); }); !s.ok()) {
            (void)tb.DAO_TableClose();
            return mox::Status::failure(s.code, u"%1: %2"_s.arg(table, s.message));
        }
    }
    (void)tb.DAO_TableClose();
    return st == KorDAO::kEndOfRecords ? mox::Status::success() : failed(st);
}

// An amount field; a NULL reads as 0 (a field never filled), a text that is no number fails.
Currency amount(const KorDAO::FieldRef& f)
{
    return f.isNull() ? Currency() : f.toCurrency();
}

int whole(const KorDAO::FieldRef& f)
{
    return f.isNull() ? 0 : f.toInt();
}

CheckRecord checkRecord(KorDAO::Record rec)
{
    CheckRecord r;
    r.syokcd = rec[u"SYOKCD"].toInt();
    r.kyukbn = whole(rec[u"KYUKBN"]);
    r.kmmmdd = whole(rec[u"KMMMDD"]);
    r.kbmmdd = whole(rec[u"KBMMDD"]);
    r.kmzrit = amount(rec[u"KMZRIT"]);
    r.kbzrit = amount(rec[u"KBZRIT"]);
    r.kimatu = amount(rec[u"KIMATU"]);
    r.kinben = amount(rec[u"KINBEN"]);
    r.kenko = amount(rec[u"KENKO"]);
    r.kosei = amount(rec[u"KOSEI"]);
    r.syotok = amount(rec[u"SYOTOK"]);
    r.zenkaz = amount(rec[u"ZENKAZ"]);
    r.ssikyu = amount(rec[u"SSIKYU"]);
    r.kougok = amount(rec[u"KOUGOK"]);
    r.sasihk = amount(rec[u"SASIHK"]);
    r.tokkbn = whole(rec[u"TOKKBN"]);
    return r;
}

QString bonusOf(int month)
{
    return u"KYUSYU = 2 AND SKYUYM = %1 AND KYUSEQ = 0"_s.arg(month);
}

mox::Status readStored(const KorDAO::DatabaseHandle& db, CheckInput& in)
{
    const auto staff = [&](KorDAO::Record rec) {
        in.staff.push_back({rec[u"SYOKCD"].toInt(), rec[u"SIMKNJ"].toString(),
                            whole(rec[u"KYUKBN"]), whole(rec[u"HYOKBN"]), false});
        return mox::Status::success();
    };
    if (mox::Status s = walk(db, u"GKJINJI"_s, QString(), u"SYOKCD"_s, staff); !s.ok())
        return s;
    const auto month = [&](KorDAO::Record rec) {
        in.records.push_back(checkRecord(rec));
        return mox::Status::success();
    };
    if (mox::Status s = walk(db, u"GKKYUYO"_s, bonusOf(in.month), u"SYOKCD"_s, month); !s.ok())
        return s;
    const auto lastYear = [&](KorDAO::Record rec) {
        in.lastYear[rec[u"SYOKCD"].toInt()] = amount(rec[u"SSIKYU"]);
        return mox::Status::success();
    };
    return walk(db, u"GKKYUYO"_s, bonusOf(in.month - 100), u"SYOKCD"_s, lastYear);
}

// What the calculation says today of the employees \p codes (ascending), each listed and without
// a record: the refusals go into \p in.
mox::Status calculateBatch(BonusSeason& season, const std::vector<int>& codes, CheckInput& in)
{
    const int first = codes.front();
    const int last = codes.back();
    auto jinji = season.readJinji(first, last);
    if (const mox::Status* s = mox::failure(jinji))
        return *s;
    auto previous = season.readPreviousPay(first, last);
    if (const mox::Status* s = mox::failure(previous))
        return *s;
    const auto stored = season.readStoredBonus(first, last);
    if (const mox::Status* s = mox::failure(stored))
        return *s;
    season.usePreviousPay(std::move(mox::value(previous)));
    for (int code : codes) {
        const auto it = mox::value(jinji).find(code);
        if (it == mox::value(jinji).end())
            continue; // gone since the master was read
        if (const mox::Status* s = mox::failure(it->second)) {
            in.refusals[code] = s->message;
            continue;
        }
        // The deduction classes of his most recent bonus record, 0 where he has none.
        const auto d = mox::value(stored).latest.find(code);
        const DeductionClasses classes =
            d == mox::value(stored).latest.end() ? DeductionClasses{} : d->second;
        const NewBonus b =
            season.calculateNew(mox::value(it->second), classes.tokkbn, classes.roukbn);
        if (!b.status.ok())
            in.refusals[code] = b.status.message;
    }
    return mox::Status::success();
}

} // namespace

mox::Result<CheckInput> readCheckInput(BonusSeason& season, const KorDAO::DatabaseHandle& db,
                                       Currency thresholdPercent, const CheckProgress& progress)
{
    CheckInput in;
    in.month = season.processingMonth();
    in.kengen = season.kanri().KENGEN;
    in.kosgen = season.kanri().KOSGEN;
    in.thresholdPercent = thresholdPercent;
    if (mox::Status s = readStored(db, in); !s.ok())
        return s;
    std::map<int, bool> hasRecord;
    for (const CheckRecord& r : in.records)
        hasRecord[r.syokcd] = true;
    std::vector<int> missing;
    for (CheckEmployee& e : in.staff) {
        e.listed = season.screenLists(e.kyukbn);
        if (e.listed && !hasRecord.contains(e.syokcd))
            missing.push_back(e.syokcd);
    }
    if (missing.empty())
        return in;
    if (mox::Status s = season.cacheSources(); !s.ok())
        return s;
    for (std::size_t i = 0; i < missing.size(); i += kBatch) {
        const std::size_t end = std::min(missing.size(), i + kBatch);
        const std::vector<int> codes(missing.begin() + std::ptrdiff_t(i),
                                     missing.begin() + std::ptrdiff_t(end));
        if (mox::Status s = calculateBatch(season, codes, in); !s.ok())
            return s;
        if (progress)
            progress(int(end), int(missing.size()));
    }
    return in;
}

} // namespace moxdb
