// moxdb bonus check on a district built here, on SQLite and on the test server's PostgreSQL:
// one employee for each reason is listed with exactly that reason and nobody else is; the totals
// are the sums of the stored records; the PDF has its font embedded and its pages; the CSV reads
// back.
#include "moxdb/bonuscheck.h"
#include "moxdb/bonuscheckout.h"
#include "moxdb/init.h"

#include "checkrecord.h"
#include "csvread.h"
#include "support.h"

#include "kordao/kordao.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <map>

using namespace Qt::StringLiterals;
using namespace moxdb;

namespace {

Currency yen(std::int64_t y)
{
    return Currency::fromYen(y);
}

QList<test::CsvRecord> readCsv(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder d("windows-31j");
    return test::parseCsv(d.decode(f.readAll()));
}

// What a poppler tool says of \p pdf; empty when the tool is not installed.
QString poppler(const QString& tool, const QString& pdf)
{
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return {};
    QProcess p;
    p.start(tool, {pdf});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString& pdf)
{
    for (const QString& line : poppler(u"pdfinfo"_s, pdf).split(u'\n')) {
        if (line.startsWith(u"Pages:"))
            return line.mid(6).trimmed().toInt();
    }
    return -1;
}

// The pages the list takes by its rule: an employee a row a reason, never split; the totals'
// block (a caption, a row a reason, the district) after the last.
int pagesByRule(const std::vector<int>& rowsPerEmployee)
{
    int pages = 1, row = 0;
    const auto fit = [&](int rows) {
        if (row + rows > kCheckRowsPerPage) {
            ++pages;
            row = 0;
        }
        row += rows;
    };
    for (int rows : rowsPerEmployee)
        fit(rows);
    fit(kCheckReasonCount + 2);
    return pages;
}

class BonusCheckList : public test::DemoDistrictTest {
protected:
    void withPayroll(const std::function<void(const KorDAO::DatabaseHandle&)>& work)
    {
        test::withDatabase(district().path(), kPayrollIni, work);
    }
    QString path(const QString& name) const { return district().filePath(name); }
};

INSTANTIATE_TEST_SUITE_P(Engines, BonusCheckList,
                         testing::Values(test::Engine::Sqlite, test::Engine::Postgres),
                         test::engineName);

// Every record of \p table that meets \p filter found again by \p key and deleted.
void deleteWhere(const KorDAO::DatabaseHandle& db, const QString& table, const QString& filter,
                 const std::function<QString(KorDAO::Record)>& key)
{
    KorDAO::clsTbAccess t;
    t.setTBDatabase(db);
    t.setTBNameString(table);
    ASSERT_GE(t.DAO_TableOpen(filter, QString()), 0) << t.lastError().toStdString();
    QStringList keys;
    for (short st = t.DAO_RecRead(1); st == 0; st = t.DAO_RecRead(2))
        keys.append(key(t.TBRec()));
    for (const QString& k : keys) {
        ASSERT_EQ(t.DAO_RecFind(1, k), 0) << k.toStdString();
        ASSERT_EQ(t.DAO_Delete(true), 0) << t.lastError().toStdString();
    }
}

// A role of the district: the employee's pay and input class, and his bonus record (none: no
// record for the month).
struct Role {
    QString reasons; // the codes the list must give him, in order; empty: not listed
    int kyukbn = 1;
    int hyokbn = 0;
    int genfuy = 0;
    std::optional<CheckRecord> record;
    std::optional<Currency> lastYear;
};

std::vector<Role> roles()
{
    const auto with = [](auto change) {
        CheckRecord r = plainCheckRecord();
        change(r);
        return r;
    };
    std::vector<Role> out;
    out.push_back({u""_s, 1, 0, 0, plainCheckRecord(), yen(780000)});
    out.push_back({u"PERIOD"_s, 1, 0, 0, with([](CheckRecord& r) {
                       r.kmmmdd = 515;
                       r.kmzrit = yen(80);
                   }),
                   std::nullopt});
    out.push_back(
        {u"MANUAL"_s, 1, 9, 0, with([](CheckRecord& r) { r.zenkaz = Currency(); }), std::nullopt});
    out.push_back({u"DAILY"_s, 4, 0, 0, with([](CheckRecord& r) {
                       r.kyukbn = 4;
                       r.kmmmdd = 0;
                       r.kmzrit = Currency();
                   }),
                   std::nullopt});
    out.push_back({u"HEALTHCAP"_s, 1, 0, 0, with([](CheckRecord& r) {
                       r.tokkbn = 1;
                       r.kimatu = yen(900000);
                       r.kinben = yen(100999);
                       r.ssikyu = yen(1000999);
                       r.zenkaz = yen(400000);
                   }),
                   std::nullopt});
    out.push_back({u"HEALTHCAP PENSIONCAP"_s, 1, 0, 0, with([](CheckRecord& r) {
                       r.tokkbn = 1;
                       r.kimatu = yen(1600000);
                       r.ssikyu = yen(1900000);
                       r.zenkaz = yen(400000);
                   }),
                   std::nullopt});
    out.push_back({u"TAXMETHOD"_s, 1, 0, 0, with([](CheckRecord& r) { r.zenkaz = Currency(); }),
                   std::nullopt});
    // A dependant count the tax cannot take: the calculation refuses him.
    out.push_back({u"REFUSED NORECORD"_s, 1, 0, 70000, std::nullopt, std::nullopt});
    out.push_back({u"NORECORD"_s, 1, 0, 0, std::nullopt, std::nullopt});
    out.push_back({u"CASH"_s, 1, 0, 0, with([](CheckRecord& r) {
                       r.kougok = r.ssikyu;
                       r.sasihk = Currency();
                   }),
                   std::nullopt});
    out.push_back({u"YOY"_s, 1, 0, 0, plainCheckRecord(), yen(600000)});
    return out;
}

constexpr int kGoneCode = 9999001; // a bonus record of nobody in the master

void writeBonus(KorDAO::clsTbAccess& t, int code, int month, const CheckRecord& r)
{
    ASSERT_EQ(t.DAO_AddNew(true), 0);
    KorDAO::Record rec = t.TBRec();
    rec[u"SYOKCD"] = code;
    rec[u"KYUSYU"] = 2;
    rec[u"SKYUYM"] = month;
    rec[u"KYUSEQ"] = 0;
    rec[u"KYUKBN"] = r.kyukbn;
    rec[u"KMMMDD"] = r.kmmmdd;
    rec[u"KBMMDD"] = r.kbmmdd;
    rec[u"KMZRIT"] = r.kmzrit;
    rec[u"KBZRIT"] = r.kbzrit;
    rec[u"KIMATU"] = r.kimatu;
    rec[u"KINBEN"] = r.kinben;
    rec[u"KENKO"] = r.kenko;
    rec[u"KOSEI"] = r.kosei;
    rec[u"SYOTOK"] = r.syotok;
    rec[u"ZENKAZ"] = r.zenkaz;
    rec[u"SSIKYU"] = r.ssikyu;
    rec[u"KOUGOK"] = r.kougok;
    rec[u"SASIHK"] = r.sasihk;
    rec[u"TOKKBN"] = r.tokkbn;
    ASSERT_EQ(t.DAO_Update(), 0) << t.lastError().toStdString();
}

// Makes the demo district one of \p rs: its first employees take the roles, the others leave the
// master, and the bonus records are only the roles'. The codes, role by role.
std::vector<int> buildDistrict(const KorDAO::DatabaseHandle& db, const std::vector<Role>& rs)
{
    std::vector<int> codes;
    KorDAO::clsTbAccess jinji;
    jinji.setTBDatabase(db);
    jinji.setTBNameString(u"GKJINJI"_s);
    EXPECT_GE(jinji.DAO_TableOpen(QString(), u"SYOKCD"_s), int(rs.size()));
    for (short st = jinji.DAO_RecRead(1); st == 0 && codes.size() < rs.size();
         st = jinji.DAO_RecRead(2))
        codes.push_back(jinji.TBRec()[u"SYOKCD"].toInt());
    deleteWhere(db, u"GKJINJI"_s, u"SYOKCD > %1"_s.arg(codes.back()),
                [](KorDAO::Record r) { return u"SYOKCD = %1"_s.arg(r[u"SYOKCD"].toInt()); });
    deleteWhere(db, u"GKKYUYO"_s, u"KYUSYU = 2"_s, [](KorDAO::Record r) {
        return u"SYOKCD = %1 AND KYUSYU = 2 AND SKYUYM = %2 AND KYUSEQ = %3"_s
            .arg(r[u"SYOKCD"].toInt())
            .arg(r[u"SKYUYM"].toInt())
            .arg(r[u"KYUSEQ"].toInt());
    });
    KorDAO::clsTbAccess kyuyo;
    kyuyo.setTBDatabase(db);
    kyuyo.setTBNameString(u"GKKYUYO"_s);
    EXPECT_GE(kyuyo.DAO_TableOpen(QString(), QString()), 0);
    for (std::size_t i = 0; i < rs.size(); ++i) {
        EXPECT_EQ(jinji.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(codes[i])), 0);
        EXPECT_EQ(jinji.DAO_Edit(true), 0);
        jinji.TBRec()[u"KYUKBN"] = rs[i].kyukbn;
        jinji.TBRec()[u"HYOKBN"] = rs[i].hyokbn;
        jinji.TBRec()[u"GENFUY"] = rs[i].genfuy;
        EXPECT_EQ(jinji.DAO_Update(), 0) << jinji.lastError().toStdString();
        if (rs[i].record)
            writeBonus(kyuyo, codes[i], 202612, *rs[i].record);
        if (rs[i].lastYear) {
            CheckRecord before = plainCheckRecord();
            before.ssikyu = *rs[i].lastYear;
            writeBonus(kyuyo, codes[i], 202512, before);
        }
    }
    writeBonus(kyuyo, kGoneCode, 202612, plainCheckRecord());
    KorDAO::clsTbAccess kanri;
    kanri.setTBDatabase(db);
    kanri.setTBNameString(u"GKKANRI"_s);
    EXPECT_GE(kanri.DAO_TableOpen(u"KEY = 'KANRI'"_s, QString()), 1);
    EXPECT_EQ(kanri.DAO_RecFind(1, u"KEY = 'KANRI'"_s), 0);
    EXPECT_EQ(kanri.DAO_Edit(true), 0);
    kanri.TBRec()[u"SYORID"] = 202612;
    kanri.TBRec()[u"KENGEN"] = yen(1000000);
    kanri.TBRec()[u"KOSGEN"] = yen(1500000);
    EXPECT_EQ(kanri.DAO_Update(), 0) << kanri.lastError().toStdString();
    return codes;
}

