#include "mox110ui/boxbindings.h"

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include <type_traits>

namespace mox110ui {
namespace {

using mox110::BonusScreen;

// The kind of box each kind of field needs.
QWidget* boxFor(const QWidget& form, const BoxBinding& b)
{
    const QString name = QString::fromUtf16(b.name);
    QWidget* w = nullptr;
    if (std::holds_alternative<Currency BonusScreen::*>(b.field))
        w = form.findChild<KorNumIn::KorNum*>(name);
    else if (std::holds_alternative<mox110::ListChoice BonusScreen::*>(b.field))
        w = form.findChild<QComboBox*>(name);
    else
        w = form.findChild<QLineEdit*>(name);
    if (!w)
        qFatal("frmMox110: no box %s of the kind its field needs", qPrintable(name));
    return w;
}

} // namespace

BoundBoxes::BoundBoxes(const QWidget& form)
{
    m_boxes.reserve(boxBindings().size());
    for (const BoxBinding& b : boxBindings())
        m_boxes.push_back(Bound{boxFor(form, b), &b});
}

mox110::BonusScreen BoundBoxes::read() const
{
    mox110::BonusScreen s;
    for (const Bound& b : m_boxes) {
        std::visit(
            [&](auto field) {
                using T = std::remove_reference_t<decltype(s.*field)>;
                if constexpr (std::is_same_v<T, Currency>)
                    s.*field = static_cast<KorNumIn::KorNum*>(b.widget)->value();
                else if constexpr (std::is_same_v<T, mox110::ListChoice>)
                    s.*field =
                        mox110::deductionChoice(static_cast<QComboBox*>(b.widget)->currentIndex());
                else
                    s.*field = static_cast<QLineEdit*>(b.widget)->text();
            },
            b.binding->field);
    }
    return s;
}

void BoundBoxes::write(const mox110::BonusScreen& s) const
{
    for (const Bound& b : m_boxes) {
        std::visit(
            [&](auto field) {
                using T = std::remove_cvref_t<decltype(s.*field)>;
                if constexpr (std::is_same_v<T, Currency>)
                    static_cast<KorNumIn::KorNum*>(b.widget)->setValue(s.*field);
                else if constexpr (std::is_same_v<T, mox110::ListChoice>)
                    static_cast<QComboBox*>(b.widget)->setCurrentIndex((s.*field).listIndex);
                else
                    static_cast<QLineEdit*>(b.widget)->setText(s.*field);
            },
            b.binding->field);
    }
}

std::vector<BoundBoxes::Recalculating> BoundBoxes::recalculatingBoxes() const
{
    std::vector<Recalculating> out;
    for (const Bound& b : m_boxes) {
        if (b.binding->recalc != Recalc::None)
            out.push_back(Recalculating{b.widget, b.binding->recalc});
    }
    return out;
}

} // namespace mox110ui
