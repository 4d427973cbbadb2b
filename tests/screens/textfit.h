#pragma once

// Whether the text of a control fits the rectangle its style draws it in, measured with the
// control's own font: a caption, a figure in a box, every item of a list, a button's caption.

#include <QStringList>

class QWidget;

namespace textfit {

/// One line per visible control of \p window (and its children) whose text does not fit:
/// "name (kind): text needs W x H, has W x H". Empty when everything fits.
QStringList clipped(const QWidget& window);

} // namespace textfit
