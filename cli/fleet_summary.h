#pragma once

#include <chrono>
#include <optional>
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
    // What a test or a read gave, where it gave it.
    std::optional<std::string> value;
    std::optional<std::vector<std::string>> values;
    std::optional<int> loader_version;
    // False when the unit's log or capture did not reach the disk in full.
    bool files_written = true;
    bool success() const {
        return started && files_written &&
               (result == DownloadResult::Completed || result == DownloadResult::Skipped);
    }
};

// What the run was: its command, the image flashed (empty for a test or a
// read), and what the last line says of the units that succeeded.
struct FleetSummaryHead {
    std::string command;
    std::string image;
    const char* done = "flashed";
};

// The table printed once every unit has ended: unit, outcome, time, message,
// and a last line with the count and the run's wall time.
std::string SummaryTable(const FleetSummaryHead& head, const std::vector<FleetUnit>& units,
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
std::string SummaryJson(const FleetSummaryHead& head, const std::vector<FleetUnit>& units,
                        const std::vector<UnitOutcome>& outcomes, const FleetVerdict& verdict,
                        std::chrono::duration<double> wall_time);

}  // namespace fc