QString field(const test::CsvRecord& r, int i)
{
    return r.value(i).value_or(QString());
}

} // namespace

TEST_P(BonusCheckList, EachReasonListsItsEmployeeAndNobodyElse)
{
    const std::vector<Role> rs = roles();
    std::vector<int> codes;
    withPayroll([&](const KorDAO::DatabaseHandle& db) { codes = buildDistrict(db, rs); });
    ASSERT_EQ(codes.size(), rs.size());

    const test::ProgramRun r =
        run({u"bonus"_s, u"check"_s, u"--csv"_s, path(u"c.csv"_s), u"--out"_s, path(u"c.pdf"_s)});
    ASSERT_EQ(r.code, 0) << test::outcome(r);

    std::map<int, QString> expected{{kGoneCode, u"UNLISTED"_s}};
    CheckTotal district;
    std::map<QString, CheckTotal> perReason;
    const auto add = [](CheckTotal& t, const std::optional<CheckRecord>& rec) {
        ++t.headcount;
        if (rec) {
            t.ssikyu += rec->ssikyu;
            t.kougok += rec->kougok;
            t.sasihk += rec->sasihk;
        }
    };
    add(district, plainCheckRecord());
    add(perReason[u"UNLISTED"_s], plainCheckRecord());
    for (std::size_t i = 0; i < rs.size(); ++i) {
        if (rs[i].record)
            add(district, rs[i].record);
        if (rs[i].reasons.isEmpty())
            continue;
        expected[codes[i]] = rs[i].reasons;
        for (const QString& code : rs[i].reasons.split(u' '))
            add(perReason[code], rs[i].record);
    }

    const QList<test::CsvRecord> csv = readCsv(path(u"c.csv"_s));
    ASSERT_FALSE(csv.isEmpty());
    EXPECT_EQ(field(csv[0], 0), u"区分"_s);
    std::map<int, QString> listed;
    std::vector<int> rows;
    int reasonRows = 0;
    for (const test::CsvRecord& row : csv.mid(1)) {
        ASSERT_EQ(row.size(), 10);
        const QString kind = field(row, 0);
        if (kind == u"明細") {
            listed[field(row, 1).toInt()] = field(row, 3);
            rows.push_back(int(field(row, 3).split(u' ').size()));
            continue;
        }
        const CheckTotal want =
            kind == u"地区合計" ? district : perReason[field(row, 3)]; // absent: all zero
        EXPECT_EQ(field(row, 6).toInt(), want.headcount) << field(row, 3).toStdString();
        EXPECT_EQ(Currency::parse(field(row, 7)), want.ssikyu) << field(row, 3).toStdString();
        EXPECT_EQ(Currency::parse(field(row, 8)), want.kougok) << field(row, 3).toStdString();
        EXPECT_EQ(Currency::parse(field(row, 9)), want.sasihk) << field(row, 3).toStdString();
        reasonRows += kind == u"理由別合計" ? 1 : 0;
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(reasonRows, kCheckReasonCount);

    const QString fonts = poppler(u"pdffonts"_s, path(u"c.pdf"_s));
    if (fonts.isEmpty())
        GTEST_SKIP() << "poppler-utils not installed";
    EXPECT_TRUE(fonts.contains(QRegularExpression(u"IPAGothic\\S*\\s+CID TrueType.*\\byes\\b"_s)))
        << fonts.toStdString();
    EXPECT_EQ(pdfPages(path(u"c.pdf"_s)), pagesByRule(rows));
    EXPECT_EQ(pdfPages(path(u"c.pdf"_s)), 1);
}

// The demo district as it comes, with its staff still to be paid: more than a page.
TEST_P(BonusCheckList, PagesOfALongList)
{
    const test::ProgramRun r = run({u"bonus"_s, u"check"_s, u"--csv"_s, path(u"d.csv"_s),
                                    u"--out"_s, path(u"d.pdf"_s), u"--threshold"_s, u"5"_s});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    EXPECT_EQ(QFile(path(u"d.pdf"_s)).permissions() &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              QFile::Permissions());
    std::vector<int> rows;
    for (const test::CsvRecord& row : readCsv(path(u"d.csv"_s))) {
        if (field(row, 0) == u"明細")
            rows.push_back(int(field(row, 3).split(u' ').size()));
    }
    ASSERT_GT(rows.size(), std::size_t(kCheckRowsPerPage));
    const int pages = pdfPages(path(u"d.pdf"_s));
    if (pages < 0)
        GTEST_SKIP() << "poppler-utils not installed";
    EXPECT_EQ(pages, pagesByRule(rows));
    EXPECT_GE(pages, 2);
}

TEST_P(BonusCheckList, RefusesWhatItCannotUse)
{
    for (const QStringList& args :
         {QStringList{u"--threshold"_s, u"-1"_s}, QStringList{u"--threshold"_s, u"x"_s},
          QStringList{u"--out"_s, u"same"_s, u"--csv"_s, u"same"_s}, QStringList{u"--what"_s}}) {
        const test::ProgramRun r = run(QStringList{u"bonus"_s, u"check"_s} + args);
        EXPECT_EQ(r.code, 2) << test::outcome(r);
    }
    withPayroll([&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess kanri;
        kanri.setTBDatabase(db);
        kanri.setTBNameString(u"GKKANRI"_s);
        ASSERT_GE(kanri.DAO_TableOpen(QString(), QString()), 1);
        ASSERT_EQ(kanri.DAO_RecFind(1, u"KEY = 'KANRI'"_s), 0);
        ASSERT_EQ(kanri.DAO_Edit(true), 0);
        kanri.TBRec()[u"SYORID"] = 202611;
        ASSERT_EQ(kanri.DAO_Update(), 0);
    });
    const test::ProgramRun r = run({u"bonus"_s, u"check"_s, u"--csv"_s, path(u"e.csv"_s)});
    EXPECT_EQ(r.code, 1) << test::outcome(r);
    EXPECT_TRUE(r.err.contains(u"期末・勤勉手当処理月ではありません。"_s)) << test::outcome(r);
    EXPECT_FALSE(QFile::exists(path(u"e.csv"_s)));
}

// Staff without a record, scattered over the district, are worked out from their own records
// alone: a damaged bonus of June of somebody between them (a deduction class that is no
// number, as only an SQLite file can hold) is neither read nor in the way.
TEST_P(BonusCheckList, ScatteredStaffAreWorkedOutFromTheirOwnRecordsAlone)
{
    if (GetParam() != test::Engine::Sqlite)
        GTEST_SKIP() << "a PostgreSQL integer column holds numbers only";
    const test::ProgramRun bonusRun = run({u"bonus"_s, u"run"_s});
    ASSERT_EQ(bonusRun.code, 0) << test::outcome(bonusRun);
    std::vector<int> listed;
    withPayroll([&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess month;
        month.setTBDatabase(db);
        month.setTBNameString(u"GKKYUYO"_s);
        ASSERT_GT(month.DAO_TableOpen(u"KYUSYU = 2 AND SKYUYM = 202612"_s, u"SYOKCD"_s), 2);
        for (short st = month.DAO_RecRead(1); st == 0; st = month.DAO_RecRead(2))
            listed.push_back(month.TBRec()[u"SYOKCD"].toInt());
        (void)month.DAO_TableClose();
        deleteWhere(db, u"GKKYUYO"_s,
                    u"KYUSYU = 2 AND SKYUYM = 202612 AND SYOKCD in(%1,%2)"_s.arg(listed.front())
                        .arg(listed.back()),
                    [](KorDAO::Record r) {
                        return u"SYOKCD = %1 AND KYUSYU = 2 AND SKYUYM = 202612"_s.arg(
                            r[u"SYOKCD"].toInt());
                    });
    });
    {
        QSqlDatabase file = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"damage"_s);
        file.setDatabaseName(path(u"mox.db"_s));
        ASSERT_TRUE(file.open());
        QSqlQuery q(file);
        ASSERT_TRUE(q.exec(u"UPDATE GKKYUYO SET TOKKBN = 'x' WHERE KYUSYU = 2 AND SKYUYM = 202606"
                           " AND SYOKCD = %1"_s.arg(listed[listed.size() / 2])));
        ASSERT_EQ(q.numRowsAffected(), 1);
    }
    QSqlDatabase::removeDatabase(u"damage"_s);

    const test::ProgramRun r = run({u"bonus"_s, u"check"_s, u"--csv"_s, path(u"s.csv"_s)});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    std::map<int, QString> reasons;
    for (const test::CsvRecord& row : readCsv(path(u"s.csv"_s))) {
        if (field(row, 0) == u"明細")
            reasons[field(row, 1).toInt()] = field(row, 3);
    }
    for (const int code : {listed.front(), listed.back()}) {
        ASSERT_TRUE(reasons.contains(code)) << code;
        EXPECT_TRUE(reasons[code].split(u' ').contains(u"NORECORD"_s))
            << reasons[code].toStdString();
        EXPECT_FALSE(reasons[code].contains(u"REFUSED"_s)) << reasons[code].toStdString();
    }
}

