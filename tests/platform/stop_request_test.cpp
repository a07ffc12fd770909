#include "platform/stop_request.h"

#include <gtest/gtest.h>

#include <csignal>

namespace fc {
namespace {

// Started under nohup, a run goes on when its session hangs up; the stop
// signals that were not ignored still stop it, and the ignore outlives it.
TEST(StopSignals, ASignalIgnoredAtTheStartStaysIgnored) {
    std::signal(SIGHUP, SIG_IGN);
    ProcessStopRequest().Clear();
    {
        const StopSignals signals;
        std::raise(SIGHUP);
        EXPECT_FALSE(ProcessStopRequest().Raised());
        std::raise(SIGTERM);
        EXPECT_EQ(ProcessStopRequest().Signal(), SIGTERM);
    }
    struct sigaction now {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);
    ProcessStopRequest().Clear();
}

}  // namespace
}  // namespace fc
