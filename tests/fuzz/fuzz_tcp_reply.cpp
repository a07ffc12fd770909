// The Modbus TCP and RTU-over-TCP reply handling over an in-memory line: the
// first byte picks the request and how the reply is cut (its top bit the
// framing), the second a block count, the rest is the peer's answer.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t reply = std::min<size_t>(size - 2, 4 * fc::kRxBufferSize);
    fc::fuzz::MemoryBench bench(true, (data[0] & 0x80) != 0 ? 1 : 0);
    bench.Run({data[0], data[1]}, std::span(data + 2, reply));
    return 0;
}
