// The tax tables in the environment database: import, listing, the tax object reading them, and
// an import that fails leaving the database as it was. Run on SQLite and, when the test server
// is there, on PostgreSQL.

#include "brokencopy.h"
#include "envdatabase.h"
#include "testbonustable.h"

using namespace taxtest;

namespace {

class TaxStore : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgres && qEnvironmentVariable("MOX_TEST_PGHOST").isEmpty())
            GTEST_SKIP() << "MOX_TEST_PGHOST is not set";
        m_env = std::make_unique<EnvDatabase>(GetParam());
        ASSERT_EQ(m_env->openStatus(), 0) << m_env->openError().toStdString();
    }

    KorDAO::DatabaseHandle db() const { return m_env->handle(); }

    void importShipped()
    {
        QList<QDate> done;
        const mox::Status s = KorTAX::importEditions(db(), QStringLiteral(MOX_TAX_DATA_DIR),
                                                     KorTAX::IfStored::Refuse, &done);
        ASSERT_TRUE(s.ok()) << s.message.toStdString();
        ASSERT_EQ(done, (QList<QDate>{QDate(2020, 1, 1), QDate(2026, 1, 1), QDate(2027, 1, 1)}));
    }

    // "from: monthly bands / bonus bands" of every stored edition.
    QStringList stored() const
    {
        mox::Result<QList<KorTAX::EditionInfo>> list = KorTAX::listEditions(db());
        if (const mox::Status* s = mox::failure(list))
            return {s->message};
        QStringList out;
        for (const KorTAX::EditionInfo& e : mox::value(list))
            out << QStringLiteral("%1: %2/%3")
                       .arg(e.from.toString(Qt::ISODate))
                       .arg(e.monthlyBands)
                       .arg(e.bonusBands);
        return out;
    }

    std::unique_ptr<EnvDatabase> m_env;
};

// 246 rows + 8 formula bands; 232 + 9; 229 + 9; 21 rates × 8 columns; 令和9年分 without bonus.
const QStringList kShipped{QStringLiteral("2020-01-01: 254/168"),
                           QStringLiteral("2026-01-01: 241/168"),
                           QStringLiteral("2027-01-01: 238/0")};

} // namespace

TEST_P(TaxStore, ImportsShippedEditionsAndListsThem)
{
    importShipped();
    EXPECT_EQ(stored(), kShipped);
    // Importing an edition again replaces it rather than adding to it.
    ASSERT_TRUE(KorTAX::importEdition(db(), QDate(2026, 1, 1),
                                      dataDir(QStringLiteral("2026-01-01")),
                                      KorTAX::IfStored::Replace)
                    .ok());
    EXPECT_EQ(stored(), kShipped);
}

TEST_P(TaxStore, DateAlreadyStoredIsReplacedOnlyWhenAsked)
{
    importShipped();
    // The 2020 files under the 2026 date: a replacement would show the 2020 band counts.
    const QString other = dataDir(QStringLiteral("2020-01-01"));
    bool written = true;
    const mox::Status refused =
        KorTAX::importEdition(db(), QDate(2026, 1, 1), other, KorTAX::IfStored::Refuse, &written);
    EXPECT_EQ(refused.code, KorTAX::kStatusTableLoaded);
    EXPECT_TRUE(refused.message.contains(QStringLiteral("2026-01-01")))
        << refused.message.toStdString();
    EXPECT_FALSE(written);
    EXPECT_EQ(stored(), kShipped);

    // The shipped tables at "moxdb init": what is stored stays, what is missing is added.
    QList<QDate> done;
    ASSERT_TRUE(KorTAX::importEditions(db(), QStringLiteral(MOX_TAX_DATA_DIR),
                                       KorTAX::IfStored::Keep, &done)
                    .ok());
    EXPECT_TRUE(done.isEmpty());
    EXPECT_EQ(stored(), kShipped);

    ASSERT_TRUE(
        KorTAX::importEdition(db(), QDate(2026, 1, 1), other, KorTAX::IfStored::Replace, &written)
            .ok());
    EXPECT_TRUE(written);
    EXPECT_EQ(stored(), (QStringList{QStringLiteral("2020-01-01: 254/168"),
                                     QStringLiteral("2026-01-01: 254/168"), kShipped[2]}));
}

