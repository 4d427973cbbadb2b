// mox110: the bonus entry program. Started by the suite's menu with a command line; one copy at
// a time.
#include "mox110ui/frmmox110.h"

#include "kordao/kordao.h"
#include "mox/firststart.h"
#include "mox/fonts.h"
#include "mox/frmback.h"
#include "mox/qtshell.h"
#include "mox/shell.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    mox::installQtShell();
    mox::installFonts();
    // Ending at once (a failing status, a wrong month) never leaves a half-made change.
    mox::shell().addBeforeEndHook([] { KorDAO::rollbackAllOpenTransactions(); });
    // The guard sets the program id (the "NB" era suffix reads "度分") and may end the process.
    const std::unique_ptr<mox::frmBack> back = mox::startUp(app.arguments().mid(1), u"mox110"_s);

    // A desk with no MOX.INI anywhere is told how to create the databases.
    mox::prsIniCheck(u"期末勤勉手当計算結果入力"_s);
    // Databases of another release's schema version are refused before any table is read.
    mox::prsSchemaCheck(u"期末勤勉手当計算結果入力"_s);

    frmMox110 form;
    form.show();
    form.Form_Set();
    return app.exec();
}
