#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "modbus/frame_codec.h"
#include "modbus/modbus_master.h"

namespace fc {

// The meaning of a frame on the wire, for the traces of every front end:
// unit, function, address and count, the exception's name, and whether its
// CRC or LRC checks. Request or reply is told by the direction.
std::string DescribeFrame(Framing framing, TrafficDirection direction,
                          std::span<const uint8_t> wire);

// "Illegal data address" for 2, and so on; "exception N" for codes without a name.
std::string ExceptionName(int code);

// "Exception 2: Illegal data address": how an exception reply is told to the user.
std::string ExceptionText(int code);

// One trace line: wall-clock time with milliseconds, direction, hex bytes
// (ASCII frames as their text) and the meaning.
std::string TraceLine(Framing framing, TrafficDirection direction, std::span<const uint8_t> wire);

}  // namespace fc
