#pragma once

// The boxes of the entry screen bound to the screen's values through the table of
// "mox110/screenfields.h": the form reads, writes and connects its boxes through it only.

#include "kornum/kornum.h"
#include "mox110/screenfields.h"

#include <QString>

#include <span>
#include <variant>
#include <vector>

class QWidget;

namespace mox110ui {

using mox110::BoxBinding;
using mox110::boxBindings;
using mox110::Recalc;
using mox110::ScreenField;

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
