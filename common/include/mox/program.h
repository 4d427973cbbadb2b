#pragma once

// Which program is running: "mox110" or "mox030". Each program's main sets it once (startUp does
// it); the few behaviours that differ between the programs read it.

#include <QString>
#include <QStringView>

namespace mox {

/// Sets the program id ("mox110", "mox030"); compared case-insensitively by isProgram.
void setProgramId(const QString& id);
/// The id set last, or an empty text before the first setProgramId.
const QString& programId();
/// True when the running program is \p id (case-insensitive).
bool isProgram(QStringView id);

} // namespace mox
