#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog.h"
#include "download/download_page.h"
#include "download/download_progress.h"
#include "download/messages.h"
#include "download/unit_contact.h"
#include "modbus/comm_settings.h"
#include "modbus/link_flags.h"
#include "modbus/messages.h"
#include "modbus/modbus_master.h"
#include "platform/profile.h"
#include "platform/sha256.h"
#include "platform/user_interface_relay.h"
#include "platform/wall_clock.h"
#include "tests/download/download_sim_support.h"
#include "tests/peers/driver_bench.h"
#include "tests/support/temp_dir.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

namespace m = download_messages;

struct Box {
    std::string text;
    std::string caption;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

// Answers every message box the window raises, for as long as it lives:
// Yes/No boxes from the queue (No when it is empty), Retry/Cancel with
// Cancel, the rest with OK. Remembers what each box showed.
class BoxAnswerer {
  public:
    BoxAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerVisibleBox(); });
        timer_.start(10);
    }
    void QueueYesNo(QMessageBox::StandardButton answer) { yes_no_.push_back(answer); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes)
            texts.push_back(box.text);
        return texts;
    }
    std::vector<Box> boxes;

  private:
    void AnswerVisibleBox() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            boxes.push_back({box->text().toStdString(), box->windowTitle().toStdString(),
                             box->icon(), box->standardButtons()});
            box->button(AnswerFor(box->standardButtons()))->click();
            return;
        }
    }
    QMessageBox::StandardButton AnswerFor(QMessageBox::StandardButtons buttons) {
        if (buttons & QMessageBox::Yes) {
            const auto answer = yes_no_.empty() ? QMessageBox::No : yes_no_.front();
            if (!yes_no_.empty())
                yes_no_.pop_front();
            return answer;
        }
        return buttons & QMessageBox::Cancel ? QMessageBox::Cancel : QMessageBox::Ok;
    }

    QTimer timer_;
    std::deque<QMessageBox::StandardButton> yes_no_;
};

// The enabled state of Test, Browse, file box, Start Download, Start Over,
// and whether the progress bar shows, as one string: "TBFDS+" has all of
// them, a "-" stands for a control that is off.
constexpr int kPageControls[] = {ids::kTestCommunication, ids::kBrowse, ids::kFileBox,
                                 ids::kStartDownload, ids::kStartOver};
constexpr const char* kStart = "T---S-";
constexpr const char* kLinkTested = "-BFDS-";
constexpr const char* kFileChosen = "---DS-";
constexpr const char* kRunning = "-----+";
constexpr const char* kCompleted = "----S-";
constexpr const char* kFailed = "---DS-";

