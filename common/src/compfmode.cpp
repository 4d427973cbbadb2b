#include "mox/compfmode.h"

#include <array>

namespace mox {
namespace {

std::array<bool, 12> g_flags{};

} // namespace

void prsPFModeSet(std::span<const short> modes) {
    for (std::size_t i = 0; i < g_flags.size(); ++i)
        g_flags[i] = i < modes.size() && modes[i] == 1;
}

bool pfModeFlag(int index) {
    if (index < 0 || index >= static_cast<int>(g_flags.size()))
        return false;
    return g_flags[static_cast<std::size_t>(index)];
}

} // namespace mox
