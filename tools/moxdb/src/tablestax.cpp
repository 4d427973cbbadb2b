#include "moxdb/tablestax.h"

#include "moxdb/database.h"

#include <QDate>

namespace moxdb {

const KorTAX::Edition* TablesTax::editionFor(int yyyymm) const
{
    return KorTAX::editionFor(m_editions, QDate(yyyymm / 100, yyyymm % 100, 1));
}

Currency TablesTax::monthly(Currency amount, int dependants, int yyyymm) const
{
    const KorTAX::Edition* e = editionFor(yyyymm);
    return e ? KorTAX::monthlyTax(*e, amount, dependants) : Currency();
}

Currency TablesTax::bonusRate(Currency previous, int dependants, int yyyymm) const
{
    const KorTAX::Edition* e = editionFor(yyyymm);
    return e ? KorTAX::bonusRate(*e, previous, dependants) : Currency();
}

std::unique_ptr<WithholdingTax> withholdingTaxOf(Database& environment, QTextStream& err)
{
    auto editions = KorTAX::loadEditions(environment.handle());
    if (const mox::Status* s = mox::failure(editions)) {
        err << "moxdb: no tax tables (" << s->message << "); income tax figures are 0\n";
        return std::make_unique<NoWithholdingTax>();
    }
    auto tax = std::make_unique<TablesTax>(std::move(mox::value(editions)));
    if (tax->empty()) {
        err << "moxdb: no tax tables loaded; income tax figures are 0\n";
        return std::make_unique<NoWithholdingTax>();
    }
    return tax;
}

} // namespace moxdb
