#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modbus/frame_trace.h"

namespace fc {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Describe(Framing framing, TrafficDirection direction, const Bytes& wire) {
    return DescribeFrame(framing, direction, wire);
}

std::string DescribeText(const std::string& text, TrafficDirection direction) {
    const Bytes wire(text.begin(), text.end());
    return DescribeFrame(Framing::Ascii, direction, wire);
}

constexpr auto kSent = TrafficDirection::Sent;
constexpr auto kReceived = TrafficDirection::Received;

TEST(FrameTrace, RequestsAndRepliesInEveryFraming) {
    EXPECT_EQ(Describe(Framing::Rtu, kSent, {0x01, 0x03, 0x0A, 0x59, 0x00, 0x01, 0x57, 0xC1}),
              "unit 1, read holding registers at 2649 (loader version), count 1; CRC ok");
    EXPECT_EQ(Describe(Framing::Rtu, kReceived, {0x01, 0x03, 0x02, 0x00, 0x01, 0x79, 0x84}),
              "unit 1, read reply, 2 data bytes; CRC ok");
    EXPECT_EQ(Describe(Framing::Encapsulated, kSent,
                       {0x01, 0x10, 0x00, 0x64, 0x00, 0x01, 0x02, 0x12, 0x34, 0xA3, 0x03}),
              "unit 1, write registers at 100, count 1, 2 data bytes; CRC ok");
    EXPECT_EQ(DescribeText(":01100064000102123442\r\n", kSent),
              "unit 1, write registers at 100, count 1, 2 data bytes; LRC ok");
    EXPECT_EQ(
        Describe(Framing::ModbusTcp, kSent, {0, 0, 0, 0, 0, 6, 0x01, 0x03, 0x0A, 0x59, 0x00, 0x01}),
        "transaction 0, length 6, unit 1, read holding registers at 2649 (loader version), count "
        "1");
    EXPECT_EQ(Describe(Framing::Rtu, kSent, {0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xE1, 0xDA}),
              "unit 0, diagnostics, sub-function 0; CRC ok");
}

// The loader's registers by name, as the download uses them (unit 1, RTU).
TEST(FrameTrace, LoaderRegistersAreNamed) {
    const struct {
        Bytes pdu;
        const char* meaning;
    } rows[] = {
        {{0x10, 0x0A, 0x59, 0, 1, 2, 0, 1}, "write registers at 2649 (download mode = 1), count 1"},
        {{0x10, 0x0A, 0x5A, 0, 2, 4, 0, 1, 0, 5},
         "write registers at 2650 (flash command, sector number = 1, 5), count 2"},
        {{0x10, 0x0A, 0x5B, 0, 1, 2, 0, 7}, "write registers at 2651 (sector number = 7), count 1"},
        {{0x10, 0x0A, 0x03, 0, 1, 2, 0, 5}, "write registers at 2563 (loader speed = 5), count 1"},
        {{0x03, 0x0A, 0x5A, 0, 1}, "read holding registers at 2650 (flash status), count 1"},
        {{0x10, 0x4E, 0x90, 0, 64, 128}, "write registers at 20112 (sector buffer), count 64"},
        {{0x10, 0x0A, 0x5B, 0, 2, 4, 0, 7, 0, 0},
         "write registers at 2651 (sector number = 7), count 2"},
        {{0x03, 0x0A, 0x58, 0, 1}, "read holding registers at 2648, count 1"},
    };
    for (const auto& row : rows) {
        Bytes frame = {0x01};
        frame.insert(frame.end(), row.pdu.begin(), row.pdu.end());
        frame.resize(frame.size() + 2);
        AppendCrc16(frame, frame.size() - 2);
        const std::string meaning = Describe(Framing::Rtu, kSent, frame);
        EXPECT_EQ(meaning.find(std::string("unit 1, ") + row.meaning), 0u) << meaning;
    }
}

TEST(FrameTrace, ExceptionsAndDamagedFrames) {
    Bytes exception = {0x01, 0x83, 0x02, 0, 0};
    const uint16_t crc = Crc16(std::span(exception).first(3));
    exception[3] = static_cast<uint8_t>(crc >> 8);
    exception[4] = static_cast<uint8_t>(crc);
    EXPECT_EQ(Describe(Framing::Rtu, kReceived, exception),
              "unit 1, exception to function 3: Illegal data address; CRC ok");
    exception[4] ^= 1;
    EXPECT_NE(Describe(Framing::Rtu, kReceived, exception).find("CRC BAD"), std::string::npos);
    EXPECT_EQ(Describe(Framing::Rtu, kReceived, {0x01}), "1 bytes: too short for a frame");
    EXPECT_EQ(DescribeText(":0103020001F\r\n", kReceived), "odd number of hex characters");
    EXPECT_EQ(DescribeText(":01G3020001F9\r\n", kReceived), "invalid character in the frame");
    EXPECT_NE(DescribeText(":0103020001F8\r\n", kReceived).find("LRC BAD"), std::string::npos);
    EXPECT_EQ(ExceptionName(99), "exception 99");
}

TEST(FrameTrace, LineCarriesTimeDirectionAndBytes) {
    const Bytes wire = {0x01, 0x03, 0x0A, 0x59, 0x00, 0x01, 0x57, 0xC1};
    const std::string line = TraceLine(Framing::Rtu, kSent, wire);
    // hh:mm:ss.mmm -> bytes [meaning]
    ASSERT_GT(line.size(), 13u);
    EXPECT_EQ(line[2], ':');
    EXPECT_EQ(line[8], '.');
    EXPECT_NE(line.find(" -> 01 03 0A 59 00 01 57 C1  [unit 1"), std::string::npos) << line;
    const std::string text = ":0103020000FA\r\n";
    const std::string ascii = TraceLine(Framing::Ascii, kReceived, Bytes(text.begin(), text.end()));
    EXPECT_NE(ascii.find(" <- :0103020000FA\\r\\n  [unit 1, read reply"), std::string::npos)
        << ascii;
}

// Whatever an ASCII peer sends reaches the terminal as printable ASCII only:
// no escape sequence can clear the screen and no line break can start a
// forged trace line.
TEST(FrameTrace, WireBytesOfAsciiFramesAreEscaped) {
    const struct {
        std::string wire;
        std::string shown;
    } cases[] = {
        {":01\x1b[2J\r\n", ":01\\x1B[2J\\r\\n"},
        {":01\n12:00:00.000 <- forged\r\n", ":01\\n12:00:00.000 <- forged\\r\\n"},
        {":01\\x1B\t\x7f\x9b\xff", ":01\\\\x1B\\t\\x7F\\x9B\\xFF"},
        {std::string(":0\0\x07", 4), ":0\\x00\\x07"},
    };
    for (const auto& c : cases) {
        const std::string line =
            TraceLine(Framing::Ascii, kReceived, Bytes(c.wire.begin(), c.wire.end()));
        EXPECT_NE(line.find(" <- " + c.shown + "  ["), std::string::npos) << line;
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](unsigned char ch) {
            return ch >= 0x20 && ch < 0x7F;
        })) << line;
    }
}

}  // namespace
}  // namespace fc
