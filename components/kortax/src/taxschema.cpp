#include "kortax/kortax.h"

#include "taxschema.h"

#include "kordao/schema.h"

using namespace Qt::StringLiterals;

namespace KorTAX {

std::vector<KorDAO::TableDef> taxTables()
{
    using KorDAO::FieldType;
    KorDAO::TableDef edition{kTableEdition, {{u"TEKIYO"_s, FieldType::Integer}}, {u"TEKIYO"_s}, {}};

    KorDAO::TableDef monthly{kTableMonthly,
                             {{u"TEKIYO"_s, FieldType::Integer},
                              {u"KAGEN"_s, FieldType::Amount},
                              {u"JOGEN"_s, FieldType::Amount}},
                             {u"TEKIYO"_s, u"KAGEN"_s},
                             {}};
    for (int d = 0; d < kColumns; ++d)
        monthly.fields.push_back({u"ZEI%1"_s.arg(d), FieldType::Amount});
    monthly.fields.push_back({u"RITU"_s, FieldType::Amount});

    KorDAO::TableDef bonus{kTableBonus,
                           {{u"TEKIYO"_s, FieldType::Integer},
                            {u"FUYO"_s, FieldType::Integer},
                            {u"KAGEN"_s, FieldType::Amount},
                            {u"RITU"_s, FieldType::Amount}},
                           {u"TEKIYO"_s, u"FUYO"_s, u"KAGEN"_s},
                           {}};
    return {edition, monthly, bonus};
}

mox::Status createTaxSchema(const KorDAO::DatabaseHandle& db)
{
    for (const KorDAO::TableDef& t : taxTables()) {
        if (mox::Status s = KorDAO::createTable(db, t); !s.ok())
            return s;
    }
    return mox::Status::success();
}

} // namespace KorTAX
