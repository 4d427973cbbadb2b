#include "mox110ui/boxbindings.h"

#include "screenfixture.h"

#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <set>

using namespace Qt::StringLiterals;
using namespace screentest;
using KorNumIn::KorNum;

namespace {

// A value in every field, none of them the default: a field the table leaves out comes back as
// its default and a field bound to the wrong box comes back as another field's value.
mox110::BonusScreen everyFieldSet()
{
    mox110::BonusScreen s;
    s.nu1Kankmritu = *Currency::parse(u"127.5");
    s.nu1Kankbritu = *Currency::parse(u"95.25");
    s.cboTokkbn = mox110::deductionChoice(1);
    s.cboRoukbn = mox110::deductionChoice(0);
    s.nu1Kmmm = yen(5);
    s.nu1Kmdd = yen(12);
    s.nu1Kmkikan = yen(80);
    s.nu1Kbmm = yen(4);
    s.nu1Kbdd = yen(21);
    s.nu1Kbkikan = yen(60);
    s.txtTxt1 = u"一行目"_s;
    s.txtTxt2 = u"二行目"_s;
    s.txtTxt3 = u"三行目"_s;
    std::int64_t v = 100'001;
    for (Currency* c : {&s.nu1Kyuryo,   &s.nu1Ktyogk, &s.nu1Styogk, &s.nu1Fuyote, &s.nu1Kmchiiki,
                        &s.nu1Kbchiiki, &s.nu1Kimatu, &s.nu1Kinben, &s.nu1Kenko,  &s.nu1Kosei,
                        &s.nu1Koyou,    &s.nu1Syotok, &s.nu1Zenkaz, &s.nu1Zenzei, &s.nu1Ssikyu,
                        &s.nu1Hkzegk,   &s.nu1Syagok, &s.nu1Kazeig, &s.nu1Kougok, &s.nu1Sasihk})
        *c = yen(v++);
    s.txtKmritu = u"1.27500"_s;
    s.txtKbritu = u"0.95250"_s;
    s.nu1Fsinsu = yen(3);
    s.nu1Zeirit = *Currency::parse(u"10.21");
    return s;
}

TEST(BoxBindings, EachBoxAndEachFieldIsBoundOnce)
{
    const auto bindings = mox110ui::boxBindings();
    std::set<QString> names;
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        EXPECT_TRUE(names.insert(QString::fromUtf16(bindings[i].name)).second)
            << "box bound twice: " << QString::fromUtf16(bindings[i].name).toStdString();
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_FALSE(bindings[i].field == bindings[j].field)
                << QString::fromUtf16(bindings[i].name).toStdString() << " and "
                << QString::fromUtf16(bindings[j].name).toStdString() << " show one field";
    }
}

TEST(BoxBindings, EveryValueOfTheScreenGoesToItsOwnBoxAndBack)
{
    mox::ScriptedShell shell;
    frmMox110 form;
    const mox110ui::BoundBoxes boxes(form);
    const mox110::BonusScreen s = everyFieldSet();
    boxes.write(s);
    EXPECT_TRUE(boxes.read() == s) << "a field is not bound, or bound to a box of another";

    // Each box shows the field of its own name, as the operator sees it.
    const auto amount = [&](const char* name) {
        return form.findChild<KorNum*>(QString::fromLatin1(name))->value();
    };
    EXPECT_EQ(amount("nu1Kyuryo"), s.nu1Kyuryo);
    EXPECT_EQ(amount("nu1Kinben"), s.nu1Kinben);
    EXPECT_EQ(amount("nu1Sasihk"), s.nu1Sasihk);
    EXPECT_EQ(amount("nu1Kmdd"), s.nu1Kmdd);
    EXPECT_EQ(amount("nu1Zeirit"), s.nu1Zeirit);
    EXPECT_EQ(form.findChild<QComboBox*>(u"cboTokkbn"_s)->currentIndex(), 1);
    EXPECT_EQ(form.findChild<QComboBox*>(u"cboRoukbn"_s)->currentIndex(), 0);
    EXPECT_EQ(form.findChild<QLineEdit*>(u"txtTxt2"_s)->text(), s.txtTxt2);
    EXPECT_EQ(form.findChild<QLineEdit*>(u"txtKbritu"_s)->text(), s.txtKbritu);
}

// What leaving each amount box with a new value starts, for an employee entered by hand.
enum class Expect { Nothing, Keisan, ZaisekiKeisan };

