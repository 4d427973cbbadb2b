#include "mox/accessible.h"

#include <QLabel>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace mox {

QString spokenText(const QString& text)
{
    QString spoken;
    spoken.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isSpace())
            spoken += c;
    }
    return spoken;
}

void nameByCaption(QLabel& caption, QWidget& box, const QString& unit, const QString& name)
{
    caption.setBuddy(&box);
    // Qt names a box after its buddy label only for some kinds of box (a drop-down list on X11
    // reads its current item instead), so the name is set as well.
    box.setAccessibleName(name.isEmpty() ? spokenText(caption.text()) : name);
    if (!unit.isEmpty())
        box.setAccessibleDescription(unit);
}

QString functionKeyName(int index, const QString& caption)
{
    QString name = u"F"_s + QString::number(index + 1);
    const QString spoken = spokenText(caption);
    if (!spoken.isEmpty())
        name += u' ' + spoken;
    return name;
}

} // namespace mox
