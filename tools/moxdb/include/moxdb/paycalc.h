#pragma once

// The payment records of an employee: monthly pay (KYUSYU 1) and the June or December bonus
// (KYUSYU 2), with figures that agree with each other the way the payroll programs read them:
// SSIKYU is the sum of the pay items, KAZEIG = SSIKYU − HKZEGK, SYAGOK = KENKO + KOSEI + KOYOU,
// KOUGOK = SYAGOK + SYOTOK and SASIHK = SSIKYU − KOUGOK.

#include "moxdb/district.h"
#include "moxdb/row.h"

#include <cstdint>

namespace moxdb {

struct PayContext {
    const Management& management;
    const EmploymentBands& bands;
    const WithholdingTax& tax;
    std::uint64_t seed; // varies the monthly allowances deterministically
};

/// Rounds a social insurance premium as the name table's rounding point 0.5 asks: half a yen
/// and more up, less down (negative amounts mirrored).
Currency roundPremium(Currency premium);

/// The month after \p yyyymm, and the month before.
int nextMonth(int yyyymm);
int previousMonth(int yyyymm);

/// True when one of the employee's service periods covers a day of the month \p yyyymm.
bool inServiceDuring(const Employee& e, int yyyymm);
/// True when one service period covers every day from \p from to \p to (yyyymmdd); periods
/// that touch (one ends the day before the next starts) count as one.
bool inServiceThroughout(const Employee& e, int from, int to);

/// The employee as paid \p yearsBack fiscal years ago: the salary (or daily wage) lower by a
/// yearly step, the rest unchanged.
Employee asOfYearsBack(const Employee& e, int yearsBack);

/// The monthly pay record (KYUSYU 1, KYUSEQ 1) of \p e for \p yyyymm.
Row monthlyPayRow(const PayContext& pc, const Employee& e, int yyyymm);

/// The bonus record (KYUSYU 2, KYUSEQ 0) of \p e for the June or December month \p yyyymm,
/// for an employee in service for the whole allowance period (period rates 100). The previous
/// month's taxable pay and tax come from \p previousPay (the monthly record of the month before;
/// without one both are 0). Pay class 4 gets the December proportion NKM12KM and no diligence
/// allowance.
Row bonusRow(const PayContext& pc, const Employee& e, int yyyymm, const Row* previousPay);

/// The columns a monthly pay record or a bonus record fills; the others stay 0 (or empty).
const QStringList& monthlyPayColumns();
const QStringList& bonusColumns();

/// A new payment record of \p e with its key (kind, month, sequence) and the copies of the
/// personnel record every payment record carries (office, finance category, job kind, pay class,
/// grade, dependants); the amounts are 0.
Row paymentRow(const Employee& e, int kind, int yyyymm, int sequence);

/// Sets KAZEIG, SYAGOK, KOUGOK and SASIHK of a payment record from its SSIKYU, HKZEGK and
/// deductions (KENKO, KOSEI, KOYOU, SYOTOK).
void settleTotals(Row& row);

} // namespace moxdb
