#include "kornum/kornum.h"

#include "kornum_accessible.h"

#include "base/format.h"

#include <QAccessible>
#include <QFocusEvent>
#include <QFont>
#include <QPalette>
#include <QValidator>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace KorNumIn {
namespace {

// Largest count of integer digits a Currency holds safely (int64 / 10'000 has 15 digits).
constexpr int kMaxIntegerDigits = 14;

// Lets through only the texts the box accepts; anything else is refused whole, so junk pasted
// leaves the box as it was.
class MaskValidator final : public QValidator {
public:
    explicit MaskValidator(KorNum* box) : QValidator(box), m_box(box) {}

    State validate(QString& input, int&) const override
    {
        return m_box->acceptsInput(input) ? Acceptable : Invalid;
    }

private:
    const KorNum* m_box;
};

// The value of an edit text that acceptsInput() let through: "" "-" "." and "-." read 0.
Currency valueOfText(const QString& text)
{
    QString t = text;
    if (t.endsWith(u'.'))
        t.chop(1);
    if (t.isEmpty() || t == u"-")
        return Currency();
    if (t.startsWith(u'.'))
        t.prepend(u'0');
    else if (t.startsWith(u"-."))
        t.insert(1, u'0');
    return Currency::parse(t).value_or(Currency());
}

} // namespace

QString figureFamily()
{
    return QStringLiteral("DejaVu Sans Mono");
}

void useFigureFace(QWidget& box)
{
    // A font with nothing but its families and hinting set: size, weight and the rest still come
    // from the form, so the figures grow with the captions beside them. Fully hinted, the
    // smoothed point is a core of whole pixels on the baseline rather than a grey speck.
    QFont face;
    face.setFamilies({figureFamily(), QStringLiteral("IPAGothic")});
    face.setHintingPreference(QFont::PreferFullHinting);
    box.setFont(face);
}

KorNum::KorNum(QWidget* parent) : QLineEdit(parent)
{
    // Before anything below asks for the box's accessible interface, which Qt keeps once made.
    installKorNumAccessible();
    useFigureFace(*this);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Figures only: no input method composes text into the box.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setInputMethodHints(Qt::ImhFormattedNumbersOnly);
    setValidator(new MaskValidator(this));
    // Figures stay readable in a box that takes no input; only the background tells it apart.
    QPalette p = palette();
    p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
    setPalette(p);
    connect(this, &QLineEdit::textEdited, this, &KorNum::onTextEdited);
    showValue();
}

void KorNum::setValue(Currency value)
{
    m_value = value;
    showValue();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_value.toPlainString().toDouble());
        QAccessible::updateAccessibility(&event);
    }
}

void KorNum::setMask(const QString& mask)
{
    m_mask = mask;
    QString first = mask.section(u';', 0, 0);
    m_allowSign = first.startsWith(u'-');
    m_picture = mask;
    if (m_allowSign)
        m_picture.remove(0, 1);
    const qsizetype point = first.indexOf(u'.');
    m_decimals = 0;
    if (point >= 0) {
        for (qsizetype i = point + 1; i < first.size(); ++i) {
            if (first[i] == u'0' || first[i] == u'#')
                ++m_decimals;
        }
    }
    showValue();
}

void KorNum::setMaxLength(int length)
{
    m_maxLength = length < 0 ? 0 : length;
}

QString KorNum::displayText() const
{
    return mox::format(m_value, m_picture);
}

QString KorNum::editText() const
{
    if (m_value.isZero())
        return QString();
    // The value rounded half away from zero to the mask's decimals, trailing zeros dropped
    // ("0.####"). Formatted, not rounded as a Currency: a value at the edge of its range, such
    // as 922,337,203,685,477.5, rounds to a whole number the type cannot hold.
    return mox::format(m_value, u"0."_s + QString(m_decimals, u'#'));
}

bool KorNum::acceptsInput(const QString& text) const
{
    if (m_maxLength > 0 && text.size() > m_maxLength)
        return false;
    qsizetype i = 0;
    if (m_allowSign && text.startsWith(u'-'))
        i = 1;
    int intDigits = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i)
        ++intDigits;
    if (intDigits > kMaxIntegerDigits)
        return false;
    if (i == text.size())
        return true;
    if (m_decimals == 0 || text[i] != u'.')
        return false;
    int decDigits = 0;
    for (++i; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i)
        ++decDigits;
    return i == text.size() && decDigits <= m_decimals;
}

int KorNum::inputDecimals() const
{
    return std::min(m_decimals, 4);
}

namespace {

// The figure of \p digits nines and \p decimals nines after the point.
Currency nines(int digits, int decimals, bool negative)
{
    QString text = negative ? u"-"_s : QString();
    text += QString(std::max(digits, 1), u'9');
    if (decimals > 0)
        text += u'.' + QString(decimals, u'9');
    return Currency::parse(text).value_or(Currency());
}

// The nines that fit in \p length characters (0 = no limit) with up to \p decimals decimals.
Currency longestNines(int length, int decimals, bool negative)
{
    int room = length > 0 ? length - (negative ? 1 : 0) : kMaxIntegerDigits + 1 + decimals;
    if (decimals > 0 && room < decimals + 2)
        decimals = 0; // no room for a digit, the point and every decimal: whole figures only
    const int digits = std::min(kMaxIntegerDigits, room - (decimals > 0 ? decimals + 1 : 0));
    return nines(digits, decimals, negative);
}

} // namespace

Currency KorNum::largestInput() const
{
    return longestNines(m_maxLength, inputDecimals(), false);
}

Currency KorNum::smallestInput() const
{
    if (!m_allowSign)
        return Currency();
    return longestNines(m_maxLength, inputDecimals(), true);
}

Currency KorNum::inputStep() const
{
    const int decimals = inputDecimals();
    if (decimals == 0)
        return Currency::fromYen(1);
    return Currency::parse(u"0."_s + QString(decimals - 1, u'0') + u'1').value_or(Currency());
}

void KorNum::focusInEvent(QFocusEvent* event)
{
    // Coming back from a context menu or another window is not a new entry into the box.
    const bool entering = !m_editing;
    if (entering) {
        m_editing = true;
        showValue();
    }
    QLineEdit::focusInEvent(event);
    if (entering)
        Q_EMIT GotFocus();
}

void KorNum::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // A context menu or another window taking over leaves the box in its edit; the focus comes
    // back to it without the box being left.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    if (!m_editing)
        return;
    m_editing = false;
    showValue();
    Q_EMIT LostFocus();
}

void KorNum::showValue()
{
    setText(m_editing ? editText() : displayText());
}

void KorNum::onTextEdited(const QString& text)
{
    m_value = valueOfText(text);
}

} // namespace KorNumIn
