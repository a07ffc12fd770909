#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "connection/auto_detect.h"
#include "connection/connection.h"
#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "sim/simulator.h"
#include "tests/peers/driver_bench.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using test::Bytes;
using test::FramePeer;
using test::ReplyChunk;

// The probe as it must leave the port, written out by hand.
const Bytes kRtuProbeOnWire = {0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xE1, 0xDA};
const std::string kAsciiProbeOnWire = ":000800000000E1DA3D\r\n";

// An exception reply to the probe from the given unit: five bytes.
Bytes ExceptionFrom(uint8_t unit) {
    return test::WithCrc({unit, 0x88, 0x01});
}

test::Responder Answer(Bytes bytes) {
    return [bytes](const Bytes&) { return std::vector<ReplyChunk>{{bytes, 0}}; };
}

test::Responder AnswerText(const std::string& text) {
    return Answer(Bytes(text.begin(), text.end()));
}

// Everything the port under test has written to the far end so far.
std::string WrittenToPeer(int fd) {
    std::string text;
    char chunk[512];
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, 50) > 0 && (readable.revents & POLLIN)) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

// The probes on a pty with a scripted unit behind it. An answer comes within
// milliseconds; the two-second wait keeps the second's turn of the wall clock
// from ending a probe before it.
class Probe : public ::testing::Test, public test::SerialBench {
  protected:
    void SetUp() override {
        settings.Timeout = 2;
        ASSERT_TRUE(OpenLink());
    }
};

TEST_F(Probe, RtuTakesAFiveByteAnswerAndSendsTheFixedFrame) {
    StartPeer(FramePeer::Framing::Rtu, Answer(ExceptionFrom(7)));
    EXPECT_TRUE(ProbeRtu(master));
    EXPECT_EQ(master.RxBuffer[0], 7);
    const auto requests = StopPeer();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], kRtuProbeOnWire);
}

TEST_F(Probe, RtuRefusesTheEightByteEchoAndABadCrc) {
    StartPeer(FramePeer::Framing::Rtu, Answer(kRtuProbeOnWire));
    EXPECT_FALSE(ProbeRtu(master));
    StopPeer();
    Bytes bad = ExceptionFrom(7);
    bad[4] ^= 0x01;
    StartPeer(FramePeer::Framing::Rtu, Answer(bad));
    EXPECT_FALSE(ProbeRtu(master));
}

TEST_F(Probe, AsciiAcceptsLowerCaseHexAndTakesTheAddressWhenAskedAsZero) {
    settings.UnitId = 0;
    StartPeer(FramePeer::Framing::Ascii, Answer(test::AsciiText({0x2A, 0x88, 0x01}, true)));
    EXPECT_TRUE(ProbeAscii(master));
    EXPECT_EQ(master.RxBuffer[0], 0x2A);
    EXPECT_EQ(settings.UnitId, 0x2A);
    const auto requests = StopPeer();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], kRtuProbeOnWire);  // the CRC bytes travel as data
}

TEST_F(Probe, AsciiRefusesOddHexCountsBadLrcsBadDigitsAndEmptyFrames) {
    for (const std::string& answer : {std::string(":0788017\r\n"), std::string(":078801FF\r\n"),
                                      std::string(":07880G70\r\n"), std::string(":\r\n")}) {
        StartPeer(FramePeer::Framing::Ascii, AnswerText(answer));
        EXPECT_FALSE(ProbeAscii(master)) << answer;
        StopPeer();
    }
    EXPECT_EQ(settings.UnitId, 1);
}

TEST_F(Probe, AsciiSkipsNoiseBeforeTheColon) {
    StartPeer(FramePeer::Framing::Ascii, AnswerText("\x7f\x01zz:07880170\r\n"));
    EXPECT_TRUE(ProbeAscii(master));
    EXPECT_EQ(master.RxBuffer[0], 7);
}

TEST_F(Probe, SilenceFailsAfterTheTimeOutAndTheTextLeavesAsWritten) {
    settings.Timeout = 1;
    EXPECT_FALSE(ProbeAscii(master));
    EXPECT_EQ(WrittenToPeer(pty.master), kAsciiProbeOnWire);
}

// The scan against the simulated unit, whose pty answers only when the speed
// the tool set matches the unit's, and, of the parity, only odd against the
// rest (a pty keeps PARODD but not PARENB).
class ScanAgainstSimulator : public ::testing::Test, public test::DriverBench {
  protected:
    // The scan starts from a fresh profile's settings.
    ScanAgainstSimulator() { settings = CommSettings{}; }
    void Start(sim::SerialMode mode, int baud, sim::Parity parity, uint8_t unit) {
        sim::SimulatorOptions options;
        options.unit.line = {mode, baud, parity, unit};
        options.pty = true;
        simulator = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
        devices = {simulator->PtyPath()};
    }

    std::unique_ptr<sim::Simulator> simulator;
};

