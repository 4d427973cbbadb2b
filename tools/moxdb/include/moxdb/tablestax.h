#pragma once

// Withholding tax for generated records from the tax tables stored in the environment database.

#include "moxdb/district.h"

#include "kortax/kortax.h"

#include <QTextStream>

#include <memory>
#include <vector>

namespace moxdb {

class TablesTax : public WithholdingTax {
public:
    explicit TablesTax(std::vector<KorTAX::Edition> editions) : m_editions(std::move(editions)) {}

    bool empty() const { return m_editions.empty(); }
    /// 0 for a month that no edition covers, or whose edition lacks the table.
    Currency monthly(Currency amount, int dependants, int yyyymm) const override;
    Currency bonusRate(Currency previous, int dependants, int yyyymm) const override;

private:
    const KorTAX::Edition* editionFor(int yyyymm) const;
    std::vector<KorTAX::Edition> m_editions;
};

class Database;

/// The tax of the tables stored in \p environment; without any, no tax at all, with a warning
/// on \p err.
std::unique_ptr<WithholdingTax> withholdingTaxOf(Database& environment, QTextStream& err);

} // namespace moxdb
