#include "moxdb/tables.h"

#include "kordao/schema.h"

using namespace Qt::StringLiterals;

namespace moxdb {

namespace {

RowLayout layoutOf(const KorDAO::TableDef& table)
{
    QList<Column> columns;
    for (const KorDAO::FieldDef& f : table.fields) {
        switch (f.type) {
        case KorDAO::FieldType::Integer:
            columns.append({f.name, ColumnKind::Integer});
            break;
        case KorDAO::FieldType::Amount:
            columns.append({f.name, ColumnKind::Amount});
            break;
        case KorDAO::FieldType::Text:
            columns.append({f.name, ColumnKind::Text});
            break;
        }
    }
    return RowLayout(table.name, columns);
}

RowLayout payrollLayout(const QString& name)
{
    for (const KorDAO::TableDef& t : KorDAO::payrollTables()) {
        if (t.name == name)
            return layoutOf(t);
    }
    Q_UNREACHABLE();
}

} // namespace

const RowLayout& kanriLayout()
{
    static const RowLayout layout = payrollLayout(u"GKKANRI"_s);
    return layout;
}

const RowLayout& jinjiLayout()
{
    static const RowLayout layout = payrollLayout(u"GKJINJI"_s);
    return layout;
}

const RowLayout& kyuyoLayout()
{
    static const RowLayout layout = payrollLayout(u"GKKYUYO"_s);
    return layout;
}

const RowLayout& koyouLayout()
{
    static const RowLayout layout = payrollLayout(u"GKKOYOU"_s);
    return layout;
}

const RowLayout& nameLayout()
{
    static const RowLayout layout = layoutOf(KorDAO::nameTable());
    return layout;
}

const QStringList& monthlyPayItems()
{
    static const QStringList items = {
        u"KYURYO"_s, u"KTYOGK"_s, u"STYOGK"_s, u"CHIIKI"_s, u"KTOKUB"_s, u"TUKINH"_s, u"TUKINK"_s,
        u"JYUKYO"_s, u"FUYOTE"_s, u"HEKICI"_s, u"HEKJUN"_s, u"TOKGYO"_s, u"TANSIN"_s, u"SYUKUH"_s,
        u"KISYUH"_s, u"SYUKUK"_s, u"KISYUK"_s, u"KYUJIT"_s, u"ZANGYO"_s, u"TAGAKU"_s, u"JIDOU"_s};
    return items;
}

} // namespace moxdb
