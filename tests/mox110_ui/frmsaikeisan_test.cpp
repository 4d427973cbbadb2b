#include "mox110ui/frmsaikeisan.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

using namespace Qt::StringLiterals;

namespace {

// A button of the dialog by its object name, as a user's tool finds it.
QPushButton* button(const frmSAIKEISAN& dlg, const char* name)
{
    auto* b = dlg.findChild<QPushButton*>(QString::fromLatin1(name));
    if (!b)
        throw std::runtime_error(std::string("no button named ") + name);
    return b;
}

// Runs \p steps inside the dialog's modal loop, then returns its choice; a dialog still open
// after the steps is answered with a click on cmdF4 so that the test never hangs.
short runDialog(frmSAIKEISAN& dlg, const std::function<void()>& steps, bool* stillOpen = nullptr)
{
    QTimer::singleShot(0, &dlg, [&] {
        steps();
        if (stillOpen)
            *stillOpen = dlg.isVisible();
        if (dlg.isVisible())
            button(dlg, "cmdF4")->click();
    });
    return dlg.showModal();
}

struct KeyCase {
    const char* name;
    bool focusOnF12;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    short want;
};

const KeyCase kKeyCases[] = {
    {"F4ChoosesView", false, Qt::Key_F4, Qt::NoModifier, 4},
    {"F12ChoosesCorrection", false, Qt::Key_F12, Qt::NoModifier, 12},
    {"F4WithFocusOnCorrection", true, Qt::Key_F4, Qt::NoModifier, 4},
    {"F12WithFocusOnView", false, Qt::Key_F12, Qt::NoModifier, 12},
    {"ShiftF12ActsLikeF12", false, Qt::Key_F12, Qt::ShiftModifier, 12},
    {"AltF4ActsLikeF4", true, Qt::Key_F4, Qt::AltModifier, 4},
};

class SaikeisanKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(SaikeisanKeys, FunctionKeysPressTheirButtonWhereverTheFocusIs)
{
    const KeyCase& c = GetParam();
    frmSAIKEISAN dlg;
    const short choice = runDialog(dlg, [&] {
        if (c.focusOnF12)
            button(dlg, "cmdF12")->setFocus();
        QTest::keyClick(dlg.focusWidget(), c.key, c.modifiers);
    });
    EXPECT_EQ(choice, c.want);
    EXPECT_EQ(dlg.flgMode(), c.want);
}

INSTANTIATE_TEST_SUITE_P(All, SaikeisanKeys, testing::ValuesIn(kKeyCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Saikeisan, CaptionsAndFirstFocus)
{
    frmSAIKEISAN dlg;
    bool focusOnView = false;
    runDialog(dlg, [&] { focusOnView = dlg.focusWidget() == button(dlg, "cmdF4"); });
    EXPECT_TRUE(focusOnView);
    EXPECT_EQ(dlg.windowTitle(), u"確認メッセージ"_s);
    EXPECT_EQ(button(dlg, "cmdF4")->text(), u"内容を表示する　（Ｆ４）"_s);
    EXPECT_EQ(button(dlg, "cmdF12")->text(), u"内容を修正する　（Ｆ12）"_s);
}

TEST(Saikeisan, RefusesToCloseWithoutAChoice)
{
    frmSAIKEISAN dlg;
    bool stillOpen = false;
    runDialog(
        dlg,
        [&] {
            QTest::keyClick(dlg.focusWidget(), Qt::Key_Escape);
            QTest::keyClick(dlg.focusWidget(), Qt::Key_Return);
            QTest::keyClick(dlg.focusWidget(), Qt::Key_Space);
            dlg.close();
            dlg.reject();
        },
        &stillOpen);
    EXPECT_TRUE(stillOpen);
}

TEST(Saikeisan, ChoiceIsResetEachTimeItOpens)
{
    frmSAIKEISAN dlg;
    EXPECT_EQ(runDialog(dlg, [&] { button(dlg, "cmdF12")->click(); }), 12);
    bool zeroWhileOpen = false;
    runDialog(dlg, [&] { zeroWhileOpen = dlg.flgMode() == 0; });
    EXPECT_TRUE(zeroWhileOpen);
}

} // namespace
