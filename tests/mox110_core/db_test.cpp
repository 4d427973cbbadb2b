#include "mox110/bonuscalc.h"
#include "mox110/callup.h"

#include "kordao/schema.h"
#include "kortax/kortax.h"
#include "mox/shell.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace mox110;
using namespace Qt::StringLiterals;

namespace {

Currency yen(std::int64_t v)
{
    return Currency::fromYen(v);
}

QString numbered(const QString& stem, int n)
{
    return stem + QString::number(n).rightJustified(2, u'0');
}

// A payroll database in a temporary folder, found through "MOX.INI" as the programs find it.
class PayrollDb : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QFile ini(m_dir.filePath(u"MOX.INI"_s));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Database]\nDriver=QSQLITE\nDatabase=mox.db\n");
        ini.close();
        m_oldIniDir = qgetenv("MOX_INI_DIR");
        qputenv("MOX_INI_DIR", m_dir.path().toUtf8());
        m_db.setDBIniNameString(u"MOX.INI"_s);
        m_db.setCreateIfMissing(true);
        ASSERT_EQ(m_db.DAO_DBOpen(), 0) << m_db.lastError().toStdString();
        ASSERT_TRUE(KorDAO::createPayrollSchema(m_db.DBDatabase()).ok());
    }

    void TearDown() override
    {
        (void)m_db.DAO_DBClose();
        qputenv("MOX_INI_DIR", m_oldIniDir);
    }

    void insert(const QString& table, const std::map<QString, Currency>& fields,
                const std::map<QString, QString>& texts = {})
    {
        KorDAO::clsTbAccess tb;
        tb.setTBDatabase(m_db.DBDatabase());
        tb.setTBNameString(table);
        ASSERT_GE(tb.DAO_TableOpen(QString(), QString()), 0);
        ASSERT_EQ(tb.DAO_AddNew(true), 0);
        for (const auto& [name, value] : fields)
            tb.TBRec()[name] = value;
        for (const auto& [name, value] : texts)
            tb.TBRec()[name] = value;
        ASSERT_EQ(tb.DAO_Update(), 0) << tb.lastError().toStdString();
        ASSERT_EQ(tb.DAO_TableClose(), 0);
    }

    // Bands of 1,000 yen from KAISHI 1,000: band n is [n × 1,000, (n + 1) × 1,000) and costs
    // n × 10 yen; outside them 8 per mille.
    void insertKoyouTable()
    {
        std::map<QString, Currency> f{{u"KAISHI"_s, yen(1'000)}, {u"KAKRIT"_s, yen(8)}};
        for (int n = 1; n <= 60; ++n) {
            f[numbered(u"TINGIN_"_s, n)] = yen(1'000 + n * 1'000);
            f[numbered(u"HOKEN_"_s, n)] = yen(n * 10);
        }
        insert(u"GKKOYOU"_s, f);
    }

    void insertPay(int syokcd, int kyusyu, int skyuym, int kyuseq, std::int64_t kazeig,
                   std::int64_t syagok, std::int64_t syotok)
    {
        insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, yen(syokcd)},
                              {u"KYUSYU"_s, yen(kyusyu)},
                              {u"SKYUYM"_s, yen(skyuym)},
                              {u"KYUSEQ"_s, yen(kyuseq)},
                              {u"KAZEIG"_s, yen(kazeig)},
                              {u"SYAGOK"_s, yen(syagok)},
                              {u"SYOTOK"_s, yen(syotok)}});
    }

    QTemporaryDir m_dir;
    QByteArray m_oldIniDir;
    KorDAO::clsDbAccess m_db;
};

} // namespace

