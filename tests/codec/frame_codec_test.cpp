#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "modbus/frame_codec.h"

namespace fc {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RtuFrame(const PendingRequest& request, uint8_t unit) {
    std::array<uint8_t, kTxBufferSize> tx{};
    const int n = BuildRequest(request, unit, tx);
    EXPECT_GT(n, 0);
    const size_t total = AppendCrc16(tx, static_cast<size_t>(n));
    return Bytes(tx.begin(), tx.begin() + total);
}

std::string AsciiFrame(const PendingRequest& request, uint8_t unit) {
    std::array<uint8_t, kTxBufferSize> tx{};
    const int n = BuildRequest(request, unit, tx);
    EXPECT_GT(n, 0);
    tx[n] = Lrc(std::span(tx).first(n));
    std::array<char, kAsciiTxBufferSize> ascii{};
    ascii[0] = ':';
    const int chars = EncodeAscii(std::span(tx).first(n + 1), ascii);
    EXPECT_EQ(chars, 2 * (n + 1) + 3);
    return std::string(ascii.data(), chars);
}

Bytes MbapFrame(const PendingRequest& request, uint8_t unit) {
    std::array<uint8_t, kTxBufferSize> tx{};
    const int total = BuildMbapRequest(request, unit, tx);
    EXPECT_GT(total, 0);
    return Bytes(tx.begin(), tx.begin() + total);
}

const uint8_t kData1234[] = {0x12, 0x34};
PendingRequest ReadAt2649() {
    return {kReadHoldingRegisters, 2649, 1, 2, nullptr};
}
PendingRequest WriteAt100() {
    return {kWriteMultipleRegisters, 100, 1, 2, kData1234};
}

TEST(FrameCodec, ReadAt2649InEveryWireForm) {
    EXPECT_EQ(RtuFrame(ReadAt2649(), 1), (Bytes{0x01, 0x03, 0x0A, 0x59, 0x00, 0x01, 0x57, 0xC1}));
    EXPECT_EQ(AsciiFrame(ReadAt2649(), 1), ":01030A59000198\r\n");
    EXPECT_EQ(MbapFrame(ReadAt2649(), 1),
              (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x0A, 0x59, 0x00, 0x01}));
    EXPECT_EQ(ExpectedReplyLength(Framing::Rtu, 3, 2), 7);
    EXPECT_EQ(ExpectedReplyLength(Framing::Encapsulated, 3, 2), 7);
    EXPECT_EQ(ExpectedReplyLength(Framing::Ascii, 3, 2), 6);
    EXPECT_EQ(ExpectedReplyLength(Framing::ModbusTcp, 3, 2), 11);
}

TEST(FrameCodec, WriteAt100InEveryWireForm) {
    EXPECT_EQ(RtuFrame(WriteAt100(), 1),
              (Bytes{0x01, 0x10, 0x00, 0x64, 0x00, 0x01, 0x02, 0x12, 0x34, 0xA3, 0x03}));
    EXPECT_EQ(AsciiFrame(WriteAt100(), 1), ":01100064000102123442\r\n");
    EXPECT_EQ(MbapFrame(WriteAt100(), 1), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x01, 0x10,
                                                 0x00, 0x64, 0x00, 0x01, 0x02, 0x12, 0x34}));
    EXPECT_EQ(ExpectedReplyLength(Framing::Rtu, 16, 2), 8);
    EXPECT_EQ(ExpectedReplyLength(Framing::Encapsulated, 16, 2), 8);
    EXPECT_EQ(ExpectedReplyLength(Framing::Ascii, 16, 2), 7);
    EXPECT_EQ(ExpectedReplyLength(Framing::ModbusTcp, 16, 2), 12);
}

TEST(FrameCodec, OnlyLow16BitsOfAddressAndCountAndLow8OfUnitAreSent) {
    PendingRequest request{kReadHoldingRegisters, 0x12A59, 0x10001, 2, nullptr};
    std::array<uint8_t, kTxBufferSize> tx{};
    ASSERT_EQ(BuildRequest(request, static_cast<uint8_t>(0x101), tx), 6);
    EXPECT_EQ(Bytes(tx.begin(), tx.begin() + 6), (Bytes{0x01, 0x03, 0x2A, 0x59, 0x00, 0x01}));
    request.StartAddress = -1;
    ASSERT_EQ(BuildRequest(request, 1, tx), 6);
    EXPECT_EQ(tx[2], 0xFF);
    EXPECT_EQ(tx[3], 0xFF);
}

TEST(FrameCodec, UnknownFunctionBuildsNothing) {
    PendingRequest request{4, 0, 0, 0, nullptr};
    std::array<uint8_t, kTxBufferSize> tx{};
    EXPECT_EQ(BuildRequest(request, 1, tx), 0);
    EXPECT_EQ(ExpectedReplyLength(Framing::Rtu, 4, 0), 8);
    EXPECT_EQ(ExpectedReplyLength(Framing::Ascii, 4, 0), 0);
}

TEST(Crc16, CheckValuesAndFrameBytes) {
    const std::string digits = "123456789";
    const uint16_t check =
        Crc16(std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()));
    EXPECT_EQ(check, 0x374B);  // register 0x4B37, bytes swapped: wire bytes 37 4B
    const uint8_t diagnostics[] = {0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Crc16(diagnostics), 0xE1DA);
}

