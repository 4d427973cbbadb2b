// The screens of both programs on the demo district, filled with an employee called up and with
// the widest figures their boxes take, checked control by control: each caption, figure, list
// item and button caption fits the rectangle it is drawn in. CTest runs this once per setting of
// the desktop (fonts at 96, 144 and 192 DPI, the screen scaled by two).
#include "textfit.h"

#include "mox030ui/frmmox030.h"
#include "mox110ui/frmmox110.h"
#include "mox110ui/frmsaikeisan.h"

#include "kordao/kordao.h"
#include "kornum/kornum.h"
#include "mox/fonts.h"
#include "mox/frmback.h"
#include "mox/frmomachi.h"
#include "mox/shell.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kDemoEmployee = 10025; // the worked example of the README

// Lets GoogleTest print the clipped controls one a line.
std::string lines(const QStringList& list)
{
    return list.join(u'\n').toStdString();
}

// The demo district in a folder of its own, found through MOX_INI_DIR.
class DemoScreens : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        mox::installFonts();
        s_dir = std::make_unique<QTemporaryDir>();
        QProcess demo;
        demo.start(QStringLiteral(MOXDB_PROGRAM), {u"demo"_s, u"--dir"_s, s_dir->path()});
        ASSERT_TRUE(demo.waitForFinished(120'000));
        ASSERT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().toStdString();
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        m_oldIniDir = qgetenv("MOX_INI_DIR");
        qputenv("MOX_INI_DIR", s_dir->path().toUtf8());
        m_shell.addBeforeEndHook([] { KorDAO::rollbackAllOpenTransactions(); });
    }
    void TearDown() override { qputenv("MOX_INI_DIR", m_oldIniDir); }

    static void show(QWidget& w)
    {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    QByteArray m_oldIniDir;
    mox::ScriptedShell m_shell;
};

// The widest figure a box shows: for the amounts, a hundred million yen less one, negative
// (more than any pay or bonus figure of the district); for the rest, as many digits as the box
// takes.
Currency widestFigure(const KorNumIn::KorNum& box)
{
    if (box.mask().startsWith(u'-'))
        return Currency::fromYen(-99'999'999);
    QString digits;
    for (int i = 0; i < box.maxLength(); ++i)
        digits += u'9';
    const qsizetype point = box.mask().section(u';', 0, 0).indexOf(u'.');
    if (point >= 0) {
        const qsizetype decimals = box.mask().section(u';', 0, 0).size() - point - 1;
        digits = digits.left(box.maxLength() - decimals - 1) + u'.' + digits.right(decimals);
    }
    return Currency::parse(digits).value_or(Currency());
}

TEST_F(DemoScreens, EntryScreenEmptyThenWithTheDemoEmployee)
{
    frmMox110 form;
    show(form);
    form.Form_Set();
    EXPECT_EQ(textfit::clipped(form), QStringList()) << lines(textfit::clipped(form));

    auto* employees = form.findChild<QComboBox*>(u"cboSyokcd"_s);
    const int index = employees->findData(kDemoEmployee);
    ASSERT_GE(index, 0);
    employees->setCurrentIndex(index);
    // A stored bonus brings the dialog up first: its figures are recalculated (F12).
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            QTest::keyClick(modal, Qt::Key_F12);
    });
    answer.start(10);
    QTest::keyClick(employees, Qt::Key_F11);
    answer.stop();
    ASSERT_EQ(form.findChild<KorNumIn::KorNum*>(u"nu1Kimatu"_s)->value(),
              Currency::fromYen(454'101));
    EXPECT_EQ(textfit::clipped(form), QStringList()) << lines(textfit::clipped(form));

    for (auto* box : form.findChildren<KorNumIn::KorNum*>())
        box->setValue(widestFigure(*box));
    for (const char16_t* ratio : {u"txtKmritu", u"txtKbritu"})
        form.findChild<QLineEdit*>(QString::fromUtf16(ratio))->setText(u"999.99999"_s);
    EXPECT_EQ(textfit::clipped(form), QStringList()) << lines(textfit::clipped(form));
}

TEST_F(DemoScreens, RecalculationDialog)
{
    frmSAIKEISAN dialog;
    show(dialog);
    EXPECT_EQ(textfit::clipped(dialog), QStringList()) << lines(textfit::clipped(dialog));
}

TEST_F(DemoScreens, LedgerSelectionWithTheDemoStaff)
{
    frmMox030 form;
    form.Form_Load();
    show(form);
    EXPECT_EQ(textfit::clipped(form), QStringList()) << lines(textfit::clipped(form));
}

TEST_F(DemoScreens, WaitWindowWithAndWithoutItsProgressBar)
{
    mox::frmOMACHI wait;
    wait.setWindowTitle(u"個人別給与累計表印刷"_s);
    show(wait);
    EXPECT_EQ(textfit::clipped(wait), QStringList()) << lines(textfit::clipped(wait));
    wait.setProgress(u"台帳 %v / %m 人"_s, 29'999, 30'000);
    EXPECT_EQ(textfit::clipped(wait), QStringList()) << lines(textfit::clipped(wait));
    wait.setProgress(u"印刷 %v / %m ページ"_s, 29'999, 30'000);
    EXPECT_EQ(textfit::clipped(wait), QStringList()) << lines(textfit::clipped(wait));
}

TEST_F(DemoScreens, BackgroundWindowNamesItsDatabases)
{
    mox::frmBack back;
    back.showDatabase(u"MOX.INI"_s, s_dir->filePath(u"mox.db"_s));
    back.showDatabase(u"MOXENV.INI"_s, u"payroll-server.example.lan:5432/moxenv"_s);
    show(back);
    EXPECT_EQ(textfit::clipped(back), QStringList()) << lines(textfit::clipped(back));
}

} // namespace
