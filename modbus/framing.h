#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "modbus/frame_codec.h"

namespace fc {

// What the bytes at the front of what a link delivered are: not enough yet
// to tell, a whole frame of `length` bytes, or `length` bytes that begin no
// frame and are dropped.
struct FrameScan {
    enum class Kind { More, Frame, Noise };
    Kind kind = Kind::More;
    size_t length = 0;
};

// One framing of the four, as the engine uses it: how the request travels,
// where a reply's frame ends, how its check bytes are tested, and what it
// carries to tell whose answer it is. Each row is pure over byte spans.
struct FramingRow {
    Framing framing;
    // Bytes in front of the unit address on the wire (the MBAP header).
    int header;
    // Whether the frame carries an identity of its request (a transaction id).
    bool identified;
    // The wire form of an RTU-form request frame (unit address to last data
    // byte, no check bytes) with the transaction id where the framing has
    // one; its length, or -1 when it does not fit `wire`.
    int (*wrap)(std::span<const uint8_t> frame, uint16_t transaction, std::span<uint8_t> wire);
    // Where the first frame in `bytes` ends, for a reply to `request`.
    FrameScan (*scan)(std::span<const uint8_t> bytes, const PendingRequest& request,
                      uint8_t unit);
    // The reply in RTU form without check bytes (unit address first) of a
    // whole frame; false when its check bytes or its text do not hold.
    bool (*unwrap)(std::span<const uint8_t> frame, std::vector<uint8_t>& reply);
};

const FramingRow& FramingRowOf(Framing framing);

// The transaction id a Modbus TCP frame carries.
uint16_t MbapTransaction(std::span<const uint8_t> frame);

}  // namespace fc
