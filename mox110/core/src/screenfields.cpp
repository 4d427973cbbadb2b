#include "mox110/screenfields.h"

namespace mox110 {
namespace {

using R = Recalc;

// clang-format off
constexpr BoxBinding kBindings[] = {
    {u"nu1Kankmritu", &BonusScreen::nu1Kankmritu, R::None},
    {u"nu1Kankbritu", &BonusScreen::nu1Kankbritu, R::None},
    {u"cboTokkbn",    &BonusScreen::cboTokkbn,    R::Keisan},
    {u"cboRoukbn",    &BonusScreen::cboRoukbn,    R::Keisan},
    {u"nu1Kmmm",      &BonusScreen::nu1Kmmm,      R::ZaisekiKeisan},
    {u"nu1Kmdd",      &BonusScreen::nu1Kmdd,      R::ZaisekiKeisan},
    {u"nu1Kmkikan",   &BonusScreen::nu1Kmkikan,   R::None},
    {u"nu1Kbmm",      &BonusScreen::nu1Kbmm,      R::ZaisekiKeisan},
    {u"nu1Kbdd",      &BonusScreen::nu1Kbdd,      R::ZaisekiKeisan},
    {u"nu1Kbkikan",   &BonusScreen::nu1Kbkikan,   R::None},
    {u"txtTxt1",      &BonusScreen::txtTxt1,      R::None},
    {u"txtTxt2",      &BonusScreen::txtTxt2,      R::None},
    {u"txtTxt3",      &BonusScreen::txtTxt3,      R::None},
    {u"nu1Kyuryo",    &BonusScreen::nu1Kyuryo,    R::Keisan},
    {u"nu1Ktyogk",    &BonusScreen::nu1Ktyogk,    R::Keisan},
    {u"nu1Styogk",    &BonusScreen::nu1Styogk,    R::Keisan},
    {u"nu1Fuyote",    &BonusScreen::nu1Fuyote,    R::Keisan},
    {u"nu1Kmchiiki",  &BonusScreen::nu1Kmchiiki,  R::Keisan},
    {u"nu1Kbchiiki",  &BonusScreen::nu1Kbchiiki,  R::Keisan},
    {u"nu1Kimatu",    &BonusScreen::nu1Kimatu,    R::Keisan},
    {u"nu1Kinben",    &BonusScreen::nu1Kinben,    R::Keisan},
    {u"nu1Kenko",     &BonusScreen::nu1Kenko,     R::Keisan},
    {u"nu1Kosei",     &BonusScreen::nu1Kosei,     R::Keisan},
    {u"nu1Koyou",     &BonusScreen::nu1Koyou,     R::Keisan},
    {u"nu1Syotok",    &BonusScreen::nu1Syotok,    R::Keisan},
    {u"nu1Zenkaz",    &BonusScreen::nu1Zenkaz,    R::Keisan},
    {u"nu1Zenzei",    &BonusScreen::nu1Zenzei,    R::Keisan},
    {u"nu1Ssikyu",    &BonusScreen::nu1Ssikyu,    R::None},
    {u"nu1Hkzegk",    &BonusScreen::nu1Hkzegk,    R::None},
    {u"nu1Syagok",    &BonusScreen::nu1Syagok,    R::None},
    {u"nu1Kazeig",    &BonusScreen::nu1Kazeig,    R::None},
    {u"nu1Kougok",    &BonusScreen::nu1Kougok,    R::None},
    {u"nu1Sasihk",    &BonusScreen::nu1Sasihk,    R::None},
    {u"txtKmritu",    &BonusScreen::txtKmritu,    R::None},
    {u"txtKbritu",    &BonusScreen::txtKbritu,    R::None},
    {u"nu1Fsinsu",    &BonusScreen::nu1Fsinsu,    R::None}, // the dependants only feed the tax
    {u"nu1Zeirit",    &BonusScreen::nu1Zeirit,    R::Keisan},
};
// clang-format on

} // namespace

std::span<const BoxBinding> boxBindings()
{
    return kBindings;
}

} // namespace mox110
