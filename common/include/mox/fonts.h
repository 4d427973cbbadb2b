#pragma once

// The screen and print font of both programs is asked for as "ＭＳ ゴシック".

#include <QString>

namespace mox {

/// The family name the forms ask for.
QString gothicFamily();

/// Makes "ＭＳ ゴシック" (and "MS Gothic") resolve to IPAGothic, the monospaced gothic with the
/// same metrics, whatever fontconfig knows. Called once by each program's main, before any form.
void installFonts();

} // namespace mox
