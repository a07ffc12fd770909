#pragma once

#include <cstdint>
#include <ctime>

namespace fc {

// The wall-clock second, for what the user reads as time of day (the
// download's elapsed time). Transaction time-outs are not measured on it:
// they use the monotonic clock of their link.
inline int64_t WallClockSecond() {
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace fc
