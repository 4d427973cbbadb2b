#pragma once

// ComPFMode (function-key mode module): which of the twelve function-key buttons cmdPFKEY(0) to
// cmdPFKEY(11) may act in the current screen mode. All flags are false before the first call.

#include <QString>

#include <array>
#include <initializer_list>
#include <span>

namespace mox {

/// prsPFModeSet (set key modes): flag i becomes true when modes[i] is 1, false for any other
/// value. Indexes missing from a shorter array are set false, so a short table never leaves a
/// key acting from an earlier mode; entries past index 11 are ignored.
void prsPFModeSet(std::span<const short> modes);

/// The flag of button \p index (0 to 11); false for an index out of range.
bool pfModeFlag(int index);

/// One function key of a screen: its button (0 = F1 … 11 = F12), its caption, and the screen
/// modes in which it acts. A screen lists its keys once, in a table of these; a key shows its
/// caption and acts exactly in its modes, and is blank and disabled in every other.
struct FunctionKey {
    int index;
    const char16_t* caption;
    unsigned modes; // bit m set: the key acts in mode m (see inModes)
};

/// The bits of \p modes (each 0 to 31) for FunctionKey::modes.
constexpr unsigned inModes(std::initializer_list<int> modes)
{
    unsigned bits = 0;
    for (const int m : modes)
        bits |= 1u << m;
    return bits;
}

/// The flags of mode \p mode for prsPFModeSet: 1 for each key of \p keys that acts in it, 0
/// for every other button. A mode outside 0 to 31 has no key.
std::array<short, 12> pfModesOf(std::span<const FunctionKey> keys, int mode);

/// The caption of button \p index in mode \p mode: its key's caption while the key acts, else
/// empty.
QString pfCaptionOf(std::span<const FunctionKey> keys, int index, int mode);

} // namespace mox
