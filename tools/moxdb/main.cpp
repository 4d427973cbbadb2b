// moxdb: administration of the payroll and environment databases.
#include "moxdb/backup.h"
#include "moxdb/command.h"
#include "moxdb/init.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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
    return moxdb::dispatch(commands, app.arguments().mid(1), out, err);
}
