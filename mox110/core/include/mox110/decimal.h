#pragma once

// Exact decimal helpers of the bonus calculation: the five-decimal payment ratio texts and the
// allowance products that use them.

#include "base/currency.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace mox110 {

/// A decimal number read exactly from its text: digits × 10^-decimals.
struct ExactDecimal {
    std::int64_t digits = 0; // the value's digits with their sign
    int decimals = 0;        // 0 to 18
};

/// Reads a plain decimal text ("104.00000", "-3", " 25.5 "); nullopt for anything else.
std::optional<ExactDecimal> parseExact(QStringView text);

/// rate × periodRate / 100, rounded half away from zero to five decimals, as "0.00000" text.
QString paymentRatioText(Currency rate, Currency periodRate);

/// A stored ratio (ratio × 100000, as KMRITU holds it) as the five-decimal text.
QString storedRatioText(Currency stored);

/// Int(ratio × base / 100): the product is exact before the floor to whole yen.
Currency allowance(const ExactDecimal& ratio, Currency base);

/// A number of whole months and days as the period key: months "0" then days "00", read as a
/// number (5 months 15 days → 515; 0 months 20 days → 20). nullopt when the digits do not form
/// a number (a negative or fractional input).
std::optional<int> periodKey(Currency months, Currency days);

} // namespace mox110
