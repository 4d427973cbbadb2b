#include "kortax/kortax.h"

#include <algorithm>

namespace KorTAX {

namespace {

// 甲欄 beyond seven dependants: this many yen less than the seven-person tax per extra person.
constexpr std::int64_t kPerExtraDependentYen = 1'610;

// The first band whose lower bound is above \p amount, minus one: the band holding \p amount.
template <class Band> const Band *bandFor(const std::vector<Band> &bands, Currency amount) {
    auto it = std::upper_bound(bands.begin(), bands.end(), amount,
                               [](Currency a, const Band &b) { return a < b.lower; });
    if (it == bands.begin())
        return nullptr;
    return &*std::prev(it);
}

} // namespace

Currency monthlyTax(const Edition &e, Currency amount, int dependents) {
    if (amount.isNegative() || dependents < 0)
        return Currency();
    const MonthlyBand *band = bandFor(e.monthly, amount);
    if (!band)
        return Currency();
    const auto column = static_cast<std::size_t>(std::min(dependents, kColumns - 1));
    Currency tax = band->base[column];
    if (!band->rate.isZero())
        tax += (amount - band->lower).mulDiv(band->rate, 100, Rounding::Floor, 0);
    if (dependents > kColumns - 1) {
        tax -= Currency::fromYen(kPerExtraDependentYen * (dependents - (kColumns - 1)));
        if (tax.isNegative())
            tax = Currency();
    }
    return tax;
}

Currency bonusRate(const Edition &e, Currency prevPay, int dependents) {
    const auto column = static_cast<std::size_t>(std::clamp(dependents, 0, kColumns - 1));
    const BonusBand *band = bandFor(e.bonus[column], prevPay.isNegative() ? Currency() : prevPay);
    return band ? band->rate : Currency();
}

Currency bonusTax(Currency taxable, Currency ratePercent) {
    if (taxable.isNegative())
        return Currency();
    return taxable.mulDiv(ratePercent, 100, Rounding::Floor, 0);
}

const Edition *editionFor(const std::vector<Edition> &editions, QDate date) {
    const Edition *best = nullptr;
    for (const Edition &e : editions) {
        if (e.from <= date && (!best || best->from < e.from))
            best = &e;
    }
    return best;
}

} // namespace KorTAX
