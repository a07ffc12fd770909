// The cable pulled while the window's clock updates: the serial device goes
// away (the pty is closed) or the TCP peer drops the connection in the
// middle of a clock read. The user must get the documented box within the
// attempts' time-outs, the updates must stop, and Start must bring them back
// once the unit is there again.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>

#include "modbus/messages.h"
#include "registers/clock_registers.h"
#include "registers/register_page.h"
#include "sim/simulator.h"
#include "tests/gui/gui_test_support.h"
#include "tests/reliability/box_answerer.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

enum class Route { RtuPty, ModbusTcp };

class PulledCableClock : public ::testing::TestWithParam<Route>, protected TestWindow {
  protected:
    // COM n is the simulated unit's pseudo-terminal.
    PulledCableClock()
        : TestWindow([this](int) { return std::vector<std::string>{sim_->PtyPath()}; }) {
        sim::SimulatorOptions options;
        options.pty = GetParam() == Route::RtuPty;
        if (GetParam() == Route::ModbusTcp)
            options.tcp_port = 0;
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        started_ = sim_->Start(&error);
        settings_.Timeout = 1;
        settings_.Retry = 1;
        settings_.UseIP = GetParam() == Route::ModbusTcp;
        settings_.IPAddress = "127.0.0.1";
        settings_.IPPort = static_cast<uint16_t>(sim_->ModbusTcpPort());
        settings_.IPProtocol = 0;
    }

    void SetUp() override {
        ASSERT_TRUE(started_);
        dialog_.show();
        dialog_.ControlAs<QLineEdit>(ids::kUpdateEvery)->setText("0");
    }

    QPushButton* Button(int id) { return dialog_.ControlAs<QPushButton>(id); }
    bool ClockReadsArrive() {
        sim_->ClearRequests();
        return QTest::qWaitFor(
            [&] {
                for (const sim::LoggedRequest& request : sim_->Requests())
                    if (request.info.function == 3)
                        return true;
                return false;
            },
            5000);
    }

    std::unique_ptr<sim::Simulator> sim_;
    bool started_ = false;
    BoxAnswerer answerer_;
};

TEST_P(PulledCableClock, BoxWithinTheTimeOutsUpdatesStopAndStartWorksAgain) {
    Button(ids::kClockStart)->click();
    ASSERT_TRUE(ClockReadsArrive());
    ASSERT_TRUE(answerer_.Take().empty());

    const bool serial = GetParam() == Route::RtuPty;
    // The clock register's read, not the probe of the tick's connect: the
    // cable goes in the middle of the update itself.
    std::string error;
    ASSERT_TRUE(sim_->AddFault(std::string(serial ? "close-pty" : "drop-connection") +
                                   ",fn=3,every=1,addr=" + std::to_string(kDefaultClockRegister),
                               &error))
        << error;
    const auto pulled = std::chrono::steady_clock::now();
    const double limit = (settings_.Retry + 1) * settings_.Timeout + 2.0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return Button(ids::kClockStart)->isEnabled(); },
                                static_cast<int>(limit * 1000) + 3000));
    const std::vector<BoxAnswerer::Seen> boxes = answerer_.TakeSeen();
    ASSERT_EQ(boxes.size(), 1u) << boxes[0].text << " / " << boxes[1].text;
    EXPECT_EQ(boxes[0].text.rfind(modbus_messages::kUnableToConnect, 0), 0u) << boxes[0].text;
    // Each attempt ends by its own time-out at the latest, plus the
    // reconnects and a second's granularity of the clock.
    EXPECT_LT(std::chrono::duration<double>(boxes[0].when - pulled).count(), limit);
    EXPECT_FALSE(dialog_.findChild<QTimer*>(kClockTimerName)->isActive());
    EXPECT_FALSE(Button(ids::kClockStop)->isEnabled());

    // The unit is back (a new line for the pty, a new connection over TCP):
    // Start updates the clock again without a box.
    sim_->ClearFaults();
    // The new line is there once it has a path (often the old one again).
    if (serial) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !sim_->PtyPath().empty(); }, 5000));
    }
    Button(ids::kClockStart)->click();
    EXPECT_TRUE(ClockReadsArrive());
    Button(ids::kClockStop)->click();
    for (const std::string& box : answerer_.Take())
        ADD_FAILURE() << "box after the unit came back: " << box;
}

INSTANTIATE_TEST_SUITE_P(Routes, PulledCableClock,
                         ::testing::Values(Route::RtuPty, Route::ModbusTcp), [](const auto& info) {
                             return std::string(info.param == Route::RtuPty ? "Pty" : "ModbusTcp");
                         });

}  // namespace
}  // namespace fc::test
