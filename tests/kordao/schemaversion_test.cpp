// Schema versions on both engines: what a new database records, how a newer one is refused, and
// how each older table set (made here by hand, as the earlier releases made it) is recognised
// and brought to the current version with its records kept.

#include "testdatabase.h"

#include "kordao/kordao.h"
#include "kordao/schema.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace Qt::StringLiterals;
using KorDAO::SchemaDesign;

namespace kordaotest {
namespace {

class SchemaVersion : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::Postgres && !postgresAvailable())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
    }

    bool sqlite() const { return GetParam() == Backend::Sqlite; }

    // An empty database (no table) behind "MOX.INI" of \p test, opened.
    static std::unique_ptr<KorDAO::clsDbAccess> emptyDatabase(const TestDatabase& test)
    {
        (void)test;
        auto db = std::make_unique<KorDAO::clsDbAccess>();
        db->setDBIniNameString(u"MOX.INI"_s);
        db->setCreateIfMissing(true);
        db->setPrivateConnection(true);
        EXPECT_EQ(db->DAO_DBOpen(), 0) << db->lastError().toStdString();
        return db;
    }

    // Runs each of \p statements outside the component; the first failure is a test failure.
    static void raw(const TestDatabase& test, const QStringList& statements)
    {
        for (const QString& sql : statements)
            ASSERT_TRUE(test.rawExec(sql)) << sql.toStdString();
    }

    // The payroll tables as every release has declared them, with the record counter and its
    // triggers as they were before the audit trail.
    QStringList tablesBeforeAudit(bool hardenedCounter) const
    {
        QStringList ddl;
        const QString amount = sqlite() ? u"NUMERIC"_s : u"NUMERIC(19,4)"_s;
        ddl << u"CREATE TABLE \"KORDAO_ROWS\" (\"NAME\" TEXT NOT NULL PRIMARY KEY, \"N\" %1 NOT "
               "NULL DEFAULT 0)%2"_s.arg(sqlite() ? u"INTEGER"_s : u"BIGINT"_s,
                                         sqlite() ? u" WITHOUT ROWID"_s : QString());
        if (!sqlite()) {
            const QString how =
                hardenedCounter ? u"SECURITY DEFINER SET search_path = public "_s : QString();
            for (const auto& [name, change] :
                 {std::pair{u"kordao_rows_added"_s, u"\"N\" + (SELECT COUNT(*) FROM added)"_s},
                  std::pair{u"kordao_rows_removed"_s, u"\"N\" - (SELECT COUNT(*) FROM removed)"_s},
                  std::pair{u"kordao_rows_cleared"_s, u"0"_s}})
                ddl << u"CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql %2AS $f$ BEGIN "
                       "UPDATE \"KORDAO_ROWS\" SET \"N\" = %3 WHERE \"NAME\" = TG_TABLE_NAME; "
                       "RETURN NULL; END $f$"_s.arg(name, how, change);
        }
        for (const KorDAO::TableDef& t : KorDAO::payrollTables()) {
            QStringList columns;
            for (const KorDAO::FieldDef& f : t.fields) {
                const QString name = u"\""_s + f.name + u"\""_s;
                if (f.type == KorDAO::FieldType::Integer)
                    columns << name + u" INTEGER NOT NULL DEFAULT 0"_s;
                else if (f.type == KorDAO::FieldType::Amount)
                    columns << name + u' ' + amount + u" NOT NULL DEFAULT 0"_s;
                else
                    columns << name + (t.primaryKey.contains(f.name) ? u" TEXT NOT NULL"_s
                                                                     : u" TEXT"_s);
            }
            if (!t.primaryKey.isEmpty())
                columns << u"PRIMARY KEY (\"%1\")"_s.arg(t.primaryKey.join(u"\", \""_s));
            ddl << u"CREATE TABLE \"%1\" (%2)%3"_s.arg(
                t.name, columns.join(u", "_s),
                sqlite() && !t.primaryKey.isEmpty() ? u" WITHOUT ROWID"_s : QString());
            for (std::size_t i = 0; i < t.indexes.size(); ++i)
                ddl << u"CREATE INDEX \"%1_IX%2\" ON \"%1\" (\"%3\")"_s.arg(t.name).arg(i + 1).arg(
                    t.indexes[i].join(u"\", \""_s));
            ddl << u"INSERT INTO \"KORDAO_ROWS\" VALUES ('%1', 0)"_s.arg(t.name);
            if (sqlite()) {
                ddl << u"CREATE TRIGGER \"%1_ROWS_ADDED\" AFTER INSERT ON \"%1\" BEGIN UPDATE "
                       "\"KORDAO_ROWS\" SET \"N\" = \"N\" + 1 WHERE \"NAME\" = '%1'; END"_s.arg(
                           t.name);
                ddl << u"CREATE TRIGGER \"%1_ROWS_REMOVED\" AFTER DELETE ON \"%1\" BEGIN UPDATE "
                       "\"KORDAO_ROWS\" SET \"N\" = \"N\" - 1 WHERE \"NAME\" = '%1'; END"_s.arg(
                           t.name);
            } else {
                ddl << u"CREATE TRIGGER \"%1_ROWS_ADDED\" AFTER INSERT ON \"%1\" REFERENCING NEW "
                       "TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION kordao_rows_added()"_s
                           .arg(t.name);
                ddl << u"CREATE TRIGGER \"%1_ROWS_REMOVED\" AFTER DELETE ON \"%1\" REFERENCING OLD "
                       "TABLE AS removed FOR EACH STATEMENT EXECUTE FUNCTION "
                       "kordao_rows_removed()"_s.arg(t.name);
                ddl << u"CREATE TRIGGER \"%1_ROWS_CLEARED\" AFTER TRUNCATE ON \"%1\" FOR EACH "
                       "STATEMENT EXECUTE FUNCTION kordao_rows_cleared()"_s.arg(t.name);
            }
        }
        return ddl;
    }

    // The audit table that the programs wrote themselves, with one row of theirs.
    QStringList clientAuditTrail() const
    {
        return {u"CREATE TABLE \"KORDAO_AUDIT\" (%1, \"AT\" TEXT NOT NULL, \"DBUSER\" TEXT, "
                "\"OSUSER\" TEXT, \"HOST\" TEXT, \"PROGRAM\" TEXT, \"TABLENAME\" TEXT NOT NULL, "
                "\"SYOKCD\" INTEGER NOT NULL DEFAULT 0, \"RECKEY\" TEXT, \"ACTION\" TEXT NOT "
                "NULL, \"CHANGES\" TEXT)"_s.arg(
                    sqlite() ? u"\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT"_s
                             : u"\"ID\" BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"_s),
                u"CREATE INDEX \"KORDAO_AUDIT_IX1\" ON \"KORDAO_AUDIT\" (\"SYOKCD\", \"ID\")"_s,
                u"INSERT INTO \"KORDAO_AUDIT\" (\"AT\", \"OSUSER\", \"HOST\", \"PROGRAM\", "
                "\"TABLENAME\", \"SYOKCD\", \"RECKEY\", \"ACTION\", \"CHANGES\") VALUES "
                "('2026-11-30 10:00:00.000', 'tanaka', 'desk3', 'mox110', 'GKKYUYO', 10025, "
                "'SYOKCD=10025 KYUSYU=2 SKYUYM=202612 KYUSEQ=0', 'UPDATE', "
                "'[[\"KENKO\",\"0\",\"48293\"]]')"_s};
    }

    // An office's records, written by hand as any release could have held them.
    static QStringList records()
    {
        return {u"INSERT INTO \"GKKANRI\" (\"KEY\", \"SYORID\", \"GKNAME\") VALUES ('KANRI', "
                "202612, '県教育委員会')"_s,
                u"INSERT INTO \"GKJINJI\" (\"SYOKCD\", \"SIMKNJ\", \"KYURYO\") VALUES (10025, "
                "'山田　太郎', 336996)"_s,
                u"INSERT INTO \"GKKYUYO\" (\"SYOKCD\", \"KYUSYU\", \"SKYUYM\", \"KYUSEQ\", "
                "\"KENKO\", \"KMRITU\", \"NIREM1\") VALUES (10025, 2, 202612, 0, 48293, 122.5, "
                "'')"_s};
    }

    // Makes the table set of \p design behind "MOX.INI" of \p test, with records().
    void makeDesign(const TestDatabase& test, SchemaDesign design)
    {
        auto db = emptyDatabase(test);
        if (design == SchemaDesign::Current) {
            ASSERT_TRUE(KorDAO::createPayrollSchema(db->DBDatabase()).ok());
            raw(test,
                {sqlite() ? u"PRAGMA user_version = 0"_s : u"DROP TABLE \"KORDAO_VERSION\""_s});
        } else {
            raw(test, tablesBeforeAudit(design == SchemaDesign::ClientAudit));
            if (design == SchemaDesign::ClientAudit)
                raw(test, clientAuditTrail());
        }
        raw(test, records());
    }

    // The records of records(), read back through the component.
    static void expectRecords(KorDAO::clsDbAccess& db)
    {
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(db.DBDatabase());
        tb.setTBNameString(u"GKKYUYO"_s);
        ASSERT_EQ(tb.DAO_TableOpen(QString(), QString()), 1) << tb.lastError().toStdString();
        ASSERT_EQ(tb.DAO_RecRead(1), 0);
        EXPECT_EQ(tb.TBRec()[u"KENKO"].toCurrency(), Currency::fromYen(48293));
        EXPECT_EQ(tb.TBRec()[u"KMRITU"].toCurrency(), Currency::fromRaw(1'225'000));
        EXPECT_FALSE(tb.TBRec()[u"NIREM1"].isNull()) << "'' stays an empty text";
        EXPECT_TRUE(tb.TBRec()[u"NIREM2"].isNull()) << "NULL stays NULL";
        tb.setTBNameString(u"GKJINJI"_s);
        ASSERT_EQ(tb.DAO_TableOpen(QString(), QString()), 1);
        ASSERT_EQ(tb.DAO_RecRead(1), 0);
        EXPECT_EQ(tb.TBRec()[u"SIMKNJ"].toString(), u"山田　太郎"_s);
        tb.setTBNameString(u"GKKANRI"_s);
        ASSERT_EQ(tb.DAO_TableOpen(QString(), QString()), 1);
    }

    int storedVersion(const TestDatabase& test) const
    {
        return test
            .rawScalar(sqlite() ? u"PRAGMA user_version"_s
                                : u"SELECT \"VERSION\" FROM \"KORDAO_VERSION\""_s)
            .toInt();
    }
};

