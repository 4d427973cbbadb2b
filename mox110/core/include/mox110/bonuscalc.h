#pragma once

// The bonus calculation of the entry screen, free of widgets.
//
// Each function works like the screen always has: every step writes its result into the
// BonusScreen at once and later steps read it back (the five-decimal ratio texts included), so a
// step that fails leaves the fields written before it changed and the rest as they were. A
// failure comes back as a mox::Status whose message the screen shows as it stands.
//
// Database failures of the open/close kind go to prsDaoStatus, which reports them and ends the
// program, exactly as everywhere else in the programs.

#include "base/currency.h"
#include "base/status.h"
#include "kordao/kordao.h"
#include "mox110/bonusscreen.h"
#include "mox110/calccontext.h"

#include <stdexcept>

namespace mox110 {

/// The refusal of a figure too large for the money type: status -3 with the message the screen
/// shows, 「金額が大きすぎて計算できません。」. Every step below refuses such a figure with it.
mox::Status amountOverflow();
/// True when \p s is that refusal (and not another failure with the same code).
bool isAmountOverflow(const mox::Status& s);
/// Runs \p step (returning a mox::Status) and turns an amount that overflows the money type
/// into amountOverflow(); whatever \p step wrote before the overflow stays written.
template <class Step> mox::Status refuseOverflow(Step&& step)
{
    try {
        return step();
    } catch (const std::overflow_error&) {
        return amountOverflow();
    }
}

/// Period keys and rates, then the payment ratio texts (pay class 4: the class-4 ratio).
mox::Status prsZaiseki(BonusScreen& s, CalcContext& ctx);
/// Regional allowances, allowances, social and employment insurance, then prsGokei.
mox::Status prsKeisan(BonusScreen& s, CalcContext& ctx);
/// Totals and the income tax on the bonus; sets ctx.curKazeig.
mox::Status prsGokei(BonusScreen& s, CalcContext& ctx);

/// Employment insurance premium of GKKOYOU's first row, on its own "MOX.INI" connection.
mox::Result<Currency> prfKoyou(Currency amount);
/// The same premium from an already positioned GKKOYOU row.
mox::Result<Currency> koyouFromRow(KorDAO::Record row, Currency amount);

/// Income tax: standard method, no previous-month pay, more than ten times it.
mox::Result<Currency> prfSyotoku(const BonusScreen& s, CalcContext& ctx);
mox::Result<Currency> prfNoSyotoku(const BonusScreen& s, CalcContext& ctx);
mox::Result<Currency> prf10Syotoku(const BonusScreen& s, CalcContext& ctx);

} // namespace mox110
