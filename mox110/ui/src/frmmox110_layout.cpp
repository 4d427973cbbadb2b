// The layout of frmMox110: frames top to bottom, each named by a narrow label on its left edge;
// every position in twips.
#include "mox110ui/frmmox110.h"

#include "mox/accessible.h"
#include "mox/fonts.h"
#include "mox/screen.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

constexpr int kFormWidth = 11400;
constexpr int kFormHeight = 9780;
constexpr int kFrameLeft = 120;
constexpr int kFrameWidth = 11160;
constexpr int kRowHeight = 360; // one line of controls
constexpr int kBoxHeight = 300;
constexpr int kCaptionWidth = 1500;
constexpr int kAmountWidth = 1560;
constexpr int kColumnPitch = 3540; // caption, box and gap of one column of the amount frames
constexpr int kFirstColumn = 480;  // right of the frame label

QFrame* makeFrame(QWidget* parent, const char16_t* name, int left, int top, int width, int height,
                  bool boxed = true)
{
    auto* f = new QFrame(parent);
    f->setObjectName(QString::fromUtf16(name));
    f->setFrameShape(boxed ? QFrame::Box : QFrame::NoFrame);
    f->setFrameShadow(QFrame::Sunken);
    f->setGeometry(mox::twipsRect(left, top, width, height));
    return f;
}

// The narrow label on a frame's left edge, its name written top to bottom.
void frameLabel(QFrame* frame, const QString& name, int heightTwips)
{
    QString vertical;
    for (const QChar c : name) {
        if (!vertical.isEmpty())
            vertical += u'\n';
        vertical += c;
    }
    auto* l = new QLabel(vertical, frame);
    l->setObjectName(frame->objectName() + u"Label"_s);
    l->setAlignment(Qt::AlignCenter);
    l->setGeometry(mox::twipsRect(15, 15, 330, heightTwips - 30));
    l->setStyleSheet(u"QLabel { background: #1f3f77; color: white; }"_s);
    frame->setAccessibleName(mox::spokenText(name));
}

QLabel* caption(QWidget* parent, const QString& text, int left, int top, int width)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(mox::twipsRect(left, top, width, kBoxHeight));
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

KorNumIn::KorNum* numBox(QWidget* parent, const char16_t* name, const QString& mask, int length,
                         int left, int top, int width)
{
    auto* b = new KorNumIn::KorNum(parent);
    b->setObjectName(QString::fromUtf16(name));
    b->setMask(mask);
    b->setMaxLength(length);
    b->setGeometry(mox::twipsRect(left, top, width, kBoxHeight));
    return b;
}

// One cell of the three-column amount grid: caption then an amount box "-#,###" / 12. The
// position is relative to \p parent, whose own place in the outer frame is \p origin.
KorNumIn::KorNum* amountCell(QWidget* parent, QPoint origin, const char16_t* name,
                             const QString& text, int column, int row)
{
    const int left = kFirstColumn + column * kColumnPitch - origin.x();
    const int top = 120 + row * kRowHeight - origin.y();
    QLabel* label = caption(parent, text, left, top, kCaptionWidth);
    KorNumIn::KorNum* box =
        numBox(parent, name, u"-#,###"_s, 12, left + kCaptionWidth, top, kAmountWidth);
    mox::nameByCaption(*label, *box, u"円"_s);
    return box;
}

QComboBox* comboBox(QWidget* parent, const char16_t* name, int left, int top, int width)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromUtf16(name));
    c->setGeometry(mox::twipsRect(left, top - 15, width, kBoxHeight + 30));
    return c;
}

QLineEdit* textBox(QWidget* parent, const char16_t* name, int left, int top, int width)
{
    auto* t = new QLineEdit(parent);
    t->setObjectName(QString::fromUtf16(name));
    t->setGeometry(mox::twipsRect(left, top, width, kBoxHeight));
    return t;
}

} // namespace

void frmMox110::buildLayout()
{
    setWindowTitle(u"期末勤勉手当計算結果入力"_s);
    setFont(QFont(mox::gothicFamily(), 9));
    setFixedSize(mox::twipsSize(kFormWidth, kFormHeight));

    lblYm = new QLabel(this);
    lblYm->setObjectName(u"lblYm"_s);
    lblYm->setGeometry(mox::twipsRect(kFrameLeft, 120, 3000, kBoxHeight));
    QFont big = font();
    big.setPointSize(11);
    lblYm->setFont(big);

    buildCodeAndRates();
    buildClassesAndPeriods();
    buildComments();
    buildAmounts();
    buildOther();
    buildKeysAndTabOrder();
}

