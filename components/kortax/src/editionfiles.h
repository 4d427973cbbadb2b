#pragma once

// The files of an edition folder and the reading of one table from them, shared by the reader,
// the check of a folder and the import.

#include "kortax/kortax.h"

#include <QString>
#include <QStringList>

namespace KorTAX {

inline const QString kBonusFile = QStringLiteral("bonus-rate-table.csv");
inline const QString kMonthlyFile = QStringLiteral("monthly-table-kou.csv");
inline const QString kFormulaFile = QStringLiteral("monthly-table-kou-formula.csv");

/// The files that make up \p table in an edition folder.
QStringList tableFiles(Table table);

/// True when any file of \p table is in \p dir: the table is there, and a missing companion file
/// is then a fault of the folder, not a table left out.
bool hasTableFiles(const QString& dir, Table table);

/// Success when \p dir is a folder holding a file of at least one table; else kStatusMissingFile
/// naming the folder and the files looked for.
mox::Status tableFilesFound(const QString& dir);

/// Reads and checks the files of \p table in \p dir into \p e, then checks the table's bands as
/// a whole (bandFault); the first fault names the file and line, or the folder for a fault of
/// the whole table. Defined with the checks of each file in editionreader.cpp.
mox::Status readTable(const QString& dir, Table table, Edition& e);

} // namespace KorTAX
