#include "mox/compfmode.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

std::array<bool, 12> flags() {
    std::array<bool, 12> f{};
    for (int i = 0; i < 12; ++i)
        f[static_cast<std::size_t>(i)] = mox::pfModeFlag(i);
    return f;
}

TEST(PFModeSet, OnlyOneMeansTheKeyActs) {
    const std::array<short, 12> modes{1, 0, 2, -1, 1, 1, 0, 0, 0, 1, 3, 1};
    mox::prsPFModeSet(modes);
    const std::array<bool, 12> want{true,  false, false, false, true,  true,
                                    false, false, false, true,  false, true};
    EXPECT_EQ(flags(), want);
}

TEST(PFModeSet, AllOnAndAllOff) {
    std::array<short, 12> modes{};
    modes.fill(1);
    mox::prsPFModeSet(modes);
    std::array<bool, 12> all{};
    all.fill(true);
    EXPECT_EQ(flags(), all);
    modes.fill(0);
    mox::prsPFModeSet(modes);
    EXPECT_EQ(flags(), (std::array<bool, 12>{}));
}

TEST(PFModeSet, ShortTableTurnsTheRestOffAndIndexesOutsideAreOff) {
    std::array<short, 12> all{};
    all.fill(1);
    mox::prsPFModeSet(all);
    const std::vector<short> shortTable{1, 0, 1};
    mox::prsPFModeSet(shortTable);
    const std::array<bool, 12> want{true, false, true};
    EXPECT_EQ(flags(), want);

    const std::vector<short> longTable(20, 1);
    mox::prsPFModeSet(longTable);
    EXPECT_FALSE(mox::pfModeFlag(12));
    EXPECT_FALSE(mox::pfModeFlag(-1));
    EXPECT_TRUE(mox::pfModeFlag(11));
}

} // namespace
