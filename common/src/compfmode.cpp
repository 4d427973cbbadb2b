#include "mox/compfmode.h"

#include <array>

namespace mox {
namespace {

std::array<bool, 12> g_flags{};

} // namespace

void prsPFModeSet(std::span<const short> modes)
{
    for (std::size_t i = 0; i < g_flags.size(); ++i)
        g_flags[i] = i < modes.size() && modes[i] == 1;
}

namespace {

bool actsIn(const FunctionKey& key, int mode)
{
    return mode >= 0 && mode < 32 && (key.modes >> mode & 1u) != 0;
}

} // namespace

std::array<short, 12> pfModesOf(std::span<const FunctionKey> keys, int mode)
{
    std::array<short, 12> modes{};
    for (const FunctionKey& k : keys) {
        if (k.index >= 0 && k.index < 12 && actsIn(k, mode))
            modes[static_cast<std::size_t>(k.index)] = 1;
    }
    return modes;
}

QString pfCaptionOf(std::span<const FunctionKey> keys, int index, int mode)
{
    for (const FunctionKey& k : keys) {
        if (k.index == index && actsIn(k, mode))
            return QString::fromUtf16(k.caption);
    }
    return QString();
}

bool pfModeFlag(int index)
{
    if (index < 0 || index >= static_cast<int>(g_flags.size()))
        return false;
    return g_flags[static_cast<std::size_t>(index)];
}

} // namespace mox
