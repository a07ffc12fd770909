#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/profile.h"
#include "registers/register_types.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

RegisterTypeRanges Defaults() {
    RegisterTypeRanges ranges;
    for (int i = 0; i < RegisterTypeRanges::kCount; ++i) {
        ranges.Bound(i) = RegisterTypeRanges::Default(i);
    }
    return ranges;
}

TEST(TypeForAddress, DefaultRanges) {
    const RegisterTypeRanges r = Defaults();
    for (int a : {0, 3130, 15001, -1})
        EXPECT_EQ(TypeForAddress(r, a), RegisterType::Int16) << a;
    for (int a : {3131, 6999, 8000, 15000})
        EXPECT_EQ(TypeForAddress(r, a), RegisterType::Int32) << a;
    for (int a : {7000, 7999})
        EXPECT_EQ(TypeForAddress(r, a), RegisterType::Float) << a;
}

TEST(TypeForAddress, OverlapsAreResolvedSixteenThenFloatThenThirtyTwo) {
    RegisterTypeRanges r;
    r.Int16Lo = 0;
    r.Int16Hi = 100;
    r.FloatLo = 50;
    r.FloatHi = 200;
    r.Int32Lo = 150;
    r.Int32Hi = 300;
    EXPECT_EQ(TypeForAddress(r, 60), RegisterType::Int16);
    EXPECT_EQ(TypeForAddress(r, 160), RegisterType::Float);
    EXPECT_EQ(TypeForAddress(r, 250), RegisterType::Int32);

    RegisterTypeRanges zero;  // all bounds 0, as constructed
    EXPECT_EQ(TypeForAddress(zero, 0), RegisterType::Int16);
    EXPECT_EQ(TypeForAddress(zero, 7000), RegisterType::Int16);

    RegisterTypeRanges inverted = Defaults();
    inverted.FloatLo = 9000;
    inverted.FloatHi = 8000;
    for (int a = 7000; a <= 9000; a += 250)
        EXPECT_NE(TypeForAddress(inverted, a), RegisterType::Float);
}

TEST(RegisterTypeRanges, ProfileDefaultsAndRoundTrip) {
    test::TempDir dir;
    Profile profile = Profile::AtPath(dir.File("p.conf"));
    RegisterTypeRanges r;
    LoadRegisterTypeRanges(r, profile);
    EXPECT_EQ(r.Int16Hi, 3130);
    EXPECT_EQ(r.Int32Lo, 3131);
    EXPECT_EQ(r.Int32Hi, 15000);
    EXPECT_EQ(r.FloatLo, 7000);
    EXPECT_EQ(r.FloatHi, 7999);
    EXPECT_FALSE(profile.Contains(autotype_keys::kSection, autotype_keys::k16BitLo));

    r.FloatLo = -7;
    SaveRegisterTypeRanges(r, profile);
    RegisterTypeRanges again;
    LoadRegisterTypeRanges(again, profile);
    EXPECT_EQ(again.FloatLo, -7);
    for (int i = 0; i < RegisterTypeRanges::kCount; ++i) {
        EXPECT_TRUE(profile.Contains(autotype_keys::kSection, RegisterTypeRanges::Key(i)));
    }
}

TEST(TextConversions, ReadWholeNumbersAndRefuseTheRest) {
    EXPECT_EQ(TextToInt("  42"), 42);
    EXPECT_EQ(TextToInt("+12.7"), 12);
    EXPECT_EQ(TextToInt("-12,7"), -12);
    EXPECT_EQ(TextToInt("99999999999999999999999999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(TextToInt("-99999999999999999999999999999999999999999999999999"), INT_MIN);
    EXPECT_EQ(TextToDouble("1e3"), 1000.0);
    EXPECT_EQ(TextToDouble("12,5"), 12.5);
    for (const char* bad : {"-7xyz", "abc", "", " -3.9 V", "Ünïcode", "1,2,3"}) {
        EXPECT_EQ(TextToInt(bad), std::nullopt) << bad;
        EXPECT_EQ(TextToDouble(bad), std::nullopt) << bad;
    }
}

TEST(TextConversions, ValuesAsTheDataEditShowsThem) {
    EXPECT_EQ(IntToText(65535), "65535");
    EXPECT_EQ(IntToText(-1), "-1");
    EXPECT_EQ(DoubleToText(1.5), "1.500000");
    EXPECT_EQ(DoubleToText(0), "0.000000");
    EXPECT_EQ(DoubleToText(1e20), "100000000000000000000.000000");
    EXPECT_EQ(DoubleToText(-1.7976931348623157e308).size(), 317u);  // never cut off
}

}  // namespace
}  // namespace fc
