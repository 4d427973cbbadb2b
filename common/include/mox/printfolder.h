#pragma once

// Where the ledger program writes its print files (OVL.TMP and Mox030.pdf), and whether the
// finished PDF is shown.
//
//     const mox::PrintSettings settings = mox::printSettings();      // [Print] of MOX.INI
//     mox::Result<QString> folder = mox::printFolder(programDir, settings);
//     if (const mox::Status *s = mox::failure(folder)) ...             // message names the folder
//
// The print files hold every chosen employee's salaries, so a folder this module makes is the
// user's alone (0700), a folder others may write in is refused (they could plant links or files
// there), and the files in it are made 0600, never through a link, by their writers.

#include "base/status.h"

#include <QString>

namespace mox {

/// The [Print] section of MOX.INI.
struct PrintSettings {
    QString folder;   // Folder=: absolute, or relative to the INI file's folder; empty when unset
    bool open = true; // Open=: 0 leaves the finished PDF unshown
};

/// Reads [Print] of the INI file \p iniPath (UTF-8 or CP932; section and key names without
/// regard to case; ";" or "#" first on a line starts a comment). A missing file or section gives
/// the defaults.
PrintSettings readPrintSettings(const QString& iniPath);

/// [Print] of the MOX.INI the database component would open (its search order); the defaults
/// when there is none.
PrintSettings printSettings();

/// The print folder: Folder= of \p settings when given (made 0700 if missing); else \p programDir
/// when the program may write there, it is the user's own and it is not a system folder below
/// /usr (a build tree); else dataFolder("print"). An existing folder is used only when it is no
/// symbolic link, belongs to the user (or root) and neither group nor others may write in it; a
/// folder refused, or one that cannot be made or written, is a failure whose message names it
/// and says why.
Result<QString> printFolder(const QString& programDir, const PrintSettings& settings);

/// $XDG_DATA_HOME/mox (default ~/.local/share/mox), and \p sub in it when given: each made 0700
/// if missing and made 0700 again when the user's own one was left open to others. A link or a
/// folder of another user in their place is a failure naming it.
Result<QString> dataFolder(const QString& sub = {});

} // namespace mox
