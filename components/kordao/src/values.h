#pragma once

// How values travel between the programs and the engines: what a field assignment binds, the
// exact amount of what a driver delivers, and when two values are the same (NULL and '' differ).
//
//     const mox::Result<QVariant> bound =
//         storedValue(column, QVariant::fromValue(Currency::fromRaw(12345)), engine);
//     if (const mox::Status* failure = mox::failure(bound))
//         return *failure;                    // 1.2345 into an INTEGER column, say
//     // value(bound): qlonglong 45000 for 45000 yen, 1.2345 (double) on SQLite, "1.2345" on
//     // PostgreSQL

#include "base/currency.h"
#include "base/status.h"

#include <QString>
#include <QVariant>

#include <limits>
#include <optional>

namespace KorDAO {

class DatabaseEngine;
struct ColumnInfo;

/// The largest whole yen a Currency holds; a whole number beyond it (either sign) is no amount.
inline constexpr qlonglong kMaxYen = std::numeric_limits<qint64>::max() / Currency::kScale;

/// Converts a value assigned by a program (int, qlonglong, Currency or QString) into what is bound
/// for column \p c on \p engine: whole numbers as qlonglong, fractional amounts as the nearest
/// double (SQLite) or exact decimal text (PostgreSQL), texts as QString. kUpdateFailed for a
/// value the column cannot hold (a fraction or a non-number in a code column, a non-number in an
/// amount column, a value of another type).
mox::Result<QVariant> storedValue(const ColumnInfo& c, const QVariant& v,
                                  const DatabaseEngine& engine);

/// True for a value that is SQL NULL: a null QVariant, or a null QString (an empty text that is
/// not null is '', a value of its own). Both engines store, compare and bind it so.
inline bool isSqlNull(const QVariant& v)
{
    return v.isNull() || (v.metaType().id() == QMetaType::QString &&
                          static_cast<const QString*>(v.constData())->isNull());
}

/// Whether two values as read or written are the same: NULL equals only NULL, so NULL and ''
/// differ.
inline bool sameValue(const QVariant& a, const QVariant& b)
{
    const bool nullA = isSqlNull(a);
    const bool nullB = isSqlNull(b);
    return nullA || nullB ? nullA && nullB : a == b;
}

/// The exact amount of a value as the drivers deliver it (integer, double, decimal text) or as
/// it is written (Currency); nullopt for anything else.
std::optional<Currency> amountOf(const QVariant& v);

/// Whether a value read back is the value written to column \p c: NULL only equals NULL,
/// amounts and codes by their amount (PostgreSQL reads NUMERIC back as decimal text), texts
/// exactly.
bool sameStored(const ColumnInfo& c, const QVariant& read, const QVariant& written);

} // namespace KorDAO
