#include "mox/bascmnname.h"
#include "mox/comdate.h"
#include "mox/shell.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

Currency n(std::int64_t v)
{
    return Currency::fromYen(v);
}

QString blanks(qsizetype width)
{
    return QString(width, u' ');
}

// An environment database in a temporary folder, found through MOX_INI_DIR.
class NameTable : public testing::Test {
protected:
    NameTable()
    {
        qputenv("MOX_INI_DIR", QFile::encodeName(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(u"none"_s)));
    }

    ~NameTable() override
    {
        qunsetenv("MOX_INI_DIR");
        qunsetenv("XDG_CONFIG_HOME");
    }

    void writeIni()
    {
        QFile ini(m_dir.filePath(u"MOXENV.INI"_s));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Database]\nDriver=QSQLITE\nDatabase=env.db\n");
    }

    // Runs each statement on the environment database.
    void sql(std::initializer_list<QString> statements)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"setup"_s);
            db.setDatabaseName(m_dir.filePath(u"env.db"_s));
            ASSERT_TRUE(db.open());
            for (const QString& s : statements) {
                QSqlQuery q(db);
                ASSERT_TRUE(q.exec(s)) << q.lastError().text().toStdString();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(u"setup"_s);
    }

    void createTable()
    {
        writeIni();
        QStringList columns;
        for (const auto& [prefix, count] : {std::pair{u"SYOKU"_s, 10},
                                            {u"ZAIMU"_s, 9},
                                            {u"HATSU"_s, 8},
                                            {u"NENKB"_s, 3},
                                            {u"NENKJ"_s, 3}})
            for (int i = 1; i <= count; ++i)
                columns << u"\"%1%2\" TEXT"_s.arg(prefix).arg(i);
        for (int i = 1; i <= 3; ++i)
            columns << u"\"NENST%1\" NUMERIC"_s.arg(i);
        columns << u"\"KIGOU\" TEXT"_s << u"\"KENKO\" NUMERIC"_s << u"\"KOSEI\" NUMERIC"_s;
        sql({u"CREATE TABLE \"名設定\" (%1)"_s.arg(columns.join(u", "_s))});
    }

    void insertRecord(const QString& assignments, const QString& values)
    {
        sql({u"INSERT INTO \"名設定\" (%1) VALUES (%2)"_s.arg(assignments, values)});
    }

    QTemporaryDir m_dir;
    mox::ScriptedShell m_shell;
};

