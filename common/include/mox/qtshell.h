#pragma once

// QtShell: the desktop's shell of the programs (see "mox/shell.h"). Boxes are QMessageBox, the
// end is immediate and runs no unload handler, a file goes to the desktop's viewer.

#include "mox/shell.h"

namespace mox {

class QtShell final : public Shell {
public:
    MsgAnswer messageBox(const QString& text, MsgIcon icon, MsgButtons buttons,
                         const QString& title) override;
    [[noreturn]] void endProgram(int exitCode = 0) override;
    void doEvents() override;
    bool openUrl(const QUrl& url) override;
};

/// Makes the one QtShell the program's own shell (setProgramShell). A program calls it right
/// after creating its QApplication, before anything registers an end hook; calling it again
/// changes nothing.
void installQtShell();

} // namespace mox
