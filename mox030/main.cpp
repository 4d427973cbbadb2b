// StartUp: the start routine of the ledger print program. The background window's guard runs
// first (an empty command line or a running copy ends the program silently), then the form
// loads and the program lives in the event loop until a key ends it.

#include "mox030ui/frmmox030.h"

#include "mox/firststart.h"
#include "mox/fonts.h"
#include "mox/frmback.h"
#include "mox/qtshell.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    mox::installQtShell();
    mox::installFonts();
    const auto back = mox::startUp(app.arguments().mid(1), u"mox030"_s);

    // A desk with no MOX.INI anywhere is told how to create the databases.
    mox::prsIniCheck(u"個人別給与累計表印刷"_s);
    // Databases of another release's schema version are refused before any table is read.
    mox::prsSchemaCheck(u"個人別給与累計表印刷"_s);

    frmMox030 form;
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
