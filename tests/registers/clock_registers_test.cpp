#include <gtest/gtest.h>

#include <vector>

#include "registers/clock_registers.h"
#include "registers/register_types.h"

namespace fc {
namespace {

TEST(ClockRegisters, DisplaysAndNextBoundary) {
    EXPECT_EQ(FormatClock(134507), "13:45:07");
    EXPECT_EQ(FormatDate(120506), "12/05/06");
    EXPECT_EQ(FormatDate(10203), "01/02/03");
    EXPECT_EQ(ClockBeforeBoundary(134507, ClockIncrease::Hour), 135958);
    EXPECT_EQ(ClockBeforeBoundary(134507, ClockIncrease::Minute), 134558);
    EXPECT_EQ(ClockBeforeBoundary(134507, ClockIncrease::Day), 235958);
    EXPECT_EQ(ClockBeforeBoundary(135959, ClockIncrease::Hour), 135958);  // one second back
}

TEST(ClockRegisters, NegativeAndHugeValuesStillFormat) {
    EXPECT_EQ(FormatClock(-134507), "-13:-45:-7");  // %02d counts the sign
    EXPECT_FALSE(FormatDate(2147483647).empty());
}

// A clock register holding garbage must not overflow the next-boundary sum.
TEST(ClockRegisters, BoundaryOfAnExtremeClockWrapsAsTheRegisterWould) {
    EXPECT_EQ(ClockBeforeBoundary(2147483647, ClockIncrease::Hour),
              static_cast<int>(static_cast<uint32_t>(2147485958LL)));
    EXPECT_EQ(ClockBeforeBoundary(2147483647, ClockIncrease::Minute),
              static_cast<int>(static_cast<uint32_t>(2147483658LL)));
    EXPECT_EQ(ClockBeforeBoundary(-2147483647 - 1, ClockIncrease::Hour), -2147480000 + 5958);
}

std::vector<double> Steps(double start, float increment, double upper, double lower, int n) {
    std::vector<double> values;
    for (int i = 0; i < n; ++i)
        values.push_back(start = WriteLoopStep(start, increment, upper, lower));
    return values;
}

TEST(WriteLoop, LimitsApplyOnlyToAPositiveIncrement) {
    EXPECT_EQ(Steps(9999.5, 1, 10000, 0, 1), std::vector<double>{0});
    EXPECT_EQ(Steps(10000, 0.5, 10000, 0, 1), std::vector<double>{0});
    EXPECT_EQ(Steps(9999.5, 0.5, 10000, 0, 2), (std::vector<double>{10000, 0}));
    EXPECT_EQ(Steps(-5, 1, 10, 0, 2), (std::vector<double>{10, 0}));
    EXPECT_EQ(Steps(3, -1, 10, 0, 5), (std::vector<double>{2, 1, 0, -1, -2}));
    EXPECT_EQ(Steps(7, 0, 10, 0, 2), (std::vector<double>{7, 7}));
}

TEST(WriteLoop, IncrementIsHeldInSinglePrecision) {
    const double x = WriteLoopStep(0, 0.1f, 10000, 0);
    EXPECT_EQ(x, static_cast<double>(0.1f));
    EXPECT_NE(x, 0.1);
    EXPECT_EQ(DoubleToText(x), "0.100000");
}

TEST(WriteLoop, IntegerTypesWriteTheIntegerPart) {
    double x = 1;
    std::vector<int> written;
    std::vector<std::string> texts;
    for (int i = 0; i < 3; ++i) {
        x = WriteLoopStep(x, 0.5f, 10000, 0);
        texts.push_back(DoubleToText(x));
        written.push_back(TextToInt(texts.back()).value());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"1.500000", "2.000000", "2.500000"}));
    EXPECT_EQ(written, (std::vector<int>{1, 2, 2}));
}

}  // namespace
}  // namespace fc
