#pragma once

// The tables of the payroll database (GKKANRI, GKJINJI, GKKYUYO, GKKOYOU) and of the environment
// database ("名設定"), created through KorDAO on SQLite or PostgreSQL:
//
//     KorDAO::clsDbAccess db;
//     db.setDBIniNameString(u"MOX.INI"_s);
//     db.setCreateIfMissing(true);
//     if (db.DAO_DBOpen() == 0)
//         mox::Status s = KorDAO::createPayrollSchema(db.DBDatabase());
//
// Every code, count, date, amount and rate field is NOT NULL DEFAULT 0, so a record inserted with
// only some fields reads cleanly; texts may be NULL. Amounts and rates hold four decimals (SQLite
// plain numbers, PostgreSQL NUMERIC(19,4)). Creation is idempotent: existing tables and indexes
// are kept as they are.

#include "base/status.h"
#include "kordao/kordao.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace KorDAO {

enum class FieldType {
    Integer, // codes, counts, dates yyyymmdd, year-months yyyymm
    Amount,  // yen amounts and rates, exact to four decimals
    Text,
};

struct FieldDef {
    QString name;
    FieldType type;
};

struct TableDef {
    QString name;
    std::vector<FieldDef> fields;
    QStringList primaryKey;           // empty: none
    std::vector<QStringList> indexes; // each a list of fields
};

/// Creates \p table and its indexes unless they exist, in one transaction.
mox::Status createTable(const DatabaseHandle& db, const TableDef& table);

/// The tables of the payroll database, with their keys and indexes.
std::vector<TableDef> payrollTables();
/// The name table "名設定" of the environment database.
TableDef nameTable();

/// The payroll tables and the audit table KORDAO_AUDIT, with the triggers that record every
/// change to them, whoever makes it: time, database login and client address (PostgreSQL),
/// OS user, host and program (as the writing program reports them), table, key (and SYOKCD),
/// action (INSERT, UPDATE, DELETE; BULK INSERT, BULK DELETE, CLEAR for the administration
/// tool's loads and for TRUNCATE) and the fields as JSON [["FIELD", old, new], …] ({"records":
/// n} for the bulk actions). Records kSchemaVersion in a database it makes; one that records
/// another version, or none while holding tables, is refused (kSchemaTooNew, kSchemaTooOld)
/// and left as it is. On a database of kSchemaVersion it adds what is missing.
mox::Status createPayrollSchema(const DatabaseHandle& db);
/// The audit table alone (part of createPayrollSchema).
mox::Status createAuditTable(const DatabaseHandle& db);
/// The name table; the version as createPayrollSchema records and checks it.
mox::Status createEnvironmentSchema(const DatabaseHandle& db);

/// True when \p db is a PostgreSQL database (false for SQLite).
bool isPostgres(const DatabaseHandle& db);

/// The two databases, for what grantRoles allows in each.
enum class DatabaseKind { Payroll, Environment };

// Schema versions (schemaversion.cpp). Each database records the version of its tables: SQLite
// in the header's user_version, PostgreSQL in the one-row table KORDAO_VERSION. The programs
// and the administration tool work only on a database of this release's version:
//
//     if (mox::Status s = KorDAO::checkSchemaVersion(db, KorDAO::DatabaseKind::Payroll); !s.ok())
//         refuse(s.message); // kSchemaTooNew or kSchemaTooOld, both versions named
//
// createPayrollSchema and createEnvironmentSchema record it in a database they make; an older
// database (or one made before versions were recorded) is brought up to date by upgradeSchema.

/// The version of the tables this release makes and works on.
inline constexpr int kSchemaVersion = 1;
/// The database records a newer version than kSchemaVersion: a later release made it.
inline constexpr short kSchemaTooNew = -40;
/// The database records an older version, or none while holding tables: upgradeSchema first.
inline constexpr short kSchemaTooOld = -41;

/// The tables a database holds, for one that records no version.
enum class SchemaDesign {
    Empty,       // none of the database's own tables: nothing to upgrade
    BeforeAudit, // payroll tables and record counter, no audit trail
    ClientAudit, // the audit table that the programs wrote themselves (no "CLIENT", no triggers)
    Current,     // the tables of kSchemaVersion (for a versioned database, its design)
};

