#include "kortax/kortax.h"

#include "editioncheck.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace KorTAX {

namespace {

// 甲欄 beyond seven dependants: this many yen less than the seven-person tax per extra person.
constexpr std::int64_t kPerExtraDependentYen = 1'610;

// The first band whose lower bound is above \p amount, minus one: the band holding \p amount.
template <class Band> const Band* bandFor(const std::vector<Band>& bands, Currency amount)
{
    auto it = std::upper_bound(bands.begin(), bands.end(), amount,
                               [](Currency a, const Band& b) { return a < b.lower; });
    if (it == bands.begin())
        return nullptr;
    return &*std::prev(it);
}

} // namespace

Currency monthlyTax(const Edition& e, Currency amount, int dependents)
{
    if (amount.isNegative() || dependents < 0)
        return Currency();
    const MonthlyBand* band = bandFor(e.monthly, amount);
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

Currency bonusRate(const Edition& e, Currency prevPay, int dependents)
{
    const auto column = static_cast<std::size_t>(std::clamp(dependents, 0, kColumns - 1));
    const BonusBand* band = bandFor(e.bonus[column], prevPay.isNegative() ? Currency() : prevPay);
    return band ? band->rate : Currency();
}

Currency bonusTax(Currency taxable, Currency ratePercent)
{
    if (taxable.isNegative())
        return Currency();
    return taxable.mulDiv(ratePercent, 100, Rounding::Floor, 0);
}

namespace {

QString yenText(Currency c)
{
    return c.toPlainString();
}

QString monthlyFault(const std::vector<MonthlyBand>& bands)
{
    if (bands.empty() || !bands.front().lower.isZero())
        return u"月額表が 0 円から始まっていません。"_s;
    for (std::size_t i = 0; i + 1 < bands.size(); ++i) {
        const MonthlyBand& b = bands[i];
        if (b.upper <= b.lower)
            return u"月額表の %1 円からの帯の上限 %2 円が下限を超えていません。"_s.arg(
                yenText(b.lower), yenText(b.upper));
        if (b.upper != bands[i + 1].lower)
            return u"月額表の %1 円に隙間があります。"_s.arg(yenText(b.upper));
    }
    if (!bands.back().upper.isZero())
        return u"月額表の最後の帯に上限があります。"_s;
    return QString();
}

QString bonusFault(const std::array<std::vector<BonusBand>, kColumns>& columns)
{
    const std::vector<BonusBand>& first = columns[0];
    for (int d = 0; d < kColumns; ++d) {
        const std::vector<BonusBand>& bands = columns[static_cast<std::size_t>(d)];
        const QString column = u"算出率の表の扶養親族等 %1 人の欄"_s.arg(d);
        if (bands.empty() || !bands.front().lower.isZero())
            return column + u"が 0 円から始まっていません。"_s;
        if (bands.size() != first.size())
            return column +
                   u"の帯が %1 ではなく %2 あります。"_s.arg(first.size()).arg(bands.size());
        for (std::size_t i = 0; i < bands.size(); ++i) {
            const QString band = column + u"の %1 番目の帯"_s.arg(i + 1);
            if (bands[i].rate != first[i].rate)
                return band + u"の率 %1 が %2 ではありません。"_s.arg(yenText(bands[i].rate),
                                                                      yenText(first[i].rate));
            if (i == 0)
                continue;
            if (bands[i].rate <= bands[i - 1].rate)
                return band +
                       u"の率 %1 が前の帯より上がっていません。"_s.arg(yenText(bands[i].rate));
            if (bands[i].lower <= bands[i - 1].lower)
                return band + u"の下限 %1 円が前の帯の下限 %2 円を超えていません。"_s.arg(
                                  yenText(bands[i].lower), yenText(bands[i - 1].lower));
        }
    }
    return QString();
}

} // namespace

QString bandFault(const Edition& e)
{
    // A table the edition does not hold has no bands at all; whether an edition may lack it is
    // for the caller to say. A bonus table with any band counts as held, so a column left empty
    // is a fault of that table.
    bool anyBonus = false;
    for (const std::vector<BonusBand>& column : e.bonus)
        anyBonus = anyBonus || !column.empty();
    if (!e.monthly.empty()) {
        if (QString fault = monthlyFault(e.monthly); !fault.isEmpty())
            return fault;
    }
    return anyBonus ? bonusFault(e.bonus) : QString();
}

const Edition* editionFor(const std::vector<Edition>& editions, QDate date)
{
    const Edition* best = nullptr;
    for (const Edition& e : editions) {
        if (e.from <= date && (!best || best->from < e.from))
            best = &e;
    }
    return best;
}

} // namespace KorTAX
