#include "mox030ui/frmmox030.h"

#include "ledgerdb.h"
#include "ovl_support.h"

#include "mox/compfmode.h"
#include "mox/frmomachi.h"
#include "mox/program.h"
#include "mox/shell.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using mox030test::Backend;
using mox030test::LedgerDb;

namespace {

QString caption()
{
    return u"個人別給与累計表印刷"_s;
}

// Three listed employees with a December 2024 processing month: 1001 with a full set of awkward
// records, 1002 with records of an earlier year only, 1003 with a January pay in a job kind the
// name table does not know. 1004 has no record at all.
void fillStandard(LedgerDb& db)
{
    db.kanri(202412);
    db.jinji(1001, u"山田　太郎"_s, 1);
    db.jinji(1002, u"鈴木　花子"_s, 2);
    db.jinji(1003, u"佐藤　次郎"_s, 11);
    db.jinji(1004, u"高橋　三郎"_s, 1);

    db.kyuyo(1001, 1, 202404, 1,
             {{"KYURYO", 300000},
              {"KTYOGK", 5000},
              {"CHIIKI", 10000},
              {"KAZEIG", 300000},
              {"SSIKYU", 315000},
              {"KENKO", 15000},
              {"KOSEI", 27000},
              {"KOYOU", 1000},
              {"SYOTOK", 8000},
              {"KOUGOK", 51000},
              {"SASIHK", 264000}});
    db.kyuyo(1001, 1, 202412, 1,
             {{"KYURYO", 300000},
              {"SSIKYU", 300000},
              {"NENFUS", -1200},
              {"KENKO", 15000},
              {"KOUGOK", 15000},
              {"SASIHK", 285000}});
    db.kyuyo(1001, 1, 202412, 8, {{"KYURYO", 99999}});
    db.kyuyo(1001, 2, 202412, 0,
             {{"KIMATU", 600000},
              {"kmzoge", 1000},
              {"KINBEN", 400000},
              {"KAZEIG", 1001000},
              {"SSIKYU", 1001000},
              {"KENKO", 50000},
              {"KOSEI", 90000},
              {"KOYOU", 6000},
              {"SYOTOK", 70000},
              {"KOUGOK", 216000},
              {"SASIHK", 785000}});
    db.kyuyo(1001, 3, 202501, 1,
             {{"STYOGK", 2000}, {"SSIKYU", 2000}, {"NENFUS", -300}, {"SASIHK", 2000}});
    db.kyuyo(1001, 2, 202503, 0, {{"KIMATU", 5}});
    db.kyuyo(1001, 5, 202503, 3, {{"KIMATU", 7777}});
    db.kyuyo(1001, 1, 202304, 1, {{"KYURYO", 111}});
    db.kyuyo(1001, 1, 202504, 1, {{"KYURYO", 222}});

    db.kyuyo(1002, 1, 202303, 1, {{"KYURYO", 280000}});

    db.kyuyo(1003, 4, 202501, 1,
             {{"KYURYO", 250000},
              {"STYOGK", 1234567},
              {"CHIIKI", -800},
              {"SSIKYU", 1483767},
              {"SASIHK", 1483767}});
}

QStringList listTexts(const QListWidget& list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.item(i)->text();
    return texts;
}

class LedgerFormTest : public testing::Test {
protected:
    explicit LedgerFormTest(Backend backend) : m_db(backend) {}
    void SetUp() override { mox::setProgramId(u"mox030"_s); }

    // Loads the form on the database; false when the load ended the program.
    bool load()
    {
        m_form = std::make_unique<frmMox030>();
        m_form->setPrintFolder(m_db.path());
        try {
            m_form->Form_Load();
        } catch (const mox::ProgramEnded&) {
            return false;
        }
        m_form->show();
        return true;
    }

    QString ovlPath() const { return m_db.path() + u"/OVL.TMP"_s; }
    QString pdfPath() const { return m_db.path() + u"/Mox030.pdf"_s; }

    LedgerDb m_db;
    mox::ScriptedShell m_shell;
    std::unique_ptr<frmMox030> m_form;

