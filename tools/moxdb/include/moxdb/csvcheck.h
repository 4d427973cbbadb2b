#pragma once

// The check of one value of an imported CSV file against the field of its table (moxdb import):
// whole numbers of 32 bits, dates that exist (yyyymmdd, 0 for none), months (yyyymm, 0 for
// none), amounts exact to four decimals within the money type, NULL only in a text outside the
// key. The value is read into a FieldRead; a value the field cannot take gives the fault's text
// in Japanese, for the list of faults with its line and field.
//
//     FieldRead v;
//     if (const QString why = checkField(field, isKey, csvField, v); !why.isEmpty())
//         faults.add(file, line, field.name, why);

#include "moxdb/csvread.h"
#include "moxdb/exporttables.h"

#include "base/currency.h"

#include <QString>
#include <QStringView>

namespace moxdb {

/// One value as read for its field: the whole number (a code, date or month), the amount, or
/// the text, whichever the field's kind is; null for an empty unquoted value.
struct FieldRead {
    qint32 whole = 0;
    Currency amount;
    QStringView text; // the value as written, for every kind (points into the reader's record)
    bool null = false;
};

/// Reads \p value into \p read for \p field (\p key: a field of the table's key). An empty text
/// when the field takes it, otherwise what is wrong with it.
QString checkField(const ExportField& field, bool key, const CsvField& value, FieldRead& read);

/// \p text as a fault shows it: cut to a length a line can take.
QString shownValue(QStringView text);

} // namespace moxdb
