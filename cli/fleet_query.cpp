#include "cli/fleet_query.h"

#include <chrono>
#include <cstdio>

#include "cli/fleet_run.h"
#include "connection/connection.h"
#include "modbus/modbus_master.h"
#include "platform/stop_request.h"
#include "registers/register_operations.h"

namespace fc {

namespace {
constexpr const char* kUnitAnswered = "The unit answered.";
}  // namespace

UnitAnswer TestUnit(ModbusMaster& master) {
    UnitContact contact;
    const UnitProbe probe = [&contact](ModbusMaster& m) { return ProbeUnitOrLoader(m, &contact); };
    bool answered = Connect(master, probe);
    NoteUnitAnswered(master, answered);
    if (answered && !master.Settings().UseIP)
        answered = probe(master);
    Disconnect(master);
    UnitAnswer answer;
    answer.ok = contact.found == UnitFound::Application;
    answer.said = kUnitAnswered;
    if (contact.found == UnitFound::Loader)
        answer.loader_version = contact.loader_version;
    return answer;
}

UnitAnswer ReadBlockValues(ModbusMaster& master, int address, int count) {
    const int width = BlockRegisterWidth(address);
    std::vector<uint8_t> data(static_cast<size_t>(count) * width);
    UnitAnswer answer;
    answer.ok = WithRegisterConnection(
        master, [&] { return master.ReadRegisterBlock(address, data.data(), count) != 0; });
    std::vector<std::string> values;
    for (size_t i = 0; answer.ok && i < static_cast<size_t>(count); ++i) {
        uint32_t value = 0;
        for (int b = 0; b < width; ++b)
            value = value << 8 | data[i * width + b];
        values.push_back(std::to_string(value));
    }
    if (answer.ok) {
        for (const std::string& value : values)
            answer.said += (answer.said.empty() ? "" : " ") + value;
        answer.values = std::move(values);
    }
    return answer;
}

namespace {

UnitOutcome AskUnit(const FleetUnit& unit, size_t index, const UnitQuery& query,
                    FleetDisplay& display) {
    const auto start = std::chrono::steady_clock::now();
    UnitUserInterface ui(index, display, nullptr);
    CommSettings settings = unit.settings;
    LinkFlags links;
    ModbusMaster master(settings, links, ui, FixedDevice(unit.device));
    // A stop cuts short a unit that keeps the run waiting on its silence.
    const ModbusMaster::StopScope stoppable(master, &ProcessStopRequest());
    ui.Enter(UnitPhase::Connecting);
    const UnitAnswer answer = query(master);
    UnitOutcome outcome = ui.FinishQuery(answer.ok, master.StoppedByRequest(), answer.said,
                                         std::chrono::steady_clock::now() - start);
    outcome.value = answer.value;
    outcome.values = answer.values;
    outcome.loader_version = answer.loader_version;
    return outcome;
}

const char* DoneWord(const std::string& command) {
    return command == "test" ? "answered" : "read";
}

}  // namespace

int RunFleetQuery(const CliOptions& options, const CommSettings& run_settings,
                  const UnitQuery& query) {
    std::string error;
    const auto units = ReadFleetUnits(options, run_settings, error);
    if (!units) {
        std::fprintf(stderr, "fcloader-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    return RunAndSummarize(options, *units, {options.command, "", DoneWord(options.command)},
                           [&](size_t i, FleetDisplay& display) {
                               return AskUnit((*units)[i], i, query, display);
                           });
}

}  // namespace fc
