#pragma once

// The check list of a bonus month: which employees deserve a second look before the bonus is
// paid, and why. A plain function of what was read: the personnel master, the stored bonus
// records of the month and of the same month a year earlier, and for listed staff without a
// record what the calculation says today. The reading and the output (PDF, CSV) live elsewhere.
//
//     CheckInput in;  … filled from the database
//     CheckList list = checkBonus(in);
//     for (const CheckLine& l : list.lines) … l.reasons, l.figures
//     list.perReason[CheckReason::Cash].headcount, list.district.ssikyu …

#include "base/currency.h"

#include <QString>
#include <QStringList>

#include <array>
#include <map>
#include <optional>
#include <vector>

namespace moxdb {

/// Why an employee is on the list, in the order the list shows the reasons.
enum class CheckReason {
    Period,     // an enrollment period below six full months, or a period rate below 100
    Manual,     // input class 9: every figure typed by hand
    Daily,      // pay class 4: paid by the day
    HealthCap,  // the health premium is worked out on the capped standard bonus amount
    PensionCap, // the pension premium likewise
    TaxMethod,  // the tax came from a method other than the standard bonus rate
    Refused,    // the calculation refuses him today (a missing tax table …)
    Cash,       // the cash payment is zero or negative
    YearOnYear, // the total differs from the same month a year earlier beyond the threshold
    NoRecord,   // listed by the entry screen, yet no bonus record for the month
    Unlisted,   // a bonus record of someone the entry screen no longer lists
};
inline constexpr int kCheckReasonCount = int(CheckReason::Unlisted) + 1;

/// The short, stable ASCII code of a reason ("PERIOD", "CASH" …), for files and scripts.
QString reasonCode(CheckReason reason);
/// The reason as the list names it in Japanese.
QString reasonLabel(CheckReason reason);

/// One employee of the personnel master.
struct CheckEmployee {
    int syokcd = 0;
    QString name;
    int kyukbn = 0;
    int hyokbn = 0;
    bool listed = false; // the entry screen's list holds him this month
};

/// The fields of a stored bonus record the check reads.
struct CheckRecord {
    int syokcd = 0;
    int kyukbn = 0;
    int kmmmdd = 0, kbmmdd = 0; // enrollment periods as months × 100 + days
    Currency kmzrit, kbzrit;    // period rates (percent)
    Currency kimatu, kinben;
    Currency kenko, kosei;
    Currency syotok, zenkaz;
    Currency ssikyu, kougok, sasihk;
    int tokkbn = 0; // 1: health and pension premiums deducted
};

/// Everything the check works from.
struct CheckInput {
    int month = 0;                    // the processing month, yyyymm
    Currency kengen, kosgen;          // caps of the standard bonus amount (health, pension)
    Currency thresholdPercent;        // --threshold
    std::vector<CheckEmployee> staff; // the personnel master
    std::vector<CheckRecord> records; // the bonus records of the month
    std::map<int, Currency> lastYear; // SYOKCD → SSIKYU of the same month a year earlier
    std::map<int, QString> refusals;  // SYOKCD → why the calculation refuses him today
};

/// The figures a group of bonus records adds up to.
struct CheckTotal {
    int headcount = 0;
    Currency ssikyu, kougok, sasihk;
};

/// One employee of the list.
struct CheckLine {
    int syokcd = 0;
    QString name;                      // empty for a record whose employee left the master
    std::vector<CheckReason> reasons;  // in the order of CheckReason
    QStringList figures;               // what shows why, one text a reason, in the same order
    std::optional<CheckRecord> record; // his bonus record of the month, when there is one
};

struct CheckList {
    std::vector<CheckLine> lines; // in employee code order
    /// Per reason: the employees listed for it; the sums of their bonus records.
    std::array<CheckTotal, kCheckReasonCount> perReason{};
    /// Every bonus record of the month, listed or not.
    CheckTotal district;
};

/// The standard bonus amount: the bonus cut to whole thousands, as the premiums start from it.
Currency standardBonus(Currency kimatu, Currency kinben);

/// The check list of \p in. A record whose own figures go beyond the money type is listed as
/// refused (CheckReason::Refused, 「金額が大きすぎて計算できません。」); totals that go beyond it
/// throw std::overflow_error.
CheckList checkBonus(const CheckInput& in);

/// An amount as the check list prints it: whole yen with thousands separators ("-1,234").
QString listAmount(Currency c);

/// "5月15日" for a period key of 515.
QString periodText(int key);

} // namespace moxdb
