#pragma once

// The bonus record (GKKYUYO, KYUSYU 2) as the entry screen writes it: every field in the order
// it is assigned, with the value taken from the screen, the personnel record and the management
// record.

#include "base/status.h"
#include "kordao/kordao.h"
#include "mox110/bonusscreen.h"
#include "mox110/calccontext.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

namespace mox110 {

/// One field of the record and its value: an int, a Currency or a QString (KGOKYU and KGOGHO
/// keep the type they were read with).
struct KyuyoField {
    QString name;
    QVariant value;
};
using KyuyoValues = std::vector<KyuyoField>;

/// A comment as stored (NIREM1 … NIREM3): cut to 30 characters and padded with blanks to 30. A
/// character is a code point, so a character outside the basic plane is never split.
QString commentField(const QString& text);

/// A payment proportion text ("0.62500") as stored: the number × 100000 (62500). Leading and
/// trailing blanks are allowed; nullopt for a text that is not a plain decimal number.
std::optional<Currency> proportionField(const QString& text);

/// The fields of the bonus record of employee \p syokcd, in order. Fails, naming the box, when
/// a proportion is not a number or a period does not form a months-and-days key, and with
/// amountOverflow() when the dependants or the month do not fit their integer fields.
mox::Result<KyuyoValues> kyuyoValues(const BonusScreen& s, const CalcContext& ctx, int syokcd);

/// Assigns \p value to \p field by its type (int, Currency, text).
void assignField(KorDAO::FieldRef field, const QVariant& value);

/// How a save or delete of the bonus record ended.
struct WriteResult {
    /// 0: committed. A transient status (KorDAO::isTransient: changed since the call-up, a lock
    /// wait too long, the connection lost): nothing written, the operator may go on. Any other
    /// negative status: nothing written either, and the program reports it as fatal.
    short status = 0;
    bool vanished = false; // refused because the record was deleted since the call-up
    bool missing = false;  // delete only: no record now, and none at the call-up either
    /// The connection went during the commit: Saved (status 0) when reading back showed the
    /// server committed, Unknown (kConnectionLost) when that could not be told.
    KorDAO::CommitLoss commitLoss = KorDAO::CommitLoss::None;
};

/// Saves \p values as the bonus record that \p criteria finds on \p tb (added or updated), in
/// one transaction, only while the record is still what \p seen, taken at the call-up, holds
/// (or still absent). \p beforeCommit runs right before the commit.
WriteResult saveKyuyo(KorDAO::clsTbAccess& tb, const QString& criteria,
                      const KorDAO::RecordStamp& seen, const KyuyoValues& values,
                      const std::function<void()>& beforeCommit = {});
/// Deletes the bonus record that \p criteria finds, under the same rules.
WriteResult deleteKyuyo(KorDAO::clsTbAccess& tb, const QString& criteria,
                        const KorDAO::RecordStamp& seen,
                        const std::function<void()>& beforeCommit = {});

} // namespace mox110