TEST_P(SchemaVersion, NewDatabasesRecordTheCurrentVersion)
{
    TestDatabase test(GetParam());
    QString error;
    ASSERT_TRUE(test.create(&error)) << error.toStdString();
    EXPECT_EQ(storedVersion(test), KorDAO::kSchemaVersion);
    auto db = test.open();
    ASSERT_TRUE(db);
    EXPECT_TRUE(KorDAO::checkSchemaVersion(db->DBDatabase(), KorDAO::DatabaseKind::Payroll).ok());
    // Making it again changes nothing and is no upgrade.
    ASSERT_TRUE(KorDAO::createPayrollSchema(db->DBDatabase()).ok());
    const auto again = KorDAO::upgradeSchema(db->DBDatabase(), KorDAO::DatabaseKind::Payroll);
    ASSERT_FALSE(mox::failure(again));
    EXPECT_EQ(mox::value(again).from, mox::value(again).to);
    EXPECT_TRUE(mox::value(again).done.isEmpty());

    TestDatabase environment(GetParam());
    auto env = emptyDatabase(environment);
    EXPECT_TRUE(
        KorDAO::checkSchemaVersion(env->DBDatabase(), KorDAO::DatabaseKind::Environment).ok())
        << "an empty database is no older one";
    ASSERT_TRUE(KorDAO::createEnvironmentSchema(env->DBDatabase()).ok());
    EXPECT_EQ(storedVersion(environment), KorDAO::kSchemaVersion);
}

