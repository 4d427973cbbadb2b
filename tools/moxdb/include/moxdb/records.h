#pragma once

// Rows of the tables that describe the district: the management record, the personnel master,
// the employment insurance bands and the name table.

#include "moxdb/district.h"
#include "moxdb/row.h"

namespace moxdb {

Row kanriRow(const Management& m);
Row jinjiRow(const Employee& e);
Row koyouRow(const EmploymentBands& b);
/// The one record of the name table "名設定": job kinds, finance categories, appointment kinds,
/// the eras Showa, Heisei and Reiwa, the mark, and the rounding points 0.5 of both premiums.
Row nameTableRow();

} // namespace moxdb
