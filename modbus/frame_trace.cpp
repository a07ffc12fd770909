#include "modbus/frame_trace.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace fc {

namespace {

std::string Hex(std::span<const uint8_t> bytes) {
    return TrafficText(bytes);
}

// An ASCII frame as its text, with every byte that is not printable ASCII
// written as \r, \n, \t or \xHH and the backslash itself doubled. The trace
// goes to a terminal: a peer must not move the cursor, clear the screen or
// forge a line of its own there, and bytes from 0x80 up are escaped too
// because some terminals take 0x9B as the start of a control sequence.
std::string PrintableText(std::span<const uint8_t> wire) {
    std::string text;
    for (const uint8_t c : wire) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c < 0x20 || c > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string Format(const char* format, int a, int b = 0, int c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

int Word(std::span<const uint8_t> pdu, size_t at) {
    return at + 1 < pdu.size() ? pdu[at] << 8 | pdu[at + 1] : -1;
}

// The loader's registers, named as the download uses them; a read and a
// write of the same register can mean different things.
struct LoaderRegister {
    int address;
    const char* read;
    const char* written;
};
constexpr LoaderRegister kLoaderRegisters[] = {
    {2563, "loader speed", "loader speed"},
    {2649, "loader version", "download mode"},
    {2650, "flash status", "flash command"},
    {2651, "sector number", "sector number"},
};
constexpr int kSectorBufferFirst = 20000;
constexpr int kSectorBufferLast = 20511;

const LoaderRegister* FindLoaderRegister(int address) {
    for (const LoaderRegister& entry : kLoaderRegisters)
        if (entry.address == address)
            return &entry;
    return nullptr;
}

// " (flash command, sector number)" for the loader's registers a request
// covers, with the values written to them; empty for any other register.
std::string LoaderRegisterText(int start, int count, bool request_writes,
                               std::span<const uint8_t> data) {
    if (start >= kSectorBufferFirst && start <= kSectorBufferLast)
        return " (sector buffer)";
    std::string names;
    std::string values;
    for (int i = 0; i < count && i < 4; ++i) {
        const LoaderRegister* entry = FindLoaderRegister(start + i);
        if (!entry)
            break;
        names += (i ? ", " : "") + std::string(request_writes ? entry->written : entry->read);
        const int value = Word(data, 2 * static_cast<size_t>(i));
        if (request_writes && value >= 0)
            values += (i ? ", " : "") + std::to_string(value);
    }
    if (names.empty())
        return "";
    return " (" + names + (values.empty() ? "" : " = " + values) + ")";
}

// The Modbus PDU (function code on) from a unit, either way.
std::string DescribePdu(int unit, std::span<const uint8_t> pdu, TrafficDirection direction) {
    if (pdu.empty())
        return Format("unit %d, no function", unit);
    const int function = pdu[0];
    std::string text = Format("unit %d, ", unit);
    if (function & 0x80) {
        const int code = pdu.size() > 1 ? pdu[1] : -1;
        return text + Format("exception to function %d: ", function & 0x7F) + ExceptionName(code);
    }
    const bool request = direction == TrafficDirection::Sent;
    switch (function) {
        case kReadHoldingRegisters:
            if (request) {
                return text + Format("read holding registers at %d", Word(pdu, 1)) +
                       LoaderRegisterText(Word(pdu, 1), Word(pdu, 3), false, {}) +
                       Format(", count %d", Word(pdu, 3));
            }
            return text + Format("read reply, %d data bytes", pdu.size() > 1 ? pdu[1] : -1);
        case kWriteMultipleRegisters:
            if (request) {
                const auto data = pdu.size() > 6 ? pdu.subspan(6) : std::span<const uint8_t>();
                return text + Format("write registers at %d", Word(pdu, 1)) +
                       LoaderRegisterText(Word(pdu, 1), Word(pdu, 3), true, data) +
                       Format(", count %d, %d data bytes", Word(pdu, 3),
                              pdu.size() > 5 ? pdu[5] : -1);
            }
            return text + Format("write reply, at %d, count %d", Word(pdu, 1), Word(pdu, 3));
        case 8:
            return text + Format("diagnostics, sub-function %d", Word(pdu, 1));
        default:
            return text + Format("function %d", function);
    }
}

std::string DescribeRtu(std::span<const uint8_t> wire, TrafficDirection direction) {
    if (wire.size() < 4)
        return Format("%d bytes: too short for a frame", int(wire.size()));
    const bool intact = Crc16(wire) == 0;
    return DescribePdu(wire[0], wire.subspan(1, wire.size() - 3), direction) +
           (intact ? "; CRC ok" : "; CRC BAD");
}

std::string DescribeAscii(std::span<const uint8_t> wire, TrafficDirection direction) {
    std::array<uint8_t, kRxBufferSize> bytes{};
    const auto text = std::span(reinterpret_cast<const char*>(wire.data()), wire.size());
    const AsciiDecodeResult decoded = DecodeAscii(text, bytes);
    if (decoded.odd)
        return "odd number of hex characters";
    if (decoded.invalid)
        return "invalid character in the frame";
    if (decoded.count < 2)
        return "too short for a frame";
    const auto frame = std::span<const uint8_t>(bytes.data(), decoded.count);
    const bool intact = ByteSum(frame) == 0;
    return DescribePdu(frame[0], frame.subspan(1, frame.size() - 2), direction) +
           (intact ? "; LRC ok" : "; LRC BAD");
}

std::string DescribeMbap(std::span<const uint8_t> wire, TrafficDirection direction) {
    if (wire.size() < 8)
        return Format("%d bytes: too short for a frame", int(wire.size()));
    return Format("transaction %d, length %d, ", Word(wire, 0), Word(wire, 4)) +
           DescribePdu(wire[6], wire.subspan(7), direction);
}

}  // namespace

std::string ExceptionName(int code) {
    switch (code) {
        case 1:
            return "Illegal function";
        case 2:
            return "Illegal data address";
        case 3:
            return "Illegal data value";
        case 4:
            return "Slave device failure";
        case 5:
            return "Acknowledge";
        case 6:
            return "Slave device busy";
        case 7:
            return "Negative acknowledge";
        case 8:
            return "Memory parity error";
        // Modbus reserves 9 without giving it a meaning.
        case 9:
            return "Not defined";
        case 10:
            return "Gateway path unavailable";
        case 11:
            return "Gateway target device failed to respond";
        default:
            return Format("exception %d", code);
    }
}

std::string ExceptionText(int code) {
    return Format("Exception %d: ", code) + ExceptionName(code);
}

std::string DescribeFrame(Framing framing, TrafficDirection direction,
                          std::span<const uint8_t> wire) {
    // Bytes that answer no request are not decoded: read as a frame, a late
    // reply would pass for what it is not.
    if (direction == TrafficDirection::Dropped)
        return Format("dropped: %d bytes that answer no request", static_cast<int>(wire.size()));
    switch (framing) {
        case Framing::Ascii:
            return DescribeAscii(wire, direction);
        case Framing::ModbusTcp:
            return DescribeMbap(wire, direction);
        case Framing::Rtu:
        case Framing::Encapsulated:
            break;
    }
    return DescribeRtu(wire, direction);
}

std::string TraceTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(time);
    const int millis =
        static_cast<int>(duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, millis);
    return stamp;
}

std::string TraceBytes(Framing framing, std::span<const uint8_t> wire) {
    return framing == Framing::Ascii ? " " + PrintableText(wire) : Hex(wire);
}

const char* TraceArrow(TrafficDirection direction) {
    return direction == TrafficDirection::Sent ? "->" : "<-";
}

std::string TraceLine(const TrafficFrame& frame) {
    const std::string why = frame.reason != nullptr ? std::string(": ") + frame.reason : "";
    return TraceTime(frame.time) + " " + TraceArrow(frame.direction) +
           TraceBytes(frame.framing, frame.wire) + "  [" +
           DescribeFrame(frame.framing, frame.direction, frame.wire) + why + "]";
}

std::string TraceLine(Framing framing, TrafficDirection direction, std::span<const uint8_t> wire) {
    TrafficFrame frame;
    frame.time = std::chrono::system_clock::now();
    frame.framing = framing;
    frame.direction = direction;
    frame.wire.assign(wire.begin(), wire.end());
    return TraceLine(frame);
}

}  // namespace fc
