#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <chrono>
#include <string>

#include "tests/download/download_sim_support.h"
#include "tests/gui/gui_test_support.h"
#include "tests/reliability/box_answerer.h"
#include "watch/watch_window.h"

namespace fc::test {
namespace {

using Clock = std::chrono::steady_clock;

// A person's click through the X server at a moment set in advance: the
// window is busy in a poll by then, so nothing in this process could click.
// steady_clock is the monotonic clock every process shares.
pid_t ClickAt(QPoint at, Clock::time_point when) {
    const std::string x = std::to_string(at.x());
    const std::string y = std::to_string(at.y());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
    const timespec deadline{static_cast<time_t>(ns.count() / 1000000000),
                            static_cast<long>(ns.count() % 1000000000)};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        ::execlp("xdotool", "xdotool", "mousemove", x.c_str(), y.c_str(), "click", "1",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

class WatchStopTest : public ::testing::Test, protected TestWindow {
  protected:
    WatchStopTest()
        : TestWindow([this](int) { return std::vector<std::string>{sim_.PtyPath()}; }) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        ASSERT_TRUE(sim_.AddFault("no-reply,every=1", &error)) << error;
        settings_.ComPort = 1;
        settings_.BaudRate = 4;  // 19200, the unit's own
        settings_.UnitId = 5;
        settings_.Timeout = 5;
        settings_.Retry = 3;
        dialog_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
    }

    sim::Simulator sim_{UnitOn(Route::RtuPty, 2)};
    BoxAnswerer answerer_;
};

// The unit would keep the poll waiting for 20 s (four attempts of 5 s);
// Stop, clicked meanwhile, ends it within 0.3 s, without a box.
TEST_F(WatchStopTest, StopEndsAPollThatWaitsOnASilentUnit) {
    dialog_.OnWatch();
    WatchWindow& watch = dialog_.Watch();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&watch));
    watch.SetRows({{100, WatchType::Int16, "silent"}});
    Clock::time_point ended{};
    QObject::connect(&watch, &WatchWindow::PollEnded, [&] { ended = Clock::now(); });

    QPushButton* stop = watch.StopButton();
    const Clock::time_point click = Clock::now() + std::chrono::milliseconds(1500);
    const pid_t clicker = ClickAt(stop->mapToGlobal(stop->rect().center()), click);
    watch.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended != Clock::time_point{}; }, 15000));
    ::waitpid(clicker, nullptr, 0);

    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(ended - click);
    std::printf("Stop took %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_LE(took.count(), 300);
    EXPECT_FALSE(watch.Polling());
    EXPECT_EQ(sim_.Requests().size(), 1u) << "no attempt after Stop";
    EXPECT_TRUE(answerer_.Take().empty());
    EXPECT_EQ(watch.Statistics()[0].Failed, 0) << "a stopped poll is not counted";
}

}  // namespace
}  // namespace fc::test
