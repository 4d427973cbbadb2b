#pragma once

// The grammar of filters, criteria and sorts handed to the component, and their translation into
// SQL whose only texts are quoted column names, operators and "?" placeholders:
//
//     condition  := or
//     or         := and { OR and }
//     and        := factor { AND factor }
//     factor     := "(" or ")" | field op value | field IN "(" value { "," value } ")"
//     op         := = | <> | < | > | <= | >=
//     value      := number (optional sign, digits, optional decimals) | 'text' ('' is a quote)
//     sort       := [ field [ASC | DESC] { "," field [ASC | DESC] } ]
//
// Keywords are matched without regard to case ("And", "AND", "in"); blanks may surround every
// token. Fields must be columns of the table; a value must suit its column (a whole number for a
// code column, a number for an amount). Anything else is rejected with a message and no SQL.

#include "connection.h"

#include <QString>
#include <QStringView>
#include <QVariantList>

#include <vector>

namespace KorDAO {

/// A WHERE condition ready to run: SQL with "?" placeholders and the values to bind, in order.
struct SqlCondition {
    QString sql; // empty: no condition
    QVariantList binds;
};

struct SortKey {
    int column = 0; // index into TableInfo::columns
    bool descending = false;
};

/// Parses a filter or criterion. A blank text gives an empty condition. A malformed text gives
/// kBadCondition with what is wrong and where.
mox::Result<SqlCondition> parseCondition(QStringView text, const TableInfo& table);

/// Parses a sort text. A blank text gives an empty list; a malformed one kBadCondition.
mox::Result<std::vector<SortKey>> parseSort(QStringView text, const TableInfo& table);

} // namespace KorDAO
