// What screen readers hear of the shared screen parts: boxes named after their captions, the
// function keys by key and caption through every mode change, the wait window's progress and
// the message box's text.
#include "mox/accessible.h"
#include "mox/frmomachi.h"
#include "mox/qtshell.h"
#include "mox/screen.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QString accessibleName(QObject* o)
{
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
}

TEST(SpokenText, DropsTheBlanksThatSpaceCaptionsOutForTheEye)
{
    EXPECT_EQ(mox::spokenText(u"給　料"_s), u"給料"_s);
    EXPECT_EQ(mox::spokenText(u"給料調整額 "_s), u"給料調整額"_s);
    EXPECT_EQ(mox::spokenText(u"管\n理"_s), u"管理"_s);
    EXPECT_EQ(mox::spokenText(u"地域(期末)"_s), u"地域(期末)"_s);
}

TEST(NameByCaption, NamesTheBoxLabelsItAndDescribesItsUnit)
{
    QWidget form;
    auto* caption = new QLabel(u"給　料"_s, &form);
    auto* box = new QLineEdit(&form);
    mox::nameByCaption(*caption, *box, u"円"_s);
    EXPECT_EQ(caption->buddy(), box);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
    EXPECT_EQ(iface->text(QAccessible::Name), u"給料"_s);
    EXPECT_EQ(iface->text(QAccessible::Description), u"円"_s);
    const auto labels = iface->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first->object(), caption);
    EXPECT_EQ(box->focusPolicy(), Qt::StrongFocus); // naming leaves the focus as it was
}

TEST(NameByCaption, GivenNameStandsForOneOfTwoBoxesSharingACaption)
{
    QWidget form;
    auto* caption = new QLabel(u"期末手当在職期間"_s, &form);
    auto* months = new QLineEdit(&form);
    mox::nameByCaption(*caption, *months, u"カ月"_s, u"期末手当在職期間の月数"_s);
    EXPECT_EQ(accessibleName(months), u"期末手当在職期間の月数"_s);
}

TEST(NameByCaption, DropDownListWithoutChoiceIsNamedByItsCaption)
{
    QWidget form;
    auto* caption = new QLabel(u"健康厚生控除区分"_s, &form);
    auto* combo = new QComboBox(&form);
    combo->addItem(u"0:控除しない"_s);
    combo->setCurrentIndex(-1);
    mox::nameByCaption(*caption, *combo);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(combo);
    EXPECT_EQ(iface->text(QAccessible::Name), u"健康厚生控除区分"_s);
    ASSERT_EQ(iface->relations(QAccessible::Label).size(), 1);
}

TEST(FunctionKeyName, KeyAndCaptionWithoutTheBlank)
{
    EXPECT_EQ(mox::functionKeyName(10, u"読　込"_s), u"F11 読込"_s);
    EXPECT_EQ(mox::functionKeyName(0, u"全選択"_s), u"F1 全選択"_s);
    EXPECT_EQ(mox::functionKeyName(1, QString()), u"F2"_s);
    EXPECT_EQ(mox::functionKeyName(11, u"　"_s), u"F12"_s);
}

TEST(FunctionKeyButtons, NamesFollowEveryModeAndDisabledKeysSayIt)
{
    constexpr mox::FunctionKey keys[] = {
        {3, u"取　消", mox::inModes({2, 3})},
        {10, u"読　込", mox::inModes({0})},
        {11, u"更　新", mox::inModes({3})},
    };
    constexpr std::array<int, 12> lefts{0,    900,  1800, 2700, 3600, 4500,
                                        5400, 6300, 7200, 8100, 9000, 9900};
    QWidget form;
    const auto buttons = mox::createPFKeys(form, lefts, 0, 855, 315);
    EXPECT_EQ(accessibleName(buttons[10]), u"F11"_s);

    mox::setFunctionKeys(buttons, keys, 0);
    EXPECT_EQ(accessibleName(buttons[10]), u"F11 読込"_s);
    EXPECT_EQ(accessibleName(buttons[11]), u"F12"_s);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(buttons[11])->state().disabled);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(buttons[10])->state().disabled);

    mox::setFunctionKeys(buttons, keys, 3);
    EXPECT_EQ(accessibleName(buttons[10]), u"F11"_s);
    EXPECT_EQ(accessibleName(buttons[11]), u"F12 更新"_s);
    EXPECT_EQ(accessibleName(buttons[3]), u"F4 取消"_s);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(buttons[10])->state().disabled);
}

TEST(WaitWindowAccessible, ProgressBarReadsItsValueAndText)
{
    mox::frmOMACHI wait;
    wait.show();
    wait.setProgress(u"台帳 %v / %m 人"_s, 3, 5);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(wait.prgShori);
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    EXPECT_EQ(bar->text(QAccessible::Name), u"進捗"_s);
    ASSERT_NE(bar->valueInterface(), nullptr);
    EXPECT_EQ(bar->valueInterface()->currentValue().toInt(), 3);
    EXPECT_EQ(bar->valueInterface()->maximumValue().toInt(), 5);
    // Qt reads the bar's value as the bare figure; the text it shows is its description.
    EXPECT_EQ(bar->text(QAccessible::Description), u"台帳 3 / 5 人"_s);
    wait.setProgress(u"印刷 %v / %m ページ"_s, 2, 4);
    EXPECT_EQ(bar->text(QAccessible::Description), u"印刷 2 / 4 ページ"_s);
    EXPECT_FALSE(bar->state().invisible);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&wait)->text(QAccessible::Description),
              u"ただいま処理中です。しばらくお待ち下さい。"_s);
}

TEST(MessageBoxAccessible, IsReadByItsTitleAndItsText)
{
    QString name, description;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        name = iface->text(QAccessible::Name);
        description = iface->text(QAccessible::Description);
        box->accept();
    });
    mox::QtShell shell;
    shell.messageBox(u"職員が選択されていません。"_s, mox::MsgIcon::Exclamation,
                     mox::MsgButtons::Ok, u"期末勤勉手当計算結果入力"_s);
    EXPECT_EQ(name, u"期末勤勉手当計算結果入力"_s);
    EXPECT_EQ(description, u"職員が選択されていません。"_s);
}

} // namespace
