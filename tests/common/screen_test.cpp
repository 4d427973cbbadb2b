#include "mox/fonts.h"
#include "mox/screen.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

TEST(Twips, FifteenTwipsToThePixel)
{
    EXPECT_EQ(mox::twipsToPixels(4680), 312);
    EXPECT_EQ(mox::twipsToPixels(1710), 114);
    EXPECT_EQ(mox::twipsToPixels(0), 0);
    EXPECT_EQ(mox::twipsToPixels(7), 0);
    EXPECT_EQ(mox::twipsToPixels(8), 1);
    EXPECT_EQ(mox::twipsToPixels(-8), -1);
    EXPECT_EQ(mox::twipsRect(375, 7500, 855, 315), QRect(25, 500, 57, 21));
}

// A desktop that enlarges its fonts without scaling the screen gets forms enlarged as much.
TEST(Twips, FollowTheLogicalDpiOfTheFonts)
{
    struct Case {
        int twips, dpi, pixels;
    };
    const Case cases[] = {
        {1500, 96, 100}, {1500, 144, 150}, {1500, 192, 200}, {1500, 120, 125}, {11400, 144, 1140},
        {300, 144, 30},  {10, 144, 1},     {5, 144, 1}, // 0.5 px: away from zero
        {4, 144, 0},     {-5, 144, -1},    {-4, 144, 0},     {0, 192, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mox::twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " at " << c.dpi;
    // The tests run on a screen of 96 DPI.
    EXPECT_EQ(mox::logicalDpi(), 96);
}

TEST(Centring, TopGoesToZeroAtOrBelow480Twips)
{
    const QRect screen(0, 0, 1280, 1024);
    EXPECT_EQ(mox::centredPosition(QSize(400, 300), screen), QPoint(440, 362));
    // (1024 - 960) / 2 = 32 px = 480 twips: moved to the top.
    EXPECT_EQ(mox::centredPosition(QSize(400, 960), screen), QPoint(440, 0));
    // (1024 - 958) / 2 = 33 px: stays centred.
    EXPECT_EQ(mox::centredPosition(QSize(400, 958), screen), QPoint(440, 33));
    EXPECT_EQ(mox::centredPosition(QSize(1300, 1100), screen), QPoint(-10, 0));
    // A second screen to the right and below.
    EXPECT_EQ(mox::centredPosition(QSize(400, 300), QRect(1280, 100, 1280, 1024)),
              QPoint(1720, 462));
}

// A line edit that counts the keys it receives.
class CountingEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    int keys = 0; // function keys received

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (e->key() >= Qt::Key_F1 && e->key() <= Qt::Key_F35)
            ++keys;
        QLineEdit::keyPressEvent(e);
    }
};

class FunctionKeys : public testing::Test {
protected:
    FunctionKeys()
    {
        auto* layout = new QVBoxLayout(&m_form);
        m_edit = new CountingEdit(&m_form);
        layout->addWidget(m_edit);
        m_filter = new mox::FunctionKeyFilter(m_form, [this](int i) { m_pressed.push_back(i); });
        m_form.show();
        m_edit->setFocus();
    }

    QWidget m_form;
    CountingEdit* m_edit;
    mox::FunctionKeyFilter* m_filter;
    std::vector<int> m_pressed;
};

TEST_F(FunctionKeys, PressTheButtonBeforeTheFocusedBoxSeesTheKey)
{
    QTest::keyClick(m_edit, Qt::Key_F1);
    QTest::keyClick(m_edit, Qt::Key_F5);
    QTest::keyClick(m_edit, Qt::Key_F12);
    EXPECT_EQ(m_pressed, (std::vector<int>{0, 4, 11}));
    EXPECT_EQ(m_edit->keys, 0);
}

