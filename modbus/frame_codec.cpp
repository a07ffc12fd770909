#include "modbus/frame_codec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fc {

uint16_t Crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        }
    }
    return static_cast<uint16_t>((crc << 8) | (crc >> 8));
}

size_t AppendCrc16(std::span<uint8_t> buffer, size_t n) {
    const uint16_t crc = Crc16(buffer.first(n));
    buffer[n] = static_cast<uint8_t>(crc >> 8);
    buffer[n + 1] = static_cast<uint8_t>(crc & 0xFF);
    return n + 2;
}

uint8_t ByteSum(std::span<const uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t byte : bytes)
        sum = static_cast<uint8_t>(sum + byte);
    return sum;
}

uint8_t Lrc(std::span<const uint8_t> bytes) {
    return static_cast<uint8_t>(0x100 - ByteSum(bytes));
}

int RequestFrameLength(const PendingRequest& request) {
    switch (request.FunctionCode) {
        case kReadHoldingRegisters:
            return 6;
        case kWriteMultipleRegisters:
            if (request.ByteCount < 0 || request.ByteCount > kMaxWriteByteCount)
                return -1;
            if (request.ByteCount > 0 && request.Data == nullptr)
                return -1;
            return request.ByteCount + 7;
        case kDiagnostics:
            if (request.ByteCount < 0 || request.ByteCount > kMaxWriteByteCount ||
                (request.ByteCount > 0 && request.Data == nullptr))
                return -1;
            return request.ByteCount + 2;
        default:
            return 0;
    }
}

int BuildRequest(const PendingRequest& request, uint8_t unit, std::span<uint8_t> tx) {
    const int n = RequestFrameLength(request);
    if (n <= 0)
        return n;
    if (static_cast<size_t>(n) > tx.size())
        return -1;
    tx[0] = unit;
    tx[1] = static_cast<uint8_t>(request.FunctionCode);
    if (request.FunctionCode == kDiagnostics) {
        if (request.ByteCount > 0)
            std::memcpy(&tx[2], request.Data, request.ByteCount);
        return n;
    }
    tx[2] = static_cast<uint8_t>(request.StartAddress >> 8);
    tx[3] = static_cast<uint8_t>(request.StartAddress);
    tx[4] = static_cast<uint8_t>(request.RegisterCount >> 8);
    tx[5] = static_cast<uint8_t>(request.RegisterCount);
    if (request.FunctionCode == kWriteMultipleRegisters) {
        tx[6] = static_cast<uint8_t>(request.ByteCount);
        if (request.ByteCount > 0)
            std::memcpy(&tx[7], request.Data, request.ByteCount);
    }
    return n;
}

int BuildMbapRequest(const PendingRequest& request, uint8_t unit, std::span<uint8_t> tx,
                     uint16_t transaction) {
    constexpr size_t kHeader = 6;
    if (tx.size() < kHeader)
        return -1;
    const int n = BuildRequest(request, unit, tx.subspan(kHeader));
    if (n <= 0)
        return n;
    tx[0] = static_cast<uint8_t>(transaction >> 8);
    tx[1] = static_cast<uint8_t>(transaction);
    tx[2] = tx[3] = 0;  // protocol identifier
    tx[4] = 0;
    tx[5] = static_cast<uint8_t>(n);
    return n + static_cast<int>(kHeader);
}

namespace {
char HexDigit(unsigned value) {
    return "0123456789ABCDEF"[value & 0xF];
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
}  // namespace

int EncodeAscii(std::span<const uint8_t> bytes, std::span<char> ascii) {
    const size_t total = 2 * bytes.size() + 3;
    if (total > ascii.size())
        return -1;
    size_t at = 1;  // behind the permanent colon
    for (uint8_t byte : bytes) {
        ascii[at++] = HexDigit(byte >> 4);
        ascii[at++] = HexDigit(byte);
    }
    ascii[at++] = '\r';
    ascii[at++] = '\n';
    return static_cast<int>(total);
}

AsciiDecodeResult DecodeAscii(std::span<const char> text, std::span<uint8_t> rx) {
    AsciiDecodeResult result;
    if (text.size() < 3) {
        result.invalid = true;
        return result;
    }
    const size_t hex_count = text.size() - 3;
    if (hex_count % 2 != 0) {
        result.odd = true;
        return result;
    }
    for (size_t i = 1; i < 1 + hex_count; i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0 || result.count >= rx.size()) {
            result.invalid = true;
            break;
        }
        rx[result.count++] = static_cast<uint8_t>(high << 4 | low);
    }
    return result;
}

int ExpectedReplyLength(Framing framing, int32_t function_code, int32_t byte_count) {
    const bool read = function_code == kReadHoldingRegisters;
    switch (framing) {
        case Framing::Rtu:
        case Framing::Encapsulated:
            return read ? byte_count + 5 : 8;
        case Framing::ModbusTcp:
            return read ? byte_count + 9 : 12;
        case Framing::Ascii:
            if (read)
                return byte_count + 4;
            return function_code == kWriteMultipleRegisters ? 7 : 0;
    }
    return 0;
}

namespace {
int WordAt(std::span<const uint8_t> bytes, size_t at) {
    return bytes[at] << 8 | bytes[at + 1];
}
}  // namespace

ReplyCheck CheckReply(const PendingRequest& request, uint8_t unit, std::span<const uint8_t> reply) {
    // The probe goes to every unit; any unit's answer is one, our own
    // request coming back from address 0 is not.
    if (request.FunctionCode == kDiagnostics)
        return {!reply.empty() && reply[0] != 0 ? ReplyVerdict::Valid : ReplyVerdict::Mismatch, 0};
    if (reply.size() < 3 || (unit != 0 && reply[0] != unit))
        return {};
    if (reply[1] == (request.FunctionCode | kExceptionBit) && reply.size() == 3)
        return {ReplyVerdict::Exception, reply[2]};
    if (reply[1] != request.FunctionCode)
        return {};
    bool matches = false;
    if (request.FunctionCode == kReadHoldingRegisters) {
        matches = reply[2] == request.ByteCount && reply.size() == size_t(request.ByteCount) + 3;
    } else if (request.FunctionCode == kWriteMultipleRegisters) {
        matches = reply.size() == 6 && WordAt(reply, 2) == (request.StartAddress & 0xFFFF) &&
                  WordAt(reply, 4) == (request.RegisterCount & 0xFFFF);
    }
    return {matches ? ReplyVerdict::Valid : ReplyVerdict::Mismatch, 0};
}

void ReverseBytes(uint8_t* destination, const uint8_t* source, int length) {
    uint8_t temporary[80];
    length = std::clamp(length, 0, static_cast<int>(sizeof temporary));
    std::memcpy(temporary, source, length);
    for (int i = 0; i < length; ++i)
        destination[i] = temporary[length - 1 - i];
}

std::string TrafficText(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text += hex;
    }
    return text;
}

}  // namespace fc
