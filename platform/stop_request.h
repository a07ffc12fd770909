#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <chrono>
#include <functional>

namespace fc {

// A request to stop, raised by a signal handler and checked by each running
// operation between two transactions, never inside one: a frame on the wire
// always goes out whole. One request serves every operation of the process,
// however many threads run them.
class StopRequest {
  public:
    // Async-signal-safe: a lock-free store and nothing else.
    void Raise(int signal) noexcept { signal_.store(signal, std::memory_order_relaxed); }
    bool Raised() const noexcept { return signal_.load(std::memory_order_relaxed) != 0; }
    // The signal that raised it (0 while none has).
    int Signal() const noexcept { return signal_.load(std::memory_order_relaxed); }
    void Clear() noexcept { signal_.store(0, std::memory_order_relaxed); }

  private:
    static_assert(std::atomic<int>::is_always_lock_free);
    std::atomic<int> signal_{0};
};

// The process's one stop request.
StopRequest& ProcessStopRequest();

// While an object of this class lives, SIGINT, SIGTERM and SIGHUP raise
// ProcessStopRequest() instead of ending the process; the former handlers
// come back with its end. A signal ignored when the object is made stays
// ignored: a run started under nohup (or by a service manager that ignores
// SIGHUP) goes on when the session that started it hangs up. The handlers do
// not restart interrupted calls, so a question waiting on the terminal gets
// its answer of no one (Cancel).
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // SIGINT, SIGTERM and SIGHUP.
    static constexpr size_t kCount = 3;

  private:
    // The handlers replaced, and which were: one that was ignored (nohup) is
    // left alone.
    struct sigaction former_[kCount] = {};
    bool installed_[kCount] = {};
};

// The longest a sleep goes on once a stop has been asked for.
inline constexpr std::chrono::milliseconds kStopSlice{50};

// Sleeps `total` a slice of at most kStopSlice at a time through `sleep` (a
// plain sleep when none; a window's sleep pumps it), and ends after the
// slice in which `stop` is raised. False when the stop ended it; a null
// `stop` never does.
bool SleepUnlessStopped(const StopRequest* stop, std::chrono::milliseconds total,
                        const std::function<void(std::chrono::milliseconds)>& sleep = {});

// The shell's convention for a run ended by a signal: 128 + its number.
inline constexpr int ExitStatusForSignal(int signal) {
    return 128 + signal;
}

}  // namespace fc
