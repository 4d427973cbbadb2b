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

/// Clears every field (numbers 0, lists unselected, texts empty, ratios "0.00000") and
/// ctx.curKazeig.
void prsItemClr(BonusScreen& s, CalcContext& ctx);
/// Call-up of an employee without a stored bonus: the rates of the month (pay class 4: its own
/// ratio), both lists to index 0 (each change recalculating), prsDspJinji, prsReadZenge and
/// prsGokei. ctx.jinji and ctx.kanri must hold the employee and the management record.
mox::Status callUpNew(BonusScreen& s, CalcContext& ctx, KorDAO::DatabaseHandle db);

} // namespace mox110
