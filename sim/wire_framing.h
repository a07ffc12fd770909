#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/unit_model.h"

namespace fc::sim {

// The four ways requests reach the unit. The simulator frames and parses
// them itself (only the CRC and LRC arithmetic is shared with the tool), so a
// fault in the tool's codec cannot hide behind the same fault here.
enum class Transport { SerialRtu, SerialAscii, ModbusTcp, RtuOverTcp };

const char* TransportName(Transport transport);

struct Frame {
    Request request;
    uint16_t transaction = 0;  // Modbus TCP: echoed in the reply
    size_t wire_bytes = 0;     // how many bytes the request took on the wire
};

// Collects the bytes of one stream and cuts them into requests.
class RequestParser {
  public:
    using Clock = std::chrono::steady_clock;

    explicit RequestParser(Transport transport) : transport_(transport) {}

    Transport transport() const { return transport_; }
    // Switches framing (the loader always speaks RTU); drops what was half read.
    void SetTransport(Transport transport);
    void Feed(std::span<const uint8_t> bytes, Clock::time_point now);
    // The next complete and intact request; broken frames are dropped silently,
    // as a unit on a line drops them.
    std::optional<Frame> Next(Clock::time_point now);
    // When an RTU frame of unknown length ends by line silence.
    std::optional<Clock::time_point> Deadline() const;
    // The silence that ends an RTU frame at the given baud rate.
    void SetCharTime(std::chrono::microseconds char_time) { char_time_ = char_time; }
    size_t Pending() const { return buffer_.size(); }
    void Clear() { buffer_.clear(); }

  private:
    std::optional<Frame> NextRtu(Clock::time_point now);
    std::optional<Frame> NextAscii();
    std::optional<Frame> NextMbap();
    std::chrono::microseconds Silence() const;

    Transport transport_;
    std::vector<uint8_t> buffer_;
    Clock::time_point last_byte_{};
    std::chrono::microseconds char_time_{1042};  // 9600 baud
};

// How many bytes an RTU request with this start takes: 0 when more bytes are
// needed to know, -1 when only silence can tell (unknown function).
int RtuRequestLength(std::span<const uint8_t> bytes);

// The reply's bytes for the transport; `corrupt_check` spoils its CRC or LRC.
std::vector<uint8_t> BuildReply(Transport transport, uint8_t unit, uint16_t transaction,
                                std::span<const uint8_t> pdu, bool corrupt_check);

std::string HexText(std::span<const uint8_t> bytes);

}  // namespace fc::sim
