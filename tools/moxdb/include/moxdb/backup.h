#pragma once

// Backups of an office's two databases, and their restore.
//
//     QTextStream out(stdout);
//     if (mox::Status s = moxdb::makeBackup(QString(), u"/srv/backup/mox-2026-12-08.moxbak"_s,
//     out);
//         !s.ok())
//         fail(s.message);                         // nothing was left at the file's name
//
// A backup is one POSIX tar file (ustar, readable with `tar tvf`) holding, in this order:
//   manifest.txt                 what the backup holds (see below)
//   MOX.sqlite, MOXENV.sqlite    SQLite: a consistent copy of each database (VACUUM INTO),
//                                checked with PRAGMA integrity_check
//   MOX.pgdump, MOXENV.pgdump    PostgreSQL: pg_dump --format=custom of each database,
//                                checked with pg_restore --list
// The manifest is "key=value" lines in UTF-8: the format, the release, the schema version, the
// engine, the time, the record count of every table of each database and the sha256 of each
// member. The file is written under a temporary name in the target folder, mode 0600, and renamed
// into place only when everything was written and checked.

#include "moxdb/command.h"

#include "base/status.h"

#include <QString>
#include <QTextStream>

namespace moxdb {

/// Writes a backup of both databases ("MOX.INI" and "MOXENV.INI") to \p file and reports what it
/// did on \p out. \p iniDir, when not empty, is the only folder whose configuration files count
/// (as --dir: it confines the search for the rest of the process); empty: the usual search, or
/// the folder an earlier --dir chose. On failure the system's message, naming the database or
/// file, and nothing at \p file (an older file of that name stays as it was).
mox::Status makeBackup(const QString& iniDir, const QString& file, QTextStream& out);

/// Restores the backup \p file into the databases of the configuration (\p iniDir as for
/// makeBackup). They must be of the backup's engine and hold no record in the payroll tables,
/// unless \p replace. A failure writes neither database (SQLite: the environment database is put
/// back when the payroll database fails). On PostgreSQL both are loaded in open transactions and
/// committed together, so a killed process writes neither too; on SQLite one killed between the
/// two replacements leaves the environment database restored alone, until a restore is run
/// again. Afterwards the record counts and checksums are compared with the manifest.
mox::Status restoreBackup(const QString& iniDir, const QString& file, bool replace,
                          QTextStream& out);

/// The commands "backup" and "restore" (backupcommand.cpp).
Command backupCommand();
Command restoreCommand();

} // namespace moxdb
