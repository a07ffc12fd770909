#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <set>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/traffic_window.h"
#include "connection/comm_settings_dialog.h"
#include "connection/messages.h"
#include "download/download_page.h"
#include "download/messages.h"
#include "modbus/messages.h"
#include "tests/download/download_sim_support.h"
#include "tests/gui/gui_test_support.h"
#include "tests/reliability/box_answerer.h"
#include "ui/main_dialog_template.h"
#include "watch/watch_window.h"

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

// Notes how far the download's progress bar had got when each box showed.
class ProgressAtBoxes : public QObject {
  public:
    explicit ProgressAtBoxes(const QProgressBar& bar) : bar_(bar) {
        QApplication::instance()->installEventFilter(this);
    }
    std::map<std::string, int> at;
    std::map<std::string, int> gone;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show)
            at.emplace(box->text().toStdString(), bar_.value());
        if (box && event->type() == QEvent::Hide)
            gone.emplace(box->text().toStdString(), bar_.value());
        return false;
    }
    const QProgressBar& bar_;
};

// Runs `seen` whenever a widget it watches paints.
class PaintSpy : public QObject {
  public:
    explicit PaintSpy(std::function<void()> seen) : seen_(std::move(seen)) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            seen_();
        return false;
    }
    std::function<void()> seen_;
};

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

    void AdoptDownloadOf(const std::string& path) {
        dialog_.AdoptController(std::make_unique<DownloadPage>(
            dialog_, [path](const std::string&) { return path; }, DownloadHooks{}));
    }
    // A 16-sector image chosen, ready to download, and the traffic window
    // shown beside.
    void ReadyWithTrafficShown() {
        AdoptDownloadOf(WriteFile(dir_.File("image.img"), TestImage(16)));
        Click(ids::kTestCommunication);
        Click(ids::kBrowse);
        dialog_.OnTraffic();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_.Traffic()));
    }
    QProgressBar& Progress() { return *dialog_.ControlAs<QProgressBar>(ids::kProgressBar); }
    // Runs `action` once, when the download is a quarter done.
    void AtAQuarter(std::function<void()> action) {
        QObject::connect(&Progress(), &QProgressBar::valueChanged, [this, action](int value) {
            if (!quarter_reached_ && value >= Progress().maximum() / 4 && value > 0) {
                quarter_reached_ = true;
                action();
            }
        });
    }
    // Whether `progress` came soon after the quarter: before half way.
    bool SoonAfterAQuarter(int progress) { return progress < Progress().maximum() / 2; }

    // A picture of the screen for a person, named for the scale.
    static void SaveScreen(const QString& name) {
        QTest::qWait(500);  // the window manager and the last repaint first
        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
        QDir().mkpath(FC_SCREENSHOT_DIR);
        QProcess::execute("import",
                          {"-window", "root", FC_SCREENSHOT_DIR "/" + name + "-" + scale + "x.png"});
    }

    sim::Simulator sim_{PacedUnit()};
    BoxAnswerer answerer_;
    bool quarter_reached_ = false;
};

// One download with the real reset wait: pings answered throughout, and the
// window manager's close (Alt+F4) in the middle refused at once with its
// reason at once (before the transfer is half done) while the window and the
// transfer go on.
TEST_F(WindowAliveTest, DownloadAnswersPingsAndRefusesToClose) {
    const std::string path = WriteFile(dir_.File("image.img"), TestImage(16));
    AdoptDownloadOf(path);
    Click(ids::kTestCommunication);
    Click(ids::kBrowse);
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));

    const ProgressAtBoxes progress(Progress());
    WindowManager desktop(dialog_.winId(), dir_.File("download-pings"), std::nullopt);
    // The refusal is answered with Enter a second after it came.
    AtAQuarter([] {
        QProcess::startDetached("sh", {"-c", "xdotool key alt+F4 sleep 1 key Return"});
    });
    Click(ids::kStartDownload);
    const PingReplies replies = desktop.Finish();

    ExpectAnsweredInTime(replies, 20);
    EXPECT_TRUE(dialog_.isVisible());
    ASSERT_EQ(progress.at.count(download_messages::kCloseRefusedDuringDownload), 1u);
    EXPECT_TRUE(SoonAfterAQuarter(progress.at.at(download_messages::kCloseRefusedDuringDownload)));
    ASSERT_EQ(progress.gone.count(download_messages::kCloseRefusedDuringDownload), 1u)
        << "Enter took the refusal's OK during the download";
    EXPECT_LT(progress.gone.at(download_messages::kCloseRefusedDuringDownload),
              Progress().maximum() - 1);
    EXPECT_EQ(sim_.FlashImage(), TestImage(16));
}

