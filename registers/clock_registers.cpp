#include "registers/clock_registers.h"

#include <cstdint>
#include <cstdio>

namespace fc {

namespace {
std::string FormatFields(int value, char separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d%c%02d%c%02d", value / 10000, separator,
                  (value % 10000) / 100, separator, value % 100);
    return text;
}
}  // namespace

std::string FormatClock(int value) {
    return FormatFields(value, ':');
}

std::string FormatDate(int value) {
    return FormatFields(value, '/');
}

// The clock register's value comes off the wire and may be anything; the sum
// is formed in 64 bits and keeps its low 32, as the register would, rather
// than overflowing an int near its end.
int ClockBeforeBoundary(int clock, ClockIncrease increase) {
    long long next = 235958;
    switch (increase) {
        case ClockIncrease::Hour:
            next = (clock / 10000) * 10000LL + 5958;
            break;
        case ClockIncrease::Minute:
            next = (clock / 100) * 100LL + 58;
            break;
        case ClockIncrease::Day:
            break;
    }
    return static_cast<int>(static_cast<uint32_t>(next));
}

double WriteLoopStep(double value, float increment, double upper, double lower) {
    double x = value + static_cast<double>(increment);
    if (increment > 0) {
        if (x > upper) {
            x = lower;
        } else if (x < lower) {
            x = upper;
        }
    }
    return x;
}

}  // namespace fc
