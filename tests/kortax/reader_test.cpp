// The checks that guard an import: each broken copy must be refused with a message naming the
// file and the line, and the shipped files must pass.

#include "brokencopy.h"

using namespace taxtest;

namespace {

mox::Status readStatus(const QString& dir)
{
    mox::Result<KorTAX::Edition> r = KorTAX::readEditionDir(dir, QDate(2020, 1, 1));
    if (const mox::Status* s = mox::failure(r))
        return *s;
    return mox::Status::success();
}

const QString kBonus = QStringLiteral("bonus-rate-table.csv");
const QString kMonthly = QStringLiteral("monthly-table-kou.csv");
const QString kFormula = QStringLiteral("monthly-table-kou-formula.csv");

} // namespace

TEST(EditionRead, ShippedEditionsPassWithEveryBand)
{
    EXPECT_EQ(reiwa2().monthly.size(), 246u + 8u);
    EXPECT_EQ(reiwa8().monthly.size(), 232u + 9u);
    for (const auto& column : reiwa8().bonus)
        EXPECT_EQ(column.size(), 21u);
    EXPECT_EQ(reiwa9().monthly.size(), 229u + 9u);
    EXPECT_FALSE(reiwa9().holds(KorTAX::Table::Bonus));
}

struct BrokenCase {
    const char* name;
    QString file;
    int line;
    const char* before;
    const char* after;
};

class EditionReadRefuses : public testing::TestWithParam<BrokenCase> {};

TEST_P(EditionReadRefuses, NamingFileAndLine)
{
    const BrokenCase& c = GetParam();
    EditionCopy copy(QStringLiteral("2020-01-01"));
    copy.replaceLine(c.file, c.line, QString::fromUtf8(c.before), QString::fromUtf8(c.after));
    const mox::Status s = readStatus(copy.dir());
    EXPECT_EQ(s.code, KorTAX::kStatusBrokenTable);
    EXPECT_TRUE(s.message.contains(copy.path(c.file))) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains(QStringLiteral(" %1 行目").arg(c.line)))
        << s.message.toStdString();
    // The check of a folder (moxdb tax check) finds the same fault, and only it.
    const KorTAX::FolderCheck check = KorTAX::checkEditionDir(copy.dir());
    EXPECT_FALSE(check.ok());
    QStringList faults;
    for (const KorTAX::TableCheck& t : check.tables) {
        if (!t.status.ok())
            faults << t.status.message;
    }
    EXPECT_EQ(faults, QStringList{s.message});
}