void frmMox110::buildCodeAndRates()
{
    // Employee code, the management rates on its right.
    frmSyocd = makeFrame(this, u"frmSyocd", kFrameLeft, 480, 5280, 600);
    QLabel* label = caption(frmSyocd, u"職員コード"_s, 180, 150, 1080);
    cboSyokcd = comboBox(frmSyocd, u"cboSyokcd", 1320, 150, 3780);
    mox::nameByCaption(*label, *cboSyokcd);

    frmRitu = makeFrame(this, u"frmRitu", 5520, 120, 5760, 960);
    frameLabel(frmRitu, u"管理"_s, 960);
    label = caption(frmRitu, u"期末手当支給率"_s, kFirstColumn, 120, kCaptionWidth);
    nu1Kankmritu = numBox(frmRitu, u"nu1Kankmritu", u"#,##0.0000"_s, 12, 1980, 120, 1800);
    mox::nameByCaption(*label, *nu1Kankmritu, u"％"_s);
    caption(frmRitu, u"％"_s, 3840, 120, 300);
    label = caption(frmRitu, u"勤勉手当成績率"_s, kFirstColumn, 480, kCaptionWidth);
    nu1Kankbritu = numBox(frmRitu, u"nu1Kankbritu", u"#,##0.0000"_s, 12, 1980, 480, 1800);
    mox::nameByCaption(*label, *nu1Kankbritu, u"％"_s);
    caption(frmRitu, u"％"_s, 3840, 480, 300);
}

void frmMox110::buildClassesAndPeriods()
{
    // Deduction classes.
    frmKubn = makeFrame(this, u"frmKubn", kFrameLeft, 1200, kFrameWidth, 600);
    frameLabel(frmKubn, u"区分"_s, 600);
    QLabel* label = caption(frmKubn, u"健康厚生控除区分"_s, kFirstColumn, 150, kCaptionWidth);
    cboTokkbn = comboBox(frmKubn, u"cboTokkbn", 2040, 150, 1920);
    mox::nameByCaption(*label, *cboTokkbn);
    label =
        caption(frmKubn, u"雇用保険控除区分"_s, kFirstColumn + kColumnPitch, 150, kCaptionWidth);
    cboRoukbn = comboBox(frmKubn, u"cboRoukbn", 2040 + kColumnPitch, 150, 1920);
    mox::nameByCaption(*label, *cboRoukbn);
    for (QComboBox* c : {cboTokkbn, cboRoukbn}) {
        c->addItem(u"0:控除しない"_s, 0);
        c->addItem(u"1:控除する"_s, 1);
    }

    // Enrollment periods, the period rates in their own frame on the right.
    frmZaisyo = makeFrame(this, u"frmZaisyo", kFrameLeft, 1920, kFrameWidth, 960);
    frameLabel(frmZaisyo, u"期間"_s, 960);
    const auto periodRow = [this](const QString& text, int top, KorNum*& months, KorNum*& days,
                                  const char16_t* mName, const char16_t* dName) {
        QLabel* row = caption(frmZaisyo, text, kFirstColumn, top, kCaptionWidth);
        months = numBox(frmZaisyo, mName, u"#"_s, 1, 2040, top, 360);
        caption(frmZaisyo, u"カ月"_s, 2460, top, 480);
        days = numBox(frmZaisyo, dName, u"#"_s, 2, 2980, top, 480);
        caption(frmZaisyo, u"日"_s, 3520, top, 300);
        // Two boxes share the row's caption, the first one's label: both are named with the
        // caption and their part.
        mox::nameByCaption(*row, *months, u"カ月"_s, text + u"の月数"_s);
        days->setAccessibleName(text + u"の日数"_s);
        days->setAccessibleDescription(u"日"_s);
    };
    periodRow(u"期末手当在職期間"_s, 120, nu1Kmmm, nu1Kmdd, u"nu1Kmmm", u"nu1Kmdd");
    periodRow(u"勤勉手当在職期間"_s, 480, nu1Kbmm, nu1Kbdd, u"nu1Kbmm", u"nu1Kbdd");
    frmKsnritu = makeFrame(frmZaisyo, u"frmKsnritu", 4380, 60, 3060, 840);
    label = caption(frmKsnritu, u"期末期間率"_s, 120, 60, 1200);
    nu1Kmkikan = numBox(frmKsnritu, u"nu1Kmkikan", u"###"_s, 3, 1380, 60, 900);
    mox::nameByCaption(*label, *nu1Kmkikan, u"％"_s);
    caption(frmKsnritu, u"％"_s, 2340, 60, 300);
    label = caption(frmKsnritu, u"勤勉期間率"_s, 120, 420, 1200);
    nu1Kbkikan = numBox(frmKsnritu, u"nu1Kbkikan", u"###"_s, 3, 1380, 420, 900);
    mox::nameByCaption(*label, *nu1Kbkikan, u"％"_s);
    caption(frmKsnritu, u"％"_s, 2340, 420, 300);
}

