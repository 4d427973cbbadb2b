#pragma once

// basCmnName (common name module): the settings the suite keeps in the first record of the name
// table "名設定" of the environment database (names, eras, the mark, the insurance rounding), the
// conversion of a date into an era date, and the finance category of an office code.
//
// Every lookup opens the environment database ("MOXENV.INI"), reads and closes it again. The
// values live in this module for the life of the program and are shared by every form.

#include "base/currency.h"

#include <QString>

#include <array>

namespace mox {

/// One entry of the era table.
struct Era {
    QString code;   // one character, shown before the year in the short forms ("H")
    QString name;   // six characters, blank-padded, shown in the long forms
    Currency start; // first day of the era as yyyymmdd; 0 = no such era
};

/// The era chosen by the last prfEraDate.
struct CurrentEra {
    QString name;  // era name as stored (blank-padded)
    QString code;  // era code
    Currency date; // era date yymmdd
};

/// prsNameRead (read names): clears the names (blanks), the era codes and names (blanks) and the
/// era starts (0), then for \p kind 1 to 6 fills them from "名設定":
/// 1 SYOKU1..10, 2 ZAIMU1..9, 3 HATSU1..8 into names 1..; 4 the era table from NENKB, NENKJ,
/// NENST; 5 KIGOU into name 1; 6 the insurance rounding adjustments (1 - KENKO, 1 - KOSEI).
/// A database that does not open shows "MOXENV データベースのオープンに失敗しました。", a table
/// that does not open "名称設定テーブルのオープンに失敗しました。" (critical, OK, empty title);
/// the program goes on with the cleared values. An empty table, or a record whose fields cannot
/// be read, changes nothing. Any other kind only clears.
void prsNameRead(short kind);

/// The ten names (positions 1..10 at indexes 0..9), each exactly 20 characters.
const std::array<QString, 10>& cmnNames();
/// The era table (entries 1..3 at indexes 0..2).
const std::array<Era, 3>& eraTable();
/// The era left by the last prfEraDate (empty texts and 0 before the first).
const CurrentEra& currentEra();

/// Health insurance rounding adjustment, 1 - KENKO; 0 until kind 6 is first read.
Currency roundingAdjustHealth();
/// Welfare pension rounding adjustment, 1 - KOSEI; 0 until kind 6 is first read.
Currency roundingAdjustPension();

/// prfEraDate (era date): reads the era table, picks the era of \p date (yyyymmdd): entry 3 when
/// entries 2 and 3 have started by the date, else entry 2 when it has, else entry 1. Returns
/// date - (Int(start / 10000) - 1) x 10000, the era date yymmdd, and keeps it and the era's name
/// and code as the current era. Example: start 19700101, date 19750401 give 60401.
Currency prfEraDate(Currency date);

/// The era choice and arithmetic of prfEraDate on a given table, without reading the database.
CurrentEra eraDateOf(const std::array<Era, 3>& eras, Currency date);

/// prfZaimuKbn (finance category): from an office code, trimmed and upper-cased. A code of five
/// characters must start with "E", which is dropped. The rest must be ASCII digits whose value
/// fits 16 bits and which has a second character: 4179-4182 and 5136-5137 give 5, 4201-4299 and
/// 5201-5299 give 1, any other number its second digit. Anything else gives 0.
short prfZaimuKbn(const QString& code);

} // namespace mox
