#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "connection/connection.h"
#include "modbus/link_failure.h"
#include "modbus/messages.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using test::Bytes;
using test::FramePeer;
using test::ReplyChunk;
using test::WithCrc;

const Bytes kReadAt2649 = {0x01, 0x03, 0x0A, 0x59, 0x00, 0x01, 0x57, 0xC1};
const Bytes kReplyOne = {0x01, 0x03, 0x02, 0x00, 0x01, 0x79, 0x84};

test::Responder Reply(std::vector<ReplyChunk> chunks) {
    return [chunks](const Bytes&) { return chunks; };
}

class AttemptRule : public ::testing::Test, public test::SerialBench {
  protected:
    void SetUp() override {
        settings.Timeout = 0;  // each attempt fails at its first empty 20 ms read
        ASSERT_TRUE(OpenLink());
        StartPeer(FramePeer::Framing::Rtu, test::Silent());
    }
    int ReadOnce() {
        int value = -1;
        return master.ReadRegister16(2649, value);
    }
};

TEST_F(AttemptRule, RetryZeroMakesOneAttemptThenAsks) {
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_EQ(StopPeer().size(), 1u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, modbus_messages::kUnableToConnect);
    EXPECT_EQ(ui.messages[0].buttons, MessageButtons::RetryCancel);
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Stop);
}