TEST_P(TaxStore, EachTableOfTheFolderIsAddedRefusedKeptOrReplaced)
{
    importShipped();
    // Both 令和8年分 tables under the 令和9年分 date, whose stored edition holds only its monthly
    // table (238 bands, against 241 in the folder).
    const QDate from(2027, 1, 1);
    const QString both = dataDir(QStringLiteral("2026-01-01"));
    bool written = true;
    const mox::Status refused =
        KorTAX::importEdition(db(), from, both, KorTAX::IfStored::Refuse, &written);
    EXPECT_EQ(refused.code, KorTAX::kStatusTableLoaded);
    EXPECT_TRUE(refused.message.contains(
        QStringLiteral("令和9年分（2027-01-01 から）の給与所得の源泉徴収税額表（月額表）")))
        << refused.message.toStdString();
    EXPECT_FALSE(written);
    EXPECT_EQ(stored(), kShipped);

    // Keep adds the bonus table the edition lacks and leaves its monthly table as stored.
    ASSERT_TRUE(KorTAX::importEdition(db(), from, both, KorTAX::IfStored::Keep, &written).ok());
    EXPECT_TRUE(written);
    const QStringList added{kShipped[0], kShipped[1], QStringLiteral("2027-01-01: 238/168")};
    EXPECT_EQ(stored(), added);
    ASSERT_TRUE(KorTAX::importEdition(db(), from, both, KorTAX::IfStored::Keep, &written).ok());
    EXPECT_FALSE(written);

    // The shipped tables at "moxdb init" keep the bonus table loaded by hand.
    QList<QDate> done;
    ASSERT_TRUE(KorTAX::importEditions(db(), QStringLiteral(MOX_TAX_DATA_DIR),
                                       KorTAX::IfStored::Keep, &done)
                    .ok());
    EXPECT_TRUE(done.isEmpty());
    EXPECT_EQ(stored(), added);

    ASSERT_TRUE(KorTAX::importEdition(db(), from, both, KorTAX::IfStored::Replace, &written).ok());
    EXPECT_TRUE(written);
    EXPECT_EQ(stored(),
              (QStringList{kShipped[0], kShipped[1], QStringLiteral("2027-01-01: 241/168")}));
}

