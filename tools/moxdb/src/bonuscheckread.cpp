#include "moxdb/bonuscheckread.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// Employees calculated together: one walk each of their personnel records, previous month's pay
// and bonus records.
constexpr std::size_t kBatch = 500;

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
    if (mox::Status s = walkTable(db, u"GKJINJI"_s, QString(), u"SYOKCD"_s, staff); !s.ok())
        return s;
    const auto month = [&](KorDAO::Record rec) {
        in.records.push_back(checkRecord(rec));
        return mox::Status::success();
    };
    if (mox::Status s = walkTable(db, u"GKKYUYO"_s, bonusOf(in.month), u"SYOKCD"_s, month); !s.ok())
        return s;
    const auto lastYear = [&](KorDAO::Record rec) {
        in.lastYear[rec[u"SYOKCD"].toInt()] = amount(rec[u"SSIKYU"]);
        return mox::Status::success();
    };
    return walkTable(db, u"GKKYUYO"_s, bonusOf(in.month - 100), u"SYOKCD"_s, lastYear);
}

// What the calculation says today of the employees \p codes (ascending), each listed and without
// a record: the refusals go into \p in.
mox::Status calculateBatch(BonusSeason& season, const std::vector<int>& codes, CheckInput& in)
{
    const auto batch = season.prepare(codes);
    if (const mox::Status* s = mox::failure(batch))
        return *s;
    const auto& jinji = mox::value(batch).jinji;
    const StoredBonus& stored = mox::value(batch).stored;
    for (int code : codes) {
        const auto it = jinji.find(code);
        if (it == jinji.end())
            continue; // gone since the master was read
        if (const mox::Status* s = mox::failure(it->second)) {
            in.refusals[code] = s->message;
            continue;
        }
        // The deduction classes of his most recent bonus record, 0 where he has none.
        const auto d = stored.latest.find(code);
        const DeductionClasses classes = d == stored.latest.end() ? DeductionClasses{} : d->second;
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
