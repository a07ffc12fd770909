// fcsim's control socket takes one command a line from whoever can reach it;
// each line gets one line back, "ok ..." or "error ...". The simulator is not
// started: the commands' language is what is tried.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "sim/simulator.h"

namespace {

// flash-out FILE writes wherever it is told; a fuzzer must not.
bool WritesAFile(const std::string& line) {
    std::istringstream words(line);
    std::string verb, file;
    words >> verb >> file;
    return verb == "flash-out" && !file.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fc::sim::Simulator simulator{fc::sim::SimulatorOptions{}};
    std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
    for (std::string line; std::getline(lines, line);) {
        if (WritesAFile(line))
            continue;
        const std::string answer = simulator.Command(line);
        if (answer.rfind("ok", 0) != 0 && answer.rfind("error ", 0) != 0)
            std::abort();
        if (answer.find('\n') != std::string::npos)
            std::abort();
    }
    simulator.Command("clear-faults");
    return 0;
}