    // The form's controls, found by object name as a user's tool finds them.
    QListWidget* list() const { return m_form->findChild<QListWidget*>(u"lstMain"_s); }
    QPushButton* button(int index) const
    {
        return m_form->findChild<QPushButton*>(u"cmdPFKEY_"_s + QString::number(index));
    }
};

class LedgerForm : public LedgerFormTest {
protected:
    LedgerForm() : LedgerFormTest(Backend::Sqlite) {}
};

// The same on the payroll database of either engine (PostgreSQL when a test server is named).
class LedgerFormOn : public LedgerFormTest, public testing::WithParamInterface<Backend> {
protected:
    LedgerFormOn() : LedgerFormTest(engine()) {}
    void SetUp() override
    {
        if (GetParam() == Backend::Postgres && !mox030test::postgresConfigured())
            GTEST_SKIP() << "MOX_TEST_PGHOST names no PostgreSQL server";
        LedgerFormTest::SetUp();
    }

private:
    static Backend engine()
    {
        return mox030test::postgresConfigured() ? GetParam() : Backend::Sqlite;
    }
};

QStringList linesStartingWith(const QStringList& lines, const QString& start)
{
    QStringList found;
    for (const QString& l : lines) {
        if (l.startsWith(start))
            found << l;
    }
    return found;
}

} // namespace

TEST_F(LedgerForm, ListsEmployeesWithPaymentsOfAnyYear)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_EQ(listTexts(*list()), (QStringList{u" 0001001 山田　太郎"_s, u" 0001002 鈴木　花子"_s,
                                               u" 0001003 佐藤　次郎"_s}));
    EXPECT_EQ(list()->item(2)->data(Qt::UserRole).toInt(), 1003);
    EXPECT_EQ(m_form->findChild<QLabel*>(u"lblShori"_s)->text(), u"令和 6年"_s);
    EXPECT_EQ(m_form->windowTitle(), caption());

    const QStringList captions{u"全選択"_s, u"全解除"_s, QString(), QString(),
                               QString(),   u"印　刷"_s, QString(), QString(),
                               QString(),   u"終　了"_s, QString(), QString()};
    for (int i = 0; i < 12; ++i) {
        const auto* b = button(i);
        EXPECT_EQ(b->text(), captions[i]) << i;
        EXPECT_EQ(b->isEnabled(), !captions[i].isEmpty()) << i;
    }
}

// A screen reader hears the list by its caption, and each line by code and name with whether it
// is chosen, as the selection changes.
TEST_F(LedgerForm, ScreenReadersHearTheListByItsCaptionAndEachLineWithItsSelection)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    QAccessibleInterface* lst = QAccessible::queryAccessibleInterface(list());
    ASSERT_NE(lst, nullptr);
    EXPECT_EQ(lst->text(QAccessible::Name).toStdString(), "職員選択");
    EXPECT_EQ(lst->role(), QAccessible::List);
    list()->item(1)->setSelected(true);
    QStringList heard;
    for (int i = 0; i < lst->childCount(); ++i) {
        QAccessibleInterface* line = lst->child(i);
        if (!line || line->role() != QAccessible::ListItem)
            continue;
        heard << line->text(QAccessible::Name) +
                     (line->state().selected ? u" (選択)"_s : QString());
    }
    EXPECT_EQ(heard.join(u" / "_s).toStdString(),
              "0001001 山田　太郎 / 0001002 鈴木　花子 (選択) / 0001003 佐藤　次郎");
}

TEST_F(LedgerForm, FiscalYearFollowsTheProcessingMonth)
{
    struct Case {
        int syorid;
        const char16_t* from;
        const char16_t* to;
        const char16_t* label;
        const char16_t* print;
    };
    // The label takes the era year of the processing month (a year back before April); the
    // page header the era year of the April the fiscal year starts in.
    const Case cases[] = {
        {200502, u"200404", u"200503", u"平成16年", u"平成 16 年"},
        {200504, u"200504", u"200603", u"平成17年", u"平成 17 年"},
        {201903, u"201804", u"201903", u"平成30年", u"平成 30 年"},
        {201912, u"201904", u"202003", u"令和 1年", u"平成 31 年"},
    };
    for (const Case& c : cases) {
        LedgerDb db;
        db.kanri(c.syorid);
        db.jinji(1, u"甲"_s, 1);
        db.kyuyo(1, 1, c.syorid, 1);
        frmMox030 form;
        form.Form_Load();
        EXPECT_EQ(form.fromYM(), QString::fromUtf16(c.from)) << c.syorid;
        EXPECT_EQ(form.toYM(), QString::fromUtf16(c.to)) << c.syorid;
        EXPECT_EQ(form.findChild<QLabel*>(u"lblShori"_s)->text(), QString::fromUtf16(c.label))
            << c.syorid;
        EXPECT_EQ(form.nendoPrt(), QString::fromUtf16(c.print)) << c.syorid;
    }
}