TEST_P(SchemaVersion, NewerVersionIsRefusedNamingBothAndLeftAlone)
{
    TestDatabase test(GetParam());
    QString error;
    ASSERT_TRUE(test.create(&error)) << error.toStdString();
    raw(test, {sqlite() ? u"PRAGMA user_version = 2"_s
                        : u"UPDATE \"KORDAO_VERSION\" SET \"VERSION\" = 2"_s});
    auto db = test.open();
    ASSERT_TRUE(db);
    const KorDAO::DatabaseHandle h = db->DBDatabase();
    const mox::Status checked = KorDAO::checkSchemaVersion(h, KorDAO::DatabaseKind::Payroll);
    EXPECT_EQ(checked.code, KorDAO::kSchemaTooNew);
    EXPECT_TRUE(checked.message.contains(u"バージョン 2"_s)) << checked.message.toStdString();
    EXPECT_TRUE(checked.message.contains(u"バージョン 1"_s)) << checked.message.toStdString();
    EXPECT_TRUE(checked.message.contains(u"給与データベース"_s)) << checked.message.toStdString();
    EXPECT_EQ(KorDAO::createPayrollSchema(h).code, KorDAO::kSchemaTooNew);
    const auto upgraded = KorDAO::upgradeSchema(h, KorDAO::DatabaseKind::Payroll);
    ASSERT_TRUE(mox::failure(upgraded));
    EXPECT_EQ(mox::failure(upgraded)->code, KorDAO::kSchemaTooNew);
    EXPECT_EQ(storedVersion(test), 2);
}

