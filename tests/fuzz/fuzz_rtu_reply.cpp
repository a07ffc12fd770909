// The RTU reply collection, fed through a real pseudo-terminal: the first two
// input bytes pick the request, the rest is what the line brings back (read
// by the driver in chunks of up to 256 bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fc::fuzz::PtyLink link;
    if (size < 2)
        return 0;
    // Four times the reply buffer: enough to overrun it, and within what the
    // pseudo-terminal holds unread.
    const size_t reply = std::min<size_t>(size - 2, 4 * fc::kRxBufferSize);
    link.Run({data[0], data[1]}, std::span(data + 2, reply));
    return 0;
}
