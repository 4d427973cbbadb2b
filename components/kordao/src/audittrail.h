#pragma once

// The triggers that keep the record counter and write the audit trail, on both engines.
//
// PostgreSQL: the server writes the trail itself, whoever writes (the programs, the
// administration tool, psql): one row trigger per payroll table, kordao_audit_row(), and
// statement triggers, kordao_audit_statement(), for the summaries of bulk loads and TRUNCATE.
// The functions are SECURITY DEFINER (their owner alone may write the trail), look names up
// only in pg_catalog and pg_temp (last) and name every table with its schema, and act only on
// tables of schema public that the record counter lists; so a temporary table named like a
// payroll table or like the counter cannot turn them against the real data.
//
// SQLite: per-table triggers generated from the column list. The programs name themselves in
// the one-row table kWriterTable for the length of a write transaction; writes by any other
// means (the sqlite3 shell) are recorded without a writer.

#include "base/status.h"
#include "kordao/schema.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace KorDAO {

class Connection;

/// The one-row table of the writer of the open SQLite transaction: program, desk user, host,
/// and "BULK" = 1 while the administration tool loads or clears a table (the insert and delete
/// triggers then skip the records; the tool writes one summary row).
inline constexpr char16_t kWriterTable[] = u"KORDAO_WRITER";

/// A trigger function of the PostgreSQL databases, in schema public.
struct ServerFunction {
    QString name; // kordao_rows_added, …
    QString body; // the plpgsql between the dollar quotes
    QString returns = QStringLiteral("trigger");
};

/// The counter functions (both databases).
std::vector<ServerFunction> counterFunctions();
/// The audit functions (payroll database).
std::vector<ServerFunction> auditFunctions();

/// The function of the event trigger kordao_keep_triggers (made by grantRoles): at the end of
/// every DDL command it refuses, whoever runs it, a state in which a table that the record
/// counter lists is missing, or lacks one of its counter triggers, or (for one of \p audited)
/// one of its audit triggers, or has one of them disabled; and an ALTER TABLE of a counted
/// table by anybody but the superuser (it could rewrite every record without a row trigger).
/// So not even the tables' owner can drop, rename, disable or bypass what keeps the counts and
/// the trail.
ServerFunction keepTriggersFunction(const QStringList& audited);

/// Creates each of \p functions unless it exists exactly so (same body, SECURITY DEFINER, the
/// same search_path), and takes EXECUTE away from PUBLIC on those it creates. Only the owner of
/// a function may replace it, so an unchanged database needs no right on them. Inside the open
/// transaction. A failure carries the driver's text (the caller names the status).
mox::Status ensureServerFunctions(Connection& db, const std::vector<ServerFunction>& functions);

/// The statements that attach the audit triggers to \p table: on PostgreSQL replacing them, on
/// SQLite unless they exist.
QStringList postgresAuditTriggerDdl(const TableDef& table);
QStringList sqliteAuditTriggerDdl(const TableDef& table);

/// \p text as a SQLite string literal (quotes doubled).
QString sqliteLiteral(const QString& text);

} // namespace KorDAO
