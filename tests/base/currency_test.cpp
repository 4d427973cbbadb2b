#include "mox/currency.h"

#include <gtest/gtest.h>

TEST(CurrencyParse, PlainDecimals)
{
    EXPECT_EQ(Currency::parse(u"104.00000")->raw(), 1'040'000);
    EXPECT_EQ(Currency::parse(u"-3.5")->raw(), -35'000);
    EXPECT_FALSE(Currency::parse(u"1e5").has_value());
}
