#pragma once

// The yearly ledger grid of one employee (typRuikei: "累計", cumulative) and the rules that sum
// payment records (GKKYUYO) into it.
//
// Rows and amounts keep the ledger's own 1-based numbers: rows 1 to 12 are the months April to
// March, 13 their total, 14 and 15 the June and December bonus, 16 the March bonus (filled, never
// printed), 17 the bonus total, 18 payments of kind 3 and 19 the annual total. Amounts 1 to 26
// are pay items, 28 the year-end adjustment (NENFUS), 29 the deduction total (KOUGOK) and 30 the
// cash paid (SASIHK); amount 27 is never filled.
//
//     Ruikei grid;                      // every amount 0, no DataFlag
//     for (const KyuyoRecord& r : records)
//         addKyuyoRecord(grid, r);      // in the order SKYUYM, KYUSYU, KYUSEQ
//     finishRuikei(grid);               // rebuilds row 19

#include "base/currency.h"

#include <QString>

#include <array>
#include <cstddef>

namespace mox030 {

inline constexpr int kRowCount = 19;
inline constexpr int kKinCount = 30;

/// prfRowNo: the result for a record the ledger leaves out on purpose.
inline constexpr short kRowLeftOut = 9999;

/// One ledger row (RuikeiRow).
struct RuikeiRow {
    std::array<Currency, kKinCount + 1> amounts{}; // index 0 unused
    bool DataFlag = false; // set once a payment record was added to this very row

    /// Kin(n): amount n (1 to 30), in yen scaled by 10000.
    Currency& Kin(int n) { return amounts[static_cast<std::size_t>(n)]; }
    Currency Kin(int n) const { return amounts[static_cast<std::size_t>(n)]; }
};

/// The 19 rows of typRuikei.
struct Ruikei {
    std::array<RuikeiRow, kRowCount + 1> rows{}; // index 0 unused

    RuikeiRow& row(int r) { return rows[static_cast<std::size_t>(r)]; }
    const RuikeiRow& row(int r) const { return rows[static_cast<std::size_t>(r)]; }
    void clear() { *this = Ruikei{}; }
};

/// One payment record, reduced to what the ledger reads: its kind, sequence and month, and its
/// fields already added into the ledger's amount numbers (Kin 1 = KYURYO + KTYOGK, Kin 19 =
/// KIMATU + kmzoge, Kin 28 = NENFUS, Kin 29 = KOUGOK, Kin 30 = SASIHK...).
struct KyuyoRecord {
    short KYUSYU = 0; // payment kind: 1, 4 monthly pay; 2, 5 bonus; 3 the separate row
    short KYUSEQ = 0; // sequence within the kind
    int SKYUYM = 0;   // payment month yyyymm
    std::array<Currency, kKinCount + 1> amounts{};

    Currency& Kin(int n) { return amounts[static_cast<std::size_t>(n)]; }
    Currency Kin(int n) const { return amounts[static_cast<std::size_t>(n)]; }
};

/// One GKKYUYO field added into a ledger amount; an amount fed by two fields has two entries.
struct KinField {
    int kin;
    const char16_t* field;
};
/// Every GKKYUYO field the ledger reads and the amount it goes into.
extern const std::array<KinField, 33> kKinFields;

/// prfRowNo: the ledger row of a record of kind \p kind and sequence \p seq paid in the month
/// \p ym (text yyyymm; its characters 5 and 6 are the month). kRowLeftOut for a record the ledger
/// leaves out (kind 1 sequence 8, a March bonus of kind 2), 0 when no row fits.
short prfRowNo(short kind, short seq, QStringView ym);

/// Adds one record into the grid (one step of prsDatasum). A record without a row (prfRowNo 0)
/// or left out (kRowLeftOut) changes nothing; the result says whether the record was added.
bool addKyuyoRecord(Ruikei& grid, const KyuyoRecord& rec);

/// Rebuilds the annual total row 19 after the last record: amounts 1 to 26 from rows 13, 17 and
/// 18; amount 29 from its amounts 23 to 26, grown by the magnitude of a negative year-end
/// figure; amount 30 = amount 22 - amount 29. Amount 28 keeps what the records left in it.
void finishRuikei(Ruikei& grid);

} // namespace mox030
