#include "base/datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace mox {

QString shippedDataDir()
{
    if (QCoreApplication::instance()) {
        // The installed layout comes first, so a program installed on the machine it was built
        // on never reads the source tree it came from.
        const QString installed =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + u"/../share/mox"_s);
        if (QFileInfo(installed).isDir())
            return installed;
    }
    return QDir::cleanPath(QStringLiteral(MOX_DATA_DIR));
}

} // namespace mox
