// The cable pulled in the middle of a transaction: the serial device goes
// away (the pty is closed) or the TCP peer drops the connection instead of
// answering. The user must get "Unable to connect to Device!" within the attempts'
// time-outs, no descriptor may be left behind, and the next operation must
// work once the unit is back.
#include <dirent.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "connection/connection.h"
#include "modbus/messages.h"
#include "modbus/modbus_master.h"
#include "sim/simulator.h"
#include "tests/peers/driver_bench.h"

namespace fc {
namespace {

enum class Route { RtuPty, ModbusTcp, RtuOverTcp };
enum class Operation { Read, Write };

struct Case {
    const char* name;
    Route route;
    Operation operation;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr)
            ++count;
        ::closedir(folder);
    }
    return count;
}

class PulledCable : public ::testing::TestWithParam<Case>, public test::DriverBench {
  protected:
    void SetUp() override {
        const Route route = GetParam().route;
        sim::SimulatorOptions options;
        options.unit.line = {sim::SerialMode::Rtu, 9600, sim::Parity::None, 1};
        options.pty = route == Route::RtuPty;
        if (route == Route::ModbusTcp)
            options.tcp_port = 0;
        if (route == Route::RtuOverTcp)
            options.rtu_tcp_port = 0;
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        resolve = [this](int) { return std::vector<std::string>{sim_->PtyPath()}; };
        settings.Retry = 1;
        settings.UnitId = 1;
        settings.BaudRate = 3;
        settings.UseIP = route != Route::RtuPty;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(route == Route::ModbusTcp ? sim_->ModbusTcpPort()
                                                                           : sim_->RtuTcpPort());
        settings.IPProtocol = route == Route::RtuOverTcp ? 1 : 0;
    }

    bool RunOperation() {
        int value = 0;
        return GetParam().operation == Operation::Read ? master.ReadRegister16(100, value) != 0
                                                       : master.WriteRegister16(100, 7) != 0;
    }

    std::unique_ptr<sim::Simulator> sim_;
};

TEST_P(PulledCable, BoxWithinTheTimeOutsNothingLeftOpenAndTheNextOperationWorks) {
    ASSERT_TRUE(Connect(master));
    links.LinkState = kLinkUp;
    ASSERT_TRUE(RunOperation());  // the link is up and in use
    const int descriptors = OpenDescriptors();

    const bool serial = GetParam().route == Route::RtuPty;
    const std::string function = GetParam().operation == Operation::Read ? "3" : "16";
    std::string error;
    ASSERT_TRUE(sim_->AddFault(
        std::string(serial ? "close-pty" : "drop-connection") + ",fn=" + function + ",every=1",
        &error))
        << error;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunOperation());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Every attempt ends by its own time-out at the latest: (Retry + 1) x
    // Timeout, plus the reconnects and a second's granularity of the clock.
    EXPECT_LT(seconds, (settings.Retry + 1) * settings.Timeout + 2.0);
    // A vanished device is named with the reason under the box's text.
    ASSERT_EQ(ui.MessageTexts().size(), 1u);
    EXPECT_EQ(ui.MessageTexts()[0].rfind(modbus_messages::kUnableToConnect, 0), 0u) << ui.MessageTexts()[0];

    // The unit is back: the next operation reaches it, over the same driver,
    // after the link is set up again as the window does.
    sim_->ClearFaults();
    ui.messages.clear();
    Disconnect(master);
    // The simulated unit's new line takes a moment to appear after the old
    // one was pulled; the user would press Connect again.
    bool connected = false;
    for (int i = 0; i < 20 && !connected; ++i) {
        connected = Connect(master);
        if (!connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(connected);
    ui.messages.clear();
    links.LinkState = kLinkUp;
    EXPECT_TRUE(RunOperation());
    EXPECT_TRUE(ui.messages.empty());
    // Whatever the dead link held was closed, not leaked.
    EXPECT_LE(OpenDescriptors(), descriptors);
    Disconnect(master);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, PulledCable,
    ::testing::Values(Case{"PtyRead", Route::RtuPty, Operation::Read},
                      Case{"PtyWrite", Route::RtuPty, Operation::Write},
                      Case{"ModbusTcpRead", Route::ModbusTcp, Operation::Read},
                      Case{"ModbusTcpWrite", Route::ModbusTcp, Operation::Write},
                      Case{"RtuOverTcpRead", Route::RtuOverTcp, Operation::Read}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fc