void frmMox110::buildComments()
{
    // Comments.
    frmTxt = makeFrame(this, u"frmTxt", kFrameLeft, 3000, kFrameWidth, 1320);
    frameLabel(frmTxt, u"コメント"_s, 1320);
    txtTxt1 = textBox(frmTxt, u"txtTxt1", kFirstColumn, 120, 5760);
    txtTxt2 = textBox(frmTxt, u"txtTxt2", kFirstColumn, 510, 5760);
    txtTxt3 = textBox(frmTxt, u"txtTxt3", kFirstColumn, 900, 5760);
    // No caption beside the lines: the frame's label and the line's number name them.
    for (int i = 0; QLineEdit * t : {txtTxt1, txtTxt2, txtTxt3})
        t->setAccessibleName(u"コメント"_s + QString::number(++i));
}

void frmMox110::buildAmounts()
{
    // Allowances: the grid's third row holds the two diligence boxes in frames of their own.
    frmTeate = makeFrame(this, u"frmTeate", kFrameLeft, 4440, kFrameWidth, 1320);
    frameLabel(frmTeate, u"手当"_s, 1320);
    const QPoint t1(420, 60);
    frmTeate1 = makeFrame(frmTeate, u"frmTeate1", t1.x(), t1.y(), 10680, 720, false);
    nu1Kyuryo = amountCell(frmTeate1, t1, u"nu1Kyuryo", u"給　料"_s, 0, 0);
    nu1Ktyogk = amountCell(frmTeate1, t1, u"nu1Ktyogk", u"給料調整額 "_s, 1, 0);
    nu1Styogk = amountCell(frmTeate1, t1, u"nu1Styogk", u"教職調整額"_s, 2, 0);
    nu1Fuyote = amountCell(frmTeate1, t1, u"nu1Fuyote", u"扶養手当"_s, 0, 1);
    nu1Kmchiiki = amountCell(frmTeate1, t1, u"nu1Kmchiiki", u"地域(期末)"_s, 1, 1);
    nu1Kimatu = amountCell(frmTeate1, t1, u"nu1Kimatu", u"期末手当"_s, 2, 1);
    const QPoint t4(420 + kColumnPitch, 780);
    frmTeate4 = makeFrame(frmTeate, u"frmTeate4", t4.x(), t4.y(), 3480, 420, false);
    nu1Kbchiiki = amountCell(frmTeate4, t4, u"nu1Kbchiiki", u"地域(勤勉)"_s, 1, 2);
    const QPoint t3(420 + 2 * kColumnPitch, 780);
    frmTeate3 = makeFrame(frmTeate, u"frmTeate3", t3.x(), t3.y(), 3480, 420, false);
    nu1Kinben = amountCell(frmTeate3, t3, u"nu1Kinben", u"勤勉手当"_s, 2, 2);

    // Deductions, the previous month's figures in their own frame.
    frmKojyo = makeFrame(this, u"frmKojyo", kFrameLeft, 5880, kFrameWidth, 960);
    frameLabel(frmKojyo, u"控除"_s, 960);
    const QPoint k0(0, 0);
    nu1Kenko = amountCell(frmKojyo, k0, u"nu1Kenko", u"健康保険"_s, 0, 0);
    nu1Kosei = amountCell(frmKojyo, k0, u"nu1Kosei", u"厚生年金"_s, 1, 0);
    nu1Koyou = amountCell(frmKojyo, k0, u"nu1Koyou", u"雇用保険"_s, 2, 0);
    nu1Syotok = amountCell(frmKojyo, k0, u"nu1Syotok", u"所得税"_s, 0, 1);
    const QPoint t2(420 + kColumnPitch, 420);
    frmTeate2 =
        makeFrame(frmKojyo, u"frmTeate2", t2.x(), t2.y(), 2 * kColumnPitch - 60, 420, false);
    nu1Zenkaz = amountCell(frmTeate2, t2, u"nu1Zenkaz", u"前月課税給与"_s, 1, 1);
    nu1Zenzei = amountCell(frmTeate2, t2, u"nu1Zenzei", u"前月分所得税"_s, 2, 1);

    // Totals.
    frmGokei = makeFrame(this, u"frmGokei", kFrameLeft, 6960, kFrameWidth, 960);
    frameLabel(frmGokei, u"合計"_s, 960);
    nu1Ssikyu = amountCell(frmGokei, k0, u"nu1Ssikyu", u"総支給合計"_s, 0, 0);
    nu1Hkzegk = amountCell(frmGokei, k0, u"nu1Hkzegk", u"非課税合計"_s, 1, 0);
    nu1Syagok = amountCell(frmGokei, k0, u"nu1Syagok", u"社会保険計"_s, 2, 0);
    nu1Kazeig = amountCell(frmGokei, k0, u"nu1Kazeig", u"課税対象額"_s, 0, 1);
    nu1Kougok = amountCell(frmGokei, k0, u"nu1Kougok", u"控除額合計"_s, 1, 1);
    nu1Sasihk = amountCell(frmGokei, k0, u"nu1Sasihk", u"現金支給額"_s, 2, 1);
}