TEST_P(SchemaVersion, EachOlderTableSetIsRecognisedAndUpgradedWithItsRecords)
{
    for (const SchemaDesign design :
         {SchemaDesign::BeforeAudit, SchemaDesign::ClientAudit, SchemaDesign::Current}) {
        SCOPED_TRACE(static_cast<int>(design));
        TestDatabase test(GetParam());
        makeDesign(test, design);
        auto db = test.open();
        ASSERT_TRUE(db);
        const KorDAO::DatabaseHandle h = db->DBDatabase();
        const auto state = KorDAO::schemaState(h, KorDAO::DatabaseKind::Payroll);
        ASSERT_FALSE(mox::failure(state)) << mox::failure(state)->message.toStdString();
        EXPECT_EQ(mox::value(state).version, 0);
        EXPECT_EQ(mox::value(state).design, design);

        const mox::Status checked = KorDAO::checkSchemaVersion(h, KorDAO::DatabaseKind::Payroll);
        EXPECT_EQ(checked.code, KorDAO::kSchemaTooOld);
        EXPECT_TRUE(checked.message.contains(u"moxdb upgrade"_s)) << checked.message.toStdString();
        EXPECT_EQ(KorDAO::createPayrollSchema(h).code, KorDAO::kSchemaTooOld)
            << "creation does not upgrade behind the administrator's back";

        const auto upgraded = KorDAO::upgradeSchema(h, KorDAO::DatabaseKind::Payroll);
        ASSERT_FALSE(mox::failure(upgraded)) << mox::failure(upgraded)->message.toStdString();
        EXPECT_EQ(mox::value(upgraded).from, 0);
        EXPECT_EQ(mox::value(upgraded).to, KorDAO::kSchemaVersion);
        EXPECT_EQ(mox::value(upgraded).design, design);
        EXPECT_EQ(mox::value(upgraded).done.size(), 1);
        EXPECT_EQ(storedVersion(test), KorDAO::kSchemaVersion);
        EXPECT_TRUE(KorDAO::checkSchemaVersion(h, KorDAO::DatabaseKind::Payroll).ok());
        expectRecords(*db);

        // The trail is now the database's own: a write through the component is recorded, and
        // a row the programs wrote before stays.
        const QVariant before = test.rawScalar(u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s);
        {
            KorDAO::clsTbAccess tb;
            tb.setTBDatabase(h);
            tb.setTBNameString(u"GKKYUYO"_s);
            ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0);
            ASSERT_EQ(tb.DAO_RecRead(1), 0);
            ASSERT_EQ(tb.DAO_Edit(true), 0);
            tb.TBRec()[u"KENKO"] = Currency::fromYen(48300);
            ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
        }
        EXPECT_EQ(test.rawScalar(u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\""_s).toInt(),
                  before.toInt() + 1);
        if (design == SchemaDesign::ClientAudit) {
            EXPECT_EQ(test.rawScalar(u"SELECT COUNT(*) FROM \"KORDAO_AUDIT\" WHERE \"OSUSER\" = "
                                     "'tanaka'"_s)
                          .toInt(),
                      1);
        }
        EXPECT_EQ(test.rawScalar(u"SELECT \"N\" FROM \"KORDAO_ROWS\" WHERE \"NAME\" = "
                                 "'GKKYUYO'"_s)
                      .toInt(),
                  1)
            << "the record counter kept counting";
    }
}

