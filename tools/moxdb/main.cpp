// moxdb: administration of the payroll and environment databases.
#include "moxdb/backup.h"
#include "moxdb/command.h"
#include "moxdb/init.h"

#include "mox/fonts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    // The bonus commands draw their list with the print component's fonts, which needs a
    // graphical application object; it never shows a window, so it needs no display.
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && std::strcmp(argv[1], "bonus") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
        mox::installFonts();
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // One line of commands per change keeps merges simple.
    // clang-format off
    const moxdb::Command commands[] = {
        moxdb::initCommand(), moxdb::demoCommand(), moxdb::synthCommand(),
        moxdb::taxCommand(),  moxdb::calcCommand(), moxdb::auditCommand(),
        moxdb::exportCommand(), moxdb::ledgerCommand(),
        moxdb::backupCommand(), moxdb::restoreCommand(),
        moxdb::upgradeCommand(),
        moxdb::importCommand(),
        moxdb::bonusCommand(),
    };
    // clang-format on
    moxdb::addInitStep({u"tax tables"_s, &moxdb::loadShippedTaxTables});
    QTextStream out(stdout);
    QTextStream err(stderr);
    return moxdb::dispatch(commands, QCoreApplication::arguments().mid(1), out, err);
}
