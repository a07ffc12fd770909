// --trace and the traffic window decode every frame the peer sends: any
// bytes, in any framing and direction, must give a line, never a crash.
#include <cstddef>
#include <cstdint>
#include <span>

#include "modbus/frame_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const auto framing = static_cast<fc::Framing>(data[0] & 3);
    const auto direction = static_cast<fc::TrafficDirection>((data[0] >> 2) % 3);
    (void)fc::DescribeFrame(framing, direction, std::span(data + 1, size - 1));
    (void)fc::TraceBytes(framing, std::span(data + 1, size - 1));
    return 0;
}
