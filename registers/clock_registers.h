#pragma once

#include <string>

namespace fc {

// The unit keeps its clock and date as decimal-coded numbers in 32-bit
// registers: hhmmss, and three two-digit fields with the most significant
// pair first.
inline constexpr int kDefaultClockRegister = 4203;
inline constexpr int kDefaultDateRegister = 4201;

// The "Increase by:" choices, in the order of their radio buttons.
enum class ClockIncrease { Hour = 0, Minute = 1, Day = 2 };

// "%02d:%02d:%02d" and "%02d/%02d/%02d" of the three decimal fields
// (division truncates toward zero, the remainder keeps the dividend's sign).
std::string FormatClock(int value);
std::string FormatDate(int value);

// The value that puts the unit's clock two seconds before the next boundary:
// hh:59:58 of the same hour, hh:mm:58 of the same minute, or 23:59:58.
int ClockBeforeBoundary(int clock, ClockIncrease increase);

// One tick of the write loop: the increment, held in single precision, is
// added in double precision; only a positive increment wraps at the limits
// (above the upper limit to the lower one, below the lower to the upper).
double WriteLoopStep(double value, float increment, double upper, double lower);

}  // namespace fc
