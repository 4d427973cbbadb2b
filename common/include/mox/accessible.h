#pragma once

// What screen readers hear of the programs' screens: the names of the boxes, taken from the
// captions beside them, and the names of the function-key buttons.

#include <QString>

class QLabel;
class QWidget;

namespace mox {

/// \p text as it is spoken: line breaks, ideographic and other blanks dropped, so that a caption
/// spaced out for the eye ("給　料", a frame label written top to bottom) reads as one word.
QString spokenText(const QString& text);

/// Makes \p caption the label of \p box (its buddy, which screen readers follow as the box's
/// "labelled by" relation) and names the box after it. \p name, when given, is the name instead
/// (two boxes sharing one caption); \p unit becomes the box's description ("円", "％").
void nameByCaption(QLabel& caption, QWidget& box, const QString& unit = QString(),
                   const QString& name = QString());

/// The accessible name of function-key button \p index (0 = F1) with \p caption: the key and the
/// caption as spoken ("F11 読込"), the key alone without a caption ("F2").
QString functionKeyName(int index, const QString& caption);

} // namespace mox
