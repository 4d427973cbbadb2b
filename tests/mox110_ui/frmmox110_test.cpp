#include "screenfixture.h"

#include "../kortax/testbonustable.h"

#include "mox110ui/frmsaikeisan.h"

#include "kortax/kortax.h"
#include "mox/compfmode.h"

#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <map>
#include <vector>

using namespace Qt::StringLiterals;
using namespace screentest;

namespace {

constexpr int kDecember = 202612;
constexpr int kJune = 202606;
constexpr int kJune2027 = 202706; // in the 令和9年分 edition, shipped without its bonus table

QStringList buttonCaptions(const frmMox110& f)
{
    QStringList out;
    for (int i = 0; i < 12; ++i) {
        const auto* b = f.findChild<QPushButton*>(u"cmdPFKEY_"_s + QString::number(i));
        out << (b && b->isEnabled() ? b->text() : u"-"_s);
    }
    return out;
}

QStringList listItems(const QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

// An amount field as read back: an exact number on either database.
Currency amount(const QVariant& v)
{
    return Currency::parse(v.toString()).value_or(Currency::fromRaw(-1));
}

// The pixels of the decimal point of \p box drawn in (nearly) the full colour of its figures: the
// box as it is painted, against the same box with a blank in the point's place. A point made of
// grey specks has few or none; the figure face's dot at 9 pt has a core of two, one above the
// other.
int solidPointPixels(QLineEdit& box)
{
    const QString shown = box.text();
    const QImage point = box.grab().toImage();
    box.setText(QString(shown).replace(u'.', u' '));
    const QImage blank = box.grab().toImage();
    box.setText(shown);
    int ink = 255; // the darkest pixel: the core of the strokes of the figures
    for (int y = 0; y < point.height(); ++y)
        for (int x = 0; x < point.width(); ++x)
            ink = std::min(ink, qGray(point.pixel(x, y)));
    int solid = 0;
    for (int y = 0; y < point.height(); ++y) {
        for (int x = 0; x < point.width(); ++x) {
            const int back = qGray(blank.pixel(x, y));
            const int fore = qGray(point.pixel(x, y));
            if (fore < back && fore - ink <= (back - ink) / 10)
                ++solid;
        }
    }
    return solid;
}

// The lowest row with ink of what \p shown adds to \p without, both painted in \p box at 1:1;
// -1 when it adds none.
int lowestInkRow(QLineEdit& box, const QString& shown, const QString& without)
{
    const QString kept = box.text();
    box.setText(shown);
    const QImage with = box.grab().toImage();
    box.setText(without);
    const QImage blank = box.grab().toImage();
    box.setText(kept);
    int lowest = -1;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            if (std::abs(qGray(with.pixel(x, y)) - qGray(blank.pixel(x, y))) > 24)
                lowest = y;
    return lowest;
}

// How many rows the decimal point of \p box reaches below the baseline of its figures, the
// lowest row of the digits' ink (no digit of the figure face descends).
int pointRowsBelowBaseline(QLineEdit& box)
{
    const QString shown = box.text();
    QString digits = shown;
    digits.replace(u'.', u' ');
    const QString none(shown.size(), u' ');
    return lowestInkRow(box, shown, digits) - lowestInkRow(box, digits, none);
}

class EntryScreen : public ScreenTest {};

TEST_F(EntryScreen, DecemberStartListsEveryPayClassAndWaitsForSelection)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    EXPECT_EQ(m_form->windowTitle(), u"期末勤勉手当計算結果入力"_s);
    EXPECT_EQ(control<QLabel>("lblYm")->text(), u"令和 8年12月分"_s);
    EXPECT_EQ(listItems(list("cboSyokcd")),
              (QStringList{u"0000025:伊藤五郎"_s, u"0001001:山田太郎"_s, u"0001002:鈴木花子"_s,
                           u"0001003:佐藤次郎"_s, u"0001004:高橋四郎"_s}));
    EXPECT_EQ(list("cboSyokcd")->currentIndex(), -1);
    EXPECT_EQ(num("nu1Kankmritu")->value(), Currency());
    EXPECT_EQ(num("nu1Kankbritu")->value(), Currency());
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(buttonCaptions(*m_form),
              (QStringList{u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s,
                           u"終　了"_s, u"読　込"_s, u"-"_s}));
    EXPECT_TRUE(list("cboSyokcd")->isEnabled());
    EXPECT_FALSE(num("nu1Kyuryo")->isEnabled());
    EXPECT_FALSE(list("cboTokkbn")->isEnabled());
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(EntryScreen, JuneStartLeavesDailyWageStaffOut)
{
    seed(kJune);
    ASSERT_TRUE(start());
    EXPECT_EQ(control<QLabel>("lblYm")->text(), u"令和 8年 6月分"_s);
    const QStringList items = listItems(list("cboSyokcd"));
    EXPECT_EQ(items.size(), 3);
    EXPECT_FALSE(items.join(u'|').contains(u"鈴木花子"_s));
    EXPECT_FALSE(items.join(u'|').contains(u"高橋四郎"_s));
}

TEST_F(EntryScreen, MonthOtherThanJuneOrDecemberEndsTheProgram)
{
    seed(202603);
    EXPECT_FALSE(start());
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"期末・勤勉手当処理月ではありません。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Exclamation);
    EXPECT_EQ(m_shell.boxes()[0].title, u"期末勤勉手当計算結果入力"_s);
    EXPECT_TRUE(m_shell.ended());
}

TEST_F(EntryScreen, MissingManagementRecordEndsTheProgram)
{
    EXPECT_FALSE(start());
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"管理マスタが読込できません。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Critical);
}

TEST_F(EntryScreen, CallUpWithoutEmployeeWarnsAndStays)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    press(11);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"職員が選択されていません。"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Exclamation);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_TRUE(list("cboSyokcd")->hasFocus());
}

