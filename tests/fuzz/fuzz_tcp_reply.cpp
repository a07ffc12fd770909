// The Modbus TCP and encapsulated RTU reply handling over loopback TCP: the
// first byte picks the request (its top bit the framing), the second a block
// count, the rest is the peer's answer.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fc::fuzz::TcpLink link;
    if (size < 2)
        return 0;
    const size_t reply = std::min<size_t>(size - 2, 4 * fc::kRxBufferSize);
    link.Run({static_cast<uint8_t>(data[0] & 0x7F), data[1]}, (data[0] & 0x80) != 0,
             std::span(data + 2, reply));
    return 0;
}
