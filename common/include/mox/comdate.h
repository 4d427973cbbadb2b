#pragma once

// ComDate (date module): parts of yyyymmdd numbers, era texts for screens and pages, and the
// months and days of a period.

#include "base/currency.h"

#include <QString>
#include <QStringView>

namespace mox {

/// prfDatePart (date part): cuts a part out of the decimal digits of \p date (yyyymmdd, or yyyymm
/// with "Y", "YM", "M"). Pictures, upper or lower case only: "YMD" the whole 8 digits, "YM"
/// digits 1-6, "Y" 1-4, "MD" 5-8, "M" 5-6, "D" 7-8. An unknown picture, or a part that lies past
/// the end of a shorter number, gives 0.
Currency prfDatePart(Currency date, QStringView picture);

/// prfEraEdit (era edit): the current era (see prfEraDate) as text. \p picture "JYMD", "JYM",
/// "JY" give the era name with year, month, day in kanji; "KYMD", "KYM", "KY" the era code with
/// "yy.mm.dd". Mode "DSP" packs the pieces and blanks the leading zeros at positions 3, 6, 9;
/// other modes space the kanji forms out, and "PRT" blanks the zeros at positions 4, 9, 14.
/// Suffix "B" appends "分"; "NB" appends "度分" in mox110 and nothing in mox030. Any other
/// picture gives an empty text.
QString prfEraEdit(QStringView picture, QStringView mode, QStringView suffix);

/// The text of prfEraEdit for an explicit era name, code and era date.
QString eraEdit(const QString& eraName, const QString& eraCode, Currency eraDate,
                QStringView picture, QStringView mode, QStringView suffix);

/// prsKikan (period): on entry \p first and \p last hold the first and last day of a period
/// (yyyymmdd); on return \p first holds the whole months and \p last the remaining days, where
/// a first day on the 1st and a last day at a month's end count whole months, and 30 days or
/// more count as one month more.
void prsKikan(Currency& first, Currency& last);

} // namespace mox