TEST_F(FunctionKeys, ModifiersAreIgnored)
{
    QTest::keyClick(m_edit, Qt::Key_F4, Qt::ShiftModifier);
    QTest::keyClick(m_edit, Qt::Key_F10, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(m_pressed, (std::vector<int>{3, 9}));
    EXPECT_EQ(m_edit->keys, 0);
}

TEST_F(FunctionKeys, OtherKeysOtherWindowsAndADisabledFormPass)
{
    QTest::keyClicks(m_edit, u"12"_s);
    EXPECT_EQ(m_edit->text(), u"12"_s);
    QTest::keyClick(m_edit, Qt::Key_F13);

    QWidget dialog;
    CountingEdit dialogEdit(&dialog);
    dialog.show();
    QTest::keyClick(&dialogEdit, Qt::Key_F2);
    EXPECT_EQ(dialogEdit.keys, 1);

    m_form.setEnabled(false);
    QTest::keyClick(m_edit, Qt::Key_F3);
    EXPECT_TRUE(m_pressed.empty());
}

TEST_F(FunctionKeys, DropDownOfTheFormCountsDialogsDoNot)
{
    QWidget popup(&m_form, Qt::Popup);
    CountingEdit popupEdit(&popup);
    popup.show();
    QTest::keyClick(&popupEdit, Qt::Key_F11);
    EXPECT_EQ(m_pressed, std::vector<int>{10});
    popup.hide();

    QWidget dialog(&m_form, Qt::Dialog);
    CountingEdit dialogEdit(&dialog);
    dialog.show();
    QTest::keyClick(&dialogEdit, Qt::Key_F4);
    EXPECT_EQ(dialogEdit.keys, 1);
    EXPECT_EQ(m_pressed, std::vector<int>{10});
}

TEST_F(FunctionKeys, FilterGoesWithTheForm)
{
    delete m_filter;
    QTest::keyClick(m_edit, Qt::Key_F1);
    EXPECT_TRUE(m_pressed.empty());
    EXPECT_EQ(m_edit->keys, 1);
}

TEST(PFKeys, TwelveButtonsAtTheirTwipsPositions)
{
    QWidget form;
    const std::array<int, 12> lefts{375,  1230, 2085, 2940, 4095, 4950,
                                    5805, 6660, 7815, 8670, 9525, 10380};
    const auto buttons = mox::createPFKeys(form, lefts, 7500, 855, 315);
    EXPECT_EQ(buttons[0]->geometry(), QRect(25, 500, 57, 21));
    EXPECT_EQ(buttons[11]->geometry(), QRect(692, 500, 57, 21));
    EXPECT_EQ(buttons[4]->objectName(), u"cmdPFKEY_4"_s);
    EXPECT_EQ(buttons[4]->parent(), &form);
}

// Switching modes leaves no caption or enabled button of the mode before behind.
TEST(PFKeys, SettingAModeShowsItsKeysAndBlanksTheRest)
{
    static constexpr mox::FunctionKey keys[] = {
        {0, u"全選択", mox::inModes({0})},
        {5, u"印　刷", mox::inModes({0, 1})},
        {9, u"終　了", mox::inModes({1})},
    };
    QWidget form;
    const std::array<int, 12> lefts{};
    const auto buttons = mox::createPFKeys(form, lefts, 0, 855, 315);
    for (QPushButton* b : buttons)
        b->setText(u"old"_s);

    mox::setFunctionKeys(buttons, keys, 0);
    EXPECT_EQ(buttons[0]->text(), u"全選択"_s);
    EXPECT_TRUE(buttons[0]->isEnabled());
    EXPECT_TRUE(mox::pfModeFlag(0));
    EXPECT_TRUE(buttons[9]->text().isEmpty());
    EXPECT_FALSE(buttons[9]->isEnabled());
    EXPECT_FALSE(mox::pfModeFlag(9));

    mox::setFunctionKeys(buttons, keys, 1);
    EXPECT_TRUE(buttons[0]->text().isEmpty());
    EXPECT_FALSE(buttons[0]->isEnabled());
    EXPECT_FALSE(mox::pfModeFlag(0));
    EXPECT_EQ(buttons[5]->text(), u"印　刷"_s);
    EXPECT_EQ(buttons[9]->text(), u"終　了"_s);
    EXPECT_TRUE(buttons[9]->isEnabled());
    for (int i : {1, 2, 3, 4, 6, 7, 8, 10, 11}) {
        EXPECT_TRUE(buttons[static_cast<std::size_t>(i)]->text().isEmpty()) << i;
        EXPECT_FALSE(buttons[static_cast<std::size_t>(i)]->isEnabled()) << i;
    }
}

TEST(Fonts, GothicResolvesToIpaGothic)
{
    // Through the fontconfig alias alone (the tests run with its configuration) ...
    QFont::removeSubstitutions(mox::gothicFamily());
    EXPECT_EQ(QFontInfo(QFont(mox::gothicFamily())).family(), u"IPAGothic"_s);
    // ... and through the substitution the programs install.
    mox::installFonts();
    QFont font(u"ＭＳ ゴシック"_s);
    font.setPointSize(9);
    EXPECT_EQ(QFontInfo(font).family(), u"IPAGothic"_s);
    // The figure face of the numeric boxes is found through the same configuration.
    EXPECT_EQ(QFontInfo(QFont(u"DejaVu Sans Mono"_s, 9)).family(), u"DejaVu Sans Mono"_s);
}

} // namespace
