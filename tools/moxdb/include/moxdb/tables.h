#pragma once

// The columns of each table of the payroll database ("MOX.INI") and of the environment
// database ("MOXENV.INI"), as the database component defines them. Column names are the
// tables' own, the lower-case "kmzoge" included.

#include "moxdb/row.h"

namespace moxdb {

const RowLayout& kanriLayout(); // GKKANRI: the management record
const RowLayout& jinjiLayout(); // GKJINJI: the personnel master
const RowLayout& kyuyoLayout(); // GKKYUYO: the payment records
const RowLayout& koyouLayout(); // GKKOYOU: the employment insurance wage bands
const RowLayout& nameLayout();  // 名設定: the name table of the environment database

/// The pay items of a payment record, in the order the cumulative ledger reads them; the sum of
/// these is the total payment SSIKYU of a monthly record.
const QStringList& monthlyPayItems();

} // namespace moxdb