// A close asked for during an operation that is not a download is carried
// out when the operation ends, also when a box ends it and when the request
// comes while that box is up.
TEST_F(WindowAliveTest, CloseDuringAnOperationIsCarriedOutWhenItEnds) {
    struct Row {
        const char* when;
        int close_after_ms;
    };
    // The read waits twice the 2 s time-out, then its box stays up 2.5 s.
    answerer_.HoldEachBoxFor(std::chrono::milliseconds(2500));
    for (const Row& row : {Row{"during the wait", 1000}, Row{"under the box", 5000}}) {
        SCOPED_TRACE(row.when);
        std::string error;
        ASSERT_TRUE(sim_.AddFault("no-reply,every=1", &error)) << error;
        dialog_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));

        WindowManager desktop(dialog_.winId(), dir_.File("close-pings"), row.close_after_ms);
        Click(ids::kRead);
        EXPECT_FALSE(dialog_.isVisible());
        desktop.Finish();
        const std::vector<std::string> boxes = answerer_.Take();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes.front(), modbus_messages::kUnableToConnect);
    }
}

// The traffic window takes the mouse while a download runs in the main
// window: its Pause, clicked on the screen a quarter into the transfer,
// pauses it at once.
TEST_F(WindowAliveTest, TrafficWindowTakesInputDuringADownload) {
    ASSERT_NO_FATAL_FAILURE(ReadyWithTrafficShown());
    TrafficWindow& traffic = dialog_.Traffic();

    std::optional<int> paused_at;
    QObject::connect(traffic.PauseButton(), &QPushButton::toggled,
                     [&] { paused_at = Progress().value(); });
    const QPoint pause = traffic.PauseButton()->mapToGlobal(QPoint(8, 8));
    const QStringList click{"mousemove", QString::number(pause.x()), QString::number(pause.y()),
                            "click", "1"};
    AtAQuarter([=] { QProcess::startDetached("xdotool", click); });
    Click(ids::kStartDownload);

    ASSERT_TRUE(paused_at.has_value());
    EXPECT_TRUE(SoonAfterAQuarter(*paused_at));
    EXPECT_EQ(sim_.FlashImage(), TestImage(16));
}

// Run at 1x and, as a ctest entry of its own, at QT_SCALE_FACTOR=2: the
// traffic window and the watch open on the screen, beside the main window
// where there is room (else over it), and again after their Close. A picture
// of the screen is left for a person.
TEST_F(WindowAliveTest, SideWindowsOpenBesideTheWindowOnTheScreen) {
    const QRect screen = dialog_.screen()->availableGeometry();
    // At 1x the screen has room on the right. Asked again until the window
    // manager, busy placing the new window itself, has moved and framed it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            dialog_.move(screen.topLeft());
            return dialog_.frameGeometry().topLeft() == screen.topLeft() &&
                   dialog_.geometry().top() > screen.top();
        },
        15000));
    const struct {
        const char* name;
        QWidget& window;
        void (MainDialog::*open)();
    } windows[] = {{"traffic", dialog_.Traffic(), &MainDialog::OnTraffic},
                   {"watch", dialog_.Watch(), &MainDialog::OnWatch}};
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    QDir().mkpath(FC_SCREENSHOT_DIR);
    for (const auto& opened : windows) {
        for (const char* time : {"first", "again"}) {
            SCOPED_TRACE(std::string(opened.name) + ", " + time);
            opened.window.hide();
            (dialog_.*opened.open)();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&opened.window));
            // The window manager frames and places the window a moment after it maps.
            const bool beside = qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR");
            EXPECT_TRUE(QTest::qWaitFor([&] {
                const QRect frame = opened.window.frameGeometry();
                return screen.contains(frame) &&
                       !(beside && frame.intersects(dialog_.frameGeometry()));
            })) << "on the screen"
                << (beside ? ", beside the main window" : "");
        }
        QTest::qWait(500);  // painted whole before the picture
        QProcess::execute("import", {"-window", "root",
                                     QStringLiteral(FC_SCREENSHOT_DIR "/%1-%2x.png")
                                         .arg(opened.name, scale)});
        opened.window.hide();
    }
}

// Stop, clicked or Escape, a quarter into the transfer ends the download at
// once; the page says the unit is left in download mode, and that running
// the download again recovers it. Pictures of the page are left for a person.
TEST_F(WindowAliveTest, StopEndsADownloadAndSaysWhatItLeft) {
    AdoptDownloadOf(WriteFile(dir_.File("image.img"), TestImage(16)));
    QPushButton& stop = *dialog_.ControlAs<QPushButton>(ids::kStopOperation);
    for (const char* how : {"click", "Escape"}) {
        SCOPED_TRACE(how);
        quarter_reached_ = false;
        Click(ids::kStartOver);
        Click(ids::kTestCommunication);
        Click(ids::kBrowse);
        dialog_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
        // xdotool counts the screen's own pixels.
        const QPoint at = stop.mapToGlobal(stop.rect().center()) * stop.devicePixelRatioF();
        const QStringList press = std::string(how) == "click"
                                      ? QStringList{"mousemove", QString::number(at.x()),
                                                    QString::number(at.y()), "click", "1"}
                                      : QStringList{"key", "Escape"};
        AtAQuarter([=] { QProcess::startDetached("xdotool", press); });
        const ProgressAtBoxes progress(Progress());
        Click(ids::kStartDownload);
        const std::string said = InterruptionText(UnitMode::InLoader);
        ASSERT_EQ(progress.at.count(said), 1u);
        EXPECT_TRUE(SoonAfterAQuarter(progress.at.at(said)));
        EXPECT_EQ(dialog_.ControlAs<QLabel>(ids::kStatusLine)->text().toStdString(),
                  download_messages::kStatusStoppedInDownloadMode);
        EXPECT_FALSE(stop.isEnabled());
        EXPECT_TRUE(dialog_.isVisible());
    }
    EXPECT_NE(sim_.FlashImage(), TestImage(16));
    SaveScreen("download-stopped");
}

