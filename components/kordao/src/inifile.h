#pragma once

// Finding and reading the configuration files ("MOX.INI", "MOXENV.INI") that locate a database.

#include "connection.h"

#include <QString>

#include <optional>

namespace KorDAO {

/// The file \p name from the first folder that holds it: $MOX_INI_DIR, the current folder,
/// $XDG_CONFIG_HOME/mox (default ~/.config/mox), /etc/mox. Empty when none does.
QString findIniFile(const QString& name);

/// Reads the [Database] section of \p path. Section and key names match without regard to case;
/// ";" or "#" starts a comment unless inside double quotes; a value may be double-quoted.
/// On failure returns nullopt with the status (-1, -18, -20) and a message naming the cause.
std::optional<DbSettings> readDbSettings(const QString& path, short* status, QString* error);

} // namespace KorDAO
