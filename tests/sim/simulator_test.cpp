#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <thread>
#include <utility>

#include "modbus/frame_codec.h"
#include "sim/simulator.h"
#include "tests/sim/sim_peer.h"
#include "tests/support/temp_dir.h"

namespace fc::sim::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<Simulator> StartSim(SimulatorOptions options) {
    auto simulator = std::make_unique<Simulator>(std::move(options));
    std::string error;
    EXPECT_TRUE(simulator->Start(&error)) << error;
    return simulator;
}

SimulatorOptions PtyOptions() {
    SimulatorOptions options;
    options.pty = true;
    return options;
}

Bytes ExceptionReply(uint8_t unit, uint8_t function, uint8_t code) {
    return WithCrc({unit, static_cast<uint8_t>(function | 0x80), code});
}

uint32_t Value32(const Bytes& reply) {
    return static_cast<uint32_t>(reply[3] << 24 | reply[4] << 16 | reply[5] << 8 | reply[6]);
}

TEST(SimulatorEndpoints, AFileWhereTheControlSocketOrTheLinkGoesIsKept) {
    fc::test::TempDir dir;
    for (const bool control : {true, false}) {
        std::ofstream(dir.File("kept")) << "keep";
        SimulatorOptions options = PtyOptions();
        (control ? options.control : options.link) = dir.File("kept");
        std::string error;
        EXPECT_FALSE(Simulator(options).Start(&error));
        EXPECT_NE(error.find(control ? "not a socket" : "not a symbolic link"), std::string::npos);
        EXPECT_EQ(std::ifstream(dir.File("kept")).get(), 'k') << error;
    }
}

TEST(SimulatorRtu, ReadsWritesAndAnswersBadRequestsWithExceptions) {
    auto sim = StartSim(PtyOptions());
    SerialPeer peer(sim->PtyPath(), 9600);
    ASSERT_TRUE(peer.ok());

    EXPECT_EQ(peer.Transact(WriteRequest(1, 100, {0x1234, 0xFFFF}), 8),
              WithCrc({1, 16, 0, 100, 0, 2}));
    const Bytes read = peer.Transact(ReadRequest(1, 100, 2), 9);
    EXPECT_EQ(read, WithCrc({1, 3, 4, 0x12, 0x34, 0xFF, 0xFF}));
    EXPECT_EQ(sim->Register(101), 0xFFFFu);

    EXPECT_EQ(peer.Transact(ReadRequest(1, 100, 0), 5), ExceptionReply(1, 3, kIllegalValue));
    EXPECT_EQ(peer.Transact(ReadRequest(1, 100, 126), 5), ExceptionReply(1, 3, kIllegalValue));
    EXPECT_EQ(peer.Transact(ReadRequest(1, 65535, 2), 5), ExceptionReply(1, 3, kIllegalAddress));
    EXPECT_EQ(peer.Transact({1, 6, 0, 100, 0, 1}, 5), ExceptionReply(1, 6, kIllegalFunction));
    Bytes short_count = WriteRequest(1, 100, {1, 2});
    short_count[6] = 2;  // byte count that disagrees with the register count
    short_count.resize(9);
    EXPECT_EQ(peer.Transact(short_count, 5), ExceptionReply(1, 16, kIllegalValue));

    // Another unit's request and a frame with a broken CRC get silence.
    EXPECT_TRUE(peer.Transact(ReadRequest(2, 100, 1), 7).empty());
    Bytes broken = WithCrc(ReadRequest(1, 100, 1));
    broken.back() ^= 0x40;
    peer.Send(broken);
    EXPECT_TRUE(peer.Receive(7, 200ms).empty());
}

