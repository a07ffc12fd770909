#include "platform/stop_request.h"

#include <gtest/gtest.h>

#include <csignal>

// Started under nohup, a run goes on when its session hangs up; the other
// stop signals still stop it, and the ignore outlives it.
TEST(StopSignals, ASignalIgnoredAtTheStartStaysIgnored) {
    std::signal(SIGHUP, SIG_IGN);
    {
        const fc::StopSignals signals;
        std::raise(SIGHUP);
        EXPECT_FALSE(fc::ProcessStopRequest().Raised());
        std::raise(SIGTERM);
        EXPECT_EQ(fc::ProcessStopRequest().Signal(), SIGTERM);
    }
    EXPECT_EQ(std::signal(SIGHUP, SIG_DFL), SIG_IGN);
    fc::ProcessStopRequest().Clear();
}