// The totals go to a page of their own exactly when they no longer fit under the last employee:
// a district whose employees take 27 rows has one page, one more row makes it two.
TEST_P(BonusCheckList, TotalsMoveToTheNextPageWhenTheyNoLongerFit)
{
    const int employees = kCheckRowsPerPage - (kCheckReasonCount + 2);
    int last = 0;
    withPayroll([&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess jinji;
        jinji.setTBDatabase(db);
        jinji.setTBNameString(u"GKJINJI"_s);
        ASSERT_GT(jinji.DAO_TableOpen(QString(), u"SYOKCD"_s), employees);
        std::vector<int> codes;
        for (short st = jinji.DAO_RecRead(1); st == 0; st = jinji.DAO_RecRead(2))
            codes.push_back(jinji.TBRec()[u"SYOKCD"].toInt());
        last = codes[std::size_t(employees - 1)];
        deleteWhere(db, u"GKJINJI"_s, u"SYOKCD > %1"_s.arg(last),
                    [](KorDAO::Record r) { return u"SYOKCD = %1"_s.arg(r[u"SYOKCD"].toInt()); });
        deleteWhere(db, u"GKKYUYO"_s, u"KYUSYU = 2"_s, [](KorDAO::Record r) {
            return u"SYOKCD = %1 AND KYUSYU = 2 AND SKYUYM = %2 AND KYUSEQ = %3"_s
                .arg(r[u"SYOKCD"].toInt())
                .arg(r[u"SKYUYM"].toInt())
                .arg(r[u"KYUSEQ"].toInt());
        });
        for (int code : codes) {
            if (code > last)
                break;
            ASSERT_EQ(jinji.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(code)), 0);
            ASSERT_EQ(jinji.DAO_Edit(true), 0);
            jinji.TBRec()[u"HYOKBN"] = 0; // one row each: no bonus record yet
            jinji.TBRec()[u"KYUKBN"] = 1;
            ASSERT_EQ(jinji.DAO_Update(), 0);
        }
    });
    test::ProgramRun r = run({u"bonus"_s, u"check"_s, u"--out"_s, path(u"f.pdf"_s)});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    const int pages = pdfPages(path(u"f.pdf"_s));
    if (pages < 0)
        GTEST_SKIP() << "poppler-utils not installed";
    EXPECT_EQ(pages, 1);

    withPayroll([&](const KorDAO::DatabaseHandle& db) {
        KorDAO::clsTbAccess jinji;
        jinji.setTBDatabase(db);
        jinji.setTBNameString(u"GKJINJI"_s);
        ASSERT_GT(jinji.DAO_TableOpen(QString(), QString()), 0);
        ASSERT_EQ(jinji.DAO_RecFind(1, u"SYOKCD = %1"_s.arg(last)), 0);
        ASSERT_EQ(jinji.DAO_Edit(true), 0);
        jinji.TBRec()[u"HYOKBN"] = 9; // a second row: hand-entered as well
        ASSERT_EQ(jinji.DAO_Update(), 0);
    });
    r = run({u"bonus"_s, u"check"_s, u"--out"_s, path(u"f.pdf"_s)});
    ASSERT_EQ(r.code, 0) << test::outcome(r);
    EXPECT_EQ(pdfPages(path(u"f.pdf"_s)), 2);
}
