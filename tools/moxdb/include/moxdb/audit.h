#pragma once

// The audit trail of the payroll database (the table KORDAO_AUDIT that the database component
// writes with every change), read through the component and printed for people:
//
//     2026-12-07 10:15:02.123  tanaka@desk3 (DB: tanaka)  mox110  GKKYUYO  SYOKCD=10025 …
//     更新(UPDATE)
//         KENKO: 0 → 48293
//         NIREM1: (なし) → 再計算

#include "base/status.h"
#include "kordao/kordao.h"

#include <QString>
#include <QTextStream>

#include <optional>

namespace moxdb {

/// Which audit rows to print: one employee's (SYOKCD; 0 is the tables without one) and those
/// written on or after a day, each only when given.
struct AuditSelection {
    std::optional<int> employee;
    QString since; // YYYY-MM-DD, or empty
};

/// The filter on the audit table for \p selection; a failure naming the problem when the date
/// is not a real day written YYYY-MM-DD or the employee code is negative.
mox::Result<QString> auditFilter(const AuditSelection& selection);

/// Prints the audit rows of \p db meeting \p selection, oldest first: one line a change (time,
/// OS user@host and the database login when known, program, table, key, action), then one
/// indented line a field changed ("FIELD: old → new", 「(なし)」 for no value) or the number of
/// records of a bulk load or clearing. When none meets it, one line saying so. The number of
/// rows printed, or a failure (the table missing, the login not allowed to read it).
mox::Result<int> printAuditTrail(const KorDAO::DatabaseHandle& db, const AuditSelection& selection,
                                 QTextStream& out);

} // namespace moxdb
