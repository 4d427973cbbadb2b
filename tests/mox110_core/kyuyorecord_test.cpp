#include "mox110/kyuyorecord.h"

#include <gtest/gtest.h>

#include <string>

using namespace Qt::StringLiterals;

namespace {

struct CommentCase {
    const char* name;
    QString text;
    QString stored;
};

const CommentCase kCommentCases[] = {
    {"EmptyIsThirtyBlanks", QString(), QString(30, u' ')},
    {"ShortIsPadded", u"賞与"_s, u"賞与"_s + QString(28, u' ')},
    {"FortyCutToThirty", QString(40, u'あ'), QString(30, u'あ')},
    {"ExactlyThirtyKept", QString(30, u'x'), QString(30, u'x')},
    // U+20B9F (𠮟) is one character of two UTF-16 units: it is never split.
    {"SupplementaryCharacterKeptWhole", QString(29, u'a') + u"𠮟"_s + u"b"_s,
     QString(29, u'a') + u"𠮟"_s},
    {"SupplementaryCountsOnce", u"𠮟"_s, u"𠮟"_s + QString(29, u' ')},
};

class CommentField : public testing::TestWithParam<CommentCase> {};

TEST_P(CommentField, CutAndPaddedToThirtyCharacters)
{
    const CommentCase& c = GetParam();
    EXPECT_EQ(mox110::commentField(c.text), c.stored);
}

INSTANTIATE_TEST_SUITE_P(All, CommentField, testing::ValuesIn(kCommentCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ProportionField, TextTimesHundredThousand)
{
    EXPECT_EQ(mox110::proportionField(u"0.62500"_s), Currency::fromYen(62'500));
    EXPECT_EQ(mox110::proportionField(u"1"_s), Currency::fromYen(100'000));
    EXPECT_EQ(mox110::proportionField(u"0.00000"_s), Currency());
    EXPECT_EQ(mox110::proportionField(u" 127.50000 "_s), Currency::fromYen(12'750'000));
    EXPECT_EQ(mox110::proportionField(u"0.000015"_s), *Currency::parse(u"1.5"));
    EXPECT_EQ(mox110::proportionField(u""_s), std::nullopt);
    EXPECT_EQ(mox110::proportionField(u"abc"_s), std::nullopt);
    EXPECT_EQ(mox110::proportionField(u"1,000"_s), std::nullopt);
    EXPECT_EQ(mox110::proportionField(u"-0.5"_s), Currency::fromYen(-50'000));
    // Beyond the fourth decimal of the product: 0.0000000015 × 100000 = 0.00015 → 0.0002.
    EXPECT_EQ(mox110::proportionField(u"0.0000000015"_s), Currency::fromRaw(2));
    EXPECT_EQ(mox110::proportionField(u"0.0000000025"_s), Currency::fromRaw(2));
}

TEST(KyuyoValues, PeriodsKeysAndProportionFields)
{
    mox110::BonusScreen s;
    mox110::CalcContext ctx;
    ctx.jinji.KYUKBN = 1;
    s.nu1Kmmm = Currency();
    s.nu1Kmdd = Currency::fromYen(5);
    s.nu1Kbmm = Currency::fromYen(6);
    s.nu1Kbdd = Currency();
    s.txtKmritu = u"0.62500"_s;
    const auto values = mox110::kyuyoValues(s, ctx, 7);
    ASSERT_EQ(mox::failure(values), nullptr);
    const auto find = [&](const QString& name) {
        for (const auto& f : mox::value(values)) {
            if (f.name == name)
                return f.value;
        }
        return QVariant();
    };
    EXPECT_EQ(find(u"KMMMDD"_s).toInt(), 5);
    EXPECT_EQ(find(u"KBMMDD"_s).toInt(), 600);
    EXPECT_EQ(find(u"KMRITU"_s).value<Currency>(), Currency::fromYen(62'500));
    EXPECT_FALSE(find(u"NMRITU"_s).isValid());

    ctx.jinji.KYUKBN = 4;
    const auto daily = mox110::kyuyoValues(s, ctx, 7);
    ASSERT_EQ(mox::failure(daily), nullptr);
    bool nmritu = false;
    for (const auto& f : mox::value(daily))
        nmritu = nmritu || f.name == u"NMRITU"_s;
    EXPECT_TRUE(nmritu);

    s.txtKbritu = u"x"_s;
    const auto bad = mox110::kyuyoValues(s, ctx, 7);
    ASSERT_NE(mox::failure(bad), nullptr);
    EXPECT_EQ(mox::failure(bad)->message, u"勤勉手当支給割合が数値ではありません。"_s);
}

TEST(KyuyoValues, CountsBeyondTheirIntegerFieldAreRefusedNotWrapped)
{
    mox110::BonusScreen s;
    mox110::CalcContext ctx;
    ctx.kanri.SYORID = Currency::fromYen(202612);
    s.nu1Fsinsu = Currency::fromYen(2'147'483'647); // the largest that fits
    const auto fits = mox110::kyuyoValues(s, ctx, 7);
    ASSERT_EQ(mox::failure(fits), nullptr);
    for (const std::int64_t dependants :
         {std::int64_t{2'147'483'648}, std::int64_t{-4'294'967'296}}) {
        s.nu1Fsinsu = Currency::fromYen(dependants);
        const auto refused = mox110::kyuyoValues(s, ctx, 7);
        ASSERT_NE(mox::failure(refused), nullptr) << dependants;
        EXPECT_EQ(mox::failure(refused)->message, u"金額が大きすぎて計算できません。"_s);
        EXPECT_EQ(mox::failure(refused)->code, -3);
    }
    s.nu1Fsinsu = Currency::fromYen(2);
    ctx.kanri.SYORID = Currency::fromYen(9'999'120'000'000);
    EXPECT_NE(mox::failure(mox110::kyuyoValues(s, ctx, 7)), nullptr);
}

} // namespace