TEST_F(LedgerForm, MissingManagementRecordEndsTheProgram)
{
    m_db.jinji(1001, u"山田　太郎"_s, 1);
    EXPECT_FALSE(load());
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"管理マスタが読込できません。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_EQ(m_shell.boxes()[0].title, caption());
}

TEST_F(LedgerForm, EmptyPersonnelMasterEndsAfterItsMessage)
{
    m_db.kanri(202412);
    EXPECT_FALSE(load());
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"該当するデータが登録されていません。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Exclamation);
}

TEST_F(LedgerForm, SelectAllAndClearByKey)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    list()->item(1)->setSelected(true);
    // One change of the selection whatever the staff: item by item, a list of thousands took
    // minutes.
    QSignalSpy changes(list()->selectionModel(), &QItemSelectionModel::selectionChanged);
    QTest::keyClick(list(), Qt::Key_F1);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(list()->selectedItems().size(), 3);
    QTest::keyClick(list(), Qt::Key_F1);
    EXPECT_EQ(list()->selectedItems().size(), 3);
    QTest::keyClick(list(), Qt::Key_F2);
    EXPECT_TRUE(list()->selectedItems().isEmpty());
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(LedgerForm, ClicksAndSpaceToggleSingleItems)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    QListWidget& list = *this->list();
    const QRect first = list.visualItemRect(list.item(0));
    const QRect third = list.visualItemRect(list.item(2));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_TRUE(list.item(0)->isSelected());
    EXPECT_FALSE(list.item(1)->isSelected());
    EXPECT_TRUE(list.item(2)->isSelected());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_FALSE(list.item(0)->isSelected());
    list.setFocus();
    list.setCurrentRow(1, QItemSelectionModel::NoUpdate);
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_TRUE(list.item(1)->isSelected());
}

// Shift with a click or an arrow selects the range from the item last clicked or moved to,
// keeping what was selected before; Ctrl-click and Space toggle one item; F2 clears a range too.
TEST_F(LedgerForm, ShiftSelectsARangeAndCtrlClickTogglesOne)
{
    fillStandard(m_db);
    for (int code = 1011; code <= 1015; ++code) {
        m_db.jinji(code, u"職員%1"_s.arg(code), 1);
        m_db.kyuyo(code, 1, 202404, 1);
    }
    ASSERT_TRUE(load());
    QListWidget& list = *this->list();
    ASSERT_EQ(list.count(), 8);
    const auto selectedRows = [&list] {
        QList<int> rows;
        for (int i = 0; i < list.count(); ++i) {
            if (list.item(i)->isSelected())
                rows << i;
        }
        return rows;
    };
    const auto click = [&list](int row, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, mods,
                          list.visualItemRect(list.item(row)).center());
    };

    click(7, {});
    click(1, {});
    click(3, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2, 3, 7}));
    click(5, Qt::ShiftModifier); // the range grows from the same item
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2, 3, 4, 5, 7}));
    click(2, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), (QList<int>{1, 3, 4, 5, 7}));
    click(2, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2, 3, 4, 5, 7}));

    QTest::keyClick(&list, Qt::Key_F2);
    EXPECT_TRUE(selectedRows().isEmpty());
    list.setFocus();
    list.setCurrentRow(0, QItemSelectionModel::NoUpdate);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Space); // toggles this one only, and stays on it
    EXPECT_EQ(selectedRows(), QList<int>{1});
    EXPECT_EQ(list.currentRow(), 1);
    QTest::keyClick(&list, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&list, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2, 3}));
    QTest::keyClick(&list, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2}));
    QTest::keyClick(&list, Qt::Key_Down); // a plain arrow moves and selects nothing
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2}));
    EXPECT_EQ(list.currentRow(), 4);
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(LedgerForm, KeysWithoutAFunctionAreSwallowed)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());

    struct KeySpy : QObject {
        QList<int> keys;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::KeyPress)
                keys << static_cast<QKeyEvent*>(e)->key();
            return false;
        }
    } spy;
    list()->installEventFilter(&spy);
    for (Qt::Key k : {Qt::Key_F3, Qt::Key_F4, Qt::Key_F5, Qt::Key_F7, Qt::Key_F8, Qt::Key_F9,
                      Qt::Key_F11, Qt::Key_F12})
        QTest::keyClick(list(), k);
    QTest::keyClick(list(), Qt::Key_Down);
    EXPECT_EQ(spy.keys, QList<int>{Qt::Key_Down});
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_FALSE(m_shell.ended());
}

