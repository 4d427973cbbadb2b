#include "kornum/kornum.h"

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

using namespace Qt::StringLiterals;
using KorNumIn::KorNum;

// Lets GoogleTest print texts readably in failures.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

Currency money(const char16_t* text)
{
    return *Currency::parse(QStringView(text));
}

// A window with two boxes, active, so that focus moves raise real focus events.
struct Window {
    Window(const QString& mask, int length)
    {
        auto* layout = new QVBoxLayout(&widget);
        box = new KorNum(&widget);
        other = new KorNum(&widget);
        box->setMask(mask);
        box->setMaxLength(length);
        layout->addWidget(box);
        layout->addWidget(other);
        other->setFocus();
        widget.show();
        widget.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&widget));
    }
    QWidget widget;
    KorNum* box = nullptr;
    KorNum* other = nullptr;
};

struct TypingCase {
    const char* name;
    const char16_t* mask;
    int length;
    const char* keys;
    const char16_t* text; // what the box holds after the keys
    const char16_t* value;
};

const TypingCase kTypingCases[] = {
    {"DigitWithinLength", u"#", 1, "5", u"5", u"5"},
    {"LengthStopsSecondDigit", u"#", 1, "57", u"5", u"5"},
    {"LettersRefused", u"#", 2, "1a2", u"12", u"12"},
    {"LeadingMinusWhereMaskHasIt", u"-#,###", 12, "-1234", u"-1234", u"-1234"},
    {"MinusRefusedWithoutSignInMask", u"###", 3, "-12", u"12", u"12"},
    {"MinusOnlyInFront", u"-#,###", 12, "12-3", u"123", u"123"},
    {"SecondMinusRefused", u"-#,###", 12, "--5", u"-5", u"-5"},
    {"PointRefusedWithoutDecimals", u"-#,###", 12, "1.5", u"15", u"15"},
    {"CommaNotTyped", u"-#,###", 12, "1,000", u"1000", u"1000"},
    {"FourDecimalsAtMost", u"#,##0.0000", 12, "12.34567", u"12.3456", u"12.3456"},
    {"OnePointOnly", u"#,##0.0000", 12, "1.2.3", u"1.23", u"1.23"},
    {"ThreeDecimalsOfTaxRate", u"#0.000;#0.000;#", 7, "40.1234", u"40.123", u"40.123"},
    {"LengthCountsEveryCharacter", u"#0.000;#0.000;#", 7, "12345678", u"1234567", u"1234567"},
    {"LoneMinusReadsZero", u"-#,###", 12, "-", u"-", u"0"},
    {"LonePointReadsZero", u"#,##0.0000", 12, ".", u".", u"0"},
    {"LeadingPoint", u"#,##0.0000", 12, ".5", u".5", u"0.5"},
    {"LargestAmount", u"-#,###", 12, "-99999999999", u"-99999999999", u"-99999999999"},
};

class KorNumTyping : public testing::TestWithParam<TypingCase> {};

TEST_P(KorNumTyping, MaskLimitsWhatIsTyped)
{
    const TypingCase& c = GetParam();
    Window w(QString::fromUtf16(c.mask), c.length);
    w.box->setFocus();
    QTest::keyClicks(w.box, QString::fromLatin1(c.keys));
    EXPECT_EQ(w.box->text(), QString::fromUtf16(c.text));
    EXPECT_EQ(w.box->value(), money(c.value));
}

