#pragma once

// Reading what the bonus check list works from (moxdb/bonuscheck.h) out of the payroll database,
// in a few walks whatever the size of the district: the personnel master, the bonus records of
// the month and of the same month a year earlier, then, for the listed staff who have no record,
// the calculation of the entry screen a few hundred employees at a time.
//
//     BonusSeason season(handle);
//     if (mox::Status s = season.open(); !s.ok()) …
//     mox::Result<CheckInput> in = readCheckInput(season, handle, threshold);

#include "moxdb/bonuscheck.h"
#include "moxdb/bonusseason.h"

#include "base/status.h"
#include "kordao/kordao.h"

#include <functional>

namespace moxdb {

/// Called as the calculation goes through the staff without a record: done, of how many.
using CheckProgress = std::function<void(int done, int of)>;

/// The input of checkBonus for the opened \p season. A table that cannot be read fails with its
/// name; an employee the calculation refuses is one of the input's refusals.
mox::Result<CheckInput> readCheckInput(BonusSeason& season, const KorDAO::DatabaseHandle& db,
                                       Currency thresholdPercent,
                                       const CheckProgress& progress = {});

} // namespace moxdb
