// The RTU reply collection over an in-memory line: the first two input bytes
// pick the request and how the reply is cut, the rest is what the line brings
// back.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // Four times the reply buffer: enough to overrun it.
    const size_t reply = std::min<size_t>(size - 2, 4 * fc::kRxBufferSize);
    fc::fuzz::MemoryBench bench(false);
    bench.Run({data[0], data[1]}, std::span(data + 2, reply));
    return 0;
}