class DownloadPageTest : public ::testing::Test,
                         public test::BasicDriverBench<UserInterfaceRelay> {
  protected:
    void SetUp() override { StartUnit(Options()); }
    virtual sim::SimulatorOptions Options() { return UnitOn(Route::ModbusTcp, 2); }

    void StartUnit(sim::SimulatorOptions options) {
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        settings.UseIP = true;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(sim_->ModbusTcpPort());
        settings.UnitId = 5;
        settings.Timeout = kTimeout;
        settings.Retry = 2;
        dialog_ = std::make_unique<MainDialog>(master, profile_);
        DownloadHooks hooks;
        hooks.wait = [this](std::chrono::milliseconds) {
            retry_while_running_ = settings.Retry;
            link_state_while_running_ = links.LinkState;
            state_while_running_ = State();
            ticks_while_running_ = ticks_;
        };
        // A timer due from the start of the transfer on: the window repaints
        // during the run, but no tick may run inside it.
        QObject::connect(&tick_timer_, &QTimer::timeout, [this] { ++ticks_; });
        hooks.clock = [this] {
            if (!tick_timer_.isActive())
                tick_timer_.start(0);
            return WallClockSecond();
        };
        dialog_->AdoptController(std::make_unique<DownloadPage>(
            *dialog_,
            [this](const std::string& folder) {
                folders_offered_.push_back(folder);
                return choice_;
            },
            hooks));
        ui.SetTarget(&dialog_->Ui());
        dialog_->show();
    }

    void TearDown() override { ui.SetTarget(nullptr); }

    std::string State() const {
        std::string state;
        const char* letters = "TBFDS";
        for (int i = 0; i < 5; ++i)
            state += dialog_->Control(kPageControls[i])->isEnabled() ? letters[i] : '-';
        state += dialog_->Control(ids::kProgressBar)->isVisibleTo(dialog_.get()) ? "+" : "-";
        return state;
    }
    void Click(int id) { dialog_->ControlAs<QPushButton>(id)->click(); }
    QString Text(int id) { return dialog_->ControlAs<QLabel>(id)->text(); }

    std::string ChooseImage(int sectors) {
        const std::string path = dir_.File("firmware-image.img");
        image_ = TestImage(sectors);
        WriteFile(path, image_);
        choice_ = path;
        return path;
    }
    // The confirmation shows the digest of the image chosen.
    std::string Confirmation() const {
        return std::string(m::kConfirmDownload) + "\n\n" + m::kImageDigestLine + Sha256Hex(image_);
    }
    // Test, then Browse onto the image.
    void ReachFileChosen(int sectors) {
        Click(ids::kTestCommunication);
        ChooseImage(sectors);
        Click(ids::kBrowse);
        ASSERT_EQ(State(), kFileChosen);
        sim_->ClearRequests();
    }

    TempDir dir_;
    std::unique_ptr<sim::Simulator> sim_;
    Profile profile_ = Profile::AtPath(dir_.File("fcloader.conf"));
    std::unique_ptr<MainDialog> dialog_;
    BoxAnswerer answerer_;

    std::optional<std::string> choice_;
    std::vector<uint8_t> image_;
    std::vector<std::string> folders_offered_;
    int retry_while_running_ = -1;
    int link_state_while_running_ = -1;
    std::string state_while_running_;
    QTimer tick_timer_;
    int ticks_ = 0;
    int ticks_while_running_ = -1;
};

