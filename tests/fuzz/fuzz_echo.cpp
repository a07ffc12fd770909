// An RS-485 adapter that hears its own requests: with "Remove echo" each
// request's echo is read back and checked before the reply is awaited. The
// echo comes back as sent, cut short, or with the bytes the input flips, and
// the reply follows it; a success must still be a whole reply to the request.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_link.h"

// [request kind][block count][echo: bits 0-6 bytes kept of it, 127 all; bit 7
// flip the next byte's bits into it] ([flip]) reply bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const fc::fuzz::RequestChoice choice{data[0], data[1]};
    const uint8_t echo_kind = data[2];
    size_t at = 3;
    const uint8_t flip = (echo_kind & 0x80) && at < size ? data[at++] : 0;
    const std::span<const uint8_t> reply(data + at, size - at);
    fc::fuzz::MemoryBench bench(false, 0, choice.kind & 0x80, true);
    bench.Line().OnRequest = [&](std::span<const uint8_t> request) {
        const size_t kept = (echo_kind & 0x7F) == 0x7F ? request.size()
                                                        : std::min<size_t>(echo_kind & 0x7F,
                                                                           request.size());
        std::vector<uint8_t> echo(request.begin(), request.begin() + kept);
        if (!echo.empty())
            echo[flip % echo.size()] ^= flip;
        bench.Line().Send(echo);
        fc::fuzz::ScriptReply(bench.Line(), choice, reply);
    };
    bench.RunScripted(choice);
    return 0;
}
