// A targets file is text anybody may have written: its lines are split into
// words as a shell splits them and read as one unit's option words. Any text
// gives units or a refusal that names a line, and a unit's name is one a file
// of --log-dir may carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/fleet_targets.h"

namespace {

bool NamesALine(const std::string& error) {
    return error.rfind("line ", 0) == 0 || error == "the targets name no unit";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto targets = fc::ReadTargets(text, error);
    if (!targets && !NamesALine(error))
        std::abort();
    for (const fc::FleetTarget& target : targets.value_or(std::vector<fc::FleetTarget>{})) {
        if (target.name.empty() || target.name.find('\0') != std::string::npos)
            std::abort();
    }
    // The words of the first line, as one unit's, and back through the splitter.
    std::string reason;
    const auto words = fc::SplitWords(std::string(text.substr(0, text.find('\n'))), reason);
    if (words)
        (void)fc::ParseUnitWords(*words, reason);
    return 0;
}
