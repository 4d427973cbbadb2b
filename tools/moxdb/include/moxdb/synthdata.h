#pragma once

// Large synthetic data of the demo district's shape for benchmarks: N staff with Y fiscal years
// of monthly pay and June and December bonuses, ending with the current fiscal year up to the
// month before the processing month (December 2026), as the demo does.

#include "moxdb/database.h"
#include "moxdb/demodata.h"
#include "moxdb/paycalc.h"
#include "moxdb/progress.h"

#include "base/status.h"

#include <functional>

namespace moxdb {

inline constexpr int kMaxSynthStaff = 90'000;
inline constexpr int kMaxSynthYears = 30;

/// \p staff employees (1 … kMaxSynthStaff) with seven-digit codes in ascending order; the
/// management record, bands and name table are the demo's.
Dataset syntheticDistrict(int staff, std::uint64_t seed);

/// Calls \p sink with every payment record of \p d over \p years fiscal years, employee by
/// employee in code order, each employee's records in key order. Stops at the first failing
/// sink and returns its status.
mox::Status forEachSyntheticPayment(const Dataset& d, int years, const WithholdingTax& tax,
                                    std::uint64_t seed,
                                    const std::function<mox::Status(const Row&)>& sink);

/// Replaces the data of both databases by \p d with \p years of payments, and their load marks
/// by that of synth (see loading.h), one transaction per database; \p written receives the
/// number of payment records. \p progress, when given, advances by each payment record.
mox::Status writeSynthetic(Database& payroll, Database& environment, const Dataset& d, int years,
                           const WithholdingTax& tax, std::uint64_t seed, qint64* written,
                           TerminalProgress* progress = nullptr);

/// The number of payment records forEachSyntheticPayment makes for \p d over \p years.
qint64 syntheticPaymentCount(const Dataset& d, int years);

} // namespace moxdb
