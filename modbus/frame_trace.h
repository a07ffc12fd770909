#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "modbus/frame_codec.h"
#include "modbus/traffic_frame.h"

namespace fc {

// The meaning of a frame on the wire, for the traces of every front end:
// unit, function, address and count (with the names of the loader's
// registers), the exception's name, and whether its CRC or LRC checks.
// Request or reply is told by the direction.
std::string DescribeFrame(Framing framing, TrafficDirection direction,
                          std::span<const uint8_t> wire);

// "Illegal data address" for 2, and so on; "exception N" for codes without a name.
std::string ExceptionName(int code);

// "Exception 2: Illegal data address": how an exception reply is told to the user.
std::string ExceptionText(int code);

// The pieces of a trace line, for front ends that lay them out themselves:
// local time "hh:mm:ss.mmm"; " 01 03 ..." (ASCII frames as their text with
// CR and LF spelled out); "->" sent, "<-" received.
std::string TraceTime(std::chrono::system_clock::time_point time);
std::string TraceBytes(Framing framing, std::span<const uint8_t> wire);
const char* TraceArrow(TrafficDirection direction);

// One trace line: time, direction, bytes and the meaning.
std::string TraceLine(const TrafficFrame& frame);
// The same for a frame seen now.
std::string TraceLine(Framing framing, TrafficDirection direction, std::span<const uint8_t> wire);

}  // namespace fc
