// The entry screen as a screen reader meets it: every box and button that takes the focus has a
// Japanese name from the caption beside it (and the unit as its description); the function keys
// are named by key and caption in every mode.
#include "screenfixture.h"

#include <QAccessible>
#include <QPushButton>
#include <QRegularExpression>

using namespace Qt::StringLiterals;
using namespace screentest;

namespace {

constexpr int kDecember = 202612;

QString name(QWidget* w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

QString description(QWidget* w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description);
}

class EntryScreenAccessible : public ScreenTest {};

TEST_F(EntryScreenAccessible, EveryFocusableWidgetHasAJapaneseName)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    const QRegularExpression japanese(u"[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]"_s);
    int focusable = 0;
    for (QWidget* w : m_form->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || w->isWindow() || !w->isVisibleTo(m_form.get()))
            continue;
        if (w->parentWidget() && w->parentWidget()->inherits("QComboBox"))
            continue; // the line edit or list inside a drop-down belongs to it
        ++focusable;
        const QString n = name(w);
        if (qobject_cast<QPushButton*>(w))
            EXPECT_TRUE(n.startsWith(u'F')) << w->objectName().toStdString();
        else
            EXPECT_TRUE(n.contains(japanese))
                << w->objectName().toStdString() << " is named \"" << n.toStdString() << '"';
    }
    EXPECT_EQ(focusable, 38 + 12);
}

struct Naming {
    const char* box;
    const char16_t* name;
    const char16_t* unit;
};

TEST_F(EntryScreenAccessible, BoxesAreNamedByTheirCaptionsWithTheirUnits)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    const Naming namings[] = {
        {"cboSyokcd", u"職員コード", u""},
        {"nu1Kankmritu", u"期末手当支給率", u"％"},
        {"nu1Kmmm", u"期末手当在職期間の月数", u"カ月"},
        {"nu1Kmdd", u"期末手当在職期間の日数", u"日"},
        {"nu1Kbdd", u"勤勉手当在職期間の日数", u"日"},
        {"txtTxt2", u"コメント2", u""},
        {"nu1Kyuryo", u"給料", u"円"},
        {"nu1Ktyogk", u"給料調整額", u"円"},
        {"nu1Sasihk", u"現金支給額", u"円"},
        {"txtKbritu", u"勤勉手当支給割合", u"/100"},
        {"nu1Fsinsu", u"扶養親族等", u"人"},
        {"nu1Zeirit", u"所得税税率", u"％"},
    };
    for (const Naming& n : namings) {
        QWidget* w = control<QWidget>(n.box);
        EXPECT_EQ(name(w), QString::fromUtf16(n.name)) << n.box;
        EXPECT_EQ(description(w), QString::fromUtf16(n.unit)) << n.box;
    }
}

TEST_F(EntryScreenAccessible, FunctionKeysAreNamedByKeyAndCaptionInEachMode)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    EXPECT_EQ(name(control<QPushButton>("cmdPFKEY_10")), u"F11 読込"_s);
    EXPECT_EQ(name(control<QPushButton>("cmdPFKEY_11")), u"F12"_s);
    select(kManual);
    press(11);
    ASSERT_EQ(m_form->keyMode(), 3);
    EXPECT_EQ(name(control<QPushButton>("cmdPFKEY_10")), u"F11"_s);
    EXPECT_EQ(name(control<QPushButton>("cmdPFKEY_11")), u"F12 更新"_s);
    EXPECT_EQ(name(control<QPushButton>("cmdPFKEY_0")), u"F1 前月計"_s);
}

} // namespace
