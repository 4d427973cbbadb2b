// What a screen reader gets from a KorNum box: its figure as a number (value interface), the
// text it shows (text interface), its range, and its name from the caption beside it.
#include "kornum/kornum.h"

#include <QAccessible>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

using namespace Qt::StringLiterals;
using KorNumIn::KorNum;

namespace {

Currency money(const char16_t* text)
{
    return *Currency::parse(QStringView(text));
}

struct ValueCase {
    const char* name;
    const char16_t* mask;
    int length;
    const char16_t* value;
    const char16_t* shown; // the text without the focus
    double current;
    double minimum;
    double maximum;
    double step;
};

const ValueCase kValueCases[] = {
    {"Amount", u"-#,###", 12, u"454101", u"454,101", 454101, -99999999999.0, 999999999999.0, 1},
    {"NegativeAmount", u"-#,###", 12, u"-3000", u"-3,000", -3000, -99999999999.0, 999999999999.0,
     1},
    {"RateWithFourDecimals", u"#,##0.0000", 12, u"122.5", u"122.5000", 122.5, 0, 9999999.9999,
     0.0001},
    {"TaxRate", u"#0.000;#0.000;#", 7, u"6.126", u"6.126", 6.126, 0, 999.999, 0.001},
    {"OneDigitMonths", u"#", 1, u"6", u"6", 6, 0, 9, 1},
    {"ZeroShowsNothing", u"-#,###", 12, u"0", u"", 0, -99999999999.0, 999999999999.0, 1},
};

void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.name;
}

class KorNumAccessibleValue : public testing::TestWithParam<ValueCase> {};

TEST_P(KorNumAccessibleValue, ReadsTheFigureTheTextAndTheRange)
{
    const ValueCase& c = GetParam();
    QWidget window;
    auto* box = new KorNum(&window);
    box->setMask(QString::fromUtf16(c.mask));
    box->setMaxLength(c.length);
    box->setValue(money(c.value));

    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::EditableText);
    EXPECT_TRUE(iface->state().editable);
    QAccessibleValueInterface* value = iface->valueInterface();
    QAccessibleTextInterface* text = iface->textInterface();
    ASSERT_NE(value, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), c.current);
    EXPECT_DOUBLE_EQ(value->minimumValue().toDouble(), c.minimum);
    EXPECT_DOUBLE_EQ(value->maximumValue().toDouble(), c.maximum);
    EXPECT_DOUBLE_EQ(value->minimumStepSize().toDouble(), c.step);
    const QString shown = QString::fromUtf16(c.shown);
    EXPECT_EQ(text->characterCount(), shown.size());
    EXPECT_EQ(text->text(0, text->characterCount()), shown);
    EXPECT_EQ(iface->text(QAccessible::Value), shown);
}

INSTANTIATE_TEST_SUITE_P(Masks, KorNumAccessibleValue, testing::ValuesIn(kValueCases),
                         [](const auto& row) { return std::string(row.param.name); });

struct Box {
    Box()
    {
        box = new KorNum(&window);
        box->setMask(u"-#,###"_s);
        box->setMaxLength(12);
        iface = QAccessible::queryAccessibleInterface(box);
    }
    QWidget window;
    KorNum* box = nullptr;
    QAccessibleInterface* iface = nullptr;
};

TEST(KorNumAccessible, TextInterfaceWalksThePartsOfTheShownFigure)
{
    Box b;
    b.box->setValue(Currency::fromYen(822788));
    QAccessibleTextInterface* text = b.iface->textInterface();
    EXPECT_EQ(text->text(0, 3), u"822"_s);
    EXPECT_EQ(text->text(4, 99), u"788"_s);
    EXPECT_EQ(text->text(-5, 1), u"8"_s);
    b.box->setSelection(0, 3);
    int start = -1, end = -1;
    ASSERT_EQ(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 3);
    b.box->deselect();
    EXPECT_EQ(text->selectionCount(), 0);
    EXPECT_FALSE(text->characterRect(0).isEmpty());
    EXPECT_TRUE(text->characterRect(7).isEmpty());
}

TEST(KorNumAccessible, SettingTheValueTakesOnlyWhatTheOperatorCouldType)
{
    Box b;
    QAccessibleValueInterface* value = b.iface->valueInterface();
    value->setCurrentValue(1234.0);
    EXPECT_EQ(b.box->value(), Currency::fromYen(1234));
    EXPECT_EQ(b.box->text(), u"1,234"_s);
    value->setCurrentValue(1234567890123.0); // thirteen digits: longer than the box takes
    EXPECT_EQ(b.box->value(), Currency::fromYen(1234));
    b.box->setEnabled(false);
    value->setCurrentValue(5.0);
    EXPECT_EQ(b.box->value(), Currency::fromYen(1234));
}

TEST(KorNumAccessible, NameComesFromTheBuddyCaptionAndDisabledIsReported)
{
    QWidget window;
    auto* caption = new QLabel(u"期末手当"_s, &window);
    auto* box = new KorNum(&window);
    caption->setBuddy(box);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
    EXPECT_EQ(iface->text(QAccessible::Name), u"期末手当"_s);
    const auto labels = iface->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first->object(), caption);
    EXPECT_FALSE(iface->state().disabled);
    box->setEnabled(false);
    EXPECT_TRUE(iface->state().disabled);
}

} // namespace
