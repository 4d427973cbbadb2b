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

#include "kordao/kordao.h"
#include "mox/status.h"

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

/// The payroll tables and the audit table KORDAO_AUDIT, which makes every change to them
/// recorded: server time, database user (PostgreSQL), OS user, host, program, table, key
/// (and SYOKCD), action (INSERT, UPDATE, DELETE, BULK INSERT, CLEAR) and the fields changed
/// as JSON [["FIELD", old, new], …] ({"records": n} for the bulk actions).
mox::Status createPayrollSchema(const DatabaseHandle& db);
/// The audit table alone (part of createPayrollSchema).
mox::Status createAuditTable(const DatabaseHandle& db);
mox::Status createEnvironmentSchema(const DatabaseHandle& db);

/// True when \p db is a PostgreSQL database (false for SQLite).
bool isPostgres(const DatabaseHandle& db);

/// The two databases, for what grantRoles allows in each.
enum class DatabaseKind { Payroll, Environment };

/// True for a role name grantRoles accepts: [a-z_][a-z0-9_]*, at most 63 characters.
bool isPlainRoleName(const QString& name);

/// On a PostgreSQL server: creates the group roles \p operatorRole and \p adminRole (NOLOGIN)
/// unless they exist, and sets what they may do in \p db, whose tables must exist:
///   - payroll database: the operator may read and write the payroll tables, read the record
///     counter and only add to the audit table;
///   - environment database: the operator may only read;
///   - both: the administrator role owns every table and may do anything with it, and may
///     create tables (so its logins run moxdb init, demo, synth and tax import).
/// Logins are made members of these roles by the server's administrator. Running it again
/// changes nothing. Refused on SQLite, for a name isPlainRoleName refuses, inside a transaction.
mox::Status grantRoles(const DatabaseHandle& db, const QString& operatorRole,
                       const QString& adminRole, DatabaseKind kind);

/// True when \p message, a failure text of this component, says the server refused the
/// statement because the login lacks the privilege (PostgreSQL state 42501).
bool isPrivilegeFailure(const QString& message);

} // namespace KorDAO
