#pragma once

// The call-up of an employee: filling the screen from the personnel record, from a stored bonus
// record or from the previous month's pay, and clearing it. Failures as in "mox110/bonuscalc.h".

#include "base/currency.h"
#include "base/status.h"
#include "kordao/kordao.h"
#include "mox110/bonusscreen.h"
#include "mox110/calccontext.h"

namespace mox110 {

/// Fills the screen from ctx.jinji: allowance periods, amounts, then prsZaiseki and prsKeisan.
mox::Status prsDspJinji(BonusScreen& s, CalcContext& ctx);
/// Fills the screen from the current GKKYUYO record and sets ctx.curKazeig; no recalculation.
mox::Status prsDspKyuyo(BonusScreen& s, CalcContext& ctx, KorDAO::Record kyuyo);
/// Previous month's taxable pay and tax into nu1Zenkaz / nu1Zenzei (own table object).
mox::Status prsReadZenge(BonusScreen& s, KorDAO::DatabaseHandle db, int syokcd, Currency syorid);

/// The previous month's pay of one employee as prsReadZenge sums it, record by record: his
/// monthly pay (KYUSYU 1) and its corrections (4) of the month before the processing month.
struct PreviousMonthPay {
    Currency kazeig; // taxable pay
    Currency syagok; // social insurance
    Currency syotok; // income tax
    /// Adds the record \p r; throws as reading its fields or summing beyond the type does.
    void add(KorDAO::Record r);
    /// Puts the sums on screen: nu1Zenkaz (taxable pay less social insurance) and nu1Zenzei;
    /// amounts beyond the money type are refused with the calculation's message.
    mox::Status show(BonusScreen& s) const;
};

/// Makes the processing month of \p kanri (yyyymm, its first day) the date the era texts are
/// made from (prfEraDate). A month too large to be a date is refused with the calculation's
/// message (amountOverflow), one other than June or December with
/// 「期末・勤勉手当処理月ではありません。」: either makes the management record unusable.
mox::Status setProcessingMonth(const KanriRecord& kanri);

/// Clears every field (numbers 0, lists unselected, texts empty, ratios "0.00000") and
/// ctx.curKazeig.
void prsItemClr(BonusScreen& s, CalcContext& ctx);
/// Call-up of an employee without a stored bonus: the rates of the month (pay class 4: its own
/// ratio), both lists to index 0 (each change recalculating), prsDspJinji, prsReadZenge and
/// prsGokei. ctx.jinji and ctx.kanri must hold the employee and the management record.
mox::Status callUpNew(BonusScreen& s, CalcContext& ctx, KorDAO::DatabaseHandle db);

} // namespace mox110
