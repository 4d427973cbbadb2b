#include "mox/fonts.h"
#include "mox/frmomachi.h"
#include "mox/shell.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

mox::frmOMACHI* visibleWaitWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* wait = qobject_cast<mox::frmOMACHI*>(w); wait && wait->isVisible())
            return wait;
    }
    return nullptr;
}

// True when \p label, painted as it is now, has a pixel within a few steps of \p colour in each
// channel: the cores of the strokes (their edges are blended with the background).
bool paintsColour(QWidget& label, const QColor& colour)
{
    const QImage image = label.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= 16 &&
                std::abs(c.green() - colour.green()) <= 16 &&
                std::abs(c.blue() - colour.blue()) <= 16)
                return true;
        }
    }
    return false;
}

class WaitWindow : public testing::Test {
protected:
    WaitWindow()
    {
        mox::installFonts();
        m_caller.setWindowTitle(u"個人別給与累計表印刷"_s);
        m_caller.show();
    }

    QWidget m_caller;
    mox::ScriptedShell m_shell;
};

TEST_F(WaitWindow, ShownWithTheCallersCaptionWhileTheCallerIsDisabled)
{
    bool ran = false;
    mox::runWithWaitWindow(m_caller, [&] {
        ran = true;
        const mox::frmOMACHI* wait = visibleWaitWindow();
        ASSERT_NE(wait, nullptr);
        EXPECT_EQ(wait->windowTitle(), u"個人別給与累計表印刷"_s);
        EXPECT_FALSE(m_caller.isEnabled());
        EXPECT_EQ(m_shell.doEventsCount(), 1) << "events run once before the action";
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(m_caller.isEnabled());
    EXPECT_EQ(visibleWaitWindow(), nullptr);
    EXPECT_EQ(m_shell.doEventsCount(), 2);
}

TEST_F(WaitWindow, PaintsInNormalColoursWhileTheCallerIsDisabled)
{
    bool ran = false;
    mox::runWithWaitWindow(m_caller, [&] {
        ran = true;
        mox::frmOMACHI* wait = visibleWaitWindow();
        ASSERT_NE(wait, nullptr);
        ASSERT_FALSE(m_caller.isEnabled());
        EXPECT_TRUE(wait->isEnabled());
        ASSERT_NE(wait->windowHandle(), nullptr);
        EXPECT_EQ(wait->windowHandle()->transientParent(), m_caller.windowHandle())
            << "stays above the form it belongs to";
        for (QLabel* label : wait->Label1) {
            EXPECT_TRUE(label->isEnabled()) << label->text().toStdString();
            const QColor normal = label->palette().color(QPalette::Active, QPalette::WindowText);
            ASSERT_NE(normal.rgb(),
                      label->palette().color(QPalette::Disabled, QPalette::WindowText).rgb());
            EXPECT_TRUE(paintsColour(*label, normal)) << label->text().toStdString();
        }
    });
    EXPECT_TRUE(ran);
}

// A long action reports how far it has got: a bar appears under the two lines, which stay.
TEST_F(WaitWindow, ReportedProgressShowsABarUnderTheTwoLines)
{
    mox::runWithWaitWindow(m_caller, [&](const mox::WaitProgress& progress) {
        mox::frmOMACHI* wait = visibleWaitWindow();
        ASSERT_NE(wait, nullptr);
        EXPECT_FALSE(wait->prgShori->isVisible());
        const QSize before = wait->size();
        const int eventsBefore = m_shell.doEventsCount();

        progress(u"台帳 %v / %m 人"_s, 1, 30000);
        EXPECT_EQ(m_shell.doEventsCount(), eventsBefore + 1) << "the bar is painted at once";
        ASSERT_TRUE(wait->prgShori->isVisible());
        EXPECT_EQ(wait->prgShori->text(), u"台帳 1 / 30000 人"_s);
        EXPECT_GT(wait->height(), before.height());
        EXPECT_EQ(wait->width(), before.width());
        for (const QLabel* label : wait->Label1) {
            EXPECT_TRUE(label->isVisible());
            EXPECT_LT(label->geometry().bottom(), wait->prgShori->geometry().top());
        }
        EXPECT_TRUE(wait->rect().contains(wait->prgShori->geometry()));

        // Many reports in a row do not each stop for the window; the last one does.
        for (int n = 2; n < 30000; ++n)
            progress(u"台帳 %v / %m 人"_s, n, 30000);
        EXPECT_LT(m_shell.doEventsCount(), eventsBefore + 100);
        const int eventsBeforeLast = m_shell.doEventsCount();
        progress(u"印刷 %v / %m ページ"_s, 2, 2);
        EXPECT_EQ(m_shell.doEventsCount(), eventsBeforeLast + 1);
        EXPECT_EQ(wait->prgShori->text(), u"印刷 2 / 2 ページ"_s);
        EXPECT_EQ(wait->prgShori->value(), wait->prgShori->maximum());
    });
    EXPECT_TRUE(m_caller.isEnabled());
    EXPECT_EQ(visibleWaitWindow(), nullptr);
}

TEST_F(WaitWindow, ThrowingActionStillRestoresTheCaller)
{
    EXPECT_THROW(mox::runWithWaitWindow(m_caller, [] { throw std::runtime_error("failed"); }),
                 std::runtime_error);
    EXPECT_TRUE(m_caller.isEnabled());
    EXPECT_EQ(visibleWaitWindow(), nullptr);
}

TEST_F(WaitWindow, CallerDestroyedByTheActionIsNotTouched)
{
    auto* owner = new QWidget;
    owner->setWindowTitle(u"x"_s);
    mox::runWithWaitWindow(*owner, [&] { delete owner; });
    EXPECT_EQ(visibleWaitWindow(), nullptr);
}

TEST(WaitWindowLayout, ClientAreaAndLinesInTwips)
{
    mox::installFonts();
    mox::frmOMACHI wait;
    EXPECT_EQ(wait.size(), QSize(312, 114));
    EXPECT_EQ(wait.Label1[0]->text(), u"ただいま処理中です。"_s);
    EXPECT_EQ(wait.Label1[1]->text(), u"しばらくお待ち下さい。"_s);
    EXPECT_EQ(wait.Label1[0]->geometry(), QRect(2, 28, 307, 17));
    EXPECT_EQ(wait.Label1[1]->geometry(), QRect(0, 66, 309, 17));
    for (const QLabel* label : wait.Label1) {
        EXPECT_EQ(QFontInfo(label->font()).family(), u"IPAGothic"_s);
        EXPECT_EQ(label->font().pointSize(), 9);
        EXPECT_FALSE(label->font().bold());
    }
}

} // namespace