TEST_F(EntryScreen, NewEntryIsWorkedOutFromThePersonnelRecord)
{
    seed(kDecember);
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 1},
                          {u"SKYUYM"_s, 202611},
                          {u"KAZEIG"_s, QVariant::fromValue(yen(350'000))},
                          {u"SYAGOK"_s, QVariant::fromValue(yen(50'000))},
                          {u"SYOTOK"_s, QVariant::fromValue(yen(8'000))}});
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    EXPECT_TRUE(m_shell.boxes().empty()) << m_shell.boxes()[0].text.toStdString();
    EXPECT_EQ(m_form->keyMode(), 3);
    EXPECT_EQ(m_form->inputMode(), 2);
    EXPECT_EQ(m_form->saikeisan()->flgMode(), 0);
    EXPECT_EQ(buttonCaptions(*m_form),
              (QStringList{u"前月計"_s, u"-"_s, u"-"_s, u"取　消"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s,
                           u"-"_s, u"-"_s, u"-"_s, u"更　新"_s}));
    // December rates; service since 2010 counts the whole period, 6 months, at 100 %.
    EXPECT_EQ(num("nu1Kankmritu")->value(), *Currency::parse(u"127.5"));
    EXPECT_EQ(num("nu1Kankbritu")->value(), *Currency::parse(u"102.5"));
    EXPECT_EQ(num("nu1Kmmm")->value(), yen(6));
    EXPECT_EQ(num("nu1Kmdd")->value(), yen(0));
    EXPECT_EQ(num("nu1Kmkikan")->value(), yen(100));
    EXPECT_EQ(num("nu1Kbkikan")->value(), yen(100));
    EXPECT_EQ(text("txtKmritu")->text(), u"127.50000"_s);
    EXPECT_EQ(num("nu1Kyuryo")->value(), yen(300'000));
    EXPECT_EQ(num("nu1Fsinsu")->value(), yen(2));
    EXPECT_EQ(list("cboTokkbn")->currentIndex(), 0);
    EXPECT_EQ(list("cboRoukbn")->currentIndex(), 0);
    // Previous month: taxable 350,000 less social insurance 50,000; its tax 8,000.
    EXPECT_EQ(num("nu1Zenkaz")->value(), yen(300'000));
    EXPECT_EQ(num("nu1Zenzei")->value(), yen(8'000));
    // Term-end base 300,000 + 12,000 + 10,000 dependants; regional 10 % of it; diligence base
    // without the dependants allowance.
    EXPECT_EQ(num("nu1Kmchiiki")->value(), yen(32'200)); // 10 % of 322,000
    EXPECT_EQ(num("nu1Kimatu")->value(), yen(451'605));  // 127.5 % of 354,200
    EXPECT_EQ(num("nu1Kbchiiki")->value(), yen(31'200)); // 10 % of 312,000
    EXPECT_EQ(num("nu1Kinben")->value(), yen(351'780));  // 102.5 % of 343,200
    EXPECT_EQ(num("nu1Kenko")->value(), Currency());     // "0:控除しない"
    EXPECT_EQ(num("nu1Kazeig")->value(),
              num("nu1Ssikyu")->value() - num("nu1Hkzegk")->value() - num("nu1Syagok")->value());
    // Input mode 2: only the deduction classes take input; the previous month's figures have
    // an enabled frame inside the disabled deductions.
    EXPECT_FALSE(list("cboSyokcd")->isEnabled());
    EXPECT_TRUE(list("cboTokkbn")->isEnabled());
    EXPECT_TRUE(control<QFrame>("frmTeate2")->isEnabledTo(control<QFrame>("frmKojyo")));
    EXPECT_FALSE(num("nu1Zenkaz")->isEnabled());
    EXPECT_FALSE(num("nu1Kyuryo")->isEnabled());
    EXPECT_FALSE(num("nu1Kmmm")->isEnabled());
    EXPECT_FALSE(text("txtTxt1")->isEnabled());
    EXPECT_TRUE(list("cboTokkbn")->hasFocus());
}

TEST_F(EntryScreen, DecimalPointOfRatesAndRatiosIsASolidDot)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    num("nu1Zeirit")->setValue(*Currency::parse(u"6.126")); // a rate of 0 shows blank
    QLineEdit* const boxes[] = {num("nu1Kankmritu"), num("nu1Kankbritu"), text("txtKmritu"),
                                text("txtKbritu"), num("nu1Zeirit")};
    for (QLineEdit* box : boxes) {
        const std::string name = box->objectName().toStdString();
        ASSERT_TRUE(box->text().contains(u'.')) << name << ": " << box->text().toStdString();
        EXPECT_GE(solidPointPixels(*box), 2) << name << ": " << box->text().toStdString();
    }
}

// A point that hangs below the figures reads as the head of a comma: 6.126 as 6,126.
TEST_F(EntryScreen, DecimalPointSitsOnTheBaselineAtOneToOne)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    num("nu1Zeirit")->setValue(*Currency::parse(u"6.126"));
    QLineEdit* const boxes[] = {num("nu1Kankmritu"), num("nu1Kankbritu"), text("txtKmritu"),
                                text("txtKbritu"), num("nu1Zeirit")};
    for (QLineEdit* box : boxes) {
        ASSERT_EQ(box->devicePixelRatioF(), 1.0);
        EXPECT_LE(pointRowsBelowBaseline(*box), 0)
            << box->objectName().toStdString() << ": " << box->text().toStdString();
    }
}

TEST_F(EntryScreen, SaveWritesEveryFieldAndSavingAgainUpdatesInPlace)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    ASSERT_EQ(m_form->keyMode(), 3);
    list("cboTokkbn")->setCurrentIndex(1); // the operator picks "1:控除する": recalculated
    text("txtTxt2")->setText(u"二行目"_s);
    // Every amount box and the field it is stored in.
    const std::vector<std::pair<QString, KorNumIn::KorNum*>> boxes{
        {u"KYURYO"_s, num("nu1Kyuryo")},     {u"KTYOGK"_s, num("nu1Ktyogk")},
        {u"STYOGK"_s, num("nu1Styogk")},     {u"FUYOTE"_s, num("nu1Fuyote")},
        {u"KMCHIIKI"_s, num("nu1Kmchiiki")}, {u"KBCHIIKI"_s, num("nu1Kbchiiki")},
        {u"KIMATU"_s, num("nu1Kimatu")},     {u"KINBEN"_s, num("nu1Kinben")},
        {u"SSIKYU"_s, num("nu1Ssikyu")},     {u"KENKO"_s, num("nu1Kenko")},
        {u"KOSEI"_s, num("nu1Kosei")},       {u"KOYOU"_s, num("nu1Koyou")},
        {u"SYOTOK"_s, num("nu1Syotok")},     {u"KOUGOK"_s, num("nu1Kougok")},
        {u"SYAGOK"_s, num("nu1Syagok")},     {u"HKZEGK"_s, num("nu1Hkzegk")},
        {u"SASIHK"_s, num("nu1Sasihk")},     {u"ZENKAZ"_s, num("nu1Zenkaz")},
        {u"ZENZEI"_s, num("nu1Zenzei")},     {u"ZEIRT2"_s, num("nu1Zeirit")},
        {u"KMZRIT"_s, num("nu1Kmkikan")},    {u"KBZRIT"_s, num("nu1Kbkikan")}};
    std::map<QString, Currency> shown;
    for (const auto& [name, box] : boxes)
        shown[name] = box->value();
    const Currency kazeig = m_form->curKazeig();
    EXPECT_GT(shown[u"KENKO"_s], Currency());
    EXPECT_GT(shown[u"KOSEI"_s], Currency());
    press(12);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(list("cboSyokcd")->currentIndex(), -1);
    EXPECT_EQ(num("nu1Kimatu")->value(), Currency());

    ASSERT_EQ(bonusCount(kRegular, kDecember), 1);
    const auto field = [&](const char16_t* name) {
        return bonusField(kRegular, kDecember, QString::fromUtf16(name));
    };
    for (const auto& [name, value] : shown)
        EXPECT_EQ(amount(bonusField(kRegular, kDecember, name)), value) << name.toStdString();
    EXPECT_EQ(field(u"KYUSEQ").toInt(), 0);
    EXPECT_EQ(field(u"SYOZOK").toString(), u"4201"_s);
    EXPECT_EQ(field(u"ZAIMU").toInt(), 1);
    EXPECT_EQ(field(u"SYOSYU").toInt(), 2);
    EXPECT_EQ(field(u"KYUKBN").toInt(), 1);
    EXPECT_EQ(field(u"KGOKYU").toInt(), 3);
    EXPECT_EQ(field(u"KGOGHO").toInt(), 25);
    EXPECT_EQ(field(u"GENFUY").toInt(), 1);
    EXPECT_EQ(field(u"GENHAI").toInt(), 1);
    EXPECT_EQ(shown[u"KYURYO"_s], yen(300'000));
    EXPECT_EQ(shown[u"STYOGK"_s], yen(12'000));
    EXPECT_EQ(shown[u"FUYOTE"_s], yen(10'000));
    EXPECT_EQ(amount(field(u"KAZEIG")), kazeig);
    EXPECT_EQ(amount(field(u"KMRITU")), yen(12'750'000)); // "127.50000" × 100000
    EXPECT_EQ(amount(field(u"KBRITU")), yen(10'250'000)); // "102.50000" × 100000
    EXPECT_EQ(amount(field(u"NMRITU")), yen(0));
    EXPECT_EQ(field(u"KMMMDD").toInt(), 600);
    EXPECT_EQ(field(u"KBMMDD").toInt(), 600);
    EXPECT_EQ(field(u"FSINSU").toInt(), 2);
    EXPECT_EQ(field(u"TOKKBN").toInt(), 1);
    EXPECT_EQ(field(u"ROUKBN").toInt(), 0);
    EXPECT_EQ(field(u"NIREM1").toString(), QString(30, u' '));
    EXPECT_EQ(field(u"NIREM2").toString(), u"二行目"_s + QString(27, u' '));
    EXPECT_EQ(field(u"NIREM3").toString(), QString(30, u' '));

    // Second save of the same employee: the dialog's F12 opens it for correction.
    select(kRegular);
    answerDialog(Qt::Key_F12);
    press(11);
    EXPECT_EQ(m_form->saikeisan()->flgMode(), 12);
    ASSERT_EQ(m_form->keyMode(), 2);
    EXPECT_EQ(list("cboTokkbn")->currentIndex(), 1) << "the stored class is kept";
    text("txtTxt1")->setText(u"賞与の再計算"_s);
    press(12);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
    EXPECT_EQ(field(u"NIREM1").toString(), u"賞与の再計算"_s + QString(24, u' '));
}

TEST_F(EntryScreen, StoredBonusShownForViewingOrRecalculatedForCorrection)
{
    seed(kDecember);
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 2},
                          {u"SKYUYM"_s, kDecember},
                          {u"TOKKBN"_s, 1},
                          {u"ROUKBN"_s, 0},
                          {u"KYURYO"_s, QVariant::fromValue(yen(111'111))},
                          {u"SSIKYU"_s, QVariant::fromValue(yen(500'000))},
                          {u"HKZEGK"_s, QVariant::fromValue(yen(1'000))},
                          {u"SYAGOK"_s, QVariant::fromValue(yen(70'000))},
                          {u"KAZEIG"_s, QVariant::fromValue(yen(999))},
                          {u"ZENKAZ"_s, QVariant::fromValue(yen(123'000))},
                          {u"KMRITU"_s, QVariant::fromValue(yen(62'500))},
                          {u"KMMMDD"_s, 529},
                          {u"NIREM2"_s, u"前回分"_s + QString(27, u' ')}});
    ASSERT_TRUE(start());

    select(kRegular);
    answerDialog(Qt::Key_F4);
    press(11);
    EXPECT_EQ(m_form->saikeisan()->flgMode(), 4);
    EXPECT_EQ(m_form->keyMode(), 4);
    EXPECT_EQ(m_form->inputMode(), 3);
    EXPECT_EQ(num("nu1Kyuryo")->value(), yen(111'111));
    EXPECT_EQ(num("nu1Kazeig")->value(), yen(429'000)); // 500,000 − 1,000 − 70,000
    EXPECT_EQ(m_form->curKazeig(), yen(999));
    EXPECT_EQ(text("txtKmritu")->text(), u"0.62500"_s);
    EXPECT_EQ(num("nu1Kmmm")->value(), yen(5));
    EXPECT_EQ(num("nu1Kmdd")->value(), yen(29));
    EXPECT_EQ(text("txtTxt2")->text(), u"前回分"_s);
    EXPECT_EQ(buttonCaptions(*m_form),
              (QStringList{u"-"_s, u"-"_s, u"-"_s, u"取　消"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s,
                           u"-"_s, u"-"_s, u"-"_s, u"-"_s}));
    EXPECT_FALSE(list("cboTokkbn")->isEnabled()) << "viewing takes no input";

    press(4);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(control<QLabel>("lblYm")->text(), u"令和 8年12月分"_s);
    EXPECT_EQ(num("nu1Kankmritu")->value(), Currency());

    select(kRegular);
    answerDialog(Qt::Key_F12);
    press(11);
    EXPECT_EQ(m_form->keyMode(), 2);
    EXPECT_EQ(num("nu1Kyuryo")->value(), yen(300'000)) << "recalculated from personnel";
    EXPECT_EQ(num("nu1Kmmm")->value(), yen(6));
    EXPECT_EQ(list("cboTokkbn")->currentIndex(), 1);
    EXPECT_EQ(num("nu1Zenkaz")->value(), yen(123'000)) << "previous month kept as stored";
    EXPECT_NE(m_form->curKazeig(), yen(999));
}

TEST_F(EntryScreen, DeleteAsksAndNoKeepsTheRecord)
{
    seed(kDecember);
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular}, {u"KYUSYU"_s, 2}, {u"SKYUYM"_s, kDecember}});
    ASSERT_TRUE(start());
    select(kRegular);
    answerDialog(Qt::Key_F12);
    press(11);
    ASSERT_EQ(m_form->keyMode(), 2);

    m_shell.queueAnswer(mox::MsgAnswer::No);
    press(5);
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_EQ(m_shell.boxes()[0].text, u"データを削除しますか？"_s);
    EXPECT_EQ(m_shell.boxes()[0].icon, mox::MsgIcon::Question);
    EXPECT_EQ(m_shell.boxes()[0].buttons, mox::MsgButtons::YesNo);
    EXPECT_EQ(m_form->keyMode(), 2);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);

    m_shell.queueAnswer(mox::MsgAnswer::Yes);
    press(5);
    EXPECT_EQ(m_form->keyMode(), 0);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 0);
}

TEST_F(EntryScreen, KeysWithoutActionDoNothing)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    ASSERT_EQ(m_form->keyMode(), 3);
    for (int n : {2, 3, 5, 6, 7, 8, 9, 10, 11}) {
        press(n);
        EXPECT_EQ(m_form->keyMode(), 3) << "F" << n;
    }
    EXPECT_TRUE(m_shell.boxes().empty());
    EXPECT_FALSE(m_shell.ended());
}

TEST_F(EntryScreen, PreviousMonthKeyRereadsThePay)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    EXPECT_EQ(num("nu1Zenkaz")->value(), Currency());
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 4},
                          {u"SKYUYM"_s, 202611},
                          {u"KAZEIG"_s, QVariant::fromValue(yen(40'000))},
                          {u"SYOTOK"_s, QVariant::fromValue(yen(1'200))}});
    const int before = m_form->recalculations();
    press(1);
    EXPECT_EQ(num("nu1Zenkaz")->value(), yen(40'000));
    EXPECT_EQ(num("nu1Zenzei")->value(), yen(1'200));
    EXPECT_EQ(m_form->recalculations(), before + 1);
}

TEST_F(EntryScreen, EndKeyClosesAndEnds)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    EXPECT_THROW(m_form->cmdPFKEY_Click(9), mox::ProgramEnded);
    EXPECT_TRUE(m_shell.boxes().empty());
}

TEST_F(EntryScreen, ManualEntryOpensTheFigures)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kManual);
    press(11);
    EXPECT_EQ(m_form->inputMode(), 4);
    EXPECT_TRUE(num("nu1Kyuryo")->isEnabled());
    EXPECT_TRUE(num("nu1Kinben")->isEnabled());
    EXPECT_TRUE(num("nu1Kmmm")->isEnabled());
    EXPECT_TRUE(num("nu1Zenkaz")->isEnabled());
    EXPECT_TRUE(num("nu1Fsinsu")->isEnabled());
    EXPECT_TRUE(num("nu1Zeirit")->isEnabled());
    EXPECT_FALSE(text("txtKmritu")->isEnabled());
    EXPECT_FALSE(num("nu1Kmkikan")->isEnabled()) << "period rates never take input";
    EXPECT_FALSE(num("nu1Ssikyu")->isEnabled()) << "totals never take input";
    EXPECT_FALSE(text("txtTxt1")->isEnabled());
}

TEST_F(EntryScreen, DailyWageManualEntryHasNoPeriodsNorDiligence)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kDailyManual);
    press(11);
    EXPECT_EQ(m_form->inputMode(), 4);
    EXPECT_EQ(num("nu1Kyuryo")->value(), yen(189'000)); // 9,000 × 21
    EXPECT_EQ(num("nu1Kankmritu")->value(), *Currency::parse(u"1.25"));
    EXPECT_EQ(text("txtKmritu")->text(), u"1.25000"_s);
    EXPECT_TRUE(num("nu1Kyuryo")->isEnabled());
    EXPECT_TRUE(text("txtTxt1")->isEnabled());
    EXPECT_FALSE(num("nu1Kmmm")->isEnabled());
    EXPECT_FALSE(num("nu1Kinben")->isEnabled());
    EXPECT_FALSE(num("nu1Kbchiiki")->isEnabled());
}

TEST_F(EntryScreen, DailyWageProportionIsSavedAsItsOwnField)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kDaily);
    press(11);
    press(12);
    EXPECT_EQ(amount(bonusField(kDaily, kDecember, u"NMRITU"_s)), yen(125'000));
    EXPECT_EQ(amount(bonusField(kDaily, kDecember, u"KMRITU"_s)), yen(0));
}

// Focus and change detection, on the manual-entry employee whose figures take input.
class FocusHandling : public ScreenTest {
protected:
    // Enters \p box as by a click, replaces its text by \p text and stays in it.
    void typeInto(frmMox110::KorNum* box, const QString& text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, text);
    }

    void SetUp() override
    {
        ScreenTest::SetUp();
        seed(kDecember);
        ASSERT_TRUE(start());
        select(kManual);
        press(11);
        ASSERT_EQ(m_form->inputMode(), 4);
        ASSERT_TRUE(m_shell.boxes().empty()) << m_shell.boxes()[0].text.toStdString();
    }
};

TEST_F(FocusHandling, TabbingWithoutTypingRecalculatesNothing)
{
    const int before = m_form->recalculations();
    num("nu1Kmmm")->setFocus();
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(m_form->recalculations(), before);
}

TEST_F(FocusHandling, TypingTheOldValueBackRecalculatesNothing)
{
    const int before = m_form->recalculations();
    typeInto(num("nu1Kyuryo"), u"9"_s);
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(num("nu1Kyuryo"), Qt::Key_Backspace);
    QTest::keyClicks(num("nu1Kyuryo"), u"250000"_s);
    QTest::keyClick(num("nu1Kyuryo"), Qt::Key_Tab);
    EXPECT_EQ(m_form->recalculations(), before);

    // Input class 9 computes no allowance: a typed one changes only the totals.
    const Currency total = num("nu1Ssikyu")->value();
    typeInto(num("nu1Kimatu"), u"500000"_s);
    QTest::keyClick(num("nu1Kimatu"), Qt::Key_Tab);
    EXPECT_EQ(m_form->recalculations(), before + 1);
    EXPECT_EQ(num("nu1Kimatu")->value(), yen(500'000));
    EXPECT_EQ(num("nu1Ssikyu")->value(), total + yen(500'000));
}

TEST_F(EntryScreen, ChangedPeriodRecalculatesRatesBeforeAllowances)
{
    seed(kDecember);
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    ASSERT_EQ(num("nu1Kimatu")->value(), yen(451'605)); // 127.5 % of 354,200
    // Only the periods of an employee entered by hand take input, and such an employee's
    // allowances are never worked out: the boxes are opened here for one whose allowances are.
    for (QWidget* w = num("nu1Kmmm"); w && w != m_form.get(); w = w->parentWidget())
        w->setEnabled(true);
    num("nu1Kmmm")->setFocus();
    num("nu1Kmmm")->selectAll();
    QTest::keyClicks(num("nu1Kmmm"), u"3"_s);
    const int before = m_form->recalculations();
    QTest::keyClick(num("nu1Kmmm"), Qt::Key_Tab);
    EXPECT_EQ(m_form->recalculations(), before + 1);
    EXPECT_LT(num("nu1Kmkikan")->value(), yen(100));
    // The allowance is worked out from the new ratio, not the one before the change.
    const std::optional<Currency> ratio = Currency::parse(text("txtKmritu")->text());
    ASSERT_TRUE(ratio);
    EXPECT_LT(*ratio, *Currency::parse(u"127.5"));
    EXPECT_EQ(num("nu1Kimatu")->value(), yen(354'200).mulDiv(*ratio, 100, Rounding::Floor, 0));
}

TEST_F(FocusHandling, DependantsAloneRecalculateNothing)
{
    const int before = m_form->recalculations();
    typeInto(num("nu1Fsinsu"), u"5"_s);
    QTest::keyClick(num("nu1Fsinsu"), Qt::Key_Tab);
    EXPECT_EQ(num("nu1Fsinsu")->value(), yen(5));
    EXPECT_EQ(m_form->recalculations(), before);
}

TEST_F(FocusHandling, ChangedBoxIsRecalculatedBeforeTheSave)
{
    const Currency total = num("nu1Ssikyu")->value();
    typeInto(num("nu1Kimatu"), u"500000"_s);
    press(12); // the box is still focused: leaving it recalculates first
    EXPECT_EQ(amount(bonusField(kManual, kDecember, u"KIMATU"_s)), yen(500'000));
    EXPECT_EQ(*Currency::parse(bonusField(kManual, kDecember, u"SSIKYU"_s).toString()),
              total + yen(500'000));
    EXPECT_EQ(m_form->keyMode(), 0);
}

// A save that cannot finish leaves nothing of the change behind, on both databases.
class InterruptedSave : public ScreenTest, public testing::WithParamInterface<Backend> {
protected:
    Backend backend() const override { return GetParam(); }

    void SetUp() override
    {
        if (GetParam() == Backend::Postgres && qEnvironmentVariableIsEmpty("MOX_TEST_PGHOST"))
            GTEST_SKIP() << "no PostgreSQL server for tests (MOX_TEST_PGHOST)";
        ScreenTest::SetUp();
        seed(kDecember);
        insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                              {u"KYUSYU"_s, 2},
                              {u"SKYUYM"_s, kDecember},
                              {u"KYURYO"_s, QVariant::fromValue(yen(111'111))}});
        m_payroll.reset(); // the child of a death test opens its own connections
    }

    void correctAndSave(std::function<void()> beforeCommit)
    {
        ASSERT_TRUE(start());
        m_form->setBeforeCommitHook(std::move(beforeCommit));
        select(kRegular);
        answerDialog(Qt::Key_F12);
        press(11);
        ASSERT_EQ(m_form->keyMode(), 2);
        m_form->cmdPFKEY_Click(11);
    }
};

TEST_P(InterruptedSave, ProgramEndBeforeCommitRollsBack)
{
    bool hookRan = false;
    EXPECT_THROW(correctAndSave([&] {
                     hookRan = true;
                     mox::shell().endProgram(1);
                 }),
                 mox::ProgramEnded);
    EXPECT_TRUE(hookRan);
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
    EXPECT_EQ(amount(bonusField(kRegular, kDecember, u"KYURYO"_s)), yen(111'111));
}

TEST_P(InterruptedSave, ProgramKilledBeforeCommitLeavesTheRecord)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            correctAndSave([] { std::raise(SIGKILL); });
            std::_Exit(3);
        },
        testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(bonusCount(kRegular, kDecember), 1);
    EXPECT_EQ(amount(bonusField(kRegular, kDecember, u"KYURYO"_s)), yen(111'111));
}

INSTANTIATE_TEST_SUITE_P(Backends, InterruptedSave,
                         testing::Values(Backend::Sqlite, Backend::Postgres), [](const auto& p) {
                             return p.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

TEST_F(EntryScreen, MissingTaxTableNamesTheMonthAndBlocksTheSave)
{
    seed(201912); // before the first edition of the tax tables (2020)
    ASSERT_TRUE(start());
    select(kRegular);
    press(11);
    ASSERT_FALSE(m_shell.boxes().empty());
    const QString message = m_shell.boxes().back().text;
    EXPECT_TRUE(message.contains(u"12月"_s)) << message.toStdString();
    EXPECT_TRUE(message.contains(u"源泉徴収税額表"_s)) << message.toStdString();
    const std::size_t shown = m_shell.boxes().size();
    press(12);
    EXPECT_EQ(m_shell.boxes().size(), shown + 1) << "the save repeats the failure";
    EXPECT_EQ(bonusCount(kRegular, 201912), 0);
    EXPECT_NE(m_form->keyMode(), 0);
}

} // namespace

namespace {

// Loads the bonus table made up by the tests into the 2027 edition of the environment database,
// as an administrator adds the published one (moxdb tax import --from 2027-01-01 DIR).
void loadTestBonusTable()
{
    QTemporaryDir dir;
    ASSERT_TRUE(taxtest::writeTestBonusTable(dir.path()));
    KorDAO::clsDbAccess env;
    env.setDBIniNameString(u"MOXENV.INI"_s);
    ASSERT_EQ(env.DAO_DBOpen(), 0) << env.lastError().toStdString();
    const mox::Status s = KorTAX::importEdition(env.DBDatabase(), QDate(2027, 1, 1), dir.path());
    (void)env.DAO_DBClose();
    ASSERT_TRUE(s.ok()) << s.message.toStdString();
}

} // namespace

TEST_F(EntryScreen, BonusTableMissingFromTheEditionIsNamedAndBlocksTheSaveUntilLoaded)
{
    seed(kJune2027);
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, kRegular},
                          {u"KYUSYU"_s, 1},
                          {u"SKYUYM"_s, 202705},
                          {u"KAZEIG"_s, QVariant::fromValue(yen(350'000))},
                          {u"SYAGOK"_s, QVariant::fromValue(yen(50'000))},
                          {u"SYOTOK"_s, QVariant::fromValue(yen(8'000))}});
    ASSERT_TRUE(start());
    select(kRegular);
    press(11); // previous month 300,000 yen, bonus well under ten times: the bonus table
    ASSERT_EQ(m_shell.boxes().size(), 1u);
    EXPECT_TRUE(m_shell.boxes().back().text.contains(
        u"令和9年分の賞与に対する源泉徴収税額の算出率の表がありません。"_s))
        << m_shell.boxes().back().text.toStdString();
    EXPECT_EQ(num("nu1Syotok")->value(), Currency());
    press(12);
    EXPECT_EQ(m_shell.boxes().size(), 2u) << "the save repeats the failure";
    EXPECT_EQ(bonusCount(kRegular, kJune2027), 0);

    // Loaded while the program runs, the table serves the next call-up.
    loadTestBonusTable();
    press(4);
    select(kRegular);
    press(11);
    ASSERT_EQ(m_shell.boxes().size(), 2u) << m_shell.boxes().back().text.toStdString();
    // June counts at most 5 months 29 days: ratios 98.00000 and 90.25000. 期末 Int(98 % ×
    // 354,200) = 347,116; 勤勉 Int(90.25 % × 343,200) = 309,738. Two dependants and 300 千円
    // fall in the test table's band 252–302 → 10.210 %: Int(656,854 × 10.210 %) = Int(67,064.79…).
    EXPECT_EQ(num("nu1Kazeig")->value(), yen(656'854));
    EXPECT_EQ(num("nu1Zeirit")->value(), *Currency::parse(u"10.210"));
    EXPECT_EQ(num("nu1Syotok")->value(), yen(67'064));
    press(12);
    EXPECT_EQ(amount(bonusField(kRegular, kJune2027, u"SYOTOK"_s)), yen(67'064));
}

TEST_F(EntryScreen, MonthlyTableMethodsOf2027UseTheReiwa9Table)
{
    seed(kJune2027);
    for (const int code : {2001, 2002})
        insert(u"GKJINJI"_s, {{u"SYOKCD"_s, code},
                              {u"SIMKNJ"_s, u"中村六郎"_s},
                              {u"SYOZOK"_s, u"4201"_s},
                              {u"KYUKBN"_s, 1},
                              {u"HYOKBN"_s, 0},
                              {u"GENFUY"_s, 0},
                              {u"GENHAI"_s, 0},
                              {u"KYURYO"_s, QVariant::fromValue(yen(600'000))},
                              {u"ZKAYMD_01"_s, 20100401},
                              {u"ZKNYMD_01"_s, 99991231}});
    // 2002 was paid 100,000 yen in May with 2,000 yen tax: the bonus is over ten times that.
    insert(u"GKKYUYO"_s, {{u"SYOKCD"_s, 2002},
                          {u"KYUSYU"_s, 1},
                          {u"SKYUYM"_s, 202705},
                          {u"KAZEIG"_s, QVariant::fromValue(yen(100'000))},
                          {u"SYOTOK"_s, QVariant::fromValue(yen(2'000))}});
    ASSERT_TRUE(start());

    // Regional 10 % of 600,000; June ratios 98.00000 and 90.25000 of 660,000: 646,800 +
    // 595,650 = 1,242,450 taxable, a sixth 207,075.
    select(2001);
    press(11);
    EXPECT_TRUE(m_shell.boxes().empty()) << m_shell.boxes()[0].text.toStdString();
    EXPECT_EQ(num("nu1Kazeig")->value(), yen(1'242'450));
    // No pay in May: 6 × the 令和9年分 row 207,000–209,000 without dependants, 4,450 (令和8年分
    // 4,630).
    EXPECT_EQ(num("nu1Syotok")->value(), yen(26'700));
    EXPECT_EQ(num("nu1Zeirit")->value(), Currency());
    press(12);
    EXPECT_EQ(amount(bonusField(2001, kJune2027, u"SYOTOK"_s)), yen(26'700));

    // 207,075 + 100,000 = 307,075: row 305,000–308,000, 8,000 (令和8年分 8,180);
    // 6 × (8,000 − 2,000).
    select(2002);
    press(11);
    EXPECT_TRUE(m_shell.boxes().empty()) << m_shell.boxes()[0].text.toStdString();
    EXPECT_EQ(num("nu1Zenkaz")->value(), yen(100'000));
    EXPECT_EQ(num("nu1Syotok")->value(), yen(36'000));
}
