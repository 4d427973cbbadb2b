#include "mox/screen.h"

#include "mox/accessible.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace mox {

int twipsToPixels(int twips, int dpi)
{
    // 1440 twips to the inch; halves away from zero, in integers.
    const long long scaled = static_cast<long long>(twips < 0 ? -twips : twips) * dpi;
    const int pixels = static_cast<int>((scaled + kTwipsPerInch / 2) / kTwipsPerInch);
    return twips < 0 ? -pixels : pixels;
}

int logicalDpi()
{
    // Qt scales a desktop's larger fonts into whole logical pixels and reports 96 here; with
    // that scaling switched off the fonts grow alone, and the forms must grow with them.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int dpi = screen ? qRound(screen->logicalDotsPerInchY()) : 0;
    return dpi > 0 ? dpi : kBaseDpi;
}

int twipsToPixels(int twips)
{
    return twipsToPixels(twips, logicalDpi());
}

QRect twipsRect(int left, int top, int width, int height)
{
    const int dpi = logicalDpi();
    return QRect(twipsToPixels(left, dpi), twipsToPixels(top, dpi), twipsToPixels(width, dpi),
                 twipsToPixels(height, dpi));
}

QSize twipsSize(int width, int height)
{
    const int dpi = logicalDpi();
    return QSize(twipsToPixels(width, dpi), twipsToPixels(height, dpi));
}

QPoint centredPosition(QSize frame, QRect screen)
{
    const int left = screen.x() + (screen.width() - frame.width()) / 2;
    int top = (screen.height() - frame.height()) / 2;
    if (top <= twipsToPixels(480))
        top = 0;
    return QPoint(left, screen.y() + top);
}

void centreForm(QWidget& form)
{
    const QScreen* screen = form.screen();
    if (!screen)
        return;
    // The frame is known only once the window is shown; before that the client size stands in.
    const QSize frame = form.isVisible() ? form.frameGeometry().size() : form.size();
    form.move(centredPosition(frame, screen->geometry()));
}

FunctionKeyFilter::FunctionKeyFilter(QWidget& form, std::function<void(int index)> press)
    : QObject(&form), m_form(form), m_press(std::move(press))
{
    QCoreApplication::instance()->installEventFilter(this);
}

FunctionKeyFilter::~FunctionKeyFilter()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool FunctionKeyFilter::belongsToForm(const QWidget* widget) const
{
    // A drop-down list of the form is a popup window of its own but still part of the form;
    // a dialog or message box opened by the form is not.
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (w == &m_form)
            return true;
        if (w->isWindow() && w->windowType() != Qt::Popup)
            return false;
    }
    return false;
}

bool FunctionKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() < Qt::Key_F1 || key->key() > Qt::Key_F12)
        return false;
    if (!belongsToForm(qobject_cast<QWidget*>(watched)) || !m_form.isEnabled())
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Claim the key so no shortcut takes it; the press itself comes as a KeyPress.
        event->accept();
        return true;
    }
    m_press(key->key() - Qt::Key_F1);
    return true;
}

void setFunctionKeys(std::span<QPushButton* const, 12> buttons, std::span<const FunctionKey> keys,
                     int mode)
{
    prsPFModeSet(pfModesOf(keys, mode));
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const int index = static_cast<int>(i);
        const QString caption = pfCaptionOf(keys, index, mode);
        buttons[i]->setText(caption);
        buttons[i]->setAccessibleName(functionKeyName(index, caption));
        buttons[i]->setEnabled(pfModeFlag(index));
    }
}

std::array<QPushButton*, 12> createPFKeys(QWidget& parent, std::span<const int, 12> lefts, int top,
                                          int width, int height)
{
    std::array<QPushButton*, 12> buttons{};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        auto* b = new QPushButton(&parent);
        b->setObjectName(u"cmdPFKEY_"_s + QString::number(i));
        b->setFocusPolicy(Qt::StrongFocus);
        b->setAutoDefault(false);
        b->setGeometry(twipsRect(lefts[i], top, width, height));
        b->setAccessibleName(functionKeyName(static_cast<int>(i), QString()));
        buttons[i] = b;
    }
    return buttons;
}

} // namespace mox
