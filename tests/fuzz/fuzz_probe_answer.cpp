// Auto-detect's probe answers over an in-memory line: whatever a line brings
// back to the RTU or the ASCII probe (picked by the first byte's low bit; its
// next bits cut the answer as the reply targets do) must be taken or refused
// within the probe's one second, and an address adopted only from an answer
// that passed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "connection/auto_detect.h"
#include "tests/fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t answer = std::min<size_t>(size - 1, 2 * fc::kAsciiRxBufferSize);
    fc::fuzz::MemoryBench bench(false);
    fc::ModbusMaster& master = bench.Master();
    master.Settings().UnitId = 0;
    const bool ascii = (data[0] & 1) != 0;
    fc::fuzz::ScriptReply(bench.Line(), {static_cast<uint8_t>(data[0] & 0x78), 0},
                          std::span(data + 1, answer));
    const fc::LinkInstant start = bench.Line().Now();
    const bool found = ascii ? fc::ProbeAscii(master) : fc::ProbeRtu(master);
    if (bench.Line().Now() - start > std::chrono::seconds(1) + fc::fuzz::kAttemptSlack)
        std::abort();
    if (found && answer == 0)
        std::abort();
    return 0;
}
