#include "moxdb/exporttables.h"

#include "kordao/schema.h"
#include "kortax/kortax.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

// The whole-number fields that hold a date yyyymmdd (0 = none) or a month yyyymm.
const QSet<QString>& dateFields()
{
    static const QSet<QString> names = [] {
        QSet<QString> n{u"ZKAYMD_01"_s, u"ZKNYMD_01"_s, u"ZKAYMD_02"_s, u"ZKNYMD_02"_s,
                        u"NENST1"_s,    u"NENST2"_s,    u"NENST3"_s,    u"TEKIYO"_s};
        for (int i = 1; i <= 8; ++i) {
            n.insert(u"KAIYMD_%1"_s.arg(i, 2, 10, QChar(u'0')));
            n.insert(u"KANYMD_%1"_s.arg(i, 2, 10, QChar(u'0')));
        }
        return n;
    }();
    return names;
}

const QSet<QString>& monthFields()
{
    static const QSet<QString> names{u"SYORID"_s, u"SKYUYM"_s};
    return names;
}

FieldKind kindOf(const KorDAO::FieldDef& f)
{
    switch (f.type) {
    case KorDAO::FieldType::Integer:
        if (dateFields().contains(f.name))
            return FieldKind::Date;
        if (monthFields().contains(f.name))
            return FieldKind::Month;
        return FieldKind::Integer;
    case KorDAO::FieldType::Amount:
        return FieldKind::Amount;
    case KorDAO::FieldType::Text:
        break;
    }
    return FieldKind::Text;
}

ExportTable exportTableOf(const KorDAO::TableDef& def, DatabaseKind which)
{
    ExportTable t{def.name, which, def.primaryKey, {}};
    t.fields.reserve(def.fields.size());
    for (const KorDAO::FieldDef& f : def.fields) {
        const FieldKind kind = kindOf(f);
        // Texts outside the key are the only columns the schema leaves NULL-able.
        t.fields.push_back(
            {f.name, kind, kind == FieldKind::Text && !def.primaryKey.contains(f.name)});
    }
    return t;
}

} // namespace

QString iniNameOf(DatabaseKind which)
{
    return which == DatabaseKind::Payroll ? u"MOX.INI"_s : u"MOXENV.INI"_s;
}

bool isWholeNumber(FieldKind kind)
{
    return kind == FieldKind::Integer || kind == FieldKind::Date || kind == FieldKind::Month;
}

const ExportField* ExportTable::field(const QString& name) const
{
    for (const ExportField& f : fields) {
        if (f.name == name)
            return &f;
    }
    return nullptr;
}

QStringList ExportTable::fieldNames() const
{
    QStringList names;
    names.reserve(qsizetype(fields.size()));
    for (const ExportField& f : fields)
        names.append(f.name);
    return names;
}

QString ExportTable::fileName() const
{
    return table + u".csv"_s;
}

const std::vector<ExportTable>& exportTables()
{
    static const std::vector<ExportTable> tables = [] {
        std::vector<ExportTable> t;
        for (const KorDAO::TableDef& def : KorDAO::payrollTables())
            t.push_back(exportTableOf(def, DatabaseKind::Payroll));
        t.push_back(exportTableOf(KorDAO::nameTable(), DatabaseKind::Environment));
        for (const KorDAO::TableDef& def : KorTAX::taxTables())
            t.push_back(exportTableOf(def, DatabaseKind::Environment));
        return t;
    }();
    return tables;
}

const ExportTable* findExportTable(const QString& name)
{
    for (const ExportTable& t : exportTables()) {
        if (t.table == name)
            return &t;
    }
    return nullptr;
}

} // namespace moxdb