TEST_F(DownloadPageTest, TestBrowseDownloadThroughTheButtonStates) {
    EXPECT_EQ(State(), kStart);
    Click(ids::kTestCommunication);
    EXPECT_EQ(State(), kLinkTested);
    EXPECT_EQ(links.LinkState, kLinkDown);  // the test disconnects again

    const std::string path = ChooseImage(3);
    Click(ids::kBrowse);
    EXPECT_EQ(State(), kFileChosen);
    EXPECT_EQ(dialog_->FilePath, path);
    EXPECT_EQ(dialog_->ControlAs<QLineEdit>(ids::kFileBox)->text().toStdString(),
              ShortenPathForDisplay(path));
    EXPECT_EQ(profile_.GetString(settings_keys::kSection, settings_keys::kCurrentDir, "?"),
              dir_.path() + "/");

    answerer_.QueueYesNo(QMessageBox::Yes);
    Click(ids::kStartDownload);
    EXPECT_EQ(answerer_.Texts(),
              (std::vector<std::string>{Confirmation(), m::kDownloadCompleted}));
    ASSERT_FALSE(answerer_.boxes.empty());
    EXPECT_EQ(answerer_.boxes[0].caption, m::kConfirmCaption);
    EXPECT_EQ(answerer_.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(answerer_.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(sim_->FlashImage(), image_);
    EXPECT_EQ(state_while_running_, kRunning);
    EXPECT_EQ(ticks_while_running_, 0);
    EXPECT_EQ(retry_while_running_, 10);
    EXPECT_EQ(link_state_while_running_, kLinkDownloading);
    EXPECT_EQ(State(), kCompleted);
    EXPECT_EQ(settings.Retry, 2);
    EXPECT_EQ(links.LinkState, kLinkDown);
    EXPECT_EQ(Text(ids::kStatusLine), "");

    // The user's own settings are live again, not the loader's.
    EXPECT_EQ(settings.UnitId, 5);
    // The unit answers again once its reset is over.
    for (int i = 0; i < 500 && sim_->Resetting(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(sim_->Resetting());

    // Only Start Over leads on; the next Browse opens where this file was.
    Click(ids::kStartOver);
    EXPECT_EQ(State(), kStart);
    Click(ids::kTestCommunication);
    choice_ = std::nullopt;
    Click(ids::kBrowse);
    EXPECT_EQ(folders_offered_, (std::vector<std::string>{"", dir_.path() + "/"}));
    EXPECT_EQ(State(), kLinkTested);  // cancelled: nothing changed
    EXPECT_EQ(dialog_->FilePath, path);
}

TEST_F(DownloadPageTest, AnsweringNoLeavesEverythingAlone) {
    ReachFileChosen(2);
    links.LinkState = kLinkUp;
    answerer_.QueueYesNo(QMessageBox::No);
    Click(ids::kStartDownload);
    EXPECT_EQ(answerer_.Texts(), std::vector<std::string>{Confirmation()});
    EXPECT_EQ(State(), kFileChosen);
    EXPECT_EQ(settings.Retry, 2);
    EXPECT_EQ(links.LinkState, kLinkUp);
    EXPECT_TRUE(sim_->Requests().empty());
    EXPECT_FALSE(sim_->InDownloadMode());
}

// A run that fails mid-transfer says what it left the unit in; the test
// finds the unit in its loader and the next run recovers it.
TEST_F(DownloadPageTest, FailedRunLeavesTheUnitInItsLoaderAndTheNextRunRecoversIt) {
    ReachFileChosen(2);
    std::string error;
    ASSERT_TRUE(sim_->AddFault("flash-failed,once=2", &error)) << error;
    answerer_.QueueYesNo(QMessageBox::Yes);
    Click(ids::kStartDownload);
    EXPECT_EQ(answerer_.Texts(),
              (std::vector<std::string>{Confirmation(), m::kFlashWriteFailed,
                                        DownloadFailureText(UnitMode::InLoader)}));
    ASSERT_EQ(answerer_.boxes.size(), 3u);
    EXPECT_EQ(answerer_.boxes[2].caption, m::kErrorCaption);
    EXPECT_EQ(Text(ids::kStatusLine).toStdString(), m::kStatusFailedInDownloadMode);
    EXPECT_EQ(State(), kFailed);
    EXPECT_EQ(settings.Retry, 2);
    EXPECT_EQ(settings.UnitId, 5);
    EXPECT_EQ(links.LinkState, kLinkDown);
    EXPECT_TRUE(sim_->InDownloadMode());

    answerer_.boxes.clear();
    Click(ids::kStartOver);
    Click(ids::kTestCommunication);
    EXPECT_EQ(State(), kLinkTested);
    Click(ids::kBrowse);
    answerer_.QueueYesNo(QMessageBox::Yes);
    Click(ids::kStartDownload);
    EXPECT_EQ(answerer_.Texts(),
              (std::vector<std::string>{LoaderFoundText(2), Confirmation(),
                                        m::kAlreadyInDownloadMode, m::kDownloadCompleted}));
    EXPECT_EQ(sim_->FlashImage(), image_);
    EXPECT_FALSE(sim_->InDownloadMode());
    EXPECT_EQ(State(), kCompleted);
    EXPECT_EQ(settings.UnitId, 5);
}

TEST_F(DownloadPageTest, UnitGoneBeforeTheStartIsUnableToCommunicate) {
    ReachFileChosen(1);
    sim_->Stop();
    answerer_.QueueYesNo(QMessageBox::Yes);
    Click(ids::kStartDownload);
    const auto texts = answerer_.Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts.front(), Confirmation());
    EXPECT_EQ(texts[texts.size() - 2], m::kUnableToCommunicate);
    // Asked once, when nothing answered at the user's settings or a loader's.
    EXPECT_EQ(std::count(texts.begin(), texts.end(), modbus_messages::kUnableToConnect), 1);
    EXPECT_EQ(texts.back(), m::kUnableToFinishDownload);
    EXPECT_EQ(State(), kFailed);
    EXPECT_EQ(settings.Retry, 2);
    EXPECT_EQ(links.LinkState, kLinkDown);
}

// Stop ends a test that waits on a silent unit, and no box follows.
TEST_F(DownloadPageTest, StopEndsATestOfASilentUnit) {
    std::string error;
    ASSERT_TRUE(sim_->AddFault("no-reply,every=1", &error)) << error;
    // The waits of an operation hold timers back; a call posted to the
    // window is carried out in them, as a click would be.
    std::thread presser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QMetaObject::invokeMethod(dialog_.get(), [this] { Click(ids::kStopOperation); },
                                  Qt::QueuedConnection);
    });
    const auto started = std::chrono::steady_clock::now();
    Click(ids::kTestCommunication);
    presser.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(kTimeout));
    EXPECT_EQ(answerer_.Texts(), std::vector<std::string>{});
    EXPECT_EQ(State(), kStart);
}

