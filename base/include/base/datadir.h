#pragma once

// Where the data the project ships (tax tables, overlay form, font configuration) is found.
//
//     const QString overlay = QDir(mox::shippedDataDir()).filePath(u"Mox030p.ovl"_s);

#include <QString>

namespace mox {

/// The folder of the shipped data, found from the running program's own place: an installed
/// program in <prefix>/bin reads <prefix>/share/mox (/usr/bin -> /usr/share/mox, or wherever the
/// package was unpacked), with no environment variable. A program run from the build tree (or
/// copied elsewhere, or a process without a QCoreApplication) has no such folder beside it and
/// reads the source tree's data folder instead. The path is returned cleaned; it may not exist
/// when neither does.
QString shippedDataDir();

} // namespace mox