TEST_F(LedgerForm, PrintWithoutSelectionAsksForOne)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    button(0)->setFocus();
    QTest::keyClick(button(0), Qt::Key_F6);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"職員が選択されていません。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Exclamation);
    EXPECT_EQ(m_shell.boxes()[0].title, caption());
    EXPECT_FALSE(m_shell.ended());
    EXPECT_TRUE(list()->hasFocus());
    EXPECT_FALSE(QFile::exists(m_db.path() + u"/OVL.TMP"_s));
}

TEST_F(LedgerForm, EndKeyClosesAndEnds)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    EXPECT_THROW(m_form->cmdPFKEY_Click(9), mox::ProgramEnded);
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_FALSE(QFile::exists(m_db.path() + u"/OVL.TMP"_s));
}

TEST_F(LedgerForm, PrintsTheChosenLedgersAndEnds)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    m_form->prsPF01();
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_TRUE(m_form->isEnabled());

    QFile expected(QString::fromLocal8Bit(qgetenv("MOX_SOURCE_DIR")) +
                   u"/tests/mox030/data/expected_ovl.txt"_s);
    ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
    QString want = QString::fromUtf8(expected.readAll());
    want.replace(u"\n"_s, u"\r\n"_s);
    QStringEncoder cp932("windows-31j");
    const QByteArray wantBytes = cp932.encode(want);
    const QByteArray got = mox030test::readBytes(m_db.path() + u"/OVL.TMP"_s);
    EXPECT_EQ(got.size(), wantBytes.size());
    const QStringList gotLines = mox030test::readLines(m_db.path() + u"/OVL.TMP"_s);
    const QStringList wantLines = want.split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(gotLines.size(), wantLines.size());
    for (qsizetype i = 0; i < wantLines.size(); ++i)
        ASSERT_EQ(gotLines[i], wantLines[i]) << "line " << i + 1;
    EXPECT_EQ(got, wantBytes);
    EXPECT_TRUE(QFile::exists(m_db.path() + u"/Mox030.pdf"_s));
    // No printer named: the desktop's viewer is asked to show the PDF.
    ASSERT_EQ(m_shell.openedUrls().size(), 1u);
    EXPECT_EQ(m_shell.openedUrls()[0], QUrl::fromLocalFile(pdfPath()));
}

// What the wait window shows while the run goes: each chosen employee (a page or not), then
// each page the print component draws.
TEST_F(LedgerForm, WaitWindowCountsLedgersThenPages)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    QStringList shown;
    m_shell.setOnDoEvents([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* wait = qobject_cast<mox::frmOMACHI*>(w);
                wait && wait->isVisible() && wait->prgShori->isVisible())
                shown << wait->prgShori->text();
        }
    });
    m_form->prsPF01();
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    EXPECT_TRUE(m_shell.boxes().empty());
    // The first and the last report of each stage are always shown.
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.first(), u"台帳 1 / 3 人"_s);
    EXPECT_TRUE(shown.contains(u"台帳 3 / 3 人"_s));
    EXPECT_TRUE(shown.contains(u"印刷 1 / 2 ページ"_s));
    EXPECT_EQ(shown.last(), u"印刷 2 / 2 ページ"_s);
}

TEST_F(LedgerForm, PrintSectionOpenZeroLeavesThePdfUnshown)
{
    fillStandard(m_db);
    {
        QFile ini(m_db.path() + u"/MOX.INI"_s);
        ASSERT_TRUE(ini.open(QIODevice::Append));
        ini.write("[Print]\nOpen=0\n");
    }
    ASSERT_TRUE(load());
    m_form->prsPF01();
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_TRUE(QFile::exists(pdfPath()));
    EXPECT_TRUE(m_shell.openedUrls().empty());
}

