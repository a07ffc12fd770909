#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace fc::sim {

struct CommandLine {
    SimulatorOptions options;
    bool help = false;
    bool version = false;
};

// Reads fcsim's arguments (without the program name). On a bad option the
// result is empty and `error` says why.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error);
std::string HelpText();

// "address value" lines, '#' starts a comment; numbers decimal or 0x hex.
bool LoadRegisterFile(const std::string& path,
                      std::vector<std::pair<uint16_t, uint32_t>>* registers, std::string* error);

}  // namespace fc::sim
