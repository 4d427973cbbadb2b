#pragma once

// The demo district: a small prefectural school board with about sixty staff, a processing
// month of December 2026, monthly pay from April to November 2026, the June 2026 bonus, some
// earlier fiscal years and the awkward cases the programs must handle. Everything is fixed: the
// same call gives the same rows. docs/demo-data.md lists who is who.

#include "moxdb/district.h"
#include "moxdb/row.h"

#include <vector>

namespace moxdb {

/// Employees whose figures other code and documents refer to. Their data do not change.
namespace demo {
inline constexpr int kFullService = 10025;       // in service for years, pay class 1
inline constexpr int kSplitService = 1203340;    // service ends 20260929, restarts 20261001
inline constexpr int kMergedService = 1203358;   // service ends 20260930, restarts 20261001
inline constexpr int kDailyPaid = 1405012;       // pay class 4, daily wage 9,000 yen
inline constexpr int kDailyPaidManual = 1405020; // pay class 4 with HYOKBN 9
inline constexpr int kTenSlots = 1304041;        // second period and all eight further periods
inline constexpr int kNoPayment = 1600001;       // starts 20261201, no payment record at all
inline constexpr int kOlderYearOnly = 1000873;   // retired 20250331, payments of FY2024 only
inline constexpr int kDecemberBonus = 1102010;   // the one stored December 2026 bonus
inline constexpr int kJoinedInAugust = 1502001;  // starts 20260801, inside the December period
inline constexpr int kYearEnd = 1101023;         // December 2025 NENFUS −3,000, kind 3 −500
inline constexpr std::uint64_t kSeed = 20261201;
} // namespace demo

struct Dataset {
    Management management;
    EmploymentBands bands;
    std::vector<Employee> staff;
};

/// The management record, wage bands and staff of the demo district.
Dataset demoDistrict();

/// The rows of every table, payment records in key order (SYOKCD, KYUSYU, SKYUYM, KYUSEQ).
struct DatasetRows {
    std::vector<Row> kanri;
    std::vector<Row> jinji;
    std::vector<Row> kyuyo;
    std::vector<Row> koyou;
    std::vector<Row> names;
};

/// The demo district's rows; the monthly and bonus income tax come from \p tax.
DatasetRows demoRows(const WithholdingTax& tax);

} // namespace moxdb
