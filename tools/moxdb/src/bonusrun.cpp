#include "moxdb/bonusrun.h"

#include "kordao/bulkinsert.h"

#include <algorithm>
#include <span>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

constexpr int kAttempts = 3; // a batch whose transaction met another writer is tried again

// One record to write and the line that reports it.
struct Pending {
    std::size_t line; // index in the batch's lines
    mox110::KyuyoValues values;
};

// The fields of the bonus record as the save assigns them; the rate of the other pay class
// (KMRITU or NMRITU), which the save leaves at its default, is written as that default, 0.
QStringList recordFields(const mox110::KyuyoValues& values)
{
    QStringList names;
    for (const mox110::KyuyoField& f : values)
        names << f.name;
    names << (names.contains(u"KMRITU"_s) ? u"NMRITU"_s : u"KMRITU"_s);
    return names;
}

// Sets field \p i of the next row as mox110::assignField assigns it on a save.
void setField(KorDAO::BulkInsert& bulk, int i, const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<Currency>())
        bulk.setAmount(i, value.value<Currency>());
    else if (value.metaType() == QMetaType::fromType<QString>())
        bulk.setText(i, value.toString());
    else if (value.metaType() == QMetaType::fromType<int>())
        bulk.setInteger(i, value.toInt());
    else if (const std::optional<Currency> c = Currency::parse(value.toString()))
        bulk.setAmount(i, *c); // a number read in another type (KGOKYU, KGOGHO)
    else
        bulk.setText(i, value.toString());
}

mox::Status addRecord(KorDAO::BulkInsert& bulk, const QStringList& fields,
                      const mox110::KyuyoValues& values)
{
    // Both rates at the default first; the one of the employee's pay class then set.
    for (const QString& rate : {u"KMRITU"_s, u"NMRITU"_s})
        bulk.setAmount(int(fields.indexOf(rate)), Currency());
    for (const mox110::KyuyoField& f : values)
        setField(bulk, int(fields.indexOf(f.name)), f.value);
    if (bulk.addRow() != 0)
        return mox::Status::failure(bulk.status(), bulk.lastError());
    return mox::Status::success();
}

// The deduction classes of \p line: given, else his latest bonus record's, else 0.
void chooseClasses(BonusRunLine& line, const BonusRunOptions& options, const StoredBonus& stored)
{
    const auto latest = stored.latest.find(line.syokcd);
    const bool hasLatest = latest != stored.latest.end();
    line.latestMonth = hasLatest ? latest->second.skyuym : 0;
    const auto pick = [&](const std::optional<int>& given, int fromLatest, int* value,
                          ClassSource* source) {
        if (given) {
            *value = *given;
            *source = ClassSource::Given;
        } else if (hasLatest) {
            *value = fromLatest;
            *source = ClassSource::LatestBonus;
        } else {
            *value = 0;
            *source = ClassSource::Default;
        }
    };
    pick(options.tokkbn, hasLatest ? latest->second.tokkbn : 0, &line.tokkbn, &line.tokSource);
    pick(options.roukbn, hasLatest ? latest->second.roukbn : 0, &line.roukbn, &line.rouSource);
}

class BatchRun {
public:
    BatchRun(BonusSeason& season, const KorDAO::DatabaseHandle& db, const BonusRunOptions& options)
        : m_season(season), m_db(db), m_options(options)
    {
    }

    mox::Status run(std::span<const ListedEmployee> chunk,
                    const std::function<void(const BonusRunLine&)>& each, BonusRunTotals* totals);

private:
    mox::Status calculate(std::span<const ListedEmployee> chunk);
    mox::Status write();
    mox::Status writeOnce();

    BonusSeason& m_season;
    const KorDAO::DatabaseHandle& m_db;
    const BonusRunOptions& m_options;
    std::vector<BonusRunLine> m_lines;
    std::vector<Pending> m_pending;
    std::vector<int> m_codes; // the batch's employees
};

mox::Status BatchRun::calculate(std::span<const ListedEmployee> chunk)
{
    m_codes.clear();
    for (const ListedEmployee& e : chunk)
        m_codes.push_back(e.syokcd);
    const auto batch = m_season.prepare(m_codes);
    if (const mox::Status* s = mox::failure(batch))
        return *s;
    const auto& jinji = mox::value(batch).jinji;
    const StoredBonus& stored = mox::value(batch).stored;
    for (const ListedEmployee& e : chunk) {
        BonusRunLine line;
        line.syokcd = e.syokcd;
        line.name = e.name;
        line.handEntered = e.hyokbn == kInputClassManual;
        chooseClasses(line, m_options, stored);
        const auto j = jinji.find(e.syokcd);
        if (stored.thisMonth.contains(e.syokcd)) {
            line.outcome = BonusRunLine::Outcome::AlreadyThere;
        } else if (j == jinji.end()) {
            line.outcome = BonusRunLine::Outcome::Refused;
            line.reason = u"職員コード %1 の人事データがありません。"_s.arg(e.syokcd);
        } else if (const mox::Status* bad = mox::failure(j->second)) {
            line.outcome = BonusRunLine::Outcome::Refused;
            line.reason = u"人事データが読めません: "_s + bad->message;
        } else {
            NewBonus b = m_season.calculateNew(mox::value(j->second), line.tokkbn, line.roukbn);
            if (b.status.ok()) {
                line.outcome = m_options.dryRun ? BonusRunLine::Outcome::WouldWrite
                                                : BonusRunLine::Outcome::Written;
                m_pending.push_back({m_lines.size(), std::move(b.values)});
            } else {
                line.outcome = BonusRunLine::Outcome::Refused;
                line.reason = b.status.message;
            }
        }
        m_lines.push_back(std::move(line));
    }
    return mox::Status::success();
}

