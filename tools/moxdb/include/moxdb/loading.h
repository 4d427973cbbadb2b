#pragma once

// Loading whole data sets (moxdb demo, moxdb synth) into the payroll and environment databases.
//
// What such a load writes carries a mark: one record of the table MOXDB_LOAD in each database,
// written in the same transaction as the data, saying which command made it and when. A load
// replaces data that bears the mark, or tables without any record; a database holding data that
// no load made (an office's real district) is refused unless the operator says --replace:
//
//     auto targets = openLoadTargets(dir, out);          // --dir: that folder alone
//     if (mox::Status s = checkReplaceable(value(targets), replace); !s.ok()) refuse(s);
//     replaceTables(*payroll, {..., {&loadMarkLayout(), &mark}});

#include "moxdb/database.h"

#include "base/status.h"
#include "kordao/schema.h"

#include <QTextStream>

#include <memory>
#include <vector>

namespace moxdb {

/// The mark table: KIND (the command that loaded, "demo" or "synth") and LOADED (UTC time,
/// ISO 8601).
KorDAO::TableDef loadMarkTable();
const RowLayout& loadMarkLayout();
/// The mark of a load made now by the command \p kind.
std::vector<Row> loadMark(const QString& kind);

/// The two databases a load writes.
struct LoadTargets {
    std::unique_ptr<Database> payroll;
    std::unique_ptr<Database> environment;
};

/// Opens both databases named by the configuration files. With \p dir (not empty) only that
/// folder counts; when it holds neither file, the default files are written there and both
/// databases made as "moxdb init --dir" makes them (said on \p out). The mark table is created
/// where it is missing.
mox::Result<LoadTargets> openLoadTargets(const QString& dir, QTextStream& out);

/// Success when both databases may be replaced: every table a load replaces is empty, or the
/// database bears the mark of a load. Otherwise a failure that names the database, the tables
/// and their records, and --replace. With \p replace, always success.
mox::Status checkReplaceable(LoadTargets& targets, bool replace);

/// Prints where a load wrote: one line per database.
void printTargets(const LoadTargets& targets, QTextStream& out);

} // namespace moxdb
