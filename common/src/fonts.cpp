#include "mox/fonts.h"

#include <QFont>

using namespace Qt::StringLiterals;

namespace mox {

QString gothicFamily()
{
    return u"ＭＳ ゴシック"_s;
}

void installFonts()
{
    const QString target = u"IPAGothic"_s;
    QFont::insertSubstitution(gothicFamily(), target);
    QFont::insertSubstitution(u"MS Gothic"_s, target);
}

} // namespace mox
