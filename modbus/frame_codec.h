#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fc {

// Sizes of the driver's frame buffers.
inline constexpr size_t kTxBufferSize = 512;
inline constexpr size_t kRxBufferSize = 512;
inline constexpr size_t kAsciiRxBufferSize = 515;  // at most 514 characters are stored
inline constexpr size_t kAsciiTxBufferSize = 517;

inline constexpr int kReadHoldingRegisters = 3;
inline constexpr int kWriteMultipleRegisters = 16;
// Diagnostics, the auto-detect probe: unit, 8, then ByteCount data bytes.
inline constexpr int kDiagnostics = 8;

// The frame's one-byte byte count and the MBAP header's one-byte length both
// describe at most 255 bytes, so the request frame (unit address to last data
// byte) may be at most 255 bytes long: a function 16 request carries at most
// 248 data bytes. Its ASCII text (":" + 2 x 256 + CR LF = 515 characters) and
// its RTU and MBAP forms (257 and 261 bytes) then fit their buffers too.
inline constexpr int kMaxRequestFrame = 255;
inline constexpr int kMaxWriteByteCount = kMaxRequestFrame - 7;

// The pending request, filled by the register requests.
struct PendingRequest {
    int32_t FunctionCode = 0;
    int32_t StartAddress = 0;
    int32_t RegisterCount = 0;
    int32_t ByteCount = 0;
    const uint8_t* Data = nullptr;  // function 16: ByteCount bytes to send
};

// How a request travels; decides the reply's expected length.
enum class Framing { Rtu, Ascii, ModbusTcp, Encapsulated };

// CRC-16/MODBUS. Returns the register with its two bytes swapped: the frame
// takes the returned value's high byte first, so the register's low byte goes
// first on the wire. Over an intact frame including its CRC bytes it is 0.
uint16_t Crc16(std::span<const uint8_t> bytes);
// Appends the two CRC bytes behind bytes[0..n) in buffer; returns n + 2.
size_t AppendCrc16(std::span<uint8_t> buffer, size_t n);

// Longitudinal redundancy check: the 8-bit sum negated.
uint8_t Lrc(std::span<const uint8_t> bytes);
// The 8-bit sum; 0 over a decoded ASCII reply whose LRC checks.
uint8_t ByteSum(std::span<const uint8_t> bytes);

// Length n of the request frame (before check bytes) that BuildRequest makes:
// ByteCount + 7 for function 16, 6 for function 3, ByteCount + 2 for the
// diagnostics probe, 0 for any other function.
// -1 when a function 16 request cannot be built: a byte count below 0 or
// above kMaxWriteByteCount, or data bytes missing.
int RequestFrameLength(const PendingRequest& request);

// Builds the request frame for the unit address into tx. Returns its length n,
// 0 for an unknown function, -1 when the request is refused (see
// RequestFrameLength) or tx is too small; nothing is written past tx.
int BuildRequest(const PendingRequest& request, uint8_t unit, std::span<uint8_t> tx);

// The Modbus TCP form: the 6-byte MBAP header (the transaction id, protocol
// 0, length n) and the request frame. Returns n + 6, or what BuildRequest
// refused.
int BuildMbapRequest(const PendingRequest& request, uint8_t unit, std::span<uint8_t> tx,
                     uint16_t transaction = 0);

// Writes the hex text of bytes behind the colon at ascii[0] (which the caller
// keeps there), then CR LF. Returns the characters in the text, colon
// included (2 x count + 3), or -1 when it does not fit.
int EncodeAscii(std::span<const uint8_t> bytes, std::span<char> ascii);

struct AsciiDecodeResult {
    size_t count = 0;      // bytes decoded into the buffer
    bool odd = false;      // an odd number of hex characters: nothing decoded
    bool invalid = false;  // decoding stopped at a character that is not hex
};

// Decodes a collected reply text (":" hex... CR LF, `length` characters) into
// rx. Upper- and lower-case hex digits are accepted. Decoding stops at the
// first invalid character, and never writes past rx.
AsciiDecodeResult DecodeAscii(std::span<const char> text, std::span<uint8_t> rx);

// The number of bytes (decoded bytes for ASCII) that completes the reply.
int ExpectedReplyLength(Framing framing, int32_t function_code, int32_t byte_count);

// An exception reply carries the function with this bit set, then its code.
inline constexpr int kExceptionBit = 0x80;

// What a reply with intact check bytes says to its request. `reply` runs from
// the unit address to the last byte before the check bytes.
enum class ReplyVerdict { Valid, Exception, Mismatch };
struct ReplyCheck {
    ReplyVerdict verdict = ReplyVerdict::Mismatch;
    int exceptionCode = 0;
};
// A valid reply comes from the unit asked (any unit when 0 was asked, which
// adopts the answering one), with the function asked, and for a read with the
// byte count asked, for a write with the request's address and count.
ReplyCheck CheckReply(const PendingRequest& request, uint8_t unit, std::span<const uint8_t> reply);

// The MBAP header in front of a Modbus TCP frame.
inline constexpr int kMbapHeaderLength = 6;

// Reverses length bytes (at most 80) from source into destination, which may
// be the same bytes.
void ReverseBytes(uint8_t* destination, const uint8_t* source, int length);

// " %02X" per byte: the traffic texts shown by the register pages.
std::string TrafficText(std::span<const uint8_t> bytes);

}  // namespace fc
