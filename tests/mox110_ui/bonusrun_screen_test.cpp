// moxdb bonus run against the entry screen itself: for every employee of the list, the record
// the screen stores after F11, the two deduction classes and F12 is the record the run stores on
// the same database, field by field.

#include "screenfixture.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

using namespace Qt::StringLiterals;

namespace screentest {
namespace {

// Every bonus record of month \p skyuym as "FIELD=value" texts, one list a record, in code order.
std::vector<QStringList> bonusRecords(const QString& file, int skyuym)
{
    std::vector<QStringList> records;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"bonusrun_screen"_s);
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(u"SELECT * FROM GKKYUYO WHERE KYUSYU = 2 AND SKYUYM = %1 "
                           "ORDER BY SYOKCD, KYUSEQ"_s.arg(skyuym)));
        while (q.next()) {
            QStringList fields;
            for (int i = 0; i < q.record().count(); ++i)
                fields << q.record().fieldName(i) + u'=' + q.value(i).toString();
            records.push_back(fields);
        }
    }
    QSqlDatabase::removeDatabase(u"bonusrun_screen"_s);
    return records;
}

void removeBonusRecords(const QString& file, int skyuym)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"bonusrun_screen"_s);
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(u"DELETE FROM GKKYUYO WHERE KYUSYU = 2 AND SKYUYM = %1"_s.arg(skyuym)));
    }
    QSqlDatabase::removeDatabase(u"bonusrun_screen"_s);
}

class BonusRunAsScreen : public ScreenTest,
                         public testing::WithParamInterface<std::tuple<int, int, int>> {};

TEST_P(BonusRunAsScreen, EveryListedEmployeeGetsTheRecordTheScreenSaves)
{
    const auto [month, tokkbn, roukbn] = GetParam();
    seed(month);
    // The previous month's pay of one employee, which the calculation of his tax reads.
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 1},
                          {u"SKYUYM"_s, month - 1},
                          {u"KAZEIG"_s, QVariant::fromValue(yen(350'000))},
                          {u"SYAGOK"_s, QVariant::fromValue(yen(50'000))},
                          {u"SYOTOK"_s, QVariant::fromValue(yen(8'000))}});
    ASSERT_TRUE(start());
    QComboBox* employees = list("cboSyokcd");
    ASSERT_GT(employees->count(), 0);
    for (int i = 0; i < employees->count(); ++i) {
        const int code = employees->itemData(i).toInt();
        SCOPED_TRACE(code);
        select(code);
        press(11);
        ASSERT_EQ(m_form->keyMode(), 3) << "a new entry";
        list("cboTokkbn")->setCurrentIndex(tokkbn); // each change recalculates at once
        list("cboRoukbn")->setCurrentIndex(roukbn);
        press(12);
        ASSERT_EQ(m_form->keyMode(), 0) << "saved";
        ASSERT_EQ(bonusCount(code, month), 1);
    }
    ASSERT_TRUE(m_shell.boxes().empty()) << m_shell.boxes()[0].text.toStdString();
    const QString file = m_dir.filePath(u"mox.db"_s);
    const std::vector<QStringList> screen = bonusRecords(file, month);
    ASSERT_EQ(screen.size(), static_cast<size_t>(employees->count()));

    removeBonusRecords(file, month);
    QProcess run;
    run.start(QStringLiteral(MOXDB_PROGRAM),
              {u"bonus"_s, u"run"_s, u"--tokkbn"_s, QString::number(tokkbn), u"--roukbn"_s,
               QString::number(roukbn), u"--dir"_s, m_dir.path()});
    ASSERT_TRUE(run.waitForFinished(120'000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const std::vector<QStringList> byRun = bonusRecords(file, month);
    ASSERT_EQ(byRun.size(), screen.size());
    for (size_t i = 0; i < screen.size(); ++i) {
        SCOPED_TRACE(screen[i].first().toStdString());
        for (qsizetype f = 0; f < screen[i].size(); ++f)
            EXPECT_EQ(byRun[i].value(f).toStdString(), screen[i][f].toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(MonthsAndClasses, BonusRunAsScreen,
                         testing::Values(std::tuple{202612, 1, 1}, std::tuple{202612, 0, 1},
                                         std::tuple{202606, 1, 0}, std::tuple{202606, 0, 0}));

} // namespace
} // namespace screentest
