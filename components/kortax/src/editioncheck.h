#pragma once

// The check every edition passes, whether read from its files for an import or loaded from the
// database: the bands of each table it holds cover every amount once, in order.

#include "kortax/kortax.h"

#include <QString>

namespace KorTAX {

/// What is wrong with the bands of the tables \p e holds, or an empty text when nothing is; a
/// table without any band is not looked at, so an edition without any table passes. The monthly
/// table starts at 0 yen, every band but the last ends above its lower bound exactly where the
/// next begins, and the last is open. In the bonus table every dependants column starts at 0 yen
/// and holds one band for each rate of the table, rates rising and lower bounds rising with them.
QString bandFault(const Edition& e);

} // namespace KorTAX
