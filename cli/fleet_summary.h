#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/fleet_targets.h"
#include "download/flash_download.h"

namespace fc {

// How one unit's download ended; a unit never started (the run was
// stopped first) was not touched.
struct UnitOutcome {
    bool started = false;
    DownloadResult result = DownloadResult::Failed;
    std::chrono::duration<double> time{};
    std::string message;  // what the summary says of the unit
    std::vector<std::string> messages;
    // False when the unit's log or capture did not reach the disk in full.
    bool files_written = true;
    bool success() const { return started && result == DownloadResult::Completed && files_written; }
};

// The table printed once every unit has ended: unit, outcome, time, message,
// and a last line with the count and the run's wall time.
std::string SummaryTable(const std::vector<FleetUnit>& units,
                         const std::vector<UnitOutcome>& outcomes,
                         std::chrono::duration<double> wall_time);

// How a fleet run ended, said alike by its summary and its exit status:
// success when every unit succeeded, else interrupted (128 + the signal)
// when a stop cut it short, else failed.
struct FleetVerdict {
    const char* outcome;
    int exit_status;
};
FleetVerdict JudgeFleet(const std::vector<UnitOutcome>& outcomes, int stop_signal);

// The same as one JSON object, the last line of a --json run.
std::string SummaryJson(const std::string& image, const std::vector<FleetUnit>& units,
                        const std::vector<UnitOutcome>& outcomes, const FleetVerdict& verdict,
                        std::chrono::duration<double> wall_time);

}  // namespace fc
