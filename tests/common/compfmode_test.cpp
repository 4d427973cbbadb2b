#include "mox/compfmode.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

std::array<bool, 12> flags()
{
    std::array<bool, 12> f{};
    for (int i = 0; i < 12; ++i)
        f[static_cast<std::size_t>(i)] = mox::pfModeFlag(i);
    return f;
}

TEST(PFModeSet, OnlyOneMeansTheKeyActs)
{
    const std::array<short, 12> modes{1, 0, 2, -1, 1, 1, 0, 0, 0, 1, 3, 1};
    mox::prsPFModeSet(modes);
    const std::array<bool, 12> want{true,  false, false, false, true,  true,
                                    false, false, false, true,  false, true};
    EXPECT_EQ(flags(), want);
}

TEST(PFModeSet, AllOnAndAllOff)
{
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

TEST(PFModeSet, ShortTableTurnsTheRestOffAndIndexesOutsideAreOff)
{
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

// A screen's keys as a form lists them: F1 in modes 2 and 3, F4 in 2, 3 and 4, F12 in 2.
constexpr mox::FunctionKey kKeys[] = {
    {0, u"前月計", mox::inModes({2, 3})},
    {3, u"取　消", mox::inModes({2, 3, 4})},
    {11, u"更　新", mox::inModes({2})},
};

struct KeyModeCase {
    const char* name;
    int mode;
    std::array<short, 12> flags;
};

const KeyModeCase kKeyModeCases[] = {
    {"ModeOfThreeKeys", 2, {1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}},
    {"ModeOfTwoKeys", 3, {1, 0, 0, 1}},
    {"ModeOfOneKey", 4, {0, 0, 0, 1}},
    {"ModeWithoutKeys", 0, {}},
    {"ModeBeyondTheBits", 32, {}},
    {"NegativeMode", -1, {}},
};

class FunctionKeyModes : public testing::TestWithParam<KeyModeCase> {};

TEST_P(FunctionKeyModes, AKeyActsInItsModesOnly)
{
    const KeyModeCase& c = GetParam();
    EXPECT_EQ(mox::pfModesOf(kKeys, c.mode), c.flags);
    for (int i = 0; i < 12; ++i) {
        const bool acts = c.flags[static_cast<std::size_t>(i)] == 1;
        EXPECT_EQ(mox::pfCaptionOf(kKeys, i, c.mode).isEmpty(), !acts) << "button " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FunctionKeyModes, testing::ValuesIn(kKeyModeCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(FunctionKeyCaptions, CaptionOfTheKeyWhileItActs)
{
    EXPECT_EQ(mox::pfCaptionOf(kKeys, 3, 4), QStringLiteral("取　消"));
    EXPECT_EQ(mox::pfCaptionOf(kKeys, 11, 2), QStringLiteral("更　新"));
    EXPECT_TRUE(mox::pfCaptionOf(kKeys, 11, 3).isEmpty());
    EXPECT_TRUE(mox::pfCaptionOf(kKeys, 12, 2).isEmpty());
}

} // namespace
