#include <gtest/gtest.h>

#include <clocale>
#include <limits>

#include "platform/field_text.h"

namespace fc {
namespace {

TEST(FieldTextTest, IntegerFieldTakesASignedNumberWithBlanksAround) {
    EXPECT_EQ(ParseIntegerField("42"), 42);
    EXPECT_EQ(ParseIntegerField("  42 \t"), 42);
    EXPECT_EQ(ParseIntegerField("\t-7"), -7);
    EXPECT_EQ(ParseIntegerField("+15"), 15);
    EXPECT_EQ(ParseIntegerField("007"), 7);
    EXPECT_EQ(ParseIntegerField("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ(ParseIntegerField("2147483647"), std::numeric_limits<int>::max());
}

TEST(FieldTextTest, IntegerFieldRefusesAnythingElse) {
    for (const char* bad :
         {"", "   ", "4.5", "12abc", "abc", "- 5", "+-5", "--5", "+", "-", "1 2", "0x10", "1e3",
          "\n5", "5\n", "2147483648", "-2147483649", "99999999999999999999"})
        EXPECT_EQ(ParseIntegerField(bad), std::nullopt) << '"' << bad << '"';
}

TEST(FieldTextTest, NumberFieldTakesDecimalNumbersWithFractionAndExponent) {
    EXPECT_EQ(ParseNumberField("1.5"), 1.5);
    EXPECT_EQ(ParseNumberField(" -.5 "), -0.5);
    EXPECT_EQ(ParseNumberField("+3."), 3.0);
    EXPECT_EQ(ParseNumberField("1e3"), 1000.0);
    EXPECT_EQ(ParseNumberField("2.5E-2"), 0.025);
    EXPECT_EQ(ParseNumberField("\t10000\t"), 10000.0);
    // Too small to tell from zero is still a number.
    EXPECT_EQ(ParseNumberField("1e-400"), 0.0);
}

TEST(FieldTextTest, NumberFieldRefusesWordsHexAndOverflow) {
    for (const char* bad : {"",      ".",        "-",       "e5",      "1e",    "1e+",   "inf",
                            "nan",   "infinity", "0x1p3",   "1.5.2",   "12abc", "1e400", "-1e400",
                            "1,2,5", "1.234,5",  "1,234.5", "12,5abc", ",",     "1,5e",  "1 ,5"})
        EXPECT_EQ(ParseNumberField(bad), std::nullopt) << '"' << bad << '"';
}

// A decimal comma is the point when the text holds no dot, whatever the
// locale; the C and German locales read the same.
TEST(FieldTextTest, NumberFieldTakesADecimalComma) {
    const std::string kept = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << "scripts/setup generates " << locale;
        const std::pair<const char*, double> rows[] = {
            {"12,5", 12.5}, {" -0,5 ", -0.5}, {",25", 0.25}, {"3,", 3.0},
            {"1,5e2", 150}, {"12.5", 12.5},   {"7", 7.0}};
        for (const auto& [text, value] : rows)
            EXPECT_EQ(ParseNumberField(text), value) << locale << " <" << text << ">";
        EXPECT_EQ(ParseFloatField("0,5"), 0.5f) << locale;
    }
    std::setlocale(LC_ALL, kept.c_str());
}

TEST(FieldTextTest, FloatFieldRefusesMagnitudesBeyondAFloat) {
    EXPECT_EQ(ParseFloatField("3.4e38"), 3.4e38f);
    EXPECT_EQ(ParseFloatField("1e39"), std::nullopt);
    EXPECT_EQ(ParseFloatField("-1e39"), std::nullopt);
    EXPECT_EQ(ParseFloatField("0.1"), 0.1f);
}

TEST(FieldTextTest, FormatsAsTheFieldsShowThem) {
    EXPECT_EQ(FormatIntegerField(-2200), "-2200");
    EXPECT_EQ(FormatFloatField(0.0f), "0");
    EXPECT_EQ(FormatFloatField(0.1f), "0.1");
    EXPECT_EQ(FormatFloatField(123456789.0f), "1.23457e+08");
    EXPECT_EQ(FormatDoubleField(10000.0), "10000");
    EXPECT_EQ(FormatDoubleField(0.1), "0.1");
    EXPECT_EQ(FormatDoubleField(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FormatDoubleField(1e300), "1e+300");
    // What a field shows reads back as the same value.
    for (const double value : {0.1, -2.75, 1e-5, 123456.789})
        EXPECT_EQ(ParseNumberField(FormatDoubleField(value)), value);
}

TEST(FieldTextTest, RangePromptNamesTheBounds) {
    EXPECT_EQ(IntegerRangePrompt(0, 130000), "Please enter an integer between 0 and 130000.");
    EXPECT_EQ(IntegerRangePrompt(-5, 65000), "Please enter an integer between -5 and 65000.");
}

}  // namespace
}  // namespace fc
