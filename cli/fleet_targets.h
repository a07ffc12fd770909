#pragma once

#include <functional>
#include <string_view>
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

// A targets file is a list a person writes: far below this. The bound keeps
// a wrong file (/dev/zero, a disk image) from filling memory.
inline constexpr size_t kMaxTargetsBytes = 1024 * 1024;

// The units a targets text names. Blank lines and # comments are skipped; a
// line that does not parse ends the read with "line N: reason", its bytes
// escaped as --trace escapes them, as does a NUL byte (a C string would end
// there) and text past kMaxTargetsBytes (with the line it reaches into).
std::optional<std::vector<FleetTarget>> ReadTargets(std::string_view text, std::string& error);

// The same of the file `source` (- for standard input), read no further than
// one byte past the bound.
std::optional<std::vector<FleetTarget>> ReadTargetsFile(const std::string& source,
                                                        std::string& error);

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
    // The line the unit is on ("serial /dev/ttyUSB0", "tcp 10.0.0.5:502"),
    // and its number among the run's lines: units on one line are flashed
    // one after the other.
    std::string link;
    size_t link_index = 0;
};

// The run's settings (profile and command line) with each target's words on
// top. Units that share a line (a serial device, however it is named, or an
// address and port) but differ in unit address share its link_index; two on
// the same line at the same unit address are refused with both line numbers,
// as are two with the same name. `device_for_port` maps a port number to its
// device.
std::optional<std::vector<FleetUnit>> SettleUnits(
    const std::vector<FleetTarget>& targets, const CommSettings& run_settings,
    const SettingsOverrides& run_overrides,
    const std::function<std::string(int port)>& device_for_port, std::string& error);

// A download's refusal of units that share a line with one at the loader's
// address: while any unit there is in download mode, the one at that address
// would take the loader's writes (its speed, the sector buffer, the flash
// command) as writes to its own registers. Empty when there is none.
std::string LoaderAddressClash(const std::vector<FleetUnit>& units);

}  // namespace fc