TEST_F(DownloadPageTest, FileThatCannotBeOpenedSendsNothing) {
    Click(ids::kTestCommunication);
    choice_ = dir_.File("not-there.img");
    Click(ids::kBrowse);
    sim_->ClearRequests();
    Click(ids::kStartDownload);
    EXPECT_EQ(answerer_.Texts(),
              std::vector<std::string>{std::string(m::kUnableToOpenSelectedFile) + "\n" +
                                       std::strerror(ENOENT)});
    EXPECT_EQ(State(), kFileChosen);
    EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(DownloadPageTest, EmptyChoiceAsksForAFileName) {
    Click(ids::kTestCommunication);
    choice_ = std::string();
    Click(ids::kBrowse);
    EXPECT_EQ(answerer_.Texts(), std::vector<std::string>{m::kNoFileNameSelected});
    EXPECT_EQ(State(), kLinkTested);
    EXPECT_EQ(profile_.GetString(settings_keys::kSection, settings_keys::kCurrentDir, "?"), "");
}

// A unit slow enough that every sector takes more than a second, so the texts
// move as the sectors go out and stop one short of the total.
class PacedDownloadPageTest : public DownloadPageTest {
  protected:
    sim::SimulatorOptions Options() override {
        auto options = UnitOn(Route::ModbusTcp, 2);
        options.latency_ms = 160;
        return options;
    }
};

TEST_F(PacedDownloadPageTest, TextsEndOneSectorShort) {
    ReachFileChosen(3);
    answerer_.QueueYesNo(QMessageBox::Yes);
    Click(ids::kStartDownload);
    EXPECT_EQ(answerer_.Texts(),
              (std::vector<std::string>{Confirmation(), m::kDownloadCompleted}));
    EXPECT_EQ(Text(ids::kBytesSent), "2 of 3 KBytes (66%)");
    const auto matches = [](const char* pattern, const QString& text) {
        return QRegularExpression(pattern).match(text).hasMatch();
    };
    EXPECT_TRUE(matches("^00:0[2-9]$", Text(ids::kElapsedTime)))
        << Text(ids::kElapsedTime).toStdString();
    EXPECT_TRUE(matches("^[1-9][0-9]* Bytes/Sec$", Text(ids::kTransferRate)))
        << Text(ids::kTransferRate).toStdString();
    EXPECT_TRUE(matches("^00:0[0-9]$", Text(ids::kTimeLeft))) << Text(ids::kTimeLeft).toStdString();
}

}  // namespace
}  // namespace fc::test