TEST_F(PayrollDb, EmploymentInsuranceBandsAndRate)
{
    insertKoyouTable();
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {0, 0},             // below KAISHI: 8 per mille
        {999, 7},           // KAISHI − 1: 7.992 cut
        {1'000, 10},        // KAISHI opens band 1
        {1'999, 10},        // one below TINGIN_01
        {6'000, 60},        // equal to TINGIN_05: band 6
        {60'999, 600},      // the last band
        {61'000, 488},      // equal to TINGIN_60: the rate again
        {1'234'567, 9'876}, // 9,876.536 cut
    };
    for (const auto& [amount, premium] : cases) {
        const mox::Result<Currency> got = prfKoyou(yen(amount));
        ASSERT_FALSE(mox::failure(got)) << amount;
        EXPECT_EQ(mox::value(got), yen(premium)) << amount;
    }
}

TEST_F(PayrollDb, EmptyEmploymentInsuranceTableIsAFailureNotAZeroPremium)
{
    mox::ScriptedShell shell;
    const mox::Result<Currency> got = prfKoyou(yen(100'000));
    ASSERT_TRUE(mox::failure(got));
    EXPECT_FALSE(shell.ended());
}

TEST_F(PayrollDb, MissingDatabaseEndsTheProgramWithItsStatus)
{
    mox::ScriptedShell shell;
    QFile::remove(m_dir.filePath(u"MOX.INI"_s));
    EXPECT_THROW((void)prfKoyou(yen(1)), mox::ProgramEnded);
    ASSERT_EQ(shell.boxes().size(), 1u);
}

TEST_F(PayrollDb, PreviousMonthSumsOnlyThatMonthsPayOfTheEmployee)
{
    insertPay(1234, 1, 202611, 0, 300'000, 45'000, 6'000);
    insertPay(1234, 4, 202611, 1, 10'000, 0, 300);
    insertPay(1234, 2, 202611, 0, 999'999, 1, 1); // a bonus, not pay
    insertPay(1234, 1, 202610, 0, 888'888, 1, 1); // the month before
    insertPay(1235, 1, 202611, 0, 777'777, 1, 1); // someone else
    BonusScreen s;
    ASSERT_TRUE(prsReadZenge(s, m_db.DBDatabase(), 1234, yen(202612)).ok());
    EXPECT_EQ(s.nu1Zenkaz, yen(265'000));
    EXPECT_EQ(s.nu1Zenzei, yen(6'300));

    s.nu1Zenkaz = s.nu1Zenzei = yen(5);
    ASSERT_TRUE(prsReadZenge(s, m_db.DBDatabase(), 4321, yen(202612)).ok());
    EXPECT_EQ(s.nu1Zenkaz, yen(0));
    EXPECT_EQ(s.nu1Zenzei, yen(0));
}

TEST_F(PayrollDb, StoredBonusIsShownAsStored)
{
    insert(u"GKKYUYO"_s,
           {{u"SYOKCD"_s, yen(7)},
            {u"KYUSYU"_s, yen(2)},
            {u"SKYUYM"_s, yen(202612)},
            {u"TOKKBN"_s, yen(1)},
            {u"ROUKBN"_s, yen(0)},
            {u"KIMATU"_s, yen(500'000)},
            {u"KINBEN"_s, yen(400'000)},
            {u"SSIKYU"_s, yen(900'000)},
            {u"KAZEIG"_s, yen(900'000)},
            {u"SYAGOK"_s, yen(117'200)},
            {u"KMRITU"_s, yen(10'400'008)},
            {u"NMRITU"_s, yen(2'500'000)},
            {u"KBRITU"_s, yen(9'500'000)},
            {u"KMMMDD"_s, yen(529)},
            {u"KBMMDD"_s, yen(15)},
            {u"ZEIRT2"_s, *Currency::parse(u"4.084")}},
           {{u"NIREM1"_s, u"賞与  "_s}});
    KorDAO::clsTbAccess tb;
    tb.setTBDatabase(m_db.DBDatabase());
    tb.setTBNameString(u"GKKYUYO"_s);
    ASSERT_EQ(tb.DAO_TableOpen(QString(), QString()), 1);
    ASSERT_EQ(tb.DAO_RecRead(1), 0);

    CalcContext ctx;
    BonusScreen s;
    ASSERT_TRUE(prsDspKyuyo(s, ctx, tb.TBRec()).ok());
    EXPECT_EQ(s.cboTokkbn.listIndex, 1);
    EXPECT_EQ(s.cboTokkbn.itemData, 1);
    EXPECT_EQ(s.cboRoukbn.listIndex, 0);
    EXPECT_EQ(s.nu1Kmmm, yen(5));
    EXPECT_EQ(s.nu1Kmdd, yen(29));
    EXPECT_EQ(s.nu1Kbmm, yen(0));
    EXPECT_EQ(s.nu1Kbdd, yen(15));
    EXPECT_EQ(s.txtKmritu, u"104.00008"_s);
    EXPECT_EQ(s.txtKbritu, u"95.00000"_s);
    EXPECT_EQ(s.txtTxt1, u"賞与"_s);
    EXPECT_EQ(s.nu1Zeirit, *Currency::parse(u"4.084"));
    EXPECT_EQ(s.nu1Kazeig, yen(782'800)); // 900,000 − 0 − 117,200, not the stored KAZEIG
    EXPECT_EQ(ctx.curKazeig, yen(900'000));

    ctx.jinji.KYUKBN = 4;
    ASSERT_TRUE(prsDspKyuyo(s, ctx, tb.TBRec()).ok());
    EXPECT_EQ(s.txtKmritu, u"25.00000"_s);

    ASSERT_EQ(tb.DAO_Edit(true), 0);
    tb.TBRec()[u"ROUKBN"] = 2; // no such list item
    ASSERT_EQ(tb.DAO_Update(), 0);
    EXPECT_FALSE(prsDspKyuyo(s, ctx, tb.TBRec()).ok());
    (void)tb.DAO_TableClose();
}

TEST_F(PayrollDb, CallUpWithoutStoredBonusFillsTheWholeScreen)
{
    insertPay(1234, 1, 202611, 0, 300'000, 45'000, 6'000);
    KorTAX::clsTax tax;
    KorTAX::Edition e;
    e.from = QDate(2026, 1, 1);
    e.monthly.push_back(KorTAX::MonthlyBand{});
    for (auto& column : e.bonus)
        column = {{Currency(), *Currency::parse(u"2.042")},
                  {yen(200'000), *Currency::parse(u"4.084")}};
    tax.setEditions({e});

    CalcContext ctx;
    ctx.tax = &tax;
    ctx.kanri.SYORID = yen(202612);
    ctx.kanri.KM12KM = yen(100);
    ctx.kanri.KM12KB = yen(100);
    ctx.jinji.SYOKCD = 1234;
    ctx.jinji.KYURYO = yen(300'000);
    ctx.jinji.ZKAYMD_01 = yen(20000401);
    ctx.jinji.ZKNYMD_01 = yen(99991231);
    BonusScreen s;
    prsItemClr(s, ctx);
    s.nu1Kenko = yen(77); // left from an earlier employee: the list change clears it
    ASSERT_TRUE(callUpNew(s, ctx, m_db.DBDatabase()).ok());
    EXPECT_EQ(s.cboTokkbn.listIndex, 0);
    EXPECT_EQ(s.cboRoukbn.listIndex, 0);
    EXPECT_EQ(s.nu1Kankmritu, yen(100));
    EXPECT_EQ(s.nu1Kmkikan, yen(100));
    EXPECT_EQ(s.nu1Kimatu, yen(300'000));
    EXPECT_EQ(s.nu1Kinben, yen(300'000));
    EXPECT_EQ(s.nu1Kenko, yen(0));
    EXPECT_EQ(s.nu1Zenkaz, yen(255'000));
    EXPECT_EQ(s.nu1Zenzei, yen(6'000));
    EXPECT_EQ(s.nu1Syotok, yen(24'504)); // 600,000 × 4.084 % (previous pay 255,000)
    EXPECT_EQ(s.nu1Zeirit, *Currency::parse(u"4.084"));
    EXPECT_EQ(s.nu1Sasihk, yen(575'496));
    EXPECT_EQ(ctx.curKazeig, yen(600'000));

    ctx.kanri.SYORID = yen(202603);
    const mox::Status st = callUpNew(s, ctx, m_db.DBDatabase());
    EXPECT_EQ(st.message, u"期末・勤勉手当処理月ではありません。"_s);
}
