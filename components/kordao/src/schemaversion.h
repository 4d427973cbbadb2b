#pragma once

// The tables of each database as schema.cpp makes them, without the version check that
// createPayrollSchema and createEnvironmentSchema add (schemaversion.cpp): creation and upgrade
// both build with them. Each adds what is missing and keeps what exists, inside the open
// transaction or one of its own.

#include "base/status.h"
#include "kordao/kordao.h"
#include "kordao/schema.h"

namespace KorDAO {

mox::Status buildPayrollSchema(const DatabaseHandle& db);
mox::Status buildEnvironmentSchema(const DatabaseHandle& db);

/// Builds the tables of \p kind in one transaction and records kSchemaVersion, unless the
/// database records another version, or none while holding tables (checkSchemaVersion's
/// refusals).
mox::Status createVersioned(const DatabaseHandle& db, DatabaseKind kind);

} // namespace KorDAO
