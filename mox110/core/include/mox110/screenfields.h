#pragma once

// The values of the entry screen by name: each box's object name, the BonusScreen field it shows
// and the recalculation a change of it starts. The screen binds its boxes through this table and
// the administration tool prints a calculated screen through it, so a box is added or moved in
// one place.

#include "mox110/bonusscreen.h"

#include <span>
#include <variant>

namespace mox110 {

/// What a change of a box starts once the box is left with another value.
enum class Recalc {
    None,          // nothing: a figure worked out, or one only stored
    Keisan,        // allowances, insurance and totals (prsKeisan)
    ZaisekiKeisan, // period rates and ratios first (prsZaiseki), then prsKeisan
};

/// The field of BonusScreen a box shows: an amount (KorNum), a list's choice (QComboBox) or a
/// text (QLineEdit).
using ScreenField =
    std::variant<Currency BonusScreen::*, ListChoice BonusScreen::*, QString BonusScreen::*>;

struct BoxBinding {
    const char16_t* name; // the box's object name, as the layout gives it
    ScreenField field;
    Recalc recalc;
};

/// Every bound box of the entry screen, in the field order of BonusScreen.
std::span<const BoxBinding> boxBindings();

} // namespace mox110
