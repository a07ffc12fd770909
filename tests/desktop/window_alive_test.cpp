#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "download/download_page.h"
#include "download/messages.h"
#include "modbus/messages.h"
#include "tests/download/download_sim_support.h"
#include "tests/gui/gui_test_support.h"
#include "tests/reliability/box_answerer.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

// How the window manager saw the window answer its pings.
struct PingReplies {
    int pings = 0;
    int answered = 0;
    int max_ms = 0;
    int mean_ms = 0;
};

// The window manager's part, played by a client of the X server of its own
// (wm_ping.py): pings the window every 200 ms from the start on and, when
// asked, requests its close once.
class WindowManager {
  public:
    WindowManager(WId window, const std::string& result, std::optional<int> close_after_ms)
        : result_(result) {
        // Everything the child needs is made before the fork: other threads
        // run here, and the child may only exec.
        const std::string id = std::to_string(window);
        const std::string close = close_after_ms ? std::to_string(*close_after_ms) : "";
        int input[2];
        if (::pipe(input) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], STDIN_FILENO);
            ::close(input[1]);
            ::execl("/usr/bin/python3", "python3", FC_WM_PING_SCRIPT, id.c_str(), result.c_str(),
                    close.empty() ? nullptr : close.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(input[0]);
        to_child_ = input[1];
    }

    // Stops the pings; the event loop runs meanwhile, so late replies count.
    PingReplies Finish() {
        ::close(to_child_);
        int status = -1;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0 &&
               std::chrono::steady_clock::now() < give_up)
            QTest::qWait(20);
        PingReplies replies;
        std::ifstream in(result_);
        std::string line;
        std::getline(in, line);
        std::sscanf(line.c_str(), "pings=%d answered=%d max_ms=%d mean_ms=%d", &replies.pings,
                    &replies.answered, &replies.max_ms, &replies.mean_ms);
        std::printf("window manager: %s\n", line.c_str());
        return replies;
    }

  private:
    std::string result_;
    pid_t pid_ = -1;
    int to_child_ = -1;
};

// The desktop offers to kill a window that leaves a ping unanswered for a
// few seconds; a second is the bound here.
void ExpectAnsweredInTime(const PingReplies& replies, int least_pings) {
    EXPECT_GE(replies.pings, least_pings);
    EXPECT_EQ(replies.answered, replies.pings);
    EXPECT_LE(replies.max_ms, 1000);
}

// The real window on a real X server, over the simulated unit on a
// pseudo-terminal, its serial replies paced at the line's speed.
class WindowAliveTest : public ::testing::Test, protected TestWindow {
  protected:
    WindowAliveTest()
        : TestWindow([this](int) { return std::vector<std::string>{sim_.PtyPath()}; }) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        settings_.ComPort = 1;
        settings_.BaudRate = 4;  // 19200, the unit's own
        settings_.UnitId = 5;
        settings_.Timeout = kTimeout;
        settings_.Retry = 1;
        dialog_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
    }

    static sim::SimulatorOptions PacedUnit() {
        sim::SimulatorOptions options = UnitOn(Route::RtuPty, 2);
        options.pace = true;
        return options;
    }

    void Click(int id) { dialog_.ControlAs<QPushButton>(id)->click(); }

    sim::Simulator sim_{PacedUnit()};
    BoxAnswerer answerer_;
};

// One download with the real reset wait: pings answered throughout, and a
// close request in the middle refused with its reason while the window and
// the transfer go on.
TEST_F(WindowAliveTest, DownloadAnswersPingsAndRefusesToClose) {
    const std::string path = WriteFile(dir_.File("image.img"), TestImage(16));
    dialog_.AdoptController(std::make_unique<DownloadPage>(
        dialog_, [&](const std::string&) { return path; }, DownloadHooks{}));
    Click(ids::kTestCommunication);
    Click(ids::kBrowse);

    WindowManager desktop(dialog_.winId(), dir_.File("download-pings"), 1000);
    Click(ids::kStartDownload);
    const PingReplies replies = desktop.Finish();

    ExpectAnsweredInTime(replies, 20);
    EXPECT_TRUE(dialog_.isVisible());
    const std::vector<std::string> boxes = answerer_.Take();
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), download_messages::kCloseRefusedDuringDownload),
              boxes.end());
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), download_messages::kDownloadCompleted),
              boxes.end());
    EXPECT_EQ(sim_.FlashImage(), TestImage(16));
}

TEST_F(WindowAliveTest, ReadOfASilentUnitAnswersPings) {
    std::string error;
    ASSERT_TRUE(sim_.AddFault("no-reply,every=1", &error)) << error;

    WindowManager desktop(dialog_.winId(), dir_.File("read-pings"), std::nullopt);
    Click(ids::kRead);
    const PingReplies replies = desktop.Finish();

    ExpectAnsweredInTime(replies, 5);
    const std::vector<std::string> boxes = answerer_.Take();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front(), modbus_messages::kUnableToConnect);
}

}  // namespace
}  // namespace fc::test
