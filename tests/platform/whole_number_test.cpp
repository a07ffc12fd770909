#include <gtest/gtest.h>

#include "platform/whole_number.h"

namespace fc {
namespace {

TEST(WholeNumber, DecimalAndHexOnlyWithinBounds) {
    EXPECT_EQ(ParseWholeNumber("2649", 0, 65535), 2649);
    EXPECT_EQ(ParseWholeNumber("0x0A59", 0, 65535), 2649);
    EXPECT_EQ(ParseWholeNumber("010", 0, 65535), 10);  // never octal
    EXPECT_EQ(ParseWholeNumber("-0x10", -100, 100), -16);
    for (const char* bad : {"", " 1", "1 ", "12abc", "0x", "1e3", "65536", "-1",
                            "99999999999999999999999999999999999999999999999999"}) {
        EXPECT_FALSE(ParseWholeNumber(bad, 0, 65535)) << bad;
    }
    int out = 7;
    EXPECT_FALSE(ParseWholeNumber("x", 0, 10, &out));
    EXPECT_EQ(out, 7);
    EXPECT_TRUE(ParseWholeNumber("9", 0, 10, &out));
    EXPECT_EQ(out, 9);
}

}  // namespace
}  // namespace fc
