#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "download/unit_contact.h"
#include "modbus/comm_settings.h"

namespace fc {

class ModbusMaster;

// What asking one unit gave: a test's contact, a read's value or values.
struct UnitAnswer {
    bool ok = false;
    std::string said;  // what the summary says of a unit that answered
    std::optional<std::string> value;
    std::optional<std::vector<std::string>> values;
    std::optional<int> loader_version;
};

// The test command's question: connect, ask the probe register, disconnect.
// Over a serial line Connect only opens the port, so the unit is asked once
// more: a test that never spoke to the unit proves nothing. A unit found in
// its loader fails (its application is not there to answer) and says which
// loader it is.
UnitAnswer TestUnit(ModbusMaster& master);

// read-block's question: COUNT registers from ADDRESS, each as wide as the
// address makes it, as decimal texts.
UnitAnswer ReadBlockValues(ModbusMaster& master, int address, int count);

using UnitQuery = std::function<UnitAnswer(ModbusMaster& master)>;

// test, read and read-block with --targets: every unit the targets name is
// asked on a thread of its own with its own driver, --jobs at a time, as a
// fleet download runs, and the summary says what each answered. Nobody
// answers a unit's questions. Returns the exit status (2 for targets that
// are refused before any unit is asked).
int RunFleetQuery(const CliOptions& options, const CommSettings& run_settings,
                  const UnitQuery& query);

}  // namespace fc
