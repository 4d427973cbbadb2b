// Shows the wait window as the programs do, over a caller form that it disables, for looking at
// it (screenshots under Xvfb). Stays the given seconds (first argument, default 30), then ends.
#include "mox/fonts.h"
#include "mox/frmomachi.h"
#include "mox/screen.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    mox::installFonts();
    QWidget caller;
    caller.setWindowTitle(u"個人別給与累計表印刷"_s);
    caller.setFont(QFont(mox::gothicFamily(), 9));
    auto* layout = new QVBoxLayout(&caller);
    layout->addWidget(new QLabel(u"職員コード"_s));
    layout->addWidget(new QLineEdit(u"0010025"_s));
    caller.resize(640, 400);
    mox::centreForm(caller);
    caller.show();
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 30;
    mox::runWithWaitWindow(caller, [seconds] {
        const QDeadlineTimer until(seconds * 1000);
        while (!until.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    });
    return 0;
}
