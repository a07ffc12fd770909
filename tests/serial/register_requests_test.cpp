#include <gtest/gtest.h>

#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using test::Bytes;
using test::FramePeer;

class Requests : public ::testing::Test, public test::SerialBench {
  protected:
    void SetUp() override {
        settings.Timeout = 2;
        ASSERT_TRUE(OpenLink());
        StartPeer(FramePeer::Framing::Rtu, test::RtuBank(bank));
    }
    // The request frames the unit received, without their CRC.
    std::vector<Bytes> Frames() {
        std::vector<Bytes> frames = StopPeer();
        for (Bytes& frame : frames)
            frame.resize(frame.size() - 2);
        return frames;
    }
    test::RegisterBank bank;
};

TEST_F(Requests, SixteenBitValuesWithoutSignAndTruncated) {
    bank[10] = 0xFFFF;
    int value = 0;
    EXPECT_EQ(master.ReadRegister16(10, value), 1);
    EXPECT_EQ(value, 65535);
    EXPECT_EQ(master.WriteRegister16(100, 70000), 1);
    EXPECT_EQ(master.WriteRegister16(101, -1), 1);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], (Bytes{1, 0x10, 0, 100, 0, 1, 2, 0x11, 0x70}));
    EXPECT_EQ(frames[2], (Bytes{1, 0x10, 0, 101, 0, 1, 2, 0xFF, 0xFF}));
}

TEST_F(Requests, ThirtyTwoBitRoundTripOverTwoRegisters) {
    EXPECT_EQ(master.WriteRegister32(7100, 0x12345678), 1);
    EXPECT_EQ(bank[7100], 0x1234);
    EXPECT_EQ(bank[7101], 0x5678);
    int value = 0;
    bank[300] = 0x1234;
    bank[301] = 0x5678;
    EXPECT_EQ(master.ReadRegister32(300, value), 1);
    EXPECT_EQ(value, 0x12345678);
    bank[302] = 0xFFFF;
    bank[303] = 0xFFFE;
    EXPECT_EQ(master.ReadRegister32(302, value), 1);
    EXPECT_EQ(value, -2);
    const auto frames = Frames();
    EXPECT_EQ(frames[0], (Bytes{1, 0x10, 0x1B, 0xBC, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}));
}

TEST_F(Requests, FloatsAreOneRegisterOfFourBytesAnywhere) {
    EXPECT_EQ(master.WriteRegisterFloat(100, 1.0), 1);
    EXPECT_EQ(master.WriteRegisterFloat(7000, 1.0), 1);
    bank[400] = 0x3F80;
    bank[401] = 0x0000;
    double value = 0;
    // Outside the window the bank answers 2 bytes for one register, so the
    // read only succeeds where a 4-byte register is.
    EXPECT_EQ(master.ReadRegisterFloat(7000, value), 1);
    EXPECT_EQ(value, 1.0);
    const auto frames = Frames();
    EXPECT_EQ(frames[0], (Bytes{1, 0x10, 0, 100, 0, 1, 4, 0x3F, 0x80, 0, 0}));
    EXPECT_EQ(frames[1], (Bytes{1, 0x10, 0x1B, 0x58, 0, 1, 4, 0x3F, 0x80, 0, 0}));
    EXPECT_EQ(frames[2], (Bytes{1, 3, 0x1B, 0x58, 0, 1}));
}

TEST_F(Requests, FloatCodecBothWays) {
    uint8_t wire[4];
    FloatToWire(-2.5, wire);
    EXPECT_EQ(Bytes(wire, wire + 4), (Bytes{0xC0, 0x20, 0, 0}));
    EXPECT_EQ(FloatFromWire(wire), -2.5);
    const FloatLayout low_word_first{false, true};
    FloatToWire(-2.5, wire, low_word_first);
    EXPECT_EQ(Bytes(wire, wire + 4), (Bytes{0, 0, 0xC0, 0x20}));
    EXPECT_EQ(FloatFromWire(wire, low_word_first), -2.5);
}

