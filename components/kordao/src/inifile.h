#pragma once

// Finding and reading the configuration files ("MOX.INI", "MOXENV.INI") that locate a database.

#include "connection.h"

#include <QString>

namespace KorDAO {

/// The file \p name from the first folder that holds it: $MOX_INI_DIR, the current folder (when
/// it is the user's own and closed to others),
/// $XDG_CONFIG_HOME/mox (default ~/.config/mox), /etc/mox. Empty when none does.
QString findIniFile(const QString& name);

/// Reads the [Database] section of \p path. The file is UTF-8 (with or without a byte order mark)
/// or CP932. Section and key names match without regard to case; a line whose first character
/// other than blanks is ";" or "#" is a comment, and elsewhere both are part of the value; a
/// value may be double-quoted to keep blanks at its ends. A file that group or others may read
/// and that holds a non-empty Password= gets a warning naming it on standard error and through
/// the warning notice (once per file and process). On failure the status (kOpenFailed,
/// kBadSetting, kDatabaseMissing) and a message naming the cause.
mox::Result<DbSettings> readDbSettings(const QString& path);

/// Hands \p text to the warning notice installed by setNotices, if any.
void noticeWarning(const QString& text);
/// Hands an opened database to the notice installed by setNotices, if any.
void noticeOpened(const QString& iniName, const QString& location);

} // namespace KorDAO