TEST_P(SchemaVersion, AnUnversionedEnvironmentIsUpgradedWithItsNames)
{
    TestDatabase test(GetParam());
    {
        auto db = emptyDatabase(test);
        ASSERT_TRUE(KorDAO::createEnvironmentSchema(db->DBDatabase()).ok());
    }
    raw(test, {sqlite() ? u"PRAGMA user_version = 0"_s : u"DROP TABLE \"KORDAO_VERSION\""_s,
               u"INSERT INTO \"名設定\" (\"SYOKU1\", \"KENKO\") VALUES ('校長', 0.5)"_s});
    auto db = test.open();
    ASSERT_TRUE(db);
    const KorDAO::DatabaseHandle h = db->DBDatabase();
    EXPECT_EQ(KorDAO::checkSchemaVersion(h, KorDAO::DatabaseKind::Environment).code,
              KorDAO::kSchemaTooOld);
    const auto upgraded = KorDAO::upgradeSchema(h, KorDAO::DatabaseKind::Environment);
    ASSERT_FALSE(mox::failure(upgraded)) << mox::failure(upgraded)->message.toStdString();
    EXPECT_EQ(storedVersion(test), KorDAO::kSchemaVersion);
    EXPECT_EQ(test.rawScalar(u"SELECT \"SYOKU1\" FROM \"名設定\""_s).toString(), u"校長"_s);
}

// A step that fails half-way, after it made the audit table, leaves every table, function and
// record as it was, and no version.
TEST_P(SchemaVersion, AFailingStepLeavesTheDatabaseAsItWas)
{
    TestDatabase test(GetParam());
    makeDesign(test, SchemaDesign::BeforeAudit);
    // In the way of a part of the step made after the audit table: a table in place of the
    // payments' index, or a function of the audit trail's name that returns something else.
    if (sqlite())
        raw(test,
            {u"DROP INDEX \"GKKYUYO_IX1\""_s, u"CREATE TABLE \"GKKYUYO_IX1\" (\"X\" INTEGER)"_s});
    else
        raw(test, {u"CREATE FUNCTION kordao_audit_row() RETURNS integer LANGUAGE sql AS "
                   "'SELECT 1'"_s});
    auto db = test.open();
    ASSERT_TRUE(db);
    const auto upgraded = KorDAO::upgradeSchema(db->DBDatabase(), KorDAO::DatabaseKind::Payroll);
    ASSERT_TRUE(mox::failure(upgraded));
    EXPECT_TRUE(mox::failure(upgraded)->message.contains(u"何も変更していません"_s))
        << mox::failure(upgraded)->message.toStdString();

    const QString tableExists =
        sqlite() ? u"SELECT COUNT(*) FROM sqlite_master WHERE name = 'KORDAO_AUDIT'"_s
                 : u"SELECT COUNT(*) FROM pg_class WHERE relname = 'KORDAO_AUDIT'"_s;
    EXPECT_EQ(test.rawScalar(tableExists).toInt(), 0) << "the audit table made first is gone";
    if (sqlite()) {
        EXPECT_EQ(storedVersion(test), 0);
    } else {
        EXPECT_EQ(test.rawScalar(u"SELECT COUNT(*) FROM pg_class WHERE relname = "
                                 "'KORDAO_VERSION'"_s)
                      .toInt(),
                  0);
        EXPECT_EQ(test.rawScalar(u"SELECT prosecdef::text FROM pg_proc WHERE proname = "
                                 "'kordao_rows_added'"_s)
                      .toString(),
                  u"false"_s)
            << "the counter function replaced before the failure is the old one again";
    }
    const auto state = KorDAO::schemaState(db->DBDatabase(), KorDAO::DatabaseKind::Payroll);
    ASSERT_FALSE(mox::failure(state));
    EXPECT_EQ(mox::value(state).design, SchemaDesign::BeforeAudit);
    expectRecords(*db);
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaVersion,
                         testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& p) { return backendName(p.param); });

} // namespace
} // namespace kordaotest
