#pragma once

// KorNum: the numeric input box of the payroll screens.
//
// A right-aligned line edit whose value is a Currency. Two properties set at design time govern
// it: the edit mask, a number picture ("#", "###", "-#,###", "#,##0.0000", "#0.000;#0.000;#"),
// and the maximum length of what may be typed. Without the focus the box shows its value
// formatted by the mask (a leading "-" of the mask only allows negative input and is not shown
// for positive values); with the focus it shows the plain number ("-1234.5") for editing.
//
// What the operator may type is what the mask allows: digits; one leading minus only when the
// mask starts with "-"; a decimal point and at most as many decimals as the mask's first section
// has, only when it has any; never more characters than the maximum length. Text that breaks
// these rules, typed or pasted, is refused as a whole. An empty box (or a lone "-" or ".") reads
// 0. Leaving the box without typing keeps the value exactly as it was set, even when the mask
// shows fewer decimals than the value has.
//
//     KorNumIn::KorNum box;
//     box.setMask(u"-#,###"_s);
//     box.setMaxLength(12);
//     box.setValue(Currency::fromYen(-1234));   // shows "-1,234"
//
// The figures are drawn in figureFamily(), a monospaced face whose digits share one width and
// whose decimal point is a round dot sitting on the baseline, so that 6.126 never reads as 6,126.
// Only the family is the box's own: the size follows the form, so the layout keeps its
// proportions at every font setting of the desktop.

#include "base/currency.h"

#include <QLineEdit>
#include <QString>

namespace KorNumIn {

/// The face the figures are drawn in: DejaVu Sans Mono (Debian's fonts-dejavu-core).
QString figureFamily();

/// Gives \p box (a KorNum, or a text box that shows figures) the figure face, falling back to
/// the gothic of the form when the face is missing; the size stays the one it inherits.
void useFigureFace(QWidget& box);

class KorNum : public QLineEdit {
    Q_OBJECT

public:
    explicit KorNum(QWidget* parent = nullptr);

    Currency value() const { return m_value; }
    void setValue(Currency value);

    /// The edit mask: a number picture; see the file comment for what it allows.
    void setMask(const QString& mask);
    const QString& mask() const { return m_mask; }

    /// Most characters the operator may type (sign and point included); 0 = no limit. The
    /// formatted display is never cut by it.
    void setMaxLength(int length);
    int maxLength() const { return m_maxLength; }

    /// The text shown while the box does not have the focus.
    QString displayText() const;
    /// The text shown for editing while the box has the focus.
    QString editText() const;

    /// True when \p text may stand in the box while it is being edited.
    bool acceptsInput(const QString& text) const;

    /// How many decimals the operator may type (the mask's, at most the four a Currency holds).
    int inputDecimals() const;
    /// The largest and the smallest figure the operator may type, and the smallest step between
    /// two figures (what a screen reader announces as the box's range).
    Currency largestInput() const;
    Currency smallestInput() const;
    Currency inputStep() const;

Q_SIGNALS:
    /// The box received the focus; the plain number is already in place.
    void GotFocus();
    /// The box lost the focus; the typed text is already committed to value().
    void LostFocus();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showValue();
    void onTextEdited(const QString& text);

    Currency m_value;
    QString m_mask = QStringLiteral("#");
    QString m_picture = QStringLiteral("#"); // the mask as shown: without the sign marker
    bool m_allowSign = false;
    int m_decimals = 0;
    int m_maxLength = 0;
    bool m_editing = false;
};

} // namespace KorNumIn
