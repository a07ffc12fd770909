#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "connection/connection.h"
#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "tests/peers/driver_bench.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using test::FramePeer;

class SerialConnect : public ::testing::Test, public test::SerialBench {};

TEST_F(SerialConnect, NoUnitAttachedStillOpensThePort) {
    EXPECT_TRUE(Connect(master));
    EXPECT_EQ(master.OpenState, 1);
    EXPECT_EQ(links.LinkOpen, 1);
    EXPECT_TRUE(master.IsOpen());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.wait_cursor_shown, 1);
    EXPECT_EQ(ui.wait_cursor_depth, 0);
    Disconnect(master);
    EXPECT_FALSE(master.IsOpen());
    EXPECT_EQ(links.LinkOpen, 0);
    EXPECT_EQ(master.OpenState, 0);
}

TEST_F(SerialConnect, APortHeldElsewhereGivesTheCommPortBox) {
    const int holder = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(Connect(master));
    ::close(holder);
    EXPECT_EQ(master.OpenState, 0);
    EXPECT_EQ(links.LinkOpen, 0);
    EXPECT_FALSE(master.IsOpen());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, WithReason(connection_messages::kUnableToUseCommPort,
                                              PortFailureReason({pty.path, EBUSY})));
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Stop);
    EXPECT_EQ(ui.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(ui.wait_cursor_depth, 0);
}

TEST_F(SerialConnect, RtuForcesNoParityAndEightBitsAsciiKeepsThem) {
    settings.Parity = 2;
    settings.DataBits = 7;
    EXPECT_TRUE(Connect(master));
    EXPECT_EQ(settings.Parity, 0);
    EXPECT_EQ(settings.DataBits, 8);
    Disconnect(master);

    settings.ModbusType = kModbusAscii;
    settings.Parity = 1;
    settings.DataBits = 7;
    EXPECT_TRUE(Connect(master));
    EXPECT_EQ(settings.Parity, 1);
    EXPECT_EQ(settings.DataBits, 7);
}

TEST_F(SerialConnect, AnAnsweringUnitOnAnOpenPortIsNotReopened) {
    test::RegisterBank bank;
    ASSERT_TRUE(OpenLink());
    StartPeer(FramePeer::Framing::Rtu, test::RtuBank(bank));
    settings.ComPort = 0;  // an open would fail: only the probe can succeed
    EXPECT_TRUE(Connect(master));
    EXPECT_EQ(StopPeer().size(), 1u);
}

TEST_F(SerialConnect, ImpossibleLineSettingsGiveTheBoxNotACrash) {
    settings.ModbusType = kModbusAscii;
    settings.DataBits = 300;
    settings.StopBits = 256;
    EXPECT_FALSE(Connect(master));
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_FALSE(master.IsOpen());
}

TEST_F(SerialConnect, ReconnectAfterTheUnitSwitchedToItsLoader) {
    ASSERT_TRUE(Connect(master));
    ClosePort(master);
    // The loader's fixed settings.
    settings.BaudRate = 3;
    settings.Parity = 0;
    settings.StopBits = 0;
    settings.UnitId = 1;
    EXPECT_TRUE(Reconnect(master));
    EXPECT_EQ(master.OpenState, 1);
    EXPECT_EQ(links.LinkState, kLinkUp);
    EXPECT_EQ(links.LinkOpen, 0);  // the download sets it afterwards
    links.LinkOpen = kLinkDownloading;
    test::RegisterBank bank;
    StartPeer(FramePeer::Framing::Rtu, test::RtuBank(bank));
    int value = 0;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 2649);
}

TEST(SerialReconnect, GivesUpOnAPortThatNeverOpens) {
    CommSettings settings;
    LinkFlags links;
    links.LinkState = kLinkUp;
    ScriptedUserInterface ui;
    int opens = 0;
    ModbusMaster master(settings, links, ui, [&](int) {
        ++opens;
        return std::vector<std::string>{"/nonexistent/fcloader-port"};
    });
    EXPECT_FALSE(Reconnect(master, ReopenBound{3, 1}));
    EXPECT_EQ(opens, 3);
    EXPECT_EQ(links.LinkState, kLinkDown);
    EXPECT_EQ(links.LinkOpen, 0);
    EXPECT_EQ(master.OpenState, 0);
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{WithReason(
                                     connection_messages::kUnableToUseCommPort,
                                     PortFailureReason({"/nonexistent/fcloader-port", ENOENT}))});
}

struct IpBench : test::DriverBench {
    explicit IpBench(int port) {
        settings.UseIP = true;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(port);
        settings.Timeout = 0;
    }
};

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string RefusedText(const IpBench& bench) {
    return WithReason(
        connection_messages::kUnableToStablishConnection,
        "127.0.0.1:" + std::to_string(bench.settings.IPPort) + ": Connection refused.");
}