TEST_F(LedgerForm, NoRecordsInTheYearPrintsNothing)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    list()->item(1)->setSelected(true);
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"該当データがありません"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Exclamation);
    EXPECT_EQ(mox030test::readBytes(m_db.path() + u"/OVL.TMP"_s),
              QByteArray("ST 011001\r\nCR 15063\r\nED \r\n"));
    EXPECT_FALSE(QFile::exists(m_db.path() + u"/Mox030.pdf"_s));
    EXPECT_TRUE(m_shell.openedUrls().empty());
}

TEST_F(LedgerForm, CommandFileThatCannotBeMadeIsReported)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    m_form->setPrintFolder(m_db.path() + u"/missing"_s);
    m_form->prsPF01();
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_TRUE(m_shell.boxes()[0].text.startsWith(u"印刷ファイルを作成できません。"_s));
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_EQ(m_shell.boxes()[0].title, caption());
}

TEST_F(LedgerForm, FailingPrintComponentIsReported)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    // A folder in the place of the printed file makes the component fail to write it.
    ASSERT_TRUE(QDir(m_db.path()).mkdir(u"Mox030.pdf"_s));
    m_form->prsPF01();
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_TRUE(m_shell.boxes()[0].text.startsWith(u"印刷できませんでした。"_s));
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_EQ(m_shell.boxes()[0].title, caption());
    EXPECT_TRUE(QFile::exists(m_db.path() + u"/OVL.TMP"_s));
}