const BrokenCase kBrokenCases[] = {
    {"MonthlyGap", kMonthly, 13, "89000,90000,180,0,0,0,0,0,0,0,3200",
     "89500,90000,180,0,0,0,0,0,0,0,3200"},
    {"MonthlyOverlap", kMonthly, 13, "89000,90000,180,0,0,0,0,0,0,0,3200",
     "88500,90000,180,0,0,0,0,0,0,0,3200"},
    {"MonthlyTaxDecreasesWithPay", kMonthly, 13, "89000,90000,180,0,0,0,0,0,0,0,3200",
     "89000,90000,120,0,0,0,0,0,0,0,3200"},
    {"MonthlyTaxRisesWithDependants", kMonthly, 13, "89000,90000,180,0,0,0,0,0,0,0,3200",
     "89000,90000,180,0,10,0,0,0,0,0,3200"},
    {"MonthlyNotANumber", kMonthly, 13, "89000,90000,180,0,0,0,0,0,0,0,3200",
     "89000,90000,18O,0,0,0,0,0,0,0,3200"},
    {"MonthlyMissingCell", kMonthly, 13, "89000,90000,180,0,0,0,0,0,0,0,3200",
     "89000,90000,180,0,0,0,0,0,0,0"},
    {"BonusWrongRate", kBonus, 9,
     "4.084,79,252,243,282,269,312,295,345,300,378,300,406,333,431,372,456,,",
     "4.085,79,252,243,282,269,312,295,345,300,378,300,406,333,431,372,456,,"},
    {"BonusRateOutOfOrder", kBonus, 9,
     "4.084,79,252,243,282,269,312,295,345,300,378,300,406,333,431,372,456,,",
     "6.126,79,252,243,282,269,312,295,345,300,378,300,406,333,431,372,456,,"},
    {"BonusGap", kBonus, 9,
     "4.084,79,252,243,282,269,312,295,345,300,378,300,406,333,431,372,456,,",
     "4.084,80,252,243,282,269,312,295,345,300,378,300,406,333,431,372,456,,"},
    {"BonusEmptyBand", kBonus, 8,
     "2.042,68,79,94,243,133,269,171,295,210,300,243,300,275,333,308,372,,",
     "2.042,68,68,94,243,133,269,171,295,210,300,243,300,275,333,308,372,,"},
    {"FormulaGap", kFormula, 13,
     "kou,950000,1700000,121480,115010,108540,102070,95610,89140,82670,76210,,33.693",
     "kou,960000,1700000,121480,115010,108540,102070,95610,89140,82670,76210,,33.693"},
    {"FormulaBaseUnevenStep", kFormula, 13,
     "kou,950000,1700000,121480,115010,108540,102070,95610,89140,82670,76210,,33.693",
     "kou,950000,1700000,121480,115010,108540,102170,95610,89140,82670,76210,,33.693"},
    {"FormulaTaxDropsAtBound", kFormula, 13,
     "kou,950000,1700000,121480,115010,108540,102070,95610,89140,82670,76210,,33.693",
     "kou,950000,1700000,121380,114910,108440,101970,95510,89040,82570,76110,,33.693"},
    {"FormulaRateNotFromSurtax", kFormula, 13,
     "kou,950000,1700000,121480,115010,108540,102070,95610,89140,82670,76210,,33.693",
     "kou,950000,1700000,121480,115010,108540,102070,95610,89140,82670,76210,,33.7"},
    {"FormulaFirstBandOffTable", kFormula, 11,
     "kou,740000,780000,73390,66920,60450,53980,47520,41050,34580,28120,,20.42",
     "kou,741000,780000,73390,66920,60450,53980,47520,41050,34580,28120,,20.42"},
    {"FormulaTopBandClosed", kFormula, 18,
     "kou,3500000,,1125620,1119150,1112690,1106210,1099750,1093290,1086810,1080350,,45.945",
     "kou,3500000,9000000,1125620,1119150,1112690,1106210,1099750,1093290,1086810,1080350,,45.945"},
};