TEST_F(AttemptRule, RetryThreeMakesFourAttemptsAndRetryInTheBoxThreeMore) {
    settings.Retry = 3;
    ui.QueueAnswer(MessageAnswer::Retry);
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_EQ(StopPeer().size(), 4u + 3u);
    EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(AttemptRule, RetryThreeCancelledAfterFourAttempts) {
    settings.Retry = 3;
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_EQ(StopPeer().size(), 4u);
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(AttemptRule, NegativeRetryMakesOneAttemptWithoutAsking) {
    settings.Retry = -1;
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_EQ(StopPeer().size(), 1u);
    EXPECT_TRUE(ui.messages.empty());
}

// A hand-edited profile's Retry of 30000 must not keep the box (and Cancel)
// away for hours: it counts as the dialog's largest, 100.
TEST_F(AttemptRule, RetryBeyondTheDialogsBoundAsksAfterAHundredAndOneAttempts) {
    settings.Retry = 30000;
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_EQ(StopPeer().size(), 101u);
    EXPECT_EQ(ui.messages.size(), 1u);
}

// With Retry 0 the box's Retry would otherwise end the transaction as Cancel does.
TEST_F(AttemptRule, RetryInTheBoxWithRetryZeroStillTriesAgain) {
    ui.QueueAnswer(MessageAnswer::Retry);
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_EQ(StopPeer().size(), 2u);
    EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(AttemptRule, ClosedLinkFailsAtOnceWithoutTrafficOrBox) {
    links.LinkOpen = 0;
    master.TxText = "left";
    EXPECT_EQ(ReadOnce(), 0);
    settings.ModbusType = kModbusAscii;
    EXPECT_EQ(ReadOnce(), 0);
    EXPECT_TRUE(StopPeer().empty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AttemptRule, ClosingThePortDropsOpenStateAndTheLink) {
    master.OpenState = 1;
    ClosePort(master);
    EXPECT_EQ(master.OpenState, 0);
    EXPECT_EQ(links.LinkOpen, 0);
    EXPECT_FALSE(master.IsOpen());
}

class Rtu : public ::testing::Test, public test::SerialBench {
  protected:
    void SetUp() override {
        settings.Timeout = 2;
        ASSERT_TRUE(OpenLink());
    }
};

TEST_F(Rtu, IntactReadShowsBothFramesAsText) {
    StartPeer(FramePeer::Framing::Rtu, Reply({{kReplyOne}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(master.TxText, " 01 03 0A 59 00 01 57 C1");
    EXPECT_EQ(master.RxText, " 01 03 02 00 01 79 84");
    EXPECT_EQ(master.RxLength, 7);
    EXPECT_EQ(StopPeer(), std::vector<Bytes>{kReadAt2649});
}

TEST_F(Rtu, LongFrameShowsOnlyItsFirstSevenBytes) {
    test::RegisterBank bank;
    StartPeer(FramePeer::Framing::Rtu, test::RtuBank(bank));
    uint8_t data[32] = {};
    EXPECT_EQ(master.WriteRegisterBlock(100, data, 16), 1);
    EXPECT_EQ(master.TxText, " 01 10 00 64 00 10 20");
    const auto requests = StopPeer();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].size(), 41u);
}

TEST_F(Rtu, BroadcastWriteSucceedsWithoutReading) {
    settings.UnitId = 0;
    StartPeer(FramePeer::Framing::Rtu, Reply({{WithCrc({0, 16, 0x0A, 0x59, 0, 1})}}));
    EXPECT_EQ(master.WriteRegister16(2649, 1), 1);
    EXPECT_EQ(master.RxText, modbus_messages::kBroadcastNotice);
    EXPECT_EQ(master.RxLength, 0);
    EXPECT_EQ(master.TxText.substr(0, 3), " 00");
    EXPECT_EQ(StopPeer().size(), 1u);
}

TEST_F(Rtu, CorruptedLastByteFailsButShowsWhatCame) {
    Bytes corrupted = kReplyOne;
    corrupted.back() ^= 0x01;
    StartPeer(FramePeer::Framing::Rtu, Reply({{corrupted}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(master.RxText, " 01 03 02 00 01 79 85");
    EXPECT_EQ(master.RxLength, 7);
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(Rtu, ExceptionReplyEndsTheRetriesAtOnce) {
    settings.Timeout = 1;
    settings.Retry = 1;
    StartPeer(FramePeer::Framing::Rtu, Reply({{WithCrc({0x01, 0x83, 0x02})}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(master.ExceptionCode, 2);
    EXPECT_EQ(StopPeer().size(), 1u);
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{modbus_messages::kUnableToConnect});
}

TEST_F(Rtu, StrayByteIsDroppedWhenAWholeReplyFollowsInTheNextChunk) {
    // The gap outlasts one 20 ms read, so the stray byte is a chunk of its own.
    StartPeer(FramePeer::Framing::Rtu, Reply({{{0xFF}}, {kReplyOne, 60}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(master.RxLength, 7);
}

// Noise in front of the unit's address is no reply and is dropped, in the
// same chunk as the reply as much as in a chunk of its own.
TEST_F(Rtu, StrayByteInTheSameChunkIsDroppedInFrontOfTheReply) {
    Bytes noisy{0xFF};
    noisy.insert(noisy.end(), kReplyOne.begin(), kReplyOne.end());
    StartPeer(FramePeer::Framing::Rtu, Reply({{noisy}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 1);
}

TEST_F(Rtu, ReplyInSeveralChunksWithShortGaps) {
    StartPeer(FramePeer::Framing::Rtu,
              Reply({{{0x01, 0x03}}, {{0x02, 0x00}, 50}, {{0x01, 0x79, 0x84}, 50}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(master.RxText, " 01 03 02 00 01 79 84");
}

// Bytes behind a whole reply, in its chunk or written right after it, are
// noise (an RS-485 transmitter letting go of the line): the reply stands and
// the noise is dropped before the next request.
TEST_F(Rtu, SurplusBehindAWholeReplyIsDroppedAndTheReplyStands) {
    Bytes longer = kReplyOne;
    longer.push_back(0);
    for (const auto& chunks : {std::vector<ReplyChunk>{{longer}},
                               std::vector<ReplyChunk>{{kReplyOne}, {{0x00, 0x00}}}}) {
        StartPeer(FramePeer::Framing::Rtu, Reply(chunks));
        for (int read = 0; read < 2; ++read) {
            int value = -1;
            EXPECT_EQ(master.ReadRegister16(2649, value), 1);
            EXPECT_EQ(value, 1);
        }
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Rtu, ByteLongAfterAWholeReplyIsLeftToTheNextRequestsDrain) {
    // Far past the end of the frame: the reply stands, and the stale byte
    // must not spoil the next transaction either.
    StartPeer(FramePeer::Framing::Rtu, [](const Bytes& request) {
        std::vector<ReplyChunk> reply{{WithCrc({0x01, 0x03, 0x02, 0x00, request[3]})}};
        reply.push_back({{0xEE}, 200});
        return reply;
    });
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 0x59);
    ASSERT_TRUE(master.WaitReadable(std::chrono::seconds(2)));  // the stale byte is in
    EXPECT_EQ(master.ReadRegister16(2650, value), 1);
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(master.RxText, " 01 03 02 00 5A 38 7F");
    EXPECT_TRUE(ui.messages.empty());
}

// A run that ends right after its reply leaves that reply's repetition on its
// way; the next run, a driver of its own on the same port, does not take it
// for its answer.
TEST_F(Rtu, ARepeatOfTheLastRunsReplyAnswersNoRequestOfTheNextRun) {
    StartPeer(FramePeer::Framing::Rtu, [](const Bytes& request) {
        const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x00, request[3]});
        return std::vector<ReplyChunk>{{reply}, {reply, 10}};
    });
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    ClosePort(master);
    test::DriverBench next;
    next.devices = devices;
    ASSERT_TRUE(next.OpenSerial());
    EXPECT_EQ(next.master.ReadRegister16(2650, value), 1);
    EXPECT_EQ(value, 0x5A);
}

class Ascii : public ::testing::Test, public test::SerialBench {
  protected:
    void SetUp() override {
        settings.Timeout = 2;
        settings.ModbusType = kModbusAscii;
        ASSERT_TRUE(OpenLink());
    }
};

TEST_F(Ascii, UnitZeroAdoptsTheAnsweringUnit) {
    settings.UnitId = 0;
    StartPeer(FramePeer::Framing::Ascii, Reply({{test::AsciiText({5, 3, 2, 0x12, 0x34})}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(settings.UnitId, 5);
    EXPECT_EQ(master.RxLength, 6);
    const auto requests = StopPeer();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0][0], 0);  // asked as unit 0
}

TEST_F(Ascii, LowerCaseDigitsAccepted) {
    StartPeer(FramePeer::Framing::Ascii,
              Reply({{test::AsciiText({1, 3, 2, 0xAB, 0xCD}, /*lowerCase=*/true)}}));
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 0xABCD);
}

TEST_F(Ascii, LetterGRefusedAndTrafficTextsShowThisTransaction) {
    Bytes text = test::AsciiText({1, 3, 2, 0x00, 0x01});
    text[8] = 'G';
    StartPeer(FramePeer::Framing::Ascii, Reply({{text}}));
    master.TxText = " AA";
    master.RxText = " BB";
    int value = -1;
    EXPECT_EQ(master.ReadRegister16(2649, value), 0);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(master.TxText, " 01 03 0A 59 00 01 98");
    EXPECT_EQ(master.RxText, " 01 03 02");
}

TEST_F(Ascii, NoiseBeforeTheColonAndTheRequestText) {
    Bytes text{'x', 'y'};
    const Bytes reply = test::AsciiText({1, 0x10, 0, 0x64, 0, 1});
    text.insert(text.end(), reply.begin(), reply.end());
    StartPeer(FramePeer::Framing::Ascii, Reply({{text}}));
    EXPECT_EQ(master.WriteRegister16(100, 0x1234), 1);
    EXPECT_EQ(std::string(master.AsciiTxBuffer, 23), ":01100064000102123442\r\n");
}

TEST_F(Ascii, OddDigitCountAndBadLrcFail) {
    Bytes odd = test::AsciiText({1, 3, 2, 0, 1});
    odd.erase(odd.begin() + 3);
    Bytes bad_lrc = test::AsciiText({1, 3, 2, 0, 1});
    bad_lrc[bad_lrc.size() - 3] = bad_lrc[bad_lrc.size() - 3] == '0' ? '1' : '0';
    for (const Bytes& reply : {odd, bad_lrc}) {
        test::SerialBench bench;
        bench.settings.ModbusType = kModbusAscii;
        ASSERT_TRUE(bench.OpenLink());
        bench.StartPeer(FramePeer::Framing::Ascii, Reply({{reply}}));
        int value = -1;
        EXPECT_EQ(bench.master.ReadRegister16(2649, value), 0);
        EXPECT_EQ(bench.ui.messages.size(), 1u);
    }
}

// The CPU time this process has used, from /proc as top reads it.
double ProcessCpuSeconds() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14)
            ticks += std::stol(field);  // utime, stime
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A USB adapter unplugged, then plugged back behind the same link: while it is
// away every attempt of the budget waits its time out without spinning and
// the box says where it went; once it is back, the next request reaches it.
TEST(VanishedPort, EveryAttemptWaitsWithoutSpinningAndTheReturnedDeviceIsUsed) {
    const std::string link = ::testing::TempDir() + "fcloader-adapter-" + std::to_string(::getpid());
    auto adapter = std::make_unique<test::PtyPair>();
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(adapter->path.c_str(), link.c_str()), 0);
    test::DriverBench bench;
    bench.devices = {link};
    bench.settings.Retry = 2;
    ASSERT_TRUE(bench.OpenSerial());

    adapter.reset();  // unplugged: the device and its link are gone
    ::unlink(link.c_str());
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = ProcessCpuSeconds();
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 0);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(wall, 2.9);  // three attempts of a second each
    EXPECT_LT(ProcessCpuSeconds() - cpu_start, 0.02 * wall);
    EXPECT_EQ(bench.ui.MessageTexts(),
              std::vector<std::string>{WithReason(modbus_messages::kUnableToConnect,
                                                  link + ": No such file or directory.")});

    test::PtyPair back;  // plugged in again
    ASSERT_EQ(::symlink(back.path.c_str(), link.c_str()), 0);
    FramePeer unit(back.master, FramePeer::Framing::Rtu, Reply({{kReplyOne}}));
    EXPECT_EQ(bench.master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 1);
    unit.Stop();
    ::unlink(link.c_str());
}

}  // namespace
}  // namespace fc
