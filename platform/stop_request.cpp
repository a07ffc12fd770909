#include "platform/stop_request.h"

#include <algorithm>
#include <csignal>
#include <thread>

namespace fc {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
static_assert(std::size(kStopSignals) == StopSignals::kCount);

extern "C" void RaiseStop(int signal) {
    ProcessStopRequest().Raise(signal);
}

}  // namespace

StopRequest& ProcessStopRequest() {
    static StopRequest request;
    return request;
}

StopSignals::StopSignals() {
    struct sigaction action {};
    action.sa_handler = RaiseStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (size_t i = 0; i < kCount; ++i) {
        installed_[i] = sigaction(kStopSignals[i], nullptr, &former_[i]) == 0 &&
                        former_[i].sa_handler != SIG_IGN &&
                        sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < kCount; ++i) {
        if (installed_[i])
            sigaction(kStopSignals[i], &former_[i], nullptr);
    }
}

bool SleepUnlessStopped(const StopRequest* stop, std::chrono::milliseconds total,
                        const std::function<void(std::chrono::milliseconds)>& sleep) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + total;
    for (;;) {
        if (stop != nullptr && stop->Raised())
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            return true;
        const auto slice = std::min(left, kStopSlice);
        if (sleep)
            sleep(slice);
        else
            std::this_thread::sleep_for(slice);
    }
}

}  // namespace fc
