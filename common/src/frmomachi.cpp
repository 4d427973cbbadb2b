#include "mox/frmomachi.h"

#include "mox/fonts.h"
#include "mox/screen.h"
#include "mox/shell.h"

#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QWindow>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mox {

frmOMACHI::frmOMACHI(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(u"frmOMACHI"_s);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(twipsSize(4680, 1710));

    QFont font(gothicFamily());
    font.setPointSize(9);
    font.setWeight(QFont::Normal);

    const struct {
        const char16_t* caption;
        QRect twips;
    } lines[] = {
        {u"ただいま処理中です。", QRect(30, 420, 4605, 255)},
        {u"しばらくお待ち下さい。", QRect(0, 990, 4635, 255)},
    };
    for (std::size_t i = 0; i < Label1.size(); ++i) {
        auto* label = new QLabel(QString::fromUtf16(lines[i].caption), this);
        label->setObjectName(u"Label1_"_s + QString::number(i));
        label->setFont(font);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        const QRect& t = lines[i].twips;
        label->setGeometry(twipsRect(t.x(), t.y(), t.width(), t.height()));
        Label1[i] = label;
    }
    prgShori = new QProgressBar(this);
    prgShori->setObjectName(u"prgShori"_s);
    prgShori->setFont(font);
    prgShori->setAlignment(Qt::AlignCenter);
    prgShori->setGeometry(twipsRect(240, 1440, 4200, 330));
    prgShori->setAccessibleName(u"進捗"_s);
    setAccessibleDescription(Label1[0]->text() + Label1[1]->text());
    prgShori->hide();
}

void frmOMACHI::setProgress(const QString& format, int done, int total)
{
    if (prgShori->isHidden()) {
        // Room for the bar under the second line, the window kept centred where it was.
        const QPoint centre = geometry().center();
        setFixedSize(twipsSize(4680, 2070));
        QRect g = geometry();
        g.moveCenter(centre);
        setGeometry(g);
        prgShori->show();
    }
    prgShori->setFormat(format);
    prgShori->setRange(0, std::max(total, 1));
    prgShori->setValue(std::clamp(done, 0, std::max(total, 1)));
    // Screen readers get the value as a bare figure; the description says what it counts.
    prgShori->setAccessibleDescription(prgShori->text());
}

void runWithWaitWindow(QWidget& caller, const std::function<void()>& action)
{
    runWithWaitWindow(caller, [&action](const WaitProgress&) { action(); });
}

void runWithWaitWindow(QWidget& caller, const std::function<void(const WaitProgress&)>& action)
{
    // Undoes steps 1 to 3 when the action ends, normally or by an exception.
    struct Restore {
        QPointer<QWidget> caller;
        QPointer<frmOMACHI> wait;
        ~Restore()
        {
            if (caller)
                caller->setEnabled(true);
            if (wait) {
                wait->close();
                delete wait;
            }
        }
    };

    // A window of its own, not a child of the caller's form: disabling a widget disables its
    // children, windows included, and the lines would be painted greyed out. The form is its
    // transient parent instead, so it stays above the form and goes with it.
    QWidget* form = caller.window();
    auto* wait = new frmOMACHI;
    wait->setWindowTitle(form->windowTitle());
    wait->setWindowModality(Qt::NonModal);
    wait->winId(); // creates its native window, which names the transient parent
    if (QWindow* owner = form->windowHandle())
        wait->windowHandle()->setTransientParent(owner);
    centreForm(*wait);
    {
        Restore restore{&caller, wait};
        wait->show();
        caller.setEnabled(false);
        shell().doEvents();
        QElapsedTimer sinceEvents;
        QString shownFormat;
        const WaitProgress progress = [&](const QString& format, int done, int total) {
            if (!restore.wait)
                return;
            // The bar repaints at once on every change of its figure, so most reports only
            // count: the bar moves with the pending events, at most every tenth of a second.
            if (format == shownFormat && done < total && sinceEvents.elapsed() < 100)
                return;
            shownFormat = format;
            restore.wait->setProgress(format, done, total);
            shell().doEvents();
            sinceEvents.start();
        };
        action(progress);
    }
    shell().doEvents();
}

} // namespace mox
