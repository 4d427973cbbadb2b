#include "textfit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>

using namespace Qt::StringLiterals;

namespace textfit {
namespace {

// QLineEdit keeps this much room between its contents rectangle and the text.
constexpr int kLineEditHMargin = 2;
constexpr int kLineEditVMargin = 1;

QString describe(const QWidget& w, const QString& text, QSize need, QSize has)
{
    const QString name = w.objectName().isEmpty() ? u"(unnamed)"_s : w.objectName();
    return u"%1 (%2): \"%3\" needs %4 x %5, has %6 x %7"_s
        .arg(name, QString::fromLatin1(w.metaObject()->className()), text)
        .arg(need.width())
        .arg(need.height())
        .arg(has.width())
        .arg(has.height());
}

void check(QStringList& out, const QWidget& w, const QString& text, QSize need, QRect has)
{
    if (need.width() > has.width() || need.height() > has.height())
        out << describe(w, text, need, has.size());
}

void checkLabel(QStringList& out, const QLabel& l)
{
    if (l.text().isEmpty())
        return;
    const int m = l.margin();
    const QRect r = l.contentsRect().adjusted(m, m, -m, -m);
    const QSize need =
        l.fontMetrics()
            .boundingRect(QRect(0, 0, 10000, 10000), static_cast<int>(l.alignment()), l.text())
            .size();
    check(out, l, l.text(), need, r);
}

void checkLineEdit(QStringList& out, const QLineEdit& e)
{
    if (e.text().isEmpty())
        return;
    QStyleOptionFrame opt;
    opt.initFrom(&e);
    opt.rect = e.rect();
    opt.lineWidth =
        e.hasFrame() ? e.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, &e) : 0;
    QRect r = e.style()->subElementRect(QStyle::SE_LineEditContents, &opt, &e);
    r = r.marginsRemoved(e.textMargins());
    r.adjust(kLineEditHMargin, kLineEditVMargin, -kLineEditHMargin, -kLineEditVMargin);
    const QFontMetrics fm = e.fontMetrics();
    check(out, e, e.text(), QSize(fm.horizontalAdvance(e.text()), fm.ascent() + fm.descent()), r);
}

void checkCombo(QStringList& out, const QComboBox& c)
{
    QStyleOptionComboBox opt;
    opt.initFrom(&c);
    opt.editable = c.isEditable();
    opt.frame = c.hasFrame();
    const QRect r =
        c.style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, &c);
    const QFontMetrics fm = c.fontMetrics();
    // Any item may be chosen, so each must fit the field; the label keeps a pixel each side.
    for (int i = 0; i < c.count(); ++i) {
        const QString text = c.itemText(i);
        check(out, c, text, QSize(fm.horizontalAdvance(text) + 2, fm.height()), r);
    }
}

void checkButton(QStringList& out, const QPushButton& b)
{
    if (b.text().isEmpty())
        return;
    QStyleOptionButton opt;
    opt.initFrom(&b);
    opt.text = b.text();
    const QRect r = b.style()->subElementRect(QStyle::SE_PushButtonContents, &opt, &b);
    const QFontMetrics fm = b.fontMetrics();
    check(out, b, b.text(), QSize(fm.horizontalAdvance(b.text()), fm.height()), r);
}

void checkProgress(QStringList& out, const QProgressBar& p)
{
    if (!p.isTextVisible() || p.text().isEmpty())
        return;
    QStyleOptionProgressBar opt;
    opt.initFrom(&p);
    opt.text = p.text();
    opt.textVisible = true;
    const QRect r = p.style()->subElementRect(QStyle::SE_ProgressBarLabel, &opt, &p);
    const QFontMetrics fm = p.fontMetrics();
    check(out, p, p.text(), QSize(fm.horizontalAdvance(p.text()), fm.height()), r);
}

void checkList(QStringList& out, const QListWidget& l)
{
    const QFontMetrics fm = l.fontMetrics();
    const int margin = l.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &l) + 1;
    for (int i = 0; i < l.count(); ++i) {
        const QString text = l.item(i)->text();
        const QRect cell(0, 0, l.viewport()->width(), l.sizeHintForRow(i));
        check(out, l, text, QSize(fm.horizontalAdvance(text) + 2 * margin, fm.height()), cell);
    }
}

void checkOne(QStringList& out, const QWidget& w)
{
    if (const auto* e = qobject_cast<const QLineEdit*>(&w)) {
        // The line edit of an editable combo is measured as the combo.
        if (!qobject_cast<const QComboBox*>(w.parentWidget()))
            checkLineEdit(out, *e);
    } else if (const auto* l = qobject_cast<const QLabel*>(&w)) {
        checkLabel(out, *l);
    } else if (const auto* c = qobject_cast<const QComboBox*>(&w)) {
        checkCombo(out, *c);
    } else if (const auto* b = qobject_cast<const QPushButton*>(&w)) {
        checkButton(out, *b);
    } else if (const auto* p = qobject_cast<const QProgressBar*>(&w)) {
        checkProgress(out, *p);
    } else if (const auto* list = qobject_cast<const QListWidget*>(&w)) {
        checkList(out, *list);
    }
}

} // namespace

QStringList clipped(const QWidget& window)
{
    QStringList out;
    checkOne(out, window);
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (w->isVisibleTo(&window))
            checkOne(out, *w);
    }
    return out;
}

} // namespace textfit
