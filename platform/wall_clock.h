#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace fc {

// Every time-out of the transactions counts whole seconds of the wall clock:
// a wait notes the second and gives up at the first poll at which the second
// has advanced by the time-out. This keeps that granularity in one place.
inline int64_t WallClockSecond() {
    return static_cast<int64_t>(std::time(nullptr));
}

class SecondsWait {
  public:
    explicit SecondsWait(int timeout_seconds)
        : timeout_(timeout_seconds), noted_(WallClockSecond()) {}
    void Restart() { noted_ = WallClockSecond(); }
    bool Expired() const { return WallClockSecond() - noted_ >= timeout_; }
    // Milliseconds until the second at which Expired() turns true, at least 0;
    // lets a poll() block exactly as long as the whole-second rule allows.
    int MillisecondsLeft() const {
        using namespace std::chrono;
        const auto deadline = system_clock::time_point(seconds(noted_ + timeout_));
        const auto left = duration_cast<milliseconds>(deadline - system_clock::now()).count();
        return left < 0 ? 0 : static_cast<int>(left);
    }

  private:
    int64_t timeout_;
    int64_t noted_;
};

}  // namespace fc
