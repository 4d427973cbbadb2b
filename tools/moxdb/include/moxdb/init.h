#pragma once

// Creating the payroll and environment databases: the configuration files, the tables, and
// the further steps other components add (the tax tables).

#include "moxdb/database.h"

#include "kordao/schema.h"

#include "base/status.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <vector>

namespace moxdb {

inline const QString kPayrollIni = QStringLiteral("MOX.INI");
inline const QString kEnvironmentIni = QStringLiteral("MOXENV.INI");

/// The path of the configuration file \p name in the first of \p folders that holds it, or an
/// empty text.
QString findIni(const QString& name, const QStringList& folders);

struct IniFiles {
    QString payroll;      // path of MOX.INI
    QString environment;  // path of MOXENV.INI
    bool written = false; // both were missing and were written with defaults
};

/// Finds both configuration files in \p folders. When neither exists, writes default SQLite
/// files into \p defaultDir: MOX.INI naming mox.db and MOXENV.INI naming moxenv.db, both in
/// that folder, or, when \p databaseDir is given, in that folder (made 0700 when missing: the
/// databases hold salaries) and named by their absolute paths. Only one of the two existing is
/// a failure that names the missing file.
mox::Result<IniFiles> ensureIniFiles(const QStringList& folders, const QString& defaultDir,
                                     const QString& databaseDir = {});

/// One more piece of work of "moxdb init", run after the tables exist. It must be idempotent.
struct InitStep {
    QString name; // shown while it runs
    mox::Status (*run)(Database& payroll, Database& environment);
};

/// Adds a step to those "moxdb init" runs after creating the tables; main.cpp registers them,
/// and they run in the order registered.
void addInitStep(const InitStep& step);
const std::vector<InitStep>& initSteps();

/// Loads every tax table edition shipped with the programs into the environment database
/// (taxcommand.cpp).
mox::Status loadShippedTaxTables(Database& payroll, Database& environment);

/// The group roles of an office's PostgreSQL server (moxdb init --roles).
using RoleNames = KorDAO::RoleSet;

/// Refuses role set-up when a database named by the configuration files is on SQLite (only a
/// PostgreSQL server has logins) or is reached with a login that is not the server's superuser;
/// databases that do not open yet are left to initDatabases (and setUpRoles).
mox::Status checkRolesPossible();

/// Creates the roles \p roles when missing and sets their rights in both databases (see
/// KorDAO::grantRoles); both must be on a PostgreSQL server and hold their tables.
mox::Status setUpRoles(const RoleNames& roles, QTextStream& log);

/// Opens (creating when missing) both databases named by the configuration files, creates
/// their tables where missing and runs \p steps. Existing tables and records are kept, so
/// running it again changes nothing. Progress goes to \p log.
mox::Status initDatabases(const std::vector<InitStep>& steps, QTextStream& log);

} // namespace moxdb
