// The list of tables `moxdb export` writes and `moxdb import` reads back.
#include "moxdb/exporttables.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace moxdb;

TEST(ExportTables, PayrollNameAndTaxTablesButNoneOfTheComponentsOwn)
{
    QStringList names;
    for (const ExportTable& t : exportTables())
        names.append(t.table);
    EXPECT_EQ(names, (QStringList{u"GKKANRI"_s, u"GKJINJI"_s, u"GKKYUYO"_s, u"GKKOYOU"_s,
                                  u"名設定"_s, u"ZEIHAN"_s, u"ZEIGETU"_s, u"ZEISYO"_s}));
    for (const QString& own :
         {u"KORDAO_AUDIT"_s, u"KORDAO_ROWS"_s, u"KORDAO_WRITER"_s, u"MOXDB_LOAD"_s, u"gkkyuyo"_s})
        EXPECT_EQ(findExportTable(own), nullptr) << qPrintable(own);
    EXPECT_EQ(findExportTable(u"GKJINJI"_s)->which, DatabaseKind::Payroll);
    EXPECT_EQ(findExportTable(u"名設定"_s)->which, DatabaseKind::Environment);
    EXPECT_EQ(findExportTable(u"ZEISYO"_s)->which, DatabaseKind::Environment);
    EXPECT_EQ(iniNameOf(DatabaseKind::Environment), u"MOXENV.INI"_s);
    EXPECT_EQ(findExportTable(u"名設定"_s)->fileName(), u"名設定.csv"_s);
}

TEST(ExportTables, KeysInKeyOrderAndFieldsInTheTablesOrder)
{
    const ExportTable* kyuyo = findExportTable(u"GKKYUYO"_s);
    ASSERT_NE(kyuyo, nullptr);
    EXPECT_EQ(kyuyo->key, (QStringList{u"SYOKCD"_s, u"KYUSYU"_s, u"SKYUYM"_s, u"KYUSEQ"_s}));
    EXPECT_EQ(kyuyo->fieldNames().first(4), kyuyo->key);
    EXPECT_TRUE(kyuyo->fieldNames().contains(u"kmzoge"_s));
    EXPECT_EQ(kyuyo->field(u"KMZOGE"_s), nullptr);
    EXPECT_TRUE(findExportTable(u"GKKOYOU"_s)->key.isEmpty());
    EXPECT_EQ(findExportTable(u"ZEIGETU"_s)->key, (QStringList{u"TEKIYO"_s, u"KAGEN"_s}));
}

TEST(ExportTables, KindsAndNullability)
{
    const ExportTable* jinji = findExportTable(u"GKJINJI"_s);
    const ExportTable* kanri = findExportTable(u"GKKANRI"_s);
    const ExportTable* kyuyo = findExportTable(u"GKKYUYO"_s);
    struct Case {
        const ExportTable* table;
        QString field;
        FieldKind kind;
        bool nullable;
    };
    const Case cases[] = {
        {jinji, u"SYOKCD"_s, FieldKind::Integer, false},
        {jinji, u"SIMKNJ"_s, FieldKind::Text, true},
        {jinji, u"KYURYO"_s, FieldKind::Amount, false},
        {jinji, u"ZKAYMD_01"_s, FieldKind::Date, false},
        {jinji, u"KANYMD_08"_s, FieldKind::Date, false},
        {kanri, u"KEY"_s, FieldKind::Text, false}, // a text in the key is never NULL
        {kanri, u"SYORID"_s, FieldKind::Month, false},
        {kyuyo, u"SKYUYM"_s, FieldKind::Month, false},
        {kyuyo, u"KMMMDD"_s, FieldKind::Integer, false}, // months × 100 + days, not a date
        {findExportTable(u"名設定"_s), u"NENST2"_s, FieldKind::Date, false},
        {findExportTable(u"ZEIHAN"_s), u"TEKIYO"_s, FieldKind::Date, false},
    };
    for (const Case& c : cases) {
        const ExportField* f = c.table->field(c.field);
        ASSERT_NE(f, nullptr) << qPrintable(c.field);
        EXPECT_EQ(f->kind, c.kind) << qPrintable(c.field);
        EXPECT_EQ(f->nullable, c.nullable) << qPrintable(c.field);
    }
    EXPECT_TRUE(isWholeNumber(FieldKind::Date));
    EXPECT_FALSE(isWholeNumber(FieldKind::Amount));
}