TEST_F(LedgerForm, AmountsBeyondTheMoneyTypeAreReportedNotWrapped)
{
    fillStandard(m_db);
    // Two salaries that each fit, and whose sum in the months total does not.
    const qlonglong huge = 900'000'000'000'000;
    m_db.kyuyo(1004, 1, 202405, 1, {{"KYURYO", huge}});
    m_db.kyuyo(1004, 1, 202406, 1, {{"KYURYO", huge}});
    ASSERT_TRUE(load());
    const QList<QListWidgetItem*> items = list()->findItems(u"高橋"_s, Qt::MatchContains);
    ASSERT_EQ(items.size(), 1);
    items[0]->setSelected(true);
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    // The calculation's own message for such amounts, naming the employee.
    EXPECT_EQ(m_shell.boxes()[0].text,
              u"金額が大きすぎて計算できません。\r\n\r\n職員番号 0001004"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_FALSE(QFile::exists(m_db.path() + u"/Mox030.pdf"_s));
    EXPECT_FALSE(QFile::exists(ovlPath()));
}

// The list of a few hundred staff: the finds of one employee after another are answered many
// at a time, so the statements stay few whatever the staff; what another desk committed
// meanwhile is in the next list.
TEST_F(LedgerForm, ListOfHundredsTakesAFewStatementsAndShowsCommittedChanges)
{
    m_db.kanri(202412);
    for (int code = 1; code <= 300; ++code) {
        m_db.jinji(code, u"職員%1"_s.arg(code), 1);
        if (code % 3 != 0)
            m_db.kyuyo(code, 1, 202404 + code % 5, 1, {{"KYURYO", code}});
    }
    const qint64 before = KorDAO::statementsSent();
    ASSERT_TRUE(load());
    const qint64 statements = KorDAO::statementsSent() - before;
    ASSERT_EQ(list()->count(), 200);
    EXPECT_EQ(list()->item(199)->data(Qt::UserRole).toInt(), 299);
    // Opening, the management record, the eras, the personnel walk and some ten finds ahead;
    // one find per employee would be over 300.
    EXPECT_LE(statements, 40) << statements;

    m_db.kyuyo(3, 1, 202404, 1);
    m_form.reset();
    ASSERT_TRUE(load());
    EXPECT_EQ(list()->count(), 201);
    EXPECT_EQ(list()->item(2)->data(Qt::UserRole).toInt(), 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, LedgerFormOn, testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& p) {
                             return p.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

// A line feed in a name or workplace would write commands of its own into OVL.TMP (here a forged
// amount over the annual deduction total, and an early end); a character outside code page 932
// would make the file unreadable to the print component. Both print cleaned, and the run ends
// saying how many characters it changed.
TEST_P(LedgerFormOn, TextsArePrintedCleanedAndTheChangesCounted)
{
    m_db.kanri(202412, u"本庁\r\nED "_s);
    m_db.jinji(1001, u"\U00020BB7田　太郎\nTE 1830051530100100  999,999"_s, 1);
    m_db.kyuyo(1001, 1, 202404, 1, {{"KYURYO", 300000}, {"KOUGOK", 1000}});
    ASSERT_TRUE(load());
    m_form->prsPF01();
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);

    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text,
              u"職員名・職種名・所属などに、そのままでは印刷できない文字がありました。\r\n\r\n"
              "印刷できない文字 1 文字を「？」にして印刷しました。\r\n\r\n"
              "改行などの制御文字 3 文字を空白にして印刷しました。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Information);
    EXPECT_EQ(m_shell.boxes()[0].title, caption());

    const QStringList lines = mox030test::readLines(ovlPath());
    EXPECT_EQ(linesStartingWith(lines, u"ED"_s), QStringList{u"ED "_s});
    EXPECT_EQ(lines.last(), u"ED "_s);
    EXPECT_EQ(linesStartingWith(lines, u"TE 18300515"_s).size(), 1);
    EXPECT_TRUE(lines.contains(u"TE 0350006530100100？田　太郎 TE 1830051530100100  999,999"_s));
    EXPECT_TRUE(lines.contains(u"TE 1880006530100100(本庁  ED )"_s));
    EXPECT_TRUE(QFile::exists(pdfPath()));
}

// The list finds each employee's first payment record; one without any is left out without a
// word (see ListsEmployeesWithPaymentsOfAnyYear). A payment table that cannot be opened ends the
// program with the status of the open, not with the finds that follow it.
TEST_P(LedgerFormOn, ListReportsAPaymentTableThatCannotBeOpened)
{
    fillStandard(m_db);
    m_db.exec(u"mox.db"_s, u"DROP TABLE \"GKKYUYO\""_s);
    EXPECT_FALSE(load());
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text,
              u"テーブルはオープン／クローズ出来ません。\r\n\r\nErr Status = -2"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
    EXPECT_EQ(list()->count(), 0);
}

// The print run looks each chosen employee up in the personnel master before it reads his
// payments. One removed since the list was made still gets his page, without a header (no year,
// code, job kind, name or workplace), and the run ends with a box naming him; the others print as
// ever. A find that fails stops the run with its status, leaving no command file.
TEST_P(LedgerFormOn, PrintRunLooksEachEmployeeUpFirst)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    m_form->prsPF01();
    m_db.exec(u"mox.db"_s, u"DELETE FROM \"GKJINJI\" WHERE \"SYOKCD\" = 1001"_s);
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text,
              u"次の職員は職員マスタにないため、見出し（職員番号・氏名など）なしで印刷しました。"
              u"\r\n\r\n0001001"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Information);
    EXPECT_EQ(m_shell.boxes()[0].title, caption());

    const QStringList lines = mox030test::readLines(ovlPath());
    const QStringList pages = linesStartingWith(lines, u"PE"_s);
    ASSERT_EQ(pages.size(), 2);
    // One header only (the second page's), and the first page's rows all the same: its April
    // pay of 305,000 (salary and adjustment) in the first cell of row 1.
    EXPECT_EQ(linesStartingWith(lines, u"TE 01200055"_s).size(), 1);
    EXPECT_EQ(linesStartingWith(lines, u"TE 03500065"_s),
              QStringList{u"TE 0350006530100100佐藤　次郎"_s});
    const qsizetype second = lines.indexOf(u"PE "_s, lines.indexOf(u"PE "_s) + 1);
    EXPECT_TRUE(lines.mid(0, second).contains(u"TE 0130011530100100   305,000"_s));
    EXPECT_TRUE(lines.mid(second).contains(u"TE 03500055301001000001003"_s));
    EXPECT_TRUE(QFile::exists(pdfPath()));
}

TEST_P(LedgerFormOn, PrintRunStopsAtAFailingFindOfThePersonnelMaster)
{
    fillStandard(m_db);
    ASSERT_TRUE(load());
    m_form->prsPF01();
    m_db.exec(u"mox.db"_s, u"DROP TABLE \"GKJINJI\""_s);
    EXPECT_THROW(m_form->cmdPFKEY_Click(5), mox::ProgramEnded);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text,
              u"テーブルＳＱＬステートメントの実行に失敗しました。\r\n\r\nErr Status = -66"_s);
    EXPECT_FALSE(QFile::exists(ovlPath()));
    EXPECT_FALSE(QFile::exists(pdfPath()));
}
