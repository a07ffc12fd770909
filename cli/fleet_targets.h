#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "modbus/comm_settings.h"

namespace fc {

// One line of a targets file: the unit's own option words over the run's.
struct FleetTarget {
    int line = 0;
    std::string name;  // given with name=, or made from how the unit is reached
    SettingsOverrides overrides;
};

// The units a targets file names. Blank lines and # comments are skipped; a
// line that does not parse ends the read with "line N: reason", its bytes
// escaped as --trace escapes them.
std::optional<std::vector<FleetTarget>> ReadTargets(std::istream& in, std::string& error);

// A line's words, split as a shell splits them: "..." or '...' or \ keep a
// space in a word (a device path with a space), # starts a comment. None,
// with the reason, for an unclosed quote or a backslash at the end.
std::optional<std::vector<std::string>> SplitWords(const std::string& line, std::string& error);

// Whether a unit's name can name its files in --log-dir: letters, digits and
// - _ . : @, and neither . nor .. alone.
bool IsFileName(const std::string& name);

// A unit ready to run: its whole settings and the device its serial port
// stands for, settled before any thread starts.
struct FleetUnit {
    int line = 0;
    std::string name;
    CommSettings settings;
    std::string device;  // serial only
};

// The run's settings (profile and command line) with each target's words on
// top. Two units that reach the same serial device (however it is named) or
// the same address and port are refused with both line numbers, as are two
// with the same name. `device_for_port` maps a port number to its device.
std::optional<std::vector<FleetUnit>> SettleUnits(
    const std::vector<FleetTarget>& targets, const CommSettings& run_settings,
    const SettingsOverrides& run_overrides,
    const std::function<std::string(int port)>& device_for_port, std::string& error);

}  // namespace fc
