#include "modbus/framing.h"

#include <algorithm>
#include <cstring>

namespace fc {

namespace {

constexpr FrameScan More() { return {FrameScan::Kind::More, 0}; }
constexpr FrameScan Whole(size_t length) { return {FrameScan::Kind::Frame, length}; }
constexpr FrameScan Noise(size_t length) { return {FrameScan::Kind::Noise, length}; }

// The length an RTU-form reply to `request` has when its function byte is
// `function` and, for a read, its byte count is `count`; 0 when such a
// function answers nothing we ask. The diagnostics probe takes five bytes
// whose CRC holds, the size of an exception reply: the echo a unit with
// diagnostics would give is the probe coming back, not an answer.
size_t RtuReplyLength(const PendingRequest& request, uint8_t function, int count) {
    if (request.FunctionCode == kDiagnostics)
        return 5;
    if (function == (request.FunctionCode | kExceptionBit))
        return 5;
    if (function == kReadHoldingRegisters && request.FunctionCode == kReadHoldingRegisters)
        return count < 0 ? 0 : size_t(count) + 5;
    if (function == kWriteMultipleRegisters && request.FunctionCode == kWriteMultipleRegisters)
        return 8;
    return 0;
}

int WrapRtu(std::span<const uint8_t> frame, uint16_t, std::span<uint8_t> wire) {
    if (frame.size() + 2 > wire.size())
        return -1;
    std::copy(frame.begin(), frame.end(), wire.begin());
    return static_cast<int>(AppendCrc16(wire, frame.size()));
}

// Bytes before the unit's address are noise (a transmitter letting go of the
// line); a frame whose CRC fails was no frame, and the scan moves one byte
// on, so a reply that follows garbage is still found.
FrameScan ScanRtu(std::span<const uint8_t> bytes, const PendingRequest& request, uint8_t unit) {
    if (bytes.empty())
        return More();
    if (unit != 0 && bytes[0] != unit) {
        const auto next = std::find(bytes.begin() + 1, bytes.end(), unit);
        return Noise(static_cast<size_t>(next - bytes.begin()));
    }
    if (bytes.size() < 3)
        return More();
    const size_t length = RtuReplyLength(request, bytes[1], bytes[2]);
    if (length == 0)
        return Noise(1);
    if (bytes.size() < length)
        return More();
    return Crc16(bytes.first(length)) == 0 ? Whole(length) : Noise(1);
}

bool UnwrapRtu(std::span<const uint8_t> frame, std::vector<uint8_t>& reply) {
    if (frame.size() < 4 || Crc16(frame) != 0)
        return false;
    reply.assign(frame.begin(), frame.end() - 2);
    return true;
}

int WrapAscii(std::span<const uint8_t> frame, uint16_t, std::span<uint8_t> wire) {
    std::vector<uint8_t> withLrc(frame.begin(), frame.end());
    withLrc.push_back(Lrc(frame));
    std::vector<char> text(wire.size());
    text[0] = ':';
    const int characters = EncodeAscii(withLrc, text);
    if (characters < 0)
        return -1;
    std::memcpy(wire.data(), text.data(), static_cast<size_t>(characters));
    return characters;
}

// A colon always starts a frame over; CR LF ends it. A text longer than the
// receive buffer holds is no frame.
FrameScan ScanAscii(std::span<const uint8_t> bytes, const PendingRequest&, uint8_t) {
    if (bytes.empty())
        return More();
    if (bytes[0] != ':') {
        const auto colon = std::find(bytes.begin(), bytes.end(), uint8_t{':'});
        return Noise(static_cast<size_t>(colon - bytes.begin()));
    }
    const size_t limit = std::min(bytes.size(), kAsciiRxBufferSize - 1);
    for (size_t i = 1; i < limit; ++i) {
        if (bytes[i] == ':')
            return Noise(i);
        if (bytes[i] == '\n' && bytes[i - 1] == '\r')
            return Whole(i + 1);
    }
    return bytes.size() >= kAsciiRxBufferSize - 1 ? Noise(1) : More();
}

bool UnwrapAscii(std::span<const uint8_t> frame, std::vector<uint8_t>& reply) {
    std::vector<uint8_t> decoded(kRxBufferSize);
    const auto text = std::span(reinterpret_cast<const char*>(frame.data()), frame.size());
    const AsciiDecodeResult result = DecodeAscii(text, decoded);
    if (result.odd || result.invalid || result.count < 2)
        return false;
    decoded.resize(result.count);
    if (ByteSum(decoded) != 0)
        return false;
    decoded.pop_back();
    reply = std::move(decoded);
    return true;
}

int WrapMbap(std::span<const uint8_t> frame, uint16_t transaction, std::span<uint8_t> wire) {
    if (frame.size() + kMbapHeaderLength > wire.size() || frame.size() > 255)
        return -1;
    wire[0] = static_cast<uint8_t>(transaction >> 8);
    wire[1] = static_cast<uint8_t>(transaction);
    wire[2] = wire[3] = 0;
    wire[4] = 0;
    wire[5] = static_cast<uint8_t>(frame.size());
    std::copy(frame.begin(), frame.end(), wire.begin() + kMbapHeaderLength);
    return static_cast<int>(frame.size()) + kMbapHeaderLength;
}

// A frame is read whole by its header's length, whatever it answers; a
// header no Modbus TCP server sends leaves the stream without a frame edge
// to find again, so everything that waits is dropped.
FrameScan ScanMbap(std::span<const uint8_t> bytes, const PendingRequest&, uint8_t) {
    if (bytes.size() < size_t(kMbapHeaderLength))
        return More();
    const int protocol = bytes[2] << 8 | bytes[3];
    const int length = bytes[4] << 8 | bytes[5];
    if (protocol != 0 || length < 2 || length > 254)
        return Noise(bytes.size());
    const size_t whole = size_t(kMbapHeaderLength) + size_t(length);
    return bytes.size() < whole ? More() : Whole(whole);
}

bool UnwrapMbap(std::span<const uint8_t> frame, std::vector<uint8_t>& reply) {
    if (frame.size() < size_t(kMbapHeaderLength) + 2)
        return false;
    reply.assign(frame.begin() + kMbapHeaderLength, frame.end());
    return true;
}

constexpr FramingRow kRows[] = {
    {Framing::Rtu, 0, false, WrapRtu, ScanRtu, UnwrapRtu},
    {Framing::Ascii, 0, false, WrapAscii, ScanAscii, UnwrapAscii},
    {Framing::ModbusTcp, kMbapHeaderLength, true, WrapMbap, ScanMbap, UnwrapMbap},
    {Framing::Encapsulated, 0, false, WrapRtu, ScanRtu, UnwrapRtu},
};

}  // namespace

const FramingRow& FramingRowOf(Framing framing) {
    for (const FramingRow& row : kRows)
        if (row.framing == framing)
            return row;
    return kRows[0];
}

uint16_t MbapTransaction(std::span<const uint8_t> frame) {
    return frame.size() < 2 ? 0 : static_cast<uint16_t>(frame[0] << 8 | frame[1]);
}

}  // namespace fc
