#pragma once

// The first start at a desk with no configuration: instead of a bare "file missing" status,
// the programs tell the operator how to create the databases.

#include <QString>

namespace mox {

/// The message for a desk where no folder of the database component's search holds MOX.INI:
/// where it was looked for and that "moxdb init" creates the databases and both INI files (or,
/// in an office, that the administrator provides them). Empty when MOX.INI is found.
QString missingIniNotice();

/// prsIniCheck: when missingIniNotice() is not empty, shows it (critical icon, OK, \p title)
/// and ends the program through shell() with exit code 1; otherwise returns at once.
void prsIniCheck(const QString& title);

/// prsSchemaCheck: opens the payroll ("MOX.INI") and the environment ("MOXENV.INI") database
/// and, when either records another schema version than this release's (a newer one; an older
/// one, or none while holding tables), shows the database component's message, which names both
/// versions or says to run "moxdb upgrade" (critical icon, OK, \p title), and ends the program
/// through shell() with exit code 1. A database that does not open is left to the program's own
/// open, which reports why. Each program calls it at start-up, before its forms read a table.
void prsSchemaCheck(const QString& title);

} // namespace mox