TEST_P(TaxStore, TaxObjectReadsStoredTablesOnce)
{
    importShipped();
    KorTAX::clsTax tax;
    tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
    Currency out;
    // R8 bonus d0: 260–309 千円 → 6.126 %; 500,000 × 6.126 % = 30,630.
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, yen(20261201), out), 0)
        << tax.lastError().toStdString();
    EXPECT_EQ(out, yen(30'630));
    EXPECT_EQ(tax.TaxRate(), percent(u"6.126"));

    // The tables are kept: with the configuration gone the object still answers.
    qputenv("MOX_INI_DIR", QByteArrayLiteral("/nonexistent-mox-ini-dir"));
    // R8 formula: 81,890 + 10,000 × 23.483 % → 84,238.
    ASSERT_EQ(tax.TaxMonthly(yen(800'000), 0, 0, yen(20260101), out), 0);
    EXPECT_EQ(out, yen(84'238));
    // R2 row 99,000–101,000, d0 → 720.
    ASSERT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, yen(20251231), out), 0);
    EXPECT_EQ(out, yen(720));
    EXPECT_EQ(tax.TaxMonthly(yen(100'000), 0, 0, yen(20191231), out), KorTAX::kStatusNoEdition);

    KorTAX::clsTax fresh;
    fresh.setTaxIniName(QStringLiteral("MOXENV.INI"));
    EXPECT_NE(fresh.TaxMonthly(yen(100'000), 0, 0, yen(20251231), out), 0);
}

TEST_P(TaxStore, BonusTableAddedToTheEditionThatLacksIt)
{
    importShipped();
    KorTAX::clsTax tax;
    tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
    Currency out = yen(-1);
    // June 2027: 令和9年分 has no bonus table yet, and the 令和8年分 one does not stand in.
    EXPECT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, yen(20270601), out),
              KorTAX::kStatusNoTable);
    EXPECT_EQ(out, yen(-1));
    EXPECT_EQ(tax.lastError(),
              QStringLiteral("令和9年分の賞与に対する源泉徴収税額の算出率の表がありません。"));
    // R9 row 338,000–341,000, d0 → 10,410; December 2026 keeps R8 (10,750; bonus 6.126 %).
    ASSERT_EQ(tax.TaxMonthly(yen(339'250), 0, 0, yen(20270601), out), 0);
    EXPECT_EQ(out, yen(10'410));
    ASSERT_EQ(tax.TaxMonthly(yen(339'250), 0, 0, yen(20261201), out), 0);
    EXPECT_EQ(out, yen(10'750));
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, yen(20261201), out), 0);
    EXPECT_EQ(tax.TaxRate(), percent(u"6.126"));

    // Adding the missing table needs no --replace and keeps the monthly table.
    QTemporaryDir bonusDir;
    ASSERT_TRUE(writeTestBonusTable(bonusDir.path()));
    const mox::Status added = KorTAX::importEdition(db(), QDate(2027, 1, 1), bonusDir.path());
    ASSERT_TRUE(added.ok()) << added.message.toStdString();
    const QStringList withBonus{kShipped[0], kShipped[1], QStringLiteral("2027-01-01: 238/168")};
    EXPECT_EQ(stored(), withBonus);

    // The same object sees the table at once: its refusal made it read the tables again.
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, yen(20270601), out), 0)
        << tax.lastError().toStdString();
    EXPECT_EQ(tax.TaxRate(), percent(u"12.252"));
    EXPECT_EQ(out, yen(61'260));
    ASSERT_EQ(tax.TaxMonthly(yen(339'250), 0, 0, yen(20270601), out), 0);
    EXPECT_EQ(out, yen(10'410));
    ASSERT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, yen(20261201), out), 0);
    EXPECT_EQ(tax.TaxRate(), percent(u"6.126"));

    // A table the edition already holds is replaced only when asked to.
    const mox::Status again = KorTAX::importEdition(db(), QDate(2027, 1, 1), bonusDir.path());
    EXPECT_EQ(again.code, KorTAX::kStatusTableLoaded);
    EXPECT_TRUE(
        again.message.contains(QStringLiteral("令和9年分（2027-01-01 から）の賞与に対する")))
        << again.message.toStdString();
    const mox::Status monthly =
        KorTAX::importEdition(db(), QDate(2027, 1, 1), dataDir(QStringLiteral("2026-01-01")));
    EXPECT_EQ(monthly.code, KorTAX::kStatusTableLoaded);
    EXPECT_EQ(stored(), withBonus);
    const mox::Status replaced =
        KorTAX::importEdition(db(), QDate(2027, 1, 1), bonusDir.path(), KorTAX::IfStored::Replace);
    ASSERT_TRUE(replaced.ok()) << replaced.message.toStdString();
    EXPECT_EQ(stored(), withBonus);
}

TEST_P(TaxStore, BrokenFileIsRefusedAndNothingStored)
{
    importShipped();
    EditionCopy copy(QStringLiteral("2026-01-01"));
    copy.replaceLine(QStringLiteral("monthly-table-kou.csv"), 12,
                     QStringLiteral("107000,109000,280,0,0,0,0,0,0,0,3800"),
                     QStringLiteral("107000,109000,160,0,0,0,0,0,0,0,3800"));
    const mox::Status s = KorTAX::importEdition(db(), QDate(2026, 1, 1), copy.dir());
    EXPECT_EQ(s.code, KorTAX::kStatusBrokenTable);
    EXPECT_EQ(stored(), kShipped);
}

TEST_P(TaxStore, FailedWriteLeavesDatabaseUnchanged)
{
    importShipped();
    ASSERT_TRUE(m_env->breakLastBonusInsert());

    // Replacing an edition deletes and rewrites all its records before the write that fails.
    const mox::Status replace = KorTAX::importEdition(
        db(), QDate(2026, 1, 1), dataDir(QStringLiteral("2026-01-01")), KorTAX::IfStored::Replace);
    EXPECT_FALSE(replace.ok());
    const mox::Status added =
        KorTAX::importEdition(db(), QDate(2028, 1, 1), dataDir(QStringLiteral("2026-01-01")));
    EXPECT_FALSE(added.ok());
    EXPECT_EQ(stored(), kShipped);

    mox::Result<std::vector<KorTAX::Edition>> loaded = KorTAX::loadEditions(db());
    ASSERT_EQ(mox::failure(loaded), nullptr);
    const KorTAX::Edition& r8 = mox::value(loaded).at(1);
    // R8 d7: 3,717 千円以上 → 45.945 %; the top band of the monthly table from 3,500,000 yen.
    EXPECT_EQ(KorTAX::bonusRate(r8, yen(3'717'000), 7), percent(u"45.945"));
    EXPECT_EQ(KorTAX::monthlyTax(r8, yen(3'600'000), 7), yen(1'125'945));
}

TEST_P(TaxStore, EditionWithoutTablesIsAnErrorNotZeroTax)
{
    ASSERT_TRUE(KorTAX::createTaxSchema(db()).ok());
    KorDAO::clsTbAccess han;
    han.setTBDatabase(db());
    han.setTBNameString(QStringLiteral("ZEIHAN"));
    ASSERT_GE(han.DAO_TableOpen(QString(), QString()), 0);
    ASSERT_EQ(han.DAO_AddNew(true), 0);
    han.TBRec()[u"TEKIYO"] = 20200101;
    ASSERT_EQ(han.DAO_Update(), 0);

    mox::Result<std::vector<KorTAX::Edition>> loaded = KorTAX::loadEditions(db());
    ASSERT_NE(mox::failure(loaded), nullptr);
    EXPECT_EQ(mox::failure(loaded)->code, KorTAX::kStatusBrokenTable);

    KorTAX::clsTax tax;
    tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
    Currency out = yen(-1);
    EXPECT_EQ(tax.TaxMonthly(yen(300'000), 0, 0, yen(20260101), out), KorTAX::kStatusBrokenTable);
    EXPECT_EQ(out, yen(-1));
    EXPECT_TRUE(tax.lastError().contains(QStringLiteral("20200101")));
}

TEST_P(TaxStore, StoredBonusColumnBrokenPastItsFirstBandIsRefused)
{
    importShipped();
    // Band \p n (1-based, by lower bound) of dependants column \p d of the 2026 edition.
    KorDAO::clsTbAccess syo;
    syo.setTBDatabase(db());
    syo.setTBNameString(QStringLiteral("ZEISYO"));
    auto toBand = [&](int d, int n) {
        ASSERT_EQ(syo.DAO_TableOpen(QStringLiteral("TEKIYO = 20260101 AND FUYO = %1").arg(d),
                                    QStringLiteral("KAGEN")),
                  21);
        short st = syo.DAO_RecRead(1);
        for (int i = 1; i < n && st == 0; ++i)
            st = syo.DAO_RecRead(2);
        ASSERT_EQ(st, 0);
    };
    auto expectRefused = [&](const char* column) {
        mox::Result<std::vector<KorTAX::Edition>> loaded = KorTAX::loadEditions(db());
        ASSERT_NE(mox::failure(loaded), nullptr);
        EXPECT_EQ(mox::failure(loaded)->code, KorTAX::kStatusBrokenTable);
        EXPECT_TRUE(mox::failure(loaded)->message.contains(QString::fromUtf8(column)))
            << mox::failure(loaded)->message.toStdString();
        KorTAX::clsTax tax;
        tax.setTaxIniName(QStringLiteral("MOXENV.INI"));
        Currency out = yen(-1);
        EXPECT_EQ(tax.TaxBonus(yen(500'000), yen(300'000), 0, 0, yen(20261201), out),
                  KorTAX::kStatusBrokenTable);
        EXPECT_EQ(out, yen(-1));
    };

    // The tenth band of column 5 moved to start one thousand yen below the ninth: read in order
    // of lower bounds, a higher rate now comes before a lower one.
    toBand(5, 9);
    const Currency ninth = syo.TBRec()[u"KAGEN"].toCurrency();
    toBand(5, 10);
    ASSERT_EQ(syo.DAO_Edit(true), 0);
    syo.TBRec()[u"KAGEN"] = ninth - yen(1'000);
    ASSERT_EQ(syo.DAO_Update(), 0) << syo.lastError().toStdString();
    expectRefused("扶養親族等 5 人");

    // The twelfth band of column 6 missing: a rate the column lacks.
    ASSERT_TRUE(KorTAX::importEdition(db(), QDate(2026, 1, 1),
                                      dataDir(QStringLiteral("2026-01-01")),
                                      KorTAX::IfStored::Replace)
                    .ok());
    ASSERT_EQ(mox::failure(KorTAX::loadEditions(db())), nullptr);
    toBand(6, 12);
    ASSERT_EQ(syo.DAO_Delete(true), 0) << syo.lastError().toStdString();
    expectRefused("扶養親族等 6 人");
}

INSTANTIATE_TEST_SUITE_P(Engines, TaxStore, testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& p) { return engineName(p.param); });

TEST(ShippedTables, FolderFoundFromTheProgram)
{
    const QString dir = KorTAX::shippedTaxDir();
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/2020-01-01/bonus-rate-table.csv")))
        << dir.toStdString();
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/2026-01-01/monthly-table-kou.csv")));
}