TEST_F(ScanAgainstSimulator, RtuUnitAt9600FromAddress7IsFoundAtStepTwo) {
    Start(sim::SerialMode::Rtu, 9600, sim::Parity::None, 7);
    settings.ModbusType = kModbusAscii;
    settings.Parity = 2;
    settings.DataBits = 7;
    settings.BaudRate = 7;
    settings.Timeout = 3;
    EXPECT_TRUE(AutoDetect(master));
    EXPECT_EQ(settings.UnitId, 7);
    EXPECT_EQ(settings.ModbusType, kModbusRtu);
    EXPECT_EQ(settings.BaudRate, 3);
    EXPECT_EQ(settings.Parity, 0);
    EXPECT_EQ(settings.DataBits, 8);
    EXPECT_EQ(settings.Timeout, 3);
    EXPECT_FALSE(master.IsOpen());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.wait_cursor_shown, 1);
    EXPECT_EQ(ui.wait_cursor_depth, 0);
    const auto requests = simulator->Requests();
    ASSERT_EQ(requests.size(), 1u);  // step 1 ran at 19200 and went unheard
    EXPECT_EQ(requests[0].info.function, 8);
}

// Even parity looks like none on a pty, but the RTU step at 2400 carries no
// ASCII frame and the odd steps and other speeds are not heard: step 14 is
// the first the unit can answer.
TEST_F(ScanAgainstSimulator, AsciiUnitAt2400EvenIsFoundAtStep14) {
    Start(sim::SerialMode::Ascii, 2400, sim::Parity::Even, 5);
    settings.StopBits = 2;
    EXPECT_TRUE(AutoDetect(master));
    EXPECT_EQ(settings.UnitId, 5);
    EXPECT_EQ(settings.ModbusType, kModbusAscii);
    EXPECT_EQ(settings.Parity, 2);
    EXPECT_EQ(settings.BaudRate, 1);
    EXPECT_EQ(settings.DataBits, 8);
    EXPECT_EQ(settings.StopBits, 2);
    EXPECT_EQ(settings.Timeout, 2);
    EXPECT_EQ(simulator->Requests().size(), 1u);
}

class ScanOnPty : public ::testing::Test, public test::SerialBench {
  protected:
    // What a scan changes; the user's values are ones no step uses, so that
    // any step left behind shows.
    auto Scanned() {
        return std::tie(settings.ModbusType, settings.BaudRate, settings.Parity, settings.DataBits,
                        settings.StopBits, settings.UnitId, settings.Timeout);
    }
    const std::tuple<int, int, int, int, int, int, int> user_{kModbusAscii, 6, 1, 7, 2, 12, 5};
};

TEST_F(ScanOnPty, APortThatDoesNotOpenEndsTheScanWithOneBox) {
    CommSettings before;
    ModbusMaster nowhere{settings, links, ui,
                         [](int) { return std::vector<std::string>{"/nonexistent/fc-tty"}; }};
    Scanned() = user_;
    EXPECT_FALSE(AutoDetect(nowhere));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, WithReason(connection_messages::kUnableToOpenCommPort,
                                              PortFailureReason({"/nonexistent/fc-tty", ENOENT})));
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(ui.messages[0].caption, "");
    EXPECT_EQ(Scanned(), user_);
    EXPECT_EQ(ui.wait_cursor_depth, 0);

    settings.ComPort = 0;  // no device at all for a number below 1
    EXPECT_FALSE(AutoDetect(master));
    EXPECT_EQ(ui.messages.size(), 2u);
}

// The last step (ASCII, even parity, 1200 baud) must not stay live, for the
// next connection and a later OK to take.
TEST_F(ScanOnPty, NoUnitRunsAllFifteenStepsAndPutsTheUsersSettingsBack) {
    Scanned() = user_;
    links.LinkOpen = 1;
    std::string traced;
    const auto watch = master.OnTraffic.Add([&](const TrafficFrame& frame) {
        if (frame.direction == TrafficDirection::Sent)
            traced.append(frame.wire.begin(), frame.wire.end());
    });
    EXPECT_FALSE(AutoDetect(master));
    // Each step is named while it runs, and the text is gone when the scan is.
    ASSERT_EQ(ui.status_history.size(), 16u);
    EXPECT_EQ(ui.status_history[0], "Trying RTU 19200 ... (1 of 15)");
    EXPECT_EQ(ui.status_history[4], "Trying RTU 1200 ... (5 of 15)");
    EXPECT_EQ(ui.status_history[5], "Trying ASCII 19200 odd parity ... (6 of 15)");
    EXPECT_EQ(ui.status_history[14], "Trying ASCII 1200 even parity ... (15 of 15)");
    EXPECT_EQ(ui.status_history[15], "");
    EXPECT_EQ(Scanned(), user_);
    EXPECT_EQ(links.LinkOpen, 0);
    EXPECT_FALSE(master.IsOpen());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.wait_cursor_depth, 0);

    std::string expected;
    for (int step = 0; step < 5; ++step)
        expected.append(kRtuProbeOnWire.begin(), kRtuProbeOnWire.end());
    for (int step = 0; step < 10; ++step)
        expected += kAsciiProbeOnWire;
    EXPECT_EQ(WrittenToPeer(pty.master), expected);
    EXPECT_EQ(traced, expected);
}

}  // namespace
}  // namespace fc