// The unit goes quiet a quarter into the transfer for two attempts: the
// status line says which attempt is under way, Elapsed keeps counting, and
// the step's own status comes back once the unit answers again.
TEST_F(WindowAliveTest, StalledDownloadSaysSoAndKeepsCounting) {
    AdoptDownloadOf(WriteFile(dir_.File("image.img"), TestImage(16)));
    Click(ids::kTestCommunication);
    Click(ids::kBrowse);
    auto& status = *dialog_.ControlAs<QLabel>(ids::kStatusLine);
    auto& elapsed = *dialog_.ControlAs<QLabel>(ids::kElapsedTime);
    std::vector<std::string> said;
    std::set<std::string> counted_while_quiet;
    // Read whenever the pump paints the labels.
    const auto note = [&] {
        const std::string now = status.text().toStdString();
        if (said.empty() || said.back() != now)
            said.push_back(now);
        if (now.rfind("No answer", 0) == 0)
            counted_while_quiet.insert(elapsed.text().toStdString());
        if (now == "No answer, attempt 3 of 11")
            sim_.ClearFaults();
    };
    PaintSpy spy(note);
    status.installEventFilter(&spy);
    elapsed.installEventFilter(&spy);
    std::string error;
    AtAQuarter([&] { ASSERT_TRUE(sim_.AddFault("no-reply,every=1", &error)) << error; });
    Click(ids::kStartDownload);
    EXPECT_NE(std::find(said.begin(), said.end(), "No answer, attempt 2 of 11"), said.end());
    EXPECT_GE(counted_while_quiet.size(), 3u) << "Elapsed went on through the 4 s";
    EXPECT_NE(std::find(said.rbegin(), said.rend(), download_messages::kLoaderV2Found), said.rend());
    EXPECT_EQ(sim_.FlashImage(), TestImage(16));
}

// The traffic window's Save dialog, opened a quarter into a download, takes
// a path typed whole (its completer pops up after the "/") and saves.
TEST_F(WindowAliveTest, SaveDialogTakesTypingDuringADownload) {
    ASSERT_NO_FATAL_FAILURE(ReadyWithTrafficShown());
    TrafficWindow& traffic = dialog_.Traffic();
    QPushButton* save = traffic.findChild<QPushButton*>(QStringLiteral("saveText"));
    ASSERT_NE(save, nullptr);
    const QPoint at = save->mapToGlobal(save->rect().center());
    const std::string path = dir_.File("typed/traffic.txt");
    QDir().mkpath(QString::fromStdString(dir_.File("typed")));
    const QString script = QString("xdotool mousemove %1 %2 click 1 sleep 1 key ctrl+a type --delay 20 '%3'; xdotool key Return")
                               .arg(at.x()).arg(at.y()).arg(QString::fromStdString(path));
    AtAQuarter([=] { QProcess::startDetached("sh", {"-c", script}); });
    Click(ids::kStartDownload);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(QString::fromStdString(path)); }, 5000));
    EXPECT_EQ(sim_.FlashImage(), TestImage(16));
}

// Escape two seconds into Auto Detect on a silent line ends the scan then,
// not after its 15 steps; the settings are as before and the dialog stays.
TEST_F(WindowAliveTest, EscapeStopsAScanAndPutsTheSettingsBack) {
    std::string error;
    ASSERT_TRUE(sim_.AddFault("no-reply,every=1", &error)) << error;
    const CommSettings before = settings_;
    CommSettingsDialog comm(master_, profile_, FieldsFromSettings(settings_), &dialog_);
    comm.setModal(true);  // as the window runs it
    comm.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&comm));
    QProcess::startDetached("sh", {"-c", "sleep 2; xdotool key Escape"});
    const auto started = std::chrono::steady_clock::now();
    comm.ControlAs<QPushButton>(comm_ids::kAutoDetect)->click();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(comm.isVisible());
    EXPECT_EQ(FieldsFromSettings(settings_).BaudPosition, FieldsFromSettings(before).BaudPosition);
    EXPECT_EQ(settings_.ModbusType, before.ModbusType);
    EXPECT_EQ(settings_.Parity, before.Parity);
    EXPECT_EQ(comm.ControlAs<QLabel>(ids::kStatusLine)->text().toStdString(),
              connection_messages::kScanStopped);
    EXPECT_TRUE(answerer_.Take().empty());
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
