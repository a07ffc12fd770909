#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "modbus/messages.h"
#include "tests/peers/driver_bench.h"
#include "tests/peers/python_peer.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using test::Bytes;
using test::FramePeer;
using test::ReplyChunk;

// A driver reaching a unit on a loopback port over TCP.
struct TcpBench : test::DriverBench {
    explicit TcpBench(int port, int protocol = 0) : port_(port), protocol_(protocol) {}
    bool Link() { return OpenTcp(port_, protocol_); }
    int port_;
    int protocol_;
};

test::Responder Reply(std::vector<ReplyChunk> chunks) {
    return [chunks](const Bytes&) { return chunks; };
}

TEST(ModbusTcp, ReadAt2649SendsTheMbapFrameAndStripsTheReplyHeader) {
    test::RegisterBank bank;
    bank[2649] = 0xBEEF;
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::MbapBank(bank));
    TcpBench bench(unit.Port());
    ASSERT_TRUE(bench.Link());
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_EQ(bench.master.RxLength, 5);
    EXPECT_EQ(Bytes(bench.master.RxBuffer, bench.master.RxBuffer + 5),
              (Bytes{0x01, 0x03, 0x02, 0xBE, 0xEF}));
    // Each request carries a new transaction id, never 0.
    EXPECT_EQ(bench.master.TxText, " 00 01 00 00 00 06 01 03 0A 59 00 01");
    EXPECT_EQ(bench.master.RxText, " 01 03 02 BE EF");

    EXPECT_EQ(bench.master.WriteRegister16(100, 0x1234), 1);
    EXPECT_EQ(bench.master.RxLength, 6);
    unit.Stop();
    const auto requests = unit.RequestsPerConnection();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 2u);
    EXPECT_EQ(requests[0][0], (Bytes{0, 1, 0, 0, 0, 6, 1, 3, 0x0A, 0x59, 0, 1}));
    EXPECT_EQ(requests[0][1], (Bytes{0, 2, 0, 0, 0, 9, 1, 0x10, 0, 0x64, 0, 1, 2, 0x12, 0x34}));
    EXPECT_EQ(bank[100], 0x1234);
}

TEST(ModbusTcp, UnitZeroAdoptsTheAnsweringUnit) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, Reply({{{0, 0, 0, 0, 0, 5, 9, 3, 2, 0, 7}}}));
    TcpBench bench(unit.Port());
    bench.settings.UnitId = 0;
    ASSERT_TRUE(bench.Link());
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(bench.settings.UnitId, 9);
    unit.Stop();
    EXPECT_EQ(unit.RequestsPerConnection()[0][0][6], 0);  // asked as unit 0
}

// A complete reply is taken at once; what follows it is dropped before the
// next request, on the same connection.
TEST(ModbusTcp, BytesBehindACompleteReplyAreDroppedBeforeTheNextRequest) {
    test::TcpUnit unit(FramePeer::Framing::Mbap,
                       Reply({{{0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 7, 0xAA, 0xBB}}}));
    TcpBench bench(unit.Port());
    bench.settings.Retry = 0;
    ASSERT_TRUE(bench.Link());
    for (int read = 0; read < 2; ++read) {
        int value = 0;
        EXPECT_EQ(bench.master.ReadRegister16(2649, value), 1);
        EXPECT_EQ(value, 7);
    }
    EXPECT_TRUE(bench.ui.messages.empty());
    unit.Stop();
    EXPECT_EQ(unit.RequestsPerConnection().size(), 1u);
}

TEST(ModbusTcp, LinkStateDownSendsNothing) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::Silent());
    TcpBench bench(unit.Port());
    ASSERT_TRUE(bench.Link());
    bench.links.LinkState = kLinkDown;
    bench.master.TxText = " 77";
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(bench.master.TxText, " 77");
    EXPECT_TRUE(bench.ui.messages.empty());
    unit.Stop();
    EXPECT_TRUE(unit.RequestsPerConnection()[0].empty());
}

