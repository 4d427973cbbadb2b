#pragma once

// Screen helpers of both programs: twips, centring, the function-key row and its keys.
// Positions and sizes of the forms are given in twips, 1440 to the inch: at the usual 96 DPI one
// logical pixel is 15 twips. Where the desktop enlarges its fonts without scaling the screen
// (a logical DPI above 96), a pixel is fewer twips, so the forms grow with their fonts.

#include "mox/compfmode.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <array>
#include <functional>
#include <span>

class QPushButton;
class QWidget;

namespace mox {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kBaseDpi = 96;

/// The logical DPI of the primary screen, which the fonts are sized by (96 without a screen).
int logicalDpi();
/// Twips to logical pixels at \p dpi, rounded to the nearest pixel (halves away from zero).
int twipsToPixels(int twips, int dpi);
/// Twips to logical pixels at logicalDpi().
int twipsToPixels(int twips);
/// A rectangle given in twips (left, top, width, height), in pixels.
QRect twipsRect(int left, int top, int width, int height);
/// A size given in twips, in pixels.
QSize twipsSize(int width, int height);

/// Where a form of \p frame size goes on a screen of \p screen geometry: centred, and at the top
/// of the screen when the centred top would be 480 twips (32 px) or less.
QPoint centredPosition(QSize frame, QRect screen);
/// Moves \p form to centredPosition on its screen.
void centreForm(QWidget& form);

/// Sees F1 to F12 (with any modifier) before any widget of one form does, calls the press
/// action with the key's index 0 to 11 and swallows the key, also in a drop-down list of the
/// form. Other keys, keys for other windows (dialogs and message boxes included) and keys while
/// the form is disabled pass unchanged. Installed on the application by the
/// constructor; removed when it is destroyed (it is a child of the form).
class FunctionKeyFilter : public QObject {
    Q_OBJECT
public:
    FunctionKeyFilter(QWidget& form, std::function<void(int index)> press);
    ~FunctionKeyFilter() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool belongsToForm(const QWidget* widget) const;

    QWidget& m_form;
    std::function<void(int)> m_press;
};

/// Puts the function keys \p keys in mode \p mode: sets the key flags (prsPFModeSet with
/// pfModesOf), and gives each of \p buttons its caption (pfCaptionOf) and enables it by its
/// flag.
void setFunctionKeys(std::span<QPushButton* const, 12> buttons, std::span<const FunctionKey> keys,
                     int mode);

/// Creates the twelve buttons cmdPFKEY(0) to cmdPFKEY(11) on \p parent at \p lefts (twips) on one
/// row at \p top, each \p width x \p height twips, named "cmdPFKEY_<i>"; a click focuses the
/// button, as leaving an edited box must be seen. The buttons belong to \p parent.
std::array<QPushButton*, 12> createPFKeys(QWidget& parent, std::span<const int, 12> lefts, int top,
                                          int width, int height);

} // namespace mox
