#include "kornum_accessible.h"

#include "kornum/kornum.h"

#include <QAccessibleWidget>
#include <QFontMetrics>

#include <algorithm>

namespace KorNumIn {
namespace {

// Screen readers read numbers as doubles; the figure travels as its decimal text, so the value
// they get is the nearest double to the exact amount (every yen amount of the screens is exact).
double toAccessibleNumber(Currency c)
{
    return c.toPlainString().toDouble();
}

class KorNumAccessible final : public QAccessibleWidget,
                               public QAccessibleValueInterface,
                               public QAccessibleTextInterface {
public:
    explicit KorNumAccessible(KorNum* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    KorNum* box() const { return static_cast<KorNum*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !box()->isReadOnly();
        s.readOnly = box()->isReadOnly();
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return box()->text();
        return QAccessibleWidget::text(t);
    }

    // --- value: the box's amount; what the mask and length let the operator type bound it.
    QVariant currentValue() const override { return toAccessibleNumber(box()->value()); }
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override { return toAccessibleNumber(box()->largestInput()); }
    QVariant minimumValue() const override { return toAccessibleNumber(box()->smallestInput()); }
    QVariant minimumStepSize() const override { return toAccessibleNumber(box()->inputStep()); }

    // --- text: what the box shows now (the formatted figure, or the plain one while edited).
    void selection(int index, int* start, int* end) const override;
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { box()->deselect(); }
    void setSelection(int, int start, int end) override { box()->setSelection(start, end - start); }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QString text(int start, int end) const override
    {
        const QString all = box()->text();
        start = std::clamp(start, 0, static_cast<int>(all.size()));
        end = std::clamp(end, start, static_cast<int>(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(box()->text().size()); }
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override
    {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = offset;
        *end = offset;
        return QString();
    }
};

void KorNumAccessible::setCurrentValue(const QVariant& value)
{
    // Only what the operator could type: an enabled box, a figure within its mask and length.
    if (!box()->isEnabled() || box()->isReadOnly())
        return;
    const std::optional<Currency> c =
        Currency::parse(QString::number(value.toDouble(), 'f', box()->inputDecimals()));
    if (c && box()->acceptsInput(c->toPlainString()))
        box()->setValue(*c);
}

void KorNumAccessible::selection(int index, int* start, int* end) const
{
    *start = 0;
    *end = 0;
    if (index != 0 || !box()->hasSelectedText())
        return;
    *start = box()->selectionStart();
    *end = *start + static_cast<int>(box()->selectedText().size());
}

QRect KorNumAccessible::characterRect(int offset) const
{
    // The figures are right-aligned: a character ends where the advance of what follows it
    // begins, counted from the right edge of the text area. Close enough for a magnifier to
    // follow; a box wider than its text never scrolls.
    KorNum* b = box();
    const QString all = b->text();
    if (offset < 0 || offset >= all.size())
        return QRect();
    const QFontMetrics metrics(b->font());
    const QRect area = b->contentsRect().marginsRemoved(b->textMargins());
    const int right = area.right() - 1 - metrics.horizontalAdvance(all.mid(offset + 1));
    const int width = metrics.horizontalAdvance(all.at(offset));
    const QRect local(right - width + 1, area.center().y() - metrics.height() / 2, width,
                      metrics.height());
    return QRect(b->mapToGlobal(local.topLeft()), local.size());
}

QAccessibleInterface* korNumFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("KorNumIn::KorNum") && object && object->isWidgetType())
        return new KorNumAccessible(static_cast<KorNum*>(object));
    return nullptr;
}

} // namespace

void installKorNumAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(korNumFactory);
        return true;
    }();
    (void)installed;
}

} // namespace KorNumIn