// One transaction: who has a record by now is read again under the work lock, the rest written.
mox::Status BatchRun::writeOnce()
{
    KorDAO::Transaction tx(m_db);
    if (!tx.started())
        return tx.status();
    if (mox::Status s = KorDAO::holdWorkLock(m_db, u"moxdb bonus run"_s); !s.ok())
        return s;
    const auto there = m_season.readThisMonth(m_codes);
    if (const mox::Status* s = mox::failure(there))
        return *s;
    const QStringList fields = recordFields(m_pending.front().values);
    KorDAO::BulkInsert bulk(m_db, u"GKKYUYO"_s, fields, KorDAO::BulkInsert::Audit::PerRecord);
    if (bulk.status() != 0)
        return mox::Status::failure(bulk.status(), bulk.lastError());
    for (const Pending& p : m_pending) {
        BonusRunLine& line = m_lines[p.line];
        if (mox::value(there).contains(line.syokcd)) {
            line.outcome = BonusRunLine::Outcome::AlreadyThere; // written meanwhile by another
            continue;
        }
        line.outcome = BonusRunLine::Outcome::Written;
        if (mox::Status s = addRecord(bulk, fields, p.values); !s.ok())
            return s;
    }
    if (bulk.finish() != 0)
        return mox::Status::failure(bulk.status(), bulk.lastError());
    return tx.commit();
}

mox::Status BatchRun::write()
{
    mox::Status s;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        s = writeOnce();
        if (s.ok())
            return s;
        // A record written meanwhile by a desk, or a lock not granted in time: nothing of the
        // batch was written, and reading again decides anew.
        if (s.code != KorDAO::kLockTimeout && s.code != KorDAO::kUpdateFailed &&
            s.code != KorDAO::kRecordChanged)
            return s;
    }
    return s;
}

mox::Status BatchRun::run(std::span<const ListedEmployee> chunk,
                          const std::function<void(const BonusRunLine&)>& each,
                          BonusRunTotals* totals)
{
    m_lines.clear();
    m_pending.clear();
    if (mox::Status s = calculate(chunk); !s.ok())
        return s;
    if (!m_options.dryRun && !m_pending.empty()) {
        if (mox::Status s = write(); !s.ok())
            return s;
    }
    for (const BonusRunLine& line : m_lines) {
        switch (line.outcome) {
        case BonusRunLine::Outcome::Written:
        case BonusRunLine::Outcome::WouldWrite:
            ++totals->written;
            totals->handEntered += line.handEntered ? 1 : 0;
            break;
        case BonusRunLine::Outcome::AlreadyThere:
            ++totals->alreadyThere;
            break;
        case BonusRunLine::Outcome::Refused:
            ++totals->refused;
            break;
        }
        each(line);
    }
    return mox::Status::success();
}

// The employees asked for whom the screen's list does not hold, each with the screen's reason.
mox::Status refuseUnlisted(const BonusSeason& season, const std::set<int>& asked,
                           const std::vector<ListedEmployee>& listed,
                           const std::function<void(const BonusRunLine&)>& each,
                           BonusRunTotals* totals)
{
    std::set<int> missing = asked;
    for (const ListedEmployee& e : listed)
        missing.erase(e.syokcd);
    for (const int code : missing) {
        const auto jinji = season.readJinji({code});
        if (const mox::Status* s = mox::failure(jinji))
            return *s;
        BonusRunLine line;
        line.syokcd = code;
        line.outcome = BonusRunLine::Outcome::Refused;
        line.reason =
            mox::value(jinji).contains(code)
                ? u"職員コード %1 は日額支給者のため12月以外は選択できません。"_s.arg(code)
                : u"職員コード %1 の人事データがありません。"_s.arg(code);
        ++totals->refused;
        each(line);
    }
    return mox::Status::success();
}

} // namespace

mox::Status runBonus(BonusSeason& season, const KorDAO::DatabaseHandle& db,
                     const BonusRunOptions& options,
                     const std::function<void(const BonusRunLine&)>& each, BonusRunTotals* totals)
{
    auto listed = season.listedEmployees();
    if (const mox::Status* s = mox::failure(listed))
        return *s;
    std::vector<ListedEmployee> employees;
    for (ListedEmployee& e : mox::value(listed)) {
        if (options.employees.empty() || options.employees.contains(e.syokcd))
            employees.push_back(std::move(e));
    }
    if (mox::Status s = refuseUnlisted(season, options.employees, employees, each, totals); !s.ok())
        return s;
    if (options.counted)
        options.counted(employees.size());
    if (mox::Status s = season.cacheSources(); !s.ok())
        return s;
    BatchRun batch(season, db, options);
    const std::size_t size = std::size_t(std::max(1, options.batch));
    for (std::size_t at = 0; at < employees.size(); at += size) {
        const std::span<const ListedEmployee> chunk(employees.data() + at,
                                                    std::min(size, employees.size() - at));
        if (mox::Status s = batch.run(chunk, each, totals); !s.ok())
            return s;
    }
    return mox::Status::success();
}

} // namespace moxdb
