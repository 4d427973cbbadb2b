// Prints <folder>/OVL.TMP over the ledger form through the print component, as the ledger program
// hands it over, so that a test can run the component with an environment of its own (MOX_PRINTER,
// CUPS_SERVER: libcups settles on its server at its first use in a process).
// Usage: korprint_printfile FOLDER TITLE. Exit status: the negated result of PrtFile (0 success);
// the message of a failure on standard error.
#include "korprint/korprint.h"

#include <QGuiApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 3) {
        std::fputs("usage: korprint_printfile FOLDER TITLE\n", stderr);
        return 64;
    }
    const std::unique_ptr<korprint::PrintComponent> prt = korprint::create();
    prt->setPrintFIlePath(args[1]);
    const short rc = prt->PrtFile(u"Mox030"_s, args[2], u"Mox030p.ovl"_s);
    if (rc != 0)
        std::fputs(qPrintable(prt->lastError() + u'\n'), stderr);
    return -rc;
}
