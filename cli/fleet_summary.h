#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/fleet_run.h"

namespace fc {

// The table printed once every unit has ended: unit, outcome, time, message,
// and a last line with the count and the run's wall time.
std::string SummaryTable(const std::vector<FleetUnit>& units,
                         const std::vector<UnitOutcome>& outcomes,
                         std::chrono::duration<double> wall_time);

// The same as one JSON object, the last line of a --json run.
std::string SummaryJson(const std::string& image, const std::vector<FleetUnit>& units,
                        const std::vector<UnitOutcome>& outcomes,
                        std::chrono::duration<double> wall_time);

bool AllSucceeded(const std::vector<UnitOutcome>& outcomes);

}  // namespace fc
