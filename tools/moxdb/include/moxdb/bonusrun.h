#pragma once

// The bonus run: for every employee of the entry screen's list without a bonus record for the
// processing month, the record that the screen's read key (a new entry), the deduction classes
// and its save key would store, written many at a time.
//
// What is done is decided from the stored records alone: an employee who has a bonus record for
// the month is left as he is (an operator's record is never replaced), so a run that was stopped
// and started again writes the rest. Each batch of records is one transaction, and each record
// is audited as a save; on PostgreSQL two runs take turns batch by batch under a work lock, and
// each checks again inside its transaction who is done.

#include "moxdb/bonusseason.h"

#include <QString>

#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace moxdb {

struct BonusRunOptions {
    std::set<int> employees; // only these (empty: everyone listed)
    bool dryRun = false;     // calculate and report, write nothing
    std::optional<int> tokkbn; // 健康厚生控除区分 for everyone; else his latest bonus record's
    std::optional<int> roukbn;                // 雇用保険控除区分 likewise
    int batch = 250;                          // employees per transaction
    std::function<void(std::size_t)> counted; // told how many employees the run goes through
};

/// Where a deduction class came from.
enum class ClassSource { Given, LatestBonus, Default };

/// What the run did with one employee.
struct BonusRunLine {
    enum class Outcome { Written, WouldWrite, AlreadyThere, Refused };
    int syokcd = 0;
    QString name;
    Outcome outcome = Outcome::Written;
    int tokkbn = 0, roukbn = 0;
    ClassSource tokSource = ClassSource::Default, rouSource = ClassSource::Default;
    int latestMonth = 0;      // the month of the bonus record the classes came from
    bool handEntered = false; // HYOKBN 9
    QString reason;           // why it was refused
};

struct BonusRunTotals {
    int written = 0, alreadyThere = 0, refused = 0, handEntered = 0;
};

/// Runs the bonus of \p season (opened) on \p db; \p each gets every employee's line as he is
/// done. A failure (a database failure, a batch that could not be written) ends the run:
/// batches committed before it stay.
mox::Status runBonus(BonusSeason& season, const KorDAO::DatabaseHandle& db,
                     const BonusRunOptions& options,
                     const std::function<void(const BonusRunLine&)>& each, BonusRunTotals* totals);

} // namespace moxdb