INSTANTIATE_TEST_SUITE_P(Broken, EditionReadRefuses, testing::ValuesIn(kBrokenCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(EditionRead, MissingFileIsNamed)
{
    EditionCopy copy(QStringLiteral("2026-01-01"));
    ASSERT_TRUE(QFile::remove(copy.path(kFormula)));
    const mox::Status s = readStatus(copy.dir());
    EXPECT_EQ(s.code, KorTAX::kStatusMissingFile);
    EXPECT_TRUE(s.message.contains(copy.path(kFormula)));
}

TEST(EditionRead, FolderMayHoldEitherTable)
{
    EditionCopy bonusOnly(QStringLiteral("2026-01-01"));
    ASSERT_TRUE(QFile::remove(bonusOnly.path(kMonthly)));
    ASSERT_TRUE(QFile::remove(bonusOnly.path(kFormula)));
    mox::Result<KorTAX::Edition> r = KorTAX::readEditionDir(bonusOnly.dir(), QDate(2027, 1, 1));
    ASSERT_EQ(mox::failure(r), nullptr) << mox::failure(r)->message.toStdString();
    EXPECT_TRUE(mox::value(r).holds(KorTAX::Table::Bonus));
    EXPECT_FALSE(mox::value(r).holds(KorTAX::Table::Monthly));

    EditionCopy monthlyOnly(QStringLiteral("2026-01-01"));
    ASSERT_TRUE(QFile::remove(monthlyOnly.path(kBonus)));
    r = KorTAX::readEditionDir(monthlyOnly.dir(), QDate(2027, 1, 1));
    ASSERT_EQ(mox::failure(r), nullptr) << mox::failure(r)->message.toStdString();
    EXPECT_EQ(mox::value(r).monthly.size(), 241u);
    EXPECT_FALSE(mox::value(r).holds(KorTAX::Table::Bonus));

    // Neither table: nothing to import, and the message names the folder.
    ASSERT_TRUE(QFile::remove(monthlyOnly.path(kMonthly)));
    ASSERT_TRUE(QFile::remove(monthlyOnly.path(kFormula)));
    const mox::Status none = readStatus(monthlyOnly.dir());
    EXPECT_EQ(none.code, KorTAX::kStatusMissingFile);
    EXPECT_TRUE(none.message.contains(monthlyOnly.dir())) << none.message.toStdString();
    EXPECT_FALSE(KorTAX::checkEditionDir(monthlyOnly.dir()).ok());
}

TEST(EditionCheck, EachBrokenTableOfAFolderIsNamed)
{
    EditionCopy copy(QStringLiteral("2026-01-01"));
    copy.replaceLine(kMonthly, 12, QStringLiteral("107000,109000,280,0,0,0,0,0,0,0,3800"),
                     QStringLiteral("107000,109000,160,0,0,0,0,0,0,0,3800"));
    copy.replaceLine(kBonus, 10,
                     QStringLiteral("4.084,94,260,250,289,276,321,300,354,300,387,304,412,343,438,"
                                    "383,463,,"),
                     QStringLiteral("4.085,94,260,250,289,276,321,300,354,300,387,304,412,343,438,"
                                    "383,463,,"));
    const KorTAX::FolderCheck check = KorTAX::checkEditionDir(copy.dir());
    EXPECT_TRUE(check.status.ok());
    ASSERT_EQ(check.tables.size(), 2u);
    EXPECT_EQ(check.tables[0].table, KorTAX::Table::Monthly);
    EXPECT_TRUE(check.tables[0].status.message.startsWith(copy.path(kMonthly) +
                                                          QStringLiteral(" の 12 行目")))
        << check.tables[0].status.message.toStdString();
    EXPECT_EQ(check.tables[1].table, KorTAX::Table::Bonus);
    EXPECT_TRUE(check.tables[1].status.message.startsWith(copy.path(kBonus) +
                                                          QStringLiteral(" の 10 行目")))
        << check.tables[1].status.message.toStdString();

    const KorTAX::FolderCheck shipped =
        KorTAX::checkEditionDir(dataDir(QStringLiteral("2027-01-01")));
    EXPECT_TRUE(shipped.ok());
    ASSERT_EQ(shipped.tables.size(), 1u);
    EXPECT_EQ(shipped.tables[0].bands, 238);
}

TEST(EditionRead, BonusBoundBeyondTheMoneyRangeIsRefused)
{
    // 922,337,203,686 thousand yen has twelve digits like any bound, and is just beyond what the
    // money type holds once multiplied out: the top band of the "7人以上" column starts there.
    EditionCopy copy(QStringLiteral("2020-01-01"));
    const QString row26 = QStringLiteral(
        "41.861,2621,3495,2645,3527,2669,3559,2693,3590,2716,3622,2740,3654,2764,3685,2788,");
    const QString row27 = QStringLiteral("45.945,3495,,3527,,3559,,3590,,3622,,3654,,3685,,");
    const QString huge = QStringLiteral("922337203686");
    copy.replaceLine(kBonus, 26, row26 + QStringLiteral("3717,,"),
                     row26 + huge + QStringLiteral(",,"));
    copy.replaceLine(kBonus, 27, row27 + QStringLiteral("3717,,1118,"),
                     row27 + huge + QStringLiteral(",,1118,"));
    const mox::Status s = readStatus(copy.dir());
    EXPECT_EQ(s.code, KorTAX::kStatusBrokenTable);
    EXPECT_TRUE(s.message.contains(copy.path(kBonus))) << s.message.toStdString();
    EXPECT_TRUE(s.message.contains(QStringLiteral(" 27 行目"))) << s.message.toStdString();
}
