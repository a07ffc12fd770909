#include "registers/clock_registers.h"

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

int ClockBeforeBoundary(int clock, ClockIncrease increase) {
    switch (increase) {
        case ClockIncrease::Hour:
            return (clock / 10000) * 10000 + 5958;
        case ClockIncrease::Minute:
            return (clock / 100) * 100 + 58;
        case ClockIncrease::Day:
            break;
    }
    return 235958;
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