struct SchemaState {
    int version = 0; // 0: none recorded
    SchemaDesign design = SchemaDesign::Empty;
};

/// The version \p db records and, for none, the design its tables show.
mox::Result<SchemaState> schemaState(const DatabaseHandle& db, DatabaseKind kind);

/// Success for a database of kSchemaVersion or one without any of its tables (nothing to work
/// on, which the caller finds out itself); kSchemaTooNew or kSchemaTooOld with a message naming
/// the database, its version and this release's (the older one saying to run moxdb upgrade);
/// the status of a failing read.
mox::Status checkSchemaVersion(const DatabaseHandle& db, DatabaseKind kind);

/// What upgradeSchema did.
struct SchemaUpgrade {
    int from = 0;          // the version recorded before (0: none)
    int to = 0;            // kSchemaVersion
    SchemaDesign design{}; // the design found when none was recorded
    QStringList done;      // one line per step, for the administrator
};

/// Brings \p db from the version it records (or the design of its tables, for none) to
/// kSchemaVersion, every step and the new version in one transaction, keeping its records; a
/// failing step leaves it as it was. Nothing to do for a database of kSchemaVersion (from ==
/// to). Refused: a newer version (kSchemaTooNew), a database without its tables or inside an
/// open transaction (kBeginFailed). On PostgreSQL the trigger functions belong to the audit
/// trail's owner, so only the server's superuser can upgrade a database whose roles are set up.
mox::Result<SchemaUpgrade> upgradeSchema(const DatabaseHandle& db, DatabaseKind kind);

/// True for a role name grantRoles accepts: [a-z_][a-z0-9_]*, at most 63 characters.
bool isPlainRoleName(const QString& name);

/// The group roles of an office's PostgreSQL server. None of them is a login: the server's
/// superuser makes logins members of the first three.
struct RoleSet {
    QString operatorRole = QStringLiteral("mox_operator"); // the desks: enter and print
    QString adminRole = QStringLiteral("mox_admin");       // set-up, data loads, audit reading
    QString auditorRole = QStringLiteral("mox_auditor");   // reads the audit trail, nothing else
    QString ownerRole = QStringLiteral("mox_audit_owner"); // owns the trail; nobody is a member
};

/// On a PostgreSQL server, run by its superuser: creates the roles of \p roles (NOLOGIN) unless
/// they exist, and sets what they may do in \p db, whose tables must exist:
///   - both databases: only the operator, administrator and auditor roles may connect; nobody
///     may create temporary tables or schemas; the administrator role owns the tables (the
///     trail and the record counter excepted) and alone may create tables; the owner role owns
///     the audit table, the record counter and the trigger functions, which only the
///     administrator role may attach (EXECUTE);
///   - payroll database: the operator may read and write the payroll tables and read the
///     record counter, and has no right on the audit table; the administrator and the auditor
///     may read the audit table, and nobody but its owner may change it;
///   - environment database: the operator may only read;
///   - both: the event trigger kordao_keep_triggers refuses any DDL that leaves a counted table
///     missing or without its enabled counter (and, payroll tables, audit) triggers, and any
///     ALTER TABLE of a counted table by a login that is not the superuser.
/// Running it again changes nothing. Refused on SQLite, for a name isPlainRoleName refuses or
/// two roles of the same name, inside a transaction, and for a login that is not the
/// superuser (checkSuperuser).
mox::Status grantRoles(const DatabaseHandle& db, const RoleSet& roles, DatabaseKind kind);

/// Refuses, with a message that says why, a PostgreSQL login that is not the server's
/// superuser: a login that may only create roles could make itself a member of the trail's
/// owner. Success on SQLite.
mox::Status checkSuperuser(const DatabaseHandle& db);

/// True when \p message, a failure text of this component, says the server refused the
/// statement because the login lacks the privilege (PostgreSQL state 42501).
bool isPrivilegeFailure(const QString& message);

} // namespace KorDAO
