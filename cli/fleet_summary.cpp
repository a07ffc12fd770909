#include "cli/fleet_summary.h"

#include <algorithm>
#include <cstdio>

#include "cli/json_writer.h"
#include "platform/stop_request.h"

namespace fc {

namespace {

const char* OutcomeWord(const UnitOutcome& outcome) {
    if (!outcome.started)
        return "not started";
    switch (outcome.result) {
        case DownloadResult::Completed:
            return outcome.files_written ? "success" : "failed";
        case DownloadResult::Skipped:
            return "skipped";
        case DownloadResult::Failed:
            return "failed";
        case DownloadResult::Interrupted:
            return "stopped";
    }
    return "failed";
}

std::string Seconds(std::chrono::duration<double> time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", time.count());
    return text;
}

std::string Padded(std::string text, size_t width) {
    text.resize(std::max(width, text.size()), ' ');
    return text;
}

bool AllSucceeded(const std::vector<UnitOutcome>& outcomes) {
    return std::all_of(outcomes.begin(), outcomes.end(),
                       [](const UnitOutcome& outcome) { return outcome.success(); });
}

}  // namespace

FleetVerdict JudgeFleet(const std::vector<UnitOutcome>& outcomes, int stop_signal) {
    if (AllSucceeded(outcomes))
        return {"success", kExitSuccess};
    if (stop_signal != 0)
        return {"interrupted", ExitStatusForSignal(stop_signal)};
    return {"failed", kExitUnitFailed};
}

std::string SummaryTable(const FleetSummaryHead& head, const std::vector<FleetUnit>& units,
                         const std::vector<UnitOutcome>& outcomes,
                         std::chrono::duration<double> wall_time) {
    size_t name_width = std::string("unit").size();
    for (const FleetUnit& unit : units)
        name_width = std::max(name_width, unit.name.size());
    size_t link_width = std::string("line").size();
    for (const FleetUnit& unit : units)
        link_width = std::max(link_width, unit.link.size());
    constexpr size_t kOutcomeWidth = 13;
    constexpr size_t kTimeWidth = 9;
    std::string table = Padded("unit", name_width + 2) + Padded("outcome", kOutcomeWidth) +
                        Padded("time", kTimeWidth) + Padded("line", link_width + 2) +
                        "message\n";
    size_t flashed = 0;
    size_t skipped = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const UnitOutcome& outcome = outcomes[i];
        const bool skip = outcome.success() && outcome.result == DownloadResult::Skipped;
        skipped += skip ? 1 : 0;
        flashed += outcome.success() && !skip ? 1 : 0;
        table += Padded(units[i].name, name_width + 2) +
                 Padded(OutcomeWord(outcome), kOutcomeWidth) +
                 Padded(Seconds(outcome.time), kTimeWidth) + Padded(units[i].link, link_width + 2) +
                 outcome.message.substr(0, outcome.message.find('\n')) + "\n";
    }
    table += std::to_string(flashed) + " of " + std::to_string(units.size()) + " units " +
             head.done + (skipped ? ", " + std::to_string(skipped) + " skipped," : "") + " in " +
             Seconds(wall_time) + "\n";
    return table;
}

std::string SummaryJson(const FleetSummaryHead& head, const std::vector<FleetUnit>& units,
                        const std::vector<UnitOutcome>& outcomes, const FleetVerdict& verdict,
                        std::chrono::duration<double> wall_time) {
    std::string list;
    for (size_t i = 0; i < units.size(); ++i) {
        JsonObject unit;
        unit.Add("unit", units[i].name);
        unit.Add("line", units[i].line);
        unit.Add("outcome", OutcomeWord(outcomes[i]));
        unit.Add("seconds", outcomes[i].time.count());
        unit.Add("message", outcomes[i].message);
        unit.Add("messages", outcomes[i].messages);
        if (outcomes[i].value)
            unit.Add("value", *outcomes[i].value);
        if (outcomes[i].values)
            unit.Add("values", *outcomes[i].values);
        if (outcomes[i].loader_version)
            unit.Add("loader_version", *outcomes[i].loader_version);
        unit.Add("link", units[i].link);
        list += (list.empty() ? "" : ",") + unit.Text();
    }
    JsonObject summary;
    summary.Add("command", head.command);
    if (!head.image.empty())
        summary.Add("image", head.image);
    summary.Add("outcome", verdict.outcome);
    summary.Add("seconds", wall_time.count());
    summary.AddRaw("units", "[" + list + "]");
    return summary.Text();
}

}  // namespace fc
