#include "platform/stop_request.h"

#include <csignal>

namespace fc {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction former[std::size(kStopSignals)];

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
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], &action, &former[i]);
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], &former[i], nullptr);
}

}  // namespace fc
