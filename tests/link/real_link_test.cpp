// The same transactions over the real links: a pseudo-terminal for each serial
// framing, loopback TCP for each TCP framing. An exception reply ends the
// attempt at once and is named.
#include <gtest/gtest.h>

#include <chrono>

#include "modbus/messages.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FramePeer;
using test::ReplyChunk;

const Bytes kIllegalAddress = {0x01, 0x83, 0x02};
constexpr const char* kNamed = "Exception 2: Illegal data address";

test::Responder Always(Bytes wire) {
    return [wire](const Bytes&) { return std::vector<ReplyChunk>{{wire, 0}}; };
}

struct SerialCase {
    int mode;
    FramePeer::Framing framing;
    Bytes wire;
};

class RealSerial : public ::testing::TestWithParam<SerialCase>, public test::SerialBench {};

TEST_P(RealSerial, AnExceptionIsNamedAtOnce) {
    settings.ModbusType = GetParam().mode;
    settings.Timeout = 2;
    settings.Retry = 3;
    ASSERT_TRUE(OpenLink());
    StartPeer(GetParam().framing, Always(GetParam().wire));
    const auto start = std::chrono::steady_clock::now();
    int value = 0;
    EXPECT_EQ(master.ReadRegister16(100, value), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(StopPeer().size(), 1u);
    EXPECT_EQ(master.ExceptionCode, 2);
    EXPECT_NE(master.RxText.find(kNamed), std::string::npos) << master.RxText;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, modbus_messages::kUnableToConnect);
}

INSTANTIATE_TEST_SUITE_P(Pty, RealSerial,
                         ::testing::Values(SerialCase{kModbusRtu, FramePeer::Framing::Rtu,
                                                      test::WithCrc(kIllegalAddress)},
                                           SerialCase{kModbusAscii, FramePeer::Framing::Ascii,
                                                      test::AsciiText(kIllegalAddress)}));

struct TcpCase {
    int protocol;
    FramePeer::Framing framing;
    Bytes wire;
};

class RealTcp : public ::testing::TestWithParam<TcpCase> {};

TEST_P(RealTcp, AnExceptionIsNamedAtOnce) {
    test::TcpUnit unit(GetParam().framing, Always(GetParam().wire));
    test::DriverBench bench;
    bench.settings.Timeout = 2;
    bench.settings.Retry = 3;
    ASSERT_TRUE(bench.OpenTcp(unit.Port(), GetParam().protocol));
    ModbusMaster& master = bench.master;
    const auto start = std::chrono::steady_clock::now();
    int value = 0;
    EXPECT_EQ(master.ReadRegister16(100, value), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(master.ExceptionCode, 2);
    EXPECT_NE(master.RxText.find(kNamed), std::string::npos) << master.RxText;
    EXPECT_EQ(bench.ui.messages.size(), 1u);
}

// Every reply sent again 10 ms later, from a stack that holds a small second
// send back until the first is acknowledged: each read still gets its own
// register's value, never the repeat of the read before.
TEST_P(RealTcp, ARepeatedReplyAnswersNoLaterRequest) {
    test::RegisterBank bank;
    const test::Responder once = GetParam().protocol == 0 ? test::MbapBank(bank) : test::RtuBank(bank);
    test::TcpUnit unit(GetParam().framing, [once](const Bytes& request) {
        auto chunks = once(request);
        chunks.push_back({chunks.front().bytes, 10});
        return chunks;
    });
    test::DriverBench bench;
    ASSERT_TRUE(bench.OpenTcp(unit.Port(), GetParam().protocol));
    for (const int address : {100, 200, 300, 400}) {
        int value = 0;
        EXPECT_EQ(bench.master.ReadRegister16(address, value), 1);
        EXPECT_EQ(value, address);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Loopback, RealTcp,
    ::testing::Values(TcpCase{0, FramePeer::Framing::Mbap, {0, 0, 0, 0, 0, 3, 0x01, 0x83, 0x02}},
                      TcpCase{1, FramePeer::Framing::Rtu, test::WithCrc(kIllegalAddress)}));

}  // namespace
}  // namespace fc
