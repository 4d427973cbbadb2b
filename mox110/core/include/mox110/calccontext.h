#pragma once

// CalcContext: what the calculation of one call-up works with besides the screen: the employee
// and the management record, the saved taxable amount, the income-tax object and the sources of
// the employment insurance premium and the rounding points.

#include "base/currency.h"
#include "base/status.h"
#include "mox110/records.h"

#include <QString>

#include <functional>
#include <utility>

namespace KorTAX {
class clsTax;
}

namespace mox110 {

struct BonusScreen;

/// Everything the calculation needs besides the screen.
struct CalcContext {
    JinjiRecord jinji; // the employee on screen
    KanriRecord kanri; // the management record
    /// The saved taxable amount (KAZEIG of the bonus record); lives as long as the program.
    Currency curKazeig;
    /// The income-tax object owned by the form (SYOTOKU); required by prsGokei.
    KorTAX::clsTax* tax = nullptr;
    /// The processing month as the screen's month label shows it ("令和 8年12月分"); names the
    /// month in messages. Empty: the Western year and month are used.
    QString monthCaption;

    /// Employment insurance premium for a bonus; empty means prfKoyou (own connection per call).
    std::function<mox::Result<Currency>(Currency)> koyou;
    /// Loads the rounding points of name-table kind 6 and returns the complements
    /// (1 − KENKO, 1 − KOSEI); empty means the shared name-table module, loaded on every call.
    std::function<std::pair<Currency, Currency>()> roundingComplements;
    /// Fills the previous month's taxable pay and tax (nu1Zenkaz, nu1Zenzei) of ctx.jinji at the
    /// call-up of a new entry; empty means prsReadZenge (one read of the employee's pay). A run
    /// over many employees reads the month's pay once and hands each his own.
    std::function<mox::Status(BonusScreen&)> previousPay;
};

/// Loads name-table kind 6 (its own "MOXENV.INI" connection) and returns the rounding
/// complements (1 − KENKO, 1 − KOSEI) held by the name-table module: the last loaded values, 0
/// until a load succeeds.
std::pair<Currency, Currency> nameTableComplements();

} // namespace mox110
