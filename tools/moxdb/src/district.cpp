#include "moxdb/district.h"

namespace moxdb {

EmploymentBands EmploymentBands::derived(int perMille)
{
    // The premium of a wage w is w × rate / 1000 yen; it rounds to n − 1 yen while w × rate is
    // at most (n − 1) × 1000 + 500, so band n ends (exclusive) one yen above
    // ((n − 1) × 1000 + 500) / rate.
    EmploymentBands b;
    b.start = Currency();
    b.perMille = Currency::fromYen(perMille);
    for (int n = 1; n <= 60; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        b.upper[i] = Currency::fromYen(((n - 1) * 1000 + 500) / perMille + 1);
        b.premium[i] = Currency::fromYen(n - 1);
    }
    return b;
}

Currency EmploymentBands::premiumFor(Currency wage) const
{
    if (wage < start)
        return wage.mulDiv(perMille, 1000, Rounding::Floor, 0);
    for (std::size_t i = 0; i < upper.size(); ++i) {
        if (wage < upper[i])
            return premium[i];
    }
    return wage.mulDiv(perMille, 1000, Rounding::Floor, 0);
}

int financeCategory(const QString& office)
{
    QString code = office.trimmed().toUpper();
    if (code.size() == 5) {
        if (!code.startsWith(QLatin1Char('E')))
            return 0;
        code = code.mid(1);
    }
    bool numeric = false;
    const int n = code.toInt(&numeric);
    if (!numeric)
        return 0;
    if ((n >= 4179 && n <= 4182) || (n >= 5136 && n <= 5137))
        return 5;
    if ((n >= 4201 && n <= 4299) || (n >= 5201 && n <= 5299))
        return 1;
    const QString digits = QString::number(n);
    return digits.size() >= 2 && digits[1].isDigit() ? digits[1].digitValue() : 0;
}

} // namespace moxdb