INSTANTIATE_TEST_SUITE_P(All, KorNumTyping, testing::ValuesIn(kTypingCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(KorNumTypingWide, FullWidthDigitsRefused)
{
    Window w(u"-#,###"_s, 12);
    w.box->setFocus();
    for (const QString& key : {u"１"_s, u"２"_s, u"3"_s}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, key);
        QApplication::sendEvent(w.box, &press);
    }
    EXPECT_EQ(w.box->text(), u"3"_s);
}

struct DisplayCase {
    const char* name;
    const char16_t* mask;
    const char16_t* value;
    const char16_t* shown;
    const char16_t* editing; // the plain number offered for editing
};

const DisplayCase kDisplayCases[] = {
    {"NegativeGrouped", u"-#,###", u"-1234567", u"-1,234,567", u"-1234567"},
    {"LargeGrouped", u"-#,###", u"123456789012", u"123,456,789,012", u"123456789012"},
    {"LargestNegative", u"-#,###", u"-99999999999", u"-99,999,999,999", u"-99999999999"},
    {"ZeroAmountBlank", u"-#,###", u"0", u"", u""},
    {"BelowThousand", u"-#,###", u"-999", u"-999", u"-999"},
    {"RateFourDecimals", u"#,##0.0000", u"12.5", u"12.5000", u"12.5"},
    {"RateZeroShowsZero", u"#,##0.0000", u"0", u"0.0000", u""},
    {"RateGrouped", u"#,##0.0000", u"1234.0625", u"1,234.0625", u"1234.0625"},
    {"TaxRate", u"#0.000;#0.000;#", u"40", u"40.000", u"40"},
    {"TaxRateZeroBlank", u"#0.000;#0.000;#", u"0", u"", u""},
    {"TaxRateBelowOne", u"#0.000;#0.000;#", u"0.5", u"0.500", u"0.5"},
    {"TaxRateRoundsHalfAway", u"#0.000;#0.000;#", u"2.0005", u"2.001", u"2.001"},
    {"SingleDigit", u"#", u"5", u"5", u"5"},
    {"DaysTwoDigits", u"#", u"29", u"29", u"29"},
    {"WholeAmountRoundsHalfAway", u"-#,###", u"-2.5", u"-3", u"-3"},
    // Values at the edge of the money type whose rounding for display goes beyond it.
    {"LargestValueRoundsBeyondTheType", u"-#,###", u"922337203685477.5807", u"922,337,203,685,478",
     u"922337203685478"},
    {"MostNegativeRoundsBeyondTheType", u"-#,###", u"-922337203685477.5808",
     u"-922,337,203,685,478", u"-922337203685478"},
    {"RateAtTheEdgeOfTheType", u"#0.000;#0.000;#", u"922337203685477.5807", u"922337203685477.581",
     u"922337203685477.581"},
};

class KorNumDisplay : public testing::TestWithParam<DisplayCase> {};

TEST_P(KorNumDisplay, FormattedWithoutFocusPlainWithIt)
{
    const DisplayCase& c = GetParam();
    Window w(QString::fromUtf16(c.mask), 12);
    w.box->setValue(money(c.value));
    EXPECT_EQ(w.box->text(), QString::fromUtf16(c.shown));

    w.box->setFocus();
    EXPECT_EQ(w.box->text(), QString::fromUtf16(c.editing));

    w.other->setFocus();
    EXPECT_EQ(w.box->text(), QString::fromUtf16(c.shown));
    EXPECT_EQ(w.box->value(), money(c.value)) << "leaving without typing keeps the value";
}

INSTANTIATE_TEST_SUITE_P(All, KorNumDisplay, testing::ValuesIn(kDisplayCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(KorNumPaste, JunkRefusedNumbersTaken)
{
    Window w(u"###"_s, 3);
    w.box->setFocus();
    QTest::keyClicks(w.box, u"1"_s);
    QClipboard* clip = QApplication::clipboard();

    for (const QString& junk : {u"2x"_s, u"-5"_s, u"1.5"_s, u"2345"_s, u"=1+1"_s}) {
        clip->setText(junk);
        w.box->paste();
        EXPECT_EQ(w.box->text(), u"1"_s) << qPrintable(junk);
    }
    clip->setText(u"23"_s);
    w.box->paste();
    EXPECT_EQ(w.box->text(), u"123"_s);
    EXPECT_EQ(w.box->value(), Currency::fromYen(123));
}

TEST(KorNumFocus, SignalsFollowTheCommittedValue)
{
    Window w(u"-#,###"_s, 12);
    w.box->setValue(Currency::fromYen(-5000));
    QSignalSpy got(w.box, &KorNum::GotFocus);
    Currency seenOnLeave;
    QString shownOnLeave;
    QObject::connect(w.box, &KorNum::LostFocus, [&] {
        seenOnLeave = w.box->value();
        shownOnLeave = w.box->text();
    });
    QSignalSpy lost(w.box, &KorNum::LostFocus);

    w.box->setFocus();
    EXPECT_EQ(got.count(), 1);
    EXPECT_EQ(w.box->text(), u"-5000"_s);
    EXPECT_EQ(w.box->selectedText(), QString()) << "a programmatic focus does not select";

    w.box->selectAll();
    QTest::keyClicks(w.box, u"1234567"_s);
    w.other->setFocus();
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(seenOnLeave, Currency::fromYen(1234567));
    EXPECT_EQ(shownOnLeave, u"1,234,567"_s);

    // Tabbing in selects the figure, so typing replaces it.
    QTest::keyClick(w.other, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(w.box->hasFocus());
    EXPECT_EQ(got.count(), 2);
    QTest::keyClicks(w.box, u"42"_s);
    EXPECT_EQ(w.box->value(), Currency::fromYen(42));
}

TEST(KorNumFocus, EmptiedBoxReadsZero)
{
    Window w(u"#,##0.0000"_s, 12);
    w.box->setValue(money(u"130.5"));
    w.box->setFocus();
    EXPECT_EQ(w.box->text(), u"130.5"_s);
    w.box->selectAll();
    QTest::keyClick(w.box, Qt::Key_Delete);
    w.other->setFocus();
    EXPECT_EQ(w.box->value(), Currency());
    EXPECT_EQ(w.box->text(), u"0.0000"_s);
}

TEST(KorNumFocus, SetValueWhileEditingShowsPlainNumber)
{
    Window w(u"-#,###"_s, 12);
    w.box->setFocus();
    w.box->setValue(Currency::fromYen(-12345));
    EXPECT_EQ(w.box->text(), u"-12345"_s);
    w.other->setFocus();
    EXPECT_EQ(w.box->text(), u"-12,345"_s);
}

TEST(KorNumFocus, ContextMenuIsNotLeavingTheBox)
{
    Window w(u"-#,###"_s, 12);
    QSignalSpy got(w.box, &KorNum::GotFocus);
    QSignalSpy lost(w.box, &KorNum::LostFocus);
    w.box->setFocus();
    QTest::keyClicks(w.box, u"77"_s);
    QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(w.box, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::PopupFocusReason);
    QApplication::sendEvent(w.box, &in);
    EXPECT_EQ(got.count(), 1);
    EXPECT_EQ(lost.count(), 0);
    EXPECT_EQ(w.box->text(), u"77"_s);
}

} // namespace

namespace {

// The figures are drawn in the figure face; its size is the one of the form around the box.
TEST(KorNumFace, FigureFaceAtTheSizeOfTheForm)
{
    for (const int points : {9, 12}) {
        QWidget form;
        form.setFont(QFont(u"IPAGothic"_s, points));
        KorNum box(&form);
        QLineEdit caption(&form);
        KorNumIn::useFigureFace(caption);
        const QWidget* const boxes[] = {&box, &caption};
        for (const QWidget* w : boxes) {
            EXPECT_EQ(QFontInfo(w->font()).family(), u"DejaVu Sans Mono"_s) << points;
            EXPECT_EQ(w->font().pointSize(), points);
        }
        // Tabular digits: every digit as wide as any other.
        const QFontMetrics fm(box.font());
        for (const QChar d : u"0123456789."_s)
            EXPECT_EQ(fm.horizontalAdvance(d), fm.horizontalAdvance(u'1')) << d.toLatin1();
    }
}

} // namespace