TEST(ModbusTcp, AnExceptionReplyFailsWithTheBox) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, Reply({{{0, 0, 0, 0, 0, 3, 1, 0x83, 2}}}));
    TcpBench bench(unit.Port());
    bench.settings.Timeout = 0;
    ASSERT_TRUE(bench.Link());
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(bench.ui.messages.size(), 1u);
}

TEST(ModbusTcp, AUnitThatClosedTheConnectionDoesNotKillTheProcess) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::Silent());
    TcpBench bench(unit.Port());
    bench.settings.Timeout = 0;
    bench.settings.Retry = 2;
    ASSERT_TRUE(bench.Link());
    unit.Stop();  // every connection closed; new ones are never accepted
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(bench.ui.messages.size(), 1u);
}

class Encapsulation : public ::testing::TestWithParam<int> {};

TEST_P(Encapsulation, RtuFramesInTheStream) {
    test::RegisterBank bank;
    test::TcpUnit unit(FramePeer::Framing::Rtu, test::RtuBank(bank));
    TcpBench bench(unit.Port(), GetParam());
    ASSERT_TRUE(bench.Link());
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 2649);
    EXPECT_EQ(bench.master.RxLength, 7);
    EXPECT_EQ(bench.master.TxText, " 01 03 0A 59 00 01 57 C1");
    EXPECT_EQ(bench.master.WriteRegister16(100, 5), 1);
    EXPECT_EQ(bench.master.RxLength, 8);
    EXPECT_EQ(bank[100], 5);
}

INSTANTIATE_TEST_SUITE_P(AnyNonZeroProtocol, Encapsulation, ::testing::Values(1, 2, -1));

TEST(Encapsulation, BadCrcFailsShowingTheReply) {
    test::TcpUnit unit(FramePeer::Framing::Rtu,
                       Reply({{{0x01, 0x03, 0x02, 0x00, 0x01, 0x79, 0x85}}}));
    TcpBench bench(unit.Port(), 1);
    ASSERT_TRUE(bench.Link());
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(bench.master.RxText, " 01 03 02 00 01 79 85");
    EXPECT_EQ(bench.master.RxLength, 7);
}

TEST(DriverSocket, HostNamesResolveAndRefusedPortsFail) {
    test::TcpUnit unit(FramePeer::Framing::Mbap, test::Silent());
    DriverSocket socket;
    EXPECT_TRUE(socket.Connect("localhost", static_cast<uint16_t>(unit.Port()), 5));
    EXPECT_TRUE(socket.IsOpen());
    socket.Close();
    EXPECT_FALSE(socket.IsOpen());
    unit.Stop();
    EXPECT_FALSE(socket.Connect("no-such-host.invalid", 502, 5));
    EXPECT_FALSE(IsConnectInProgress(socket.LastError()));
}

// pymodbus as the unit: Modbus TCP with its socket framer, and RTU frames
// over TCP with its RTU framer.
class PymodbusTcp : public ::testing::TestWithParam<int> {};

TEST_P(PymodbusTcp, ReadAndWriteHoldingRegisters) {
    test::PymodbusPeer peer(GetParam() == 0 ? "tcp" : "rtutcp");
    if (!peer.Missing().empty())
        GTEST_SKIP() << peer.Missing();
    TcpBench bench(peer.Port(), GetParam());
    bench.settings.Timeout = 2;
    ASSERT_TRUE(bench.Link());
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 2649);
    EXPECT_EQ(bench.master.WriteRegister32(300, -5), 1);
    EXPECT_EQ(bench.master.ReadRegister32(300, value), 1);
    EXPECT_EQ(value, -5);
    uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(bench.master.WriteRegisterBlock(900, block, 4), 1);
    uint8_t back[8] = {};
    EXPECT_EQ(bench.master.ReadRegisterBlock(900, back, 4), 1);
    EXPECT_EQ(Bytes(back, back + 8), Bytes(block, block + 8));
    EXPECT_TRUE(bench.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Framers, PymodbusTcp, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Mbap" : "RtuOverTcp"; });

}  // namespace
}  // namespace fc