TEST(IpConnect, AClosedPortGivesOneBoxAndClosesTheSocket) {
    IpBench bench(ClosedLoopbackPort());
    EXPECT_FALSE(Connect(bench.master));
    EXPECT_EQ(bench.ui.MessageTexts(), std::vector<std::string>{RefusedText(bench)});
    EXPECT_FALSE(bench.master.Socket.IsOpen());
    EXPECT_EQ(bench.links.LinkOpen, 0);
    EXPECT_EQ(bench.master.OpenState, 0);
}

TEST(IpConnect, AUnitThatNeverAnswersKeepsTheSocketUntilDisconnect) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::Silent());
    IpBench bench(unit.Port());
    EXPECT_FALSE(Connect(bench.master));
    // The probe's own box, then the connection box.
    EXPECT_EQ(bench.ui.MessageTexts().back(), connection_messages::kUnableToStablishConnection);
    EXPECT_EQ(bench.links.LinkState, kLinkDown);
    EXPECT_EQ(bench.links.LinkOpen, 0);
    EXPECT_TRUE(bench.master.Socket.IsOpen());
    Disconnect(bench.master);
    EXPECT_FALSE(bench.master.Socket.IsOpen());
}

TEST(IpConnect, AnAnsweringUnitConnectsThenReconnectFindsIt) {
    test::RegisterBank bank;
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::MbapBank(bank));
    IpBench bench(unit.Port());
    bench.settings.Timeout = 1;
    EXPECT_TRUE(Connect(bench.master));
    EXPECT_EQ(bench.links.LinkState, kLinkUp);
    EXPECT_EQ(bench.links.LinkOpen, 1);
    EXPECT_EQ(bench.master.OpenState, 1);
    EXPECT_TRUE(Reconnect(bench.master));
    Disconnect(bench.master);
    EXPECT_EQ(bench.links.LinkState, kLinkDown);
    // After the unit's reset the link is down: Reconnect connects afresh but
    // reports failure so that the download probes the loader itself.
    EXPECT_FALSE(Reconnect(bench.master));
    EXPECT_EQ(bench.links.LinkState, kLinkUp);
    EXPECT_TRUE(bench.master.Socket.IsOpen());
    EXPECT_TRUE(bench.ui.messages.empty());
}

TEST(IpReconnect, LinkStillUpButSilentLeavesTheSocketAlone) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::Silent());
    IpBench bench(unit.Port());
    bench.settings.Retry = -1;
    ASSERT_TRUE(bench.master.ConnectSocket());
    bench.links.LinkState = kLinkDownloading;
    EXPECT_FALSE(Reconnect(bench.master));
    EXPECT_EQ(bench.master.OpenState, 0);
    EXPECT_EQ(bench.links.LinkState, kLinkDownloading);
}

TEST(IpReconnect, NoUnitGivesTheConnectionBox) {
    IpBench bench(ClosedLoopbackPort());
    EXPECT_FALSE(Reconnect(bench.master));
    EXPECT_EQ(bench.ui.MessageTexts(), std::vector<std::string>{RefusedText(bench)});
    EXPECT_FALSE(bench.master.Socket.IsOpen());
}

// The line under the connection boxes, as the user reads it.
TEST(FailureReason, DeviceReasonAndWhatToDo) {
    const struct {
        PortOpenFailure failure;
        std::string reason;
    } cases[] = {
        {{"/dev/ttyUSB0", EACCES},
         "/dev/ttyUSB0: Permission denied.\nSerial ports belong to the \"dialout\" group: add "
         "your user to it (sudo usermod -aG dialout $USER), then log in again."},
        {{"/dev/ttyUSB0", EBUSY},
         "/dev/ttyUSB0: Device or resource busy.\nAnother program holds it."},
        {{"/dev/ttyS7", ENOENT}, "/dev/ttyS7: No such file or directory."},
        {{"/home/me/notes.txt", ENOTTY},
         "/home/me/notes.txt: Inappropriate ioctl for device.\nIt is not a serial port."},
        {{"", ENODEV}, "No device is named for this port number."},
        {{"/dev/ttyS0", 0}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortFailureReason(c.failure), c.reason);
}

TEST(IpConnect, ANameThatIsNotFoundSaysSo) {
    IpBench bench(502);
    bench.settings.IPAddress = "no-such-unit.invalid";
    EXPECT_FALSE(Connect(bench.master));
    ASSERT_NE(bench.master.Socket.ResolveError(), 0);
    EXPECT_EQ(bench.ui.MessageTexts(),
              std::vector<std::string>{
                  WithReason(connection_messages::kUnableToStablishConnection,
                             std::string("no-such-unit.invalid:502: ") +
                                 ::gai_strerror(bench.master.Socket.ResolveError()) + ".")});
}

}  // namespace
}  // namespace fc