TEST(SimulatorRtu, BlockRequestsInTheWindowMoveFourBytesPerRegister) {
    auto sim = StartSim(PtyOptions());
    SerialPeer peer(sim->PtyPath(), 9600);
    Bytes write{1, 16, 0x1B, 0x58, 0, 2, 8, 0x3F, 0x80, 0, 0, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(peer.Transact(write, 8), WithCrc({1, 16, 0x1B, 0x58, 0, 2}));
    EXPECT_EQ(sim->Register(7000), 0x3F800000u);
    EXPECT_EQ(peer.Transact(ReadRequest(1, 7000, 2), 13),
              WithCrc({1, 3, 8, 0x3F, 0x80, 0, 0, 0x12, 0x34, 0x56, 0x78}));
    // A block starting at 6999 has 2-byte registers throughout.
    EXPECT_EQ(peer.Transact(ReadRequest(1, 6999, 2), 9), WithCrc({1, 3, 4, 0, 0, 0, 0}));
    // One starting at 7999 has 4-byte registers throughout.
    EXPECT_EQ(peer.Transact(ReadRequest(1, 7999, 2), 13).size(), 13u);
    // A 2-byte write into a window register, as a 6999 block reaches it.
    peer.Transact(WriteRequest(1, 6999, {7, 8}), 8);
    EXPECT_EQ(sim->Register(7000), 8u);
    // A window write whose byte count is that of 2-byte registers is refused.
    Bytes narrow = WriteRequest(1, 7000, {1});
    EXPECT_EQ(peer.Transact(narrow, 5), ExceptionReply(1, 16, kIllegalValue));
}

TEST(SimulatorRtu, RequestLogListsEveryRequestInOrder) {
    auto sim = StartSim(PtyOptions());
    SerialPeer peer(sim->PtyPath(), 9600);
    peer.Transact(WriteRequest(1, 300, {5, 6}), 8);
    peer.Transact(ReadRequest(1, 2649, 1), 7);
    const auto log = sim->Requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].info.function, 16);
    EXPECT_EQ(log[0].info.address, 300);
    EXPECT_EQ(log[0].info.count, 2);
    EXPECT_EQ(log[0].info.values, (std::vector<uint32_t>{5, 6}));
    EXPECT_EQ(log[1].info.function, 3);
    EXPECT_EQ(log[1].info.address, 2649);
    EXPECT_EQ(log[1].transport, Transport::SerialRtu);
    sim->ClearRequests();
    EXPECT_TRUE(sim->Requests().empty());
}

TEST(SimulatorSerialLine, AnswersOnlyAtItsOwnSpeedAndParity) {
    SimulatorOptions options = PtyOptions();
    options.unit.line.baud = 4800;
    auto sim = StartSim(options);
    SerialPeer peer(sim->PtyPath(), 9600);
    EXPECT_TRUE(peer.Transact(ReadRequest(1, 2649, 1), 7).empty());
    peer.SetLine(4800, Parity::Odd);
    EXPECT_TRUE(peer.Transact(ReadRequest(1, 2649, 1), 7).empty());
    peer.SetLine(4800);
    EXPECT_EQ(peer.Transact(ReadRequest(1, 2649, 1), 7).size(), 7u);
}

TEST(SimulatorSerialLine, MismatchCanAnswerGarbage) {
    SimulatorOptions options = PtyOptions();
    options.mismatch_garbage = true;
    auto sim = StartSim(options);
    SerialPeer peer(sim->PtyPath(), 19200);
    const Bytes garbage = peer.Transact(ReadRequest(1, 2649, 1), 7);
    EXPECT_FALSE(garbage.empty());
    EXPECT_NE(Crc16(garbage), 0);
    EXPECT_TRUE(sim->Requests().empty());
}

TEST(SimulatorProbe, RtuProbeToAddressZeroGetsFiveBytesFromTheUnit) {
    SimulatorOptions options = PtyOptions();
    options.unit.line.unit = 7;
    auto sim = StartSim(options);
    SerialPeer peer(sim->PtyPath(), 9600);
    peer.Send({0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xE1, 0xDA});
    const Bytes reply = peer.Receive(8);
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(reply[0], 7);
    EXPECT_EQ(Crc16(reply), 0);
    // A broadcast write is carried out but not answered.
    EXPECT_TRUE(peer.Transact(WriteRequest(0, 10, {99}), 8).empty());
    EXPECT_EQ(sim->Register(10), 99u);
}

TEST(SimulatorProbe, SilentProbeOption) {
    SimulatorOptions options = PtyOptions();
    options.unit.silent_probe = true;
    auto sim = StartSim(options);
    SerialPeer peer(sim->PtyPath(), 9600);
    peer.Send({0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xE1, 0xDA});
    EXPECT_TRUE(peer.Receive(5).empty());
}

TEST(SimulatorAscii, ProbeAndRegistersInAscii) {
    SimulatorOptions options = PtyOptions();
    options.unit.line = {SerialMode::Ascii, 2400, Parity::Odd, 5};
    auto sim = StartSim(options);
    SerialPeer peer(sim->PtyPath(), 2400, Parity::Odd);
    const std::string probe = ":000800000000E1DA3D\r\n";
    peer.Send(Bytes(probe.begin(), probe.end()));
    const Bytes reply = peer.Receive(11);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), AsciiText({5, 0x88, 0x01}));

    const std::string write = AsciiText(WriteRequest(5, 100, {0x1234}));
    peer.Send(Bytes(write.begin(), write.end()));
    const Bytes written = peer.Receive(17);
    EXPECT_EQ(std::string(written.begin(), written.end()), AsciiText({5, 16, 0, 100, 0, 1}));
    // Address 0 in ASCII is answered from the unit's own address.
    const std::string read = AsciiText(ReadRequest(0, 100, 1));
    peer.Send(Bytes(read.begin(), read.end()));
    const Bytes answer = peer.Receive(15);
    EXPECT_EQ(std::string(answer.begin(), answer.end()), AsciiText({5, 3, 2, 0x12, 0x34}));
    // An RTU frame means nothing to an ASCII unit.
    EXPECT_TRUE(peer.Transact(ReadRequest(5, 100, 1), 7).empty());
}