void frmMox110::buildOther()
{
    // Other: the payment proportions in their own frame, then dependants and tax rate.
    frmTa = makeFrame(this, u"frmTa", kFrameLeft, 8040, kFrameWidth, 960);
    frameLabel(frmTa, u"他"_s, 960);
    const QPoint a1(420, 60);
    frmTa1 = makeFrame(frmTa, u"frmTa1", a1.x(), a1.y(), 2 * kColumnPitch - 60, 360, false);
    const auto ratio = [&](const char16_t* name, const QString& text, int column) {
        const int left = kFirstColumn + column * kColumnPitch - a1.x();
        QLabel* l = caption(frmTa1, text, left, 60, kCaptionWidth);
        QLineEdit* t = textBox(frmTa1, name, left + kCaptionWidth, 60, 1200);
        mox::nameByCaption(*l, *t, u"/100"_s);
        t->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        KorNumIn::useFigureFace(*t); // figures with a decimal point, drawn as the amounts are
        t->setText(u"0.00000"_s);
        QPalette p = t->palette(); // readable while its frame takes no input
        p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
        t->setPalette(p);
        caption(frmTa1, u"/100"_s, left + kCaptionWidth + 1260, 60, 480);
        return t;
    };
    txtKmritu = ratio(u"txtKmritu", u"期末手当支給割合"_s, 0);
    txtKbritu = ratio(u"txtKbritu", u"勤勉手当支給割合"_s, 1);
    QLabel* label = caption(frmTa, u"扶養親族等"_s, kFirstColumn, 480, kCaptionWidth);
    nu1Fsinsu = numBox(frmTa, u"nu1Fsinsu", u"###"_s, 3, kFirstColumn + kCaptionWidth, 480, 720);
    mox::nameByCaption(*label, *nu1Fsinsu, u"人"_s);
    caption(frmTa, u"人"_s, kFirstColumn + kCaptionWidth + 780, 480, 300);
    label = caption(frmTa, u"所得税税率"_s, kFirstColumn + kColumnPitch, 480, kCaptionWidth);
    nu1Zeirit = numBox(frmTa, u"nu1Zeirit", u"#0.000;#0.000;#"_s, 7,
                       kFirstColumn + kColumnPitch + kCaptionWidth, 480, 1200);
    mox::nameByCaption(*label, *nu1Zeirit, u"％"_s);
    nu1Zeirit->setValue(Currency::fromYen(40));
    caption(frmTa, u"％"_s, kFirstColumn + kColumnPitch + kCaptionWidth + 1260, 480, 300);
}

void frmMox110::buildKeysAndTabOrder()
{
    // F1 to F12 in groups of four.
    std::array<int, 12> lefts{};
    for (int i = 0; i < 12; ++i)
        lefts[static_cast<std::size_t>(i)] = kFrameLeft + i * 870 + (i / 4) * 300;
    cmdPFKEY = mox::createPFKeys(*this, lefts, 9180, 810, 480);

    QWidget* order[] = {cboSyokcd,   nu1Kankmritu, nu1Kankbritu, cboTokkbn, cboRoukbn,  nu1Kmmm,
                        nu1Kmdd,     nu1Kmkikan,   nu1Kbmm,      nu1Kbdd,   nu1Kbkikan, txtTxt1,
                        txtTxt2,     txtTxt3,      nu1Kyuryo,    nu1Ktyogk, nu1Styogk,  nu1Fuyote,
                        nu1Kmchiiki, nu1Kbchiiki,  nu1Kimatu,    nu1Kinben, nu1Kenko,   nu1Kosei,
                        nu1Koyou,    nu1Syotok,    nu1Zenkaz,    nu1Zenzei, nu1Ssikyu,  nu1Hkzegk,
                        nu1Syagok,   nu1Kazeig,    nu1Kougok,    nu1Sasihk, txtKmritu,  txtKbritu,
                        nu1Fsinsu,   nu1Zeirit};
    QWidget* previous = nullptr;
    for (QWidget* w : order) {
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
    for (QPushButton* b : cmdPFKEY) {
        setTabOrder(previous, b);
        previous = b;
    }
}
