// Runs the start-up guard like a program's main, then prints "started" and lingers for
// PROBE_LINGER_MS milliseconds (default 0). The program name comes from PROBE_PROGRAM.
#include "mox/frmback.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString program = qEnvironmentVariable("PROBE_PROGRAM", u"mox110"_s);
    const auto back = mox::startUp(app.arguments().mid(1), program);
    std::printf("started %s %dx%d\n", back->shrunk() ? "shrunk" : "full", back->width(),
                back->height());
    std::fflush(stdout);
    QTimer::singleShot(qEnvironmentVariableIntValue("PROBE_LINGER_MS"), &app,
                       &QCoreApplication::quit);
    return app.exec();
}