TEST(SimulatorClock, ClockAndDateRunFromTheHostClockAndRollOver) {
    auto sim = StartSim(PtyOptions());
    SerialPeer peer(sim->PtyPath(), 9600);
    // The host's date register value and second of the day; read before and
    // after the unit's, so a run across midnight compares like with like.
    const auto host = [] {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        return std::pair<uint32_t, int>(
            tm.tm_mday * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_year % 100,
            tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
    };
    const auto before = host();
    const uint32_t unit_date = Value32(peer.Transact(ReadRequest(1, 4201, 2), 9));
    const uint32_t clock = Value32(peer.Transact(ReadRequest(1, 4203, 2), 9));
    const auto after = host();
    EXPECT_TRUE(unit_date == before.first || unit_date == after.first) << unit_date;
    const int unit_second =
        static_cast<int>(clock / 10000 * 3600 + clock / 100 % 100 * 60 + clock % 100);
    const int apart = std::abs(unit_second - before.second) % 86400;
    EXPECT_LE(std::min(apart, 86400 - apart), 2) << clock;

    // 23:59:59 on 28/02/23: a second later it is 1 March.
    EXPECT_EQ(peer.Transact(WriteRequest(1, 4201, {0x0004, 0x469F}) /* 280223 */, 8).size(), 8u);
    const uint32_t date = Value32(peer.Transact(ReadRequest(1, 4201, 2), 9));
    ASSERT_EQ(date, 280223u);
    peer.Transact(WriteRequest(1, 4203, {0x0003, 0x99B7}) /* 235959 */, 8);
    std::this_thread::sleep_for(1500ms);
    EXPECT_LT(Value32(peer.Transact(ReadRequest(1, 4203, 2), 9)), 10u);
    EXPECT_EQ(Value32(peer.Transact(ReadRequest(1, 4201, 2), 9)), 10323u);
    // A clock value that is no time of day is refused.
    EXPECT_EQ(peer.Transact(WriteRequest(1, 4203, {0, 9999}), 5),
              ExceptionReply(1, 16, kIllegalValue));
}

SimulatorOptions TcpOptions() {
    SimulatorOptions options;
    options.tcp_port = 0;
    options.rtu_tcp_port = 0;
    return options;
}

TEST(SimulatorTcp, ModbusTcpEchoesTheTransactionAndAnswersAddressZero) {
    SimulatorOptions options = TcpOptions();
    options.unit.line.unit = 9;
    options.registers = {{2649, 0}, {100, 0xBEEF}};
    auto sim = StartSim(options);
    ASSERT_GT(sim->ModbusTcpPort(), 0);
    TcpPeer peer(sim->ModbusTcpPort());
    ASSERT_TRUE(peer.ok());
    peer.Send({0x12, 0x34, 0, 0, 0, 6, 0, 3, 0, 100, 0, 1});
    EXPECT_EQ(peer.Receive(11), (Bytes{0x12, 0x34, 0, 0, 0, 5, 9, 3, 2, 0xBE, 0xEF}));
    // Two requests in one segment get two replies.
    peer.Send({0, 1, 0, 0, 0, 6, 9, 3, 0, 100, 0, 1, 0, 2, 0, 0, 0, 6, 9, 3, 0, 100, 0, 1});
    EXPECT_EQ(peer.Receive(22).size(), 22u);
    EXPECT_EQ(sim->Requests().back().transport, Transport::ModbusTcp);
}

TEST(SimulatorTcp, RtuOverTcpCarriesRtuFrames) {
    auto sim = StartSim(TcpOptions());
    TcpPeer peer(sim->RtuTcpPort());
    peer.Send(WithCrc(WriteRequest(1, 100, {0x0102})));
    EXPECT_EQ(peer.Receive(8), WithCrc({1, 16, 0, 100, 0, 1}));
    peer.Send(WithCrc(ReadRequest(1, 100, 1)));
    EXPECT_EQ(peer.Receive(7), WithCrc({1, 3, 2, 1, 2}));
}

}  // namespace
}  // namespace fc::sim::test