TEST_F(Requests, FailedReadsLeaveTheirOutValuesAsEachRequestDefines) {
    links.LinkOpen = 0;
    int value16 = 7;
    int value32 = 7;
    double value_float = 7.0;
    uint8_t block[4] = {9, 9, 9, 9};
    EXPECT_EQ(master.ReadRegister16(1, value16), 0);
    EXPECT_EQ(master.ReadRegister32(1, value32), 0);
    EXPECT_EQ(master.ReadRegisterFloat(1, value_float), 0);
    EXPECT_EQ(master.ReadRegisterBlock(1, block, 2), 0);
    EXPECT_EQ(value16, 0);
    EXPECT_EQ(value32, 7);
    EXPECT_EQ(value_float, 0.0);
    EXPECT_EQ(Bytes(block, block + 4), (Bytes{9, 9, 9, 9}));
}

TEST_F(Requests, WindowWidthDependsOnTheStartAddressOnly) {
    uint8_t block[8];
    const struct {
        int start;
        int byte_count;
    } cases[] = {{6999, 4}, {7000, 8}, {7999, 8}, {8000, 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(master.ReadRegisterBlock(c.start, block, 2), 1) << c.start;
        EXPECT_EQ(master.RegisterCount, 2);
        EXPECT_EQ(master.ByteCount, c.byte_count) << c.start;
        EXPECT_EQ(master.RxLength, c.byte_count + 5);
    }
    bank[7000] = 0xA1B2;
    EXPECT_EQ(master.ReadRegisterBlock(7000, block, 1), 1);
    EXPECT_EQ(Bytes(block, block + 4), (Bytes{0xA1, 0xB2, 0x1B, 0x59}));
}

TEST_F(Requests, BlockCountsAtTheLimits) {
    std::vector<uint8_t> block(300);
    master.StartAddress = 42;
    EXPECT_EQ(master.ReadRegisterBlock(100, block.data(), 0), 0);
    EXPECT_EQ(master.ReadRegisterBlock(100, block.data(), 32767), 0);
    EXPECT_EQ(master.WriteRegisterBlock(100, block.data(), 0), 0);
    EXPECT_EQ(master.WriteRegisterBlock(100, block.data(), 32767), 0);
    EXPECT_EQ(master.StartAddress, 42);  // nothing set

    EXPECT_EQ(master.ReadRegisterBlock(100, block.data(), 127), 1);
    EXPECT_EQ(block[253], 226);  // register 226, low byte
    EXPECT_EQ(master.ReadRegisterBlock(300, block.data(), 128), 0);
    EXPECT_EQ(master.ByteCount, 256);  // set, drained, but not sent
    EXPECT_EQ(master.ReadRegisterBlock(7000, block.data(), 64), 0);
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Requests, BlockWriteLargerThanTheFrameIsRefusedUnsent) {
    std::vector<uint8_t> data(kMaxWriteByteCount);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    // 125 registers would be 250 bytes; the caller's 248 are never read past.
    EXPECT_EQ(master.WriteRegisterBlock(100, data.data(), 125), 0);
    EXPECT_EQ(master.WriteRegisterBlock(7000, data.data(), 63), 0);
    EXPECT_EQ(master.WriteRegisterBlock(100, data.data(), 124), 1);
    EXPECT_EQ(master.WriteRegisterBlock(7000, data.data(), 62), 1);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].size(), 255u);
    EXPECT_EQ(frames[0][6], 248);
    EXPECT_EQ(bank[100 + 123], (246 << 8) | 247);
}

TEST_F(Requests, DrainThrowsAwayStaleInputFirst) {
    const uint8_t stale[] = {0x01, 0x03, 0x02, 0x99, 0x99};
    ASSERT_EQ(::write(pty.master, stale, sizeof stale), 5);
    while (master.BytesWaiting() < 5)
        master.WaitReadable(10);
    int value = 0;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 2649);
}

TEST_F(Requests, AddressesGoOutAsTheirLowSixteenBits) {
    int value = 0;
    EXPECT_EQ(master.ReadRegister16(65536 + 5, value), 1);
    EXPECT_EQ(master.ReadRegister16(-1, value), 1);
    const auto frames = Frames();
    EXPECT_EQ(frames[0], (Bytes{1, 3, 0, 5, 0, 1}));
    EXPECT_EQ(frames[1], (Bytes{1, 3, 0xFF, 0xFF, 0, 1}));
}

}  // namespace
}  // namespace fc
