#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QItemSelectionModel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <chrono>
#include <cmath>
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

// A picture of the screen taken at a moment set in advance, as ClickAt
// clicks: the window is busy in a poll by then.
pid_t ShootAt(const QString& name, Clock::time_point when) {
    const std::string path = (QStringLiteral(FC_SCREENSHOT_DIR "/") + name).toStdString();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
    const timespec deadline{static_cast<time_t>(ns.count() / 1000000000),
                            static_cast<long>(ns.count() % 1000000000)};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        ::execlp("import", "import", "-window", "root", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// A scaled flow, a total, an alarm word and a status word, charted two
// units on two axes across a Stop, then the unit goes quiet: pictures at 1x
// and, as a ctest entry of its own, at twice the scale, taken while the read
// is being retried and after it failed.
TEST_F(WatchStopTest, PictureOfAStalledUnit) {
    sim_.ClearFaults();
    settings_.Timeout = 1;
    settings_.Retry = 2;
    const QRect screen = dialog_.screen()->availableGeometry();
    dialog_.move(screen.topLeft());
    QTest::qWait(500);  // the window manager moves it
    dialog_.OnWatch();
    WatchWindow& watch = dialog_.Watch();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&watch));
    std::string error;
    const auto rows = ParseWatchList("100 int16 scale=0.1 eu=m3/h flow\n102 int32 eu=m3 total\n"
                                     "104 show=bits bit0=LowFlow bit3=HighTemp alarms\n"
                                     "106 show=hex status\n",
                                     error);
    ASSERT_TRUE(rows) << error;
    watch.SetRows(*rows);
    watch.SetSpanSeconds(60);
    const QAbstractItemModel* model = watch.Table()->model();
    watch.Table()->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(1, 0)),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
    int polls = 0;
    const auto set_values = [&] {
        sim_.SetRegister(100, static_cast<uint32_t>(120 + 25 * std::sin(polls / 6.0)));
        sim_.SetRegister(103, static_cast<uint32_t>(0x9973 + 40 * polls));  // 1284467 and on
        sim_.SetRegister(102, 0x13);
        sim_.SetRegister(104, polls > 20 ? 9 : 1);
        sim_.SetRegister(106, 0xA5);
    };
    set_values();
    QObject::connect(&watch, &WatchWindow::PollEnded, [&] {
        ++polls;
        set_values();
    });
    const auto poll_for = [&](int ms) {
        watch.Start();
        QTest::qWait(ms);
        watch.Stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !watch.PollUnderWay(); }));
    };
    watch.SetIntervalMs(200);
    poll_for(8000);
    QTest::qWait(4000);  // the gap a Stop leaves
    poll_for(8000);
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    QDir().mkpath(FC_SCREENSHOT_DIR);
    ASSERT_TRUE(sim_.AddFault("no-reply,every=1", &error)) << error;
    const pid_t shot =
        ShootAt(QStringLiteral("watch-stalled-%1x.png").arg(scale),
                Clock::now() + std::chrono::milliseconds(2500));
    const int before = polls;
    watch.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return polls > before; }, 10000));
    ::waitpid(shot, nullptr, 0);
    watch.Stop();
    QProcess::execute("import", {"-window", "root",
                                 QStringLiteral(FC_SCREENSHOT_DIR "/watch-failed-%1x.png").arg(scale)});
    EXPECT_EQ(watch.Table()->item(2, WatchWindow::kValue)->text().toStdString(),
              "0000 0000 0000 1001 = LowFlow, HighTemp");
    EXPECT_TRUE(watch.Table()->item(0, WatchWindow::kLastGood)->text().startsWith("failed, stale"));
}

}  // namespace
}  // namespace fc::test
