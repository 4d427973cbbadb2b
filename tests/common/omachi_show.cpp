// Shows the wait window centred on the screen, for looking at it (screenshots).
#include "mox/fonts.h"
#include "mox/frmomachi.h"
#include "mox/screen.h"

#include <QApplication>
#include <QTimer>

using namespace Qt::StringLiterals;

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    mox::installFonts();
    mox::frmOMACHI wait;
    wait.setWindowTitle(u"個人別給与累計表印刷"_s);
    mox::centreForm(wait);
    wait.show();
    // Closes itself after the given seconds (first argument), or stays until closed.
    if (argc > 1)
        QTimer::singleShot(QString::fromLocal8Bit(argv[1]).toInt() * 1000, &app,
                           &QCoreApplication::quit);
    return app.exec();
}
