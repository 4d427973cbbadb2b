#pragma once

// The boxes of the entry screen bound to the screen's values: one table names each box (its
// object name), the BonusScreen field it shows and the recalculation a change of it starts. The
// form reads, writes and connects its boxes through this table only, so a box is added or moved
// in one place.

#include "kornum/kornum.h"
#include "mox110/bonusscreen.h"

#include <QString>

#include <span>
#include <variant>
#include <vector>

class QWidget;

namespace mox110ui {

/// What a change of a box starts once the box is left with another value.
enum class Recalc {
    None,          // nothing: a figure worked out, or one only stored
    Keisan,        // allowances, insurance and totals (prsKeisan)
    ZaisekiKeisan, // period rates and ratios first (prsZaiseki), then prsKeisan
};

/// The field of BonusScreen a box shows: an amount (KorNum), a list's choice (QComboBox) or a
/// text (QLineEdit).
using ScreenField =
    std::variant<Currency mox110::BonusScreen::*, mox110::ListChoice mox110::BonusScreen::*,
                 QString mox110::BonusScreen::*>;

struct BoxBinding {
    const char16_t* name; // the box's object name, as the layout gives it
    ScreenField field;
    Recalc recalc;
};

/// Every bound box of the entry screen, in the order values are copied (the field order of
/// BonusScreen).
std::span<const BoxBinding> boxBindings();

/// The bound boxes of one form, found once by their object names.
class BoundBoxes {
public:
    /// Finds every box of boxBindings() among the children of \p form. A box that is missing or
    /// of the wrong kind is a fault of the layout and ends the program with its name.
    explicit BoundBoxes(const QWidget& form);

    /// The values the boxes hold.
    mox110::BonusScreen read() const;
    /// Shows \p s in the boxes. Lists change their selection, which raises their change signal.
    void write(const mox110::BonusScreen& s) const;

    /// A box whose change starts a recalculation: an amount box (KorNum) once it is left with
    /// another value, a list (QComboBox) as soon as its selection changes.
    struct Recalculating {
        QWidget* box;
        Recalc recalc;
    };
    std::vector<Recalculating> recalculatingBoxes() const;

private:
    struct Bound {
        QWidget* widget;
        const BoxBinding* binding;
    };
    std::vector<Bound> m_boxes;
};

} // namespace mox110ui
