#pragma once

// ComPFMode (function-key mode module): which of the twelve function-key buttons cmdPFKEY(0) to
// cmdPFKEY(11) may act in the current screen mode. All flags are false before the first call.

#include <span>

namespace mox {

/// prsPFModeSet (set key modes): flag i becomes true when modes[i] is 1, false for any other
/// value. Indexes missing from a shorter array are set false, so a short table never leaves a
/// key acting from an earlier mode; entries past index 11 are ignored.
void prsPFModeSet(std::span<const short> modes);

/// The flag of button \p index (0 to 11); false for an index out of range.
bool pfModeFlag(int index);

} // namespace mox
