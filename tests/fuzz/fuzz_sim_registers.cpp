// fcsim --registers FILE: "address value" lines that anybody may have
// edited. Any file gives registers within their bounds or a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_options.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fc::fuzz::Scratch().Write("registers.txt", data, size);
    std::vector<std::pair<uint16_t, uint32_t>> registers;
    std::string error;
    if (!fc::sim::LoadRegisterFile(path, &registers, &error) && error.empty())
        std::abort();
    return 0;
}