TEST(Crc16, AnySingleBitFlipInAValidReplyIsDetected) {
    const Bytes reply = {0x01, 0x03, 0x02, 0x00, 0x01, 0x79, 0x84};
    ASSERT_EQ(Crc16(reply), 0);
    for (size_t byte = 0; byte < reply.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes flipped = reply;
            flipped[byte] ^= static_cast<uint8_t>(1u << bit);
            EXPECT_NE(Crc16(flipped), 0) << "byte " << byte << " bit " << bit;
        }
    }
}

TEST(Lrc, ReferenceValues) {
    const uint8_t read[] = {0x01, 0x03, 0x0A, 0x59, 0x00, 0x01};
    EXPECT_EQ(Lrc(read), 0x98);
    const uint8_t write[] = {0x01, 0x10, 0x00, 0x64, 0x00, 0x01, 0x02, 0x12, 0x34};
    EXPECT_EQ(Lrc(write), 0x42);
    const uint8_t probe[] = {0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xE1, 0xDA};
    EXPECT_EQ(Lrc(probe), 0x3D);
}

AsciiDecodeResult Decode(const std::string& text, Bytes& out) {
    std::array<uint8_t, kRxBufferSize> rx{};
    const AsciiDecodeResult result = DecodeAscii(std::span(text.data(), text.size()), rx);
    out.assign(rx.begin(), rx.begin() + result.count);
    return result;
}

TEST(AsciiDecode, LowerCaseDigitsAcceptedAndSumIsZero) {
    Bytes bytes;
    const AsciiDecodeResult result = Decode(":0103020001f9\r\n", bytes);
    EXPECT_FALSE(result.odd);
    EXPECT_FALSE(result.invalid);
    EXPECT_EQ(bytes, (Bytes{0x01, 0x03, 0x02, 0x00, 0x01, 0xF9}));
    EXPECT_EQ(ByteSum(bytes), 0);
}

TEST(AsciiDecode, OddCountInvalidCharactersAndShortTexts) {
    Bytes bytes;
    AsciiDecodeResult result = Decode(":0103020001F\r\n", bytes);
    EXPECT_TRUE(result.odd);
    EXPECT_EQ(result.count, 0u);

    result = Decode(":01G3020001F9\r\n", bytes);
    EXPECT_TRUE(result.invalid);
    EXPECT_EQ(bytes, (Bytes{0x01}));  // decoding ends at the first invalid character

    result = Decode(":\r\n", bytes);
    EXPECT_FALSE(result.invalid);
    EXPECT_EQ(result.count, 0u);

    result = Decode("\r\n", bytes);
    EXPECT_TRUE(result.invalid);
}

TEST(AsciiDecode, NeverWritesPastTheBuffer) {
    std::string text = ":" + std::string(40, 'A') + "\r\n";
    std::array<uint8_t, 8> small{};
    const AsciiDecodeResult result = DecodeAscii(std::span(text.data(), text.size()), small);
    EXPECT_TRUE(result.invalid);
    EXPECT_EQ(result.count, small.size());
}

TEST(OversizedWrite, RefusedAtEveryLimitWithoutWritingPastBuffers) {
    std::vector<uint8_t> data(300, 0xAB);
    PendingRequest request{kWriteMultipleRegisters, 20000, 124, kMaxWriteByteCount, data.data()};

    // The largest request that fits: 248 data bytes, a 255-byte frame.
    std::array<uint8_t, kTxBufferSize> tx{};
    EXPECT_EQ(BuildRequest(request, 1, tx), kMaxRequestFrame);
    EXPECT_EQ(BuildMbapRequest(request, 1, tx), kMaxRequestFrame + 6);
    EXPECT_EQ(tx[5], 255);
    EXPECT_EQ(AsciiFrame(request, 1).size(), 2u * 256 + 3);

    for (int byte_count : {kMaxWriteByteCount + 1, 255, 256, 300, -1}) {
        request.ByteCount = byte_count;
        EXPECT_EQ(RequestFrameLength(request), -1) << byte_count;
        EXPECT_EQ(BuildRequest(request, 1, tx), -1) << byte_count;
        EXPECT_EQ(BuildMbapRequest(request, 1, tx), -1) << byte_count;
    }

    // A buffer too small for a frame that is otherwise fine is refused too.
    request.ByteCount = 100;
    std::array<uint8_t, 50> small{};
    EXPECT_EQ(BuildRequest(request, 1, small), -1);

    // Data promised but missing.
    request.Data = nullptr;
    EXPECT_EQ(BuildRequest(request, 1, tx), -1);

    // The ASCII text of too many bytes is refused rather than truncated.
    std::array<char, kAsciiTxBufferSize> ascii{};
    EXPECT_EQ(EncodeAscii(std::span(data).first(258), ascii), -1);
    EXPECT_EQ(EncodeAscii(std::span(data).first(257), ascii), 517);
}

TEST(ReverseBytes, InPlaceAndCopy) {
    uint8_t bytes[] = {1, 2, 3, 4};
    ReverseBytes(bytes, bytes, 4);
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{4, 3, 2, 1}));
    uint8_t out[4] = {};
    ReverseBytes(out, bytes, 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace fc