const std::map<QString, Expect> kRecalcOfBox = {
    {u"nu1Kmmm"_s, Expect::ZaisekiKeisan}, {u"nu1Kmdd"_s, Expect::ZaisekiKeisan},
    {u"nu1Kbmm"_s, Expect::ZaisekiKeisan}, {u"nu1Kbdd"_s, Expect::ZaisekiKeisan},
    {u"nu1Kyuryo"_s, Expect::Keisan},      {u"nu1Ktyogk"_s, Expect::Keisan},
    {u"nu1Styogk"_s, Expect::Keisan},      {u"nu1Fuyote"_s, Expect::Keisan},
    {u"nu1Kmchiiki"_s, Expect::Keisan},    {u"nu1Kbchiiki"_s, Expect::Keisan},
    {u"nu1Kimatu"_s, Expect::Keisan},      {u"nu1Kinben"_s, Expect::Keisan},
    {u"nu1Kenko"_s, Expect::Keisan},       {u"nu1Kosei"_s, Expect::Keisan},
    {u"nu1Koyou"_s, Expect::Keisan},       {u"nu1Syotok"_s, Expect::Keisan},
    {u"nu1Zenkaz"_s, Expect::Keisan},      {u"nu1Zenzei"_s, Expect::Keisan},
    {u"nu1Zeirit"_s, Expect::Keisan},      {u"nu1Kankmritu"_s, Expect::Nothing},
    {u"nu1Kankbritu"_s, Expect::Nothing},  {u"nu1Kmkikan"_s, Expect::Nothing},
    {u"nu1Kbkikan"_s, Expect::Nothing},    {u"nu1Ssikyu"_s, Expect::Nothing},
    {u"nu1Hkzegk"_s, Expect::Nothing},     {u"nu1Syagok"_s, Expect::Nothing},
    {u"nu1Kazeig"_s, Expect::Nothing},     {u"nu1Kougok"_s, Expect::Nothing},
    {u"nu1Sasihk"_s, Expect::Nothing},     {u"nu1Fsinsu"_s, Expect::Nothing},
};

class BoxRecalculation : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        seed(202612);
        ASSERT_TRUE(start());
        select(kManual);
        press(11);
        ASSERT_EQ(m_form->inputMode(), 4);
    }
};

// Every amount box of the screen, found as a user's tool finds it, starts what it always did.
TEST_F(BoxRecalculation, EachAmountBoxStartsItsOwnRecalculation)
{
    const QList<KorNum*> boxes = m_form->findChildren<KorNum*>();
    ASSERT_EQ(static_cast<std::size_t>(boxes.size()), kRecalcOfBox.size());
    for (KorNum* box : boxes) {
        const QString name = box->objectName();
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(kRecalcOfBox.contains(name));
        // A period rate only the period step writes: it tells that step from the others.
        num("nu1Kmkikan")->setValue(yen(999));
        const int before = m_form->recalculations();
        Q_EMIT box->GotFocus();
        box->setValue(box->value() + yen(1));
        Q_EMIT box->LostFocus();
        const Expect want = kRecalcOfBox.at(name);
        EXPECT_EQ(m_form->recalculations(), before + (want == Expect::Nothing ? 0 : 1));
        if (name != u"nu1Kmkikan") {
            EXPECT_EQ(num("nu1Kmkikan")->value() != yen(999), want == Expect::ZaisekiKeisan);
        }
        // Leaving a box again without a change starts nothing.
        Q_EMIT box->GotFocus();
        Q_EMIT box->LostFocus();
        EXPECT_EQ(m_form->recalculations(), before + (want == Expect::Nothing ? 0 : 1));
    }
}

// The value a box had on entry belongs to its own screen: another screen's box taking the focus
// meanwhile does not make an unchanged box look changed.
TEST_F(BoxRecalculation, ValueOnEntryIsKeptPerScreen)
{
    frmMox110 other;
    auto* otherBox = other.findChild<KorNum*>(u"nu1Kyuryo"_s);
    ASSERT_NE(otherBox, nullptr);
    otherBox->setValue(yen(1));
    const int before = m_form->recalculations();
    Q_EMIT num("nu1Kyuryo")->GotFocus();
    Q_EMIT otherBox->GotFocus();
    Q_EMIT num("nu1Kyuryo")->LostFocus();
    EXPECT_EQ(m_form->recalculations(), before);
}

TEST_F(BoxRecalculation, ChangingADeductionClassRecalculatesAtOnce)
{
    for (const char* name : {"cboTokkbn", "cboRoukbn"}) {
        SCOPED_TRACE(name);
        const int before = m_form->recalculations();
        QComboBox* classes = list(name);
        classes->setCurrentIndex(1 - classes->currentIndex());
        EXPECT_EQ(m_form->recalculations(), before + 1);
    }
}

} // namespace