TEST_F(NameTable, NamesAreTrimmedPaddedAndCut)
{
    createTable();
    insertRecord(u"SYOKU1, SYOKU2, SYOKU10, ZAIMU1, ZAIMU9, HATSU8, KIGOU"_s,
                 u"'  教諭  ', '12345678901234567890123', 'x', '県費', 'z9', 'h8', '※'"_s);
    mox::prsNameRead(1);
    const auto& names = mox::cmnNames();
    EXPECT_EQ(names[0], u"教諭"_s + blanks(18));
    EXPECT_EQ(names[1], u"12345678901234567890"_s);
    EXPECT_EQ(names[2], blanks(20)) << "a NULL text reads as blanks";
    EXPECT_EQ(names[9], u"x"_s + blanks(19));

    mox::prsNameRead(2);
    EXPECT_EQ(names[0], u"県費"_s + blanks(18));
    EXPECT_EQ(names[8], u"z9"_s + blanks(18));
    EXPECT_EQ(names[9], blanks(20)) << "cleared, ZAIMU has nine names";

    mox::prsNameRead(3);
    EXPECT_EQ(names[7], u"h8"_s + blanks(18));
    EXPECT_EQ(names[0], blanks(20));

    mox::prsNameRead(5);
    EXPECT_EQ(names[0], u"※"_s + blanks(19));
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(NameTable, EraDateFollowsTheEraTable)
{
    createTable();
    insertRecord(u"NENKB1, NENKJ1, NENST1, NENKB2, NENKJ2, NENST2, NENKB3, NENKJ3, NENST3"_s,
                 u"'S', '昭和', 19700101, 'H', '平成', 20000401, 'R', '令和', 0"_s);
    EXPECT_EQ(mox::prfEraDate(n(19750401)), n(60401));
    EXPECT_EQ(mox::prfEraDate(n(20000331)), n(310331));
    EXPECT_EQ(mox::currentEra().code, u"S"_s);
    EXPECT_EQ(mox::prfEraDate(n(20000401)), n(10401));
    EXPECT_EQ(mox::currentEra().code, u"H"_s);
    EXPECT_EQ(mox::currentEra().name, u"平成    "_s);
    EXPECT_EQ(mox::eraTable()[1].start, n(20000401));
    EXPECT_EQ(mox::prfEraEdit(u"JYMD", u"DSP", u""), u"平成 1年 4月 1日"_s);
}

TEST_F(NameTable, EraChoiceNeedsTheSecondEraStarted)
{
    const auto era = [](const char16_t* code, std::int64_t start) {
        return mox::Era{QString::fromUtf16(code), QString(), n(start)};
    };
    const std::array<mox::Era, 3> table{era(u"S", 19700101), era(u"H", 20000401),
                                        era(u"R", 20190501)};
    EXPECT_EQ(mox::eraDateOf(table, n(20190501)).code, u"R"_s);
    EXPECT_EQ(mox::eraDateOf(table, n(20190501)).date, n(10501));
    EXPECT_EQ(mox::eraDateOf(table, n(20190430)).code, u"H"_s);
    EXPECT_EQ(mox::eraDateOf(table, n(19600101)).code, u"S"_s) << "before every era: entry 1";
    EXPECT_EQ(mox::eraDateOf(table, n(19600101)).date, n(-89899));

    const std::array<mox::Era, 3> noSecond{era(u"S", 19700101), era(u"H", 0), era(u"R", 20190501)};
    EXPECT_EQ(mox::eraDateOf(noSecond, n(20200101)).code, u"S"_s);
    EXPECT_EQ(mox::eraDateOf(noSecond, n(20200101)).date, n(510101));

    const std::array<mox::Era, 3> empty{};
    EXPECT_EQ(mox::eraDateOf(empty, n(20240315)).date, n(20250315));
}

TEST_F(NameTable, InsuranceAdjustmentsAreOneMinusTheField)
{
    createTable();
    insertRecord(u"KENKO, KOSEI"_s, u"0.5, 1"_s);
    mox::prsNameRead(6);
    EXPECT_EQ(mox::roundingAdjustHealth(), *Currency::parse(u"0.5"));
    EXPECT_EQ(mox::roundingAdjustPension(), Currency());

    // Other kinds leave the adjustments alone.
    mox::prsNameRead(1);
    EXPECT_EQ(mox::roundingAdjustHealth(), *Currency::parse(u"0.5"));
}

TEST_F(NameTable, EmptyTableAndUnreadableFieldsChangeNothing)
{
    createTable();
    mox::prsNameRead(4);
    EXPECT_EQ(mox::eraTable()[0].start, Currency());
    EXPECT_EQ(mox::eraTable()[0].name, blanks(6));
    EXPECT_EQ(mox::eraTable()[0].code, blanks(1));

    insertRecord(u"NENKB1, NENST1, NENST2"_s, u"'S', 19700101, NULL"_s);
    mox::prsNameRead(4);
    EXPECT_EQ(mox::eraTable()[0].code, blanks(1)) << "a NULL start leaves the table cleared";
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(NameTable, MissingDatabaseOrTableShowsItsMessageAndGoesOn)
{
    mox::prsNameRead(1);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"MOXENV データベースのオープンに失敗しました。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_EQ(m_shell.boxes()[0].buttons, mox::MsgButtons::Ok);
    EXPECT_TRUE(m_shell.boxes()[0].title.isEmpty());
    EXPECT_FALSE(m_shell.ended());

    m_shell.clear();
    writeIni();
    sql({u"CREATE TABLE other (a TEXT)"_s});
    EXPECT_EQ(mox::prfEraDate(n(20240315)), n(20250315));
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"名称設定テーブルのオープンに失敗しました。"_s);
    EXPECT_FALSE(m_shell.ended());
}

TEST_F(NameTable, KindOutsideTheTableOnlyClears)
{
    mox::prsNameRead(0);
    mox::prsNameRead(7);
    EXPECT_TRUE(m_shell.boxes().empty()) << "no database is opened";
    EXPECT_EQ(mox::cmnNames()[0], blanks(20));
}

struct ZaimuCase {
    const char16_t* code;
    short want;
};

TEST(ZaimuKbn, FinanceCategoryOfTheOfficeCode)
{
    const ZaimuCase cases[] = {
        {u"e4201", 1}, {u"41800", 0}, {u"E4180", 5}, {u"4179", 5},   {u"4182", 5},   {u"4183", 1},
        {u"4300", 3},  {u"ABCD", 0},  {u"4200", 2},  {u"4299", 1},   {u"5136", 5},   {u"5137", 5},
        {u"5138", 1},  {u"5201", 1},  {u"5299", 1},  {u"5300", 3},   {u" 4201 ", 1}, {u"E12", 0},
        {u"7", 0},     {u"", 0},      {u"-123", 0},  {u"1.5", 0},    {u"+12", 0},    {u"40000", 0},
        {u"E0042", 0}, {u"99999", 0}, {u"E9999", 9}, {u"１２３", 0}, {u"123456", 0},
    };
    for (const ZaimuCase& c : cases)
        EXPECT_EQ(mox::prfZaimuKbn(QString::fromUtf16(c.code)), c.want)
            << QString::fromUtf16(c.code).toStdString();
}

} // namespace
