#pragma once

// Number pictures: the subset of format pictures the payroll programs use.
//
// A picture has up to three sections separated by ";": positive; negative; zero. Within a
// section "0" is a digit that is always shown, "#" a digit shown only when significant, "." the
// decimal point and "," (between digit placeholders) turns on grouping by thousands; any other
// character is copied as it stands. With one section a negative value gets a leading "-"; with a
// negative section the value's magnitude is formatted and the section's own literals (a "-" or
// nothing) give the sign. A zero section replaces the text of a zero value. The value is rounded
// half away from zero to the decimals of the section. Integer digits beyond the placeholders are
// all shown (the picture never cuts a number).
//
//     format(Currency::fromYen(7), u"0000000")          == "0000007"
//     format(*Currency::parse(u"104"), u"0.00000")      == "104.00000"
//     format(Currency::fromYen(-800), u"#,##0;-#,##0")  == "-800"
//     format(Currency(), u"#0.000;#0.000;#")            == ""

#include "base/currency.h"

#include <QString>
#include <QStringView>

namespace mox {

QString format(Currency value, QStringView picture);
QString format(std::int64_t value, QStringView picture);

} // namespace mox
