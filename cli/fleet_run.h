#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/fleet_display.h"
#include "cli/fleet_summary.h"
#include "cli/fleet_targets.h"
#include "download/flash_download.h"
#include "download/image_file.h"
#include "modbus/serial_port.h"
#include "platform/user_interface.h"

namespace fc {

class OwnFile;
class TrafficCapture;

class Profile;

// A unit's user: nobody answers its questions (Cancel, No), every text shown
// goes to its log, and what the download reports becomes the unit's state on
// the shared display. Lives and is called on its unit's thread only.
class UnitUserInterface : public UserInterface {
  public:
    UnitUserInterface(size_t index, FleetDisplay& display, OwnFile* log);

    MessageAnswer ShowMessage(const MessageBox& box) override;
    void SetStatusText(std::string_view text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPosition(int position) override;
    void SetProgressText(int control_id, std::string_view text) override;

    void Enter(UnitPhase phase);
    // Ends the unit: done, failed with the first failure shown, or stopped
    // with the state the stop left it in; `unwritten` tells of a log or
    // capture that did not reach the disk in full, which fails the unit.
    UnitOutcome Finish(const DownloadOutcome& download, std::chrono::duration<double> time,
                       const std::string& unwritten = "");
    // Ends a unit asked by test or read: `said` is what its answer says.
    UnitOutcome FinishQuery(bool ok, bool stopped, const std::string& said,
                            std::chrono::duration<double> time);
    // Ends a unit whose thread could not be started.
    UnitOutcome FailToStart(const std::string& reason);

  private:
    void Publish();

    size_t index_;
    FleetDisplay& display_;
    OwnFile* log_;
    UnitState state_;
    int lower_ = 0;
    std::vector<std::string> messages_;
    std::string first_failure_;
};

struct FleetRunSettings {
    ImageBytes image;
    int jobs = 0;  // 0: every unit at once
    // One open trace file per unit, or none; likewise the captures.
    std::vector<OwnFile*> logs;
    std::vector<TrafficCapture*> captures;
    DownloadChecks checks;
    // Raised by the first unit whose log or capture the disk did not take:
    // no unit starts after it.
    std::shared_ptr<std::atomic<bool>> files_failed = std::make_shared<std::atomic<bool>>(false);
};

// Runs work(i) for every unit i, the units of one line one after the other
// and `jobs` lines at a time (0: all at once), each line on a thread of its
// own; returns when all have ended. Outcomes are in the units' order.
std::vector<UnitOutcome> RunUnits(const std::vector<FleetUnit>& units, int jobs,
                                  const std::function<UnitOutcome(size_t)>& work,
                                  FleetDisplay& display);

// Flashes every unit, each with its own driver.
std::vector<UnitOutcome> RunFleet(const std::vector<FleetUnit>& units,
                                  const FleetRunSettings& settings, FleetDisplay& display);

// The units of --targets, read and settled on the run's settings before any
// thread starts; none with the refusal.
std::optional<std::vector<FleetUnit>> ReadFleetUnits(const CliOptions& options,
                                                     const CommSettings& run_settings,
                                                     std::string& error);

// A unit's serial port is its settled device, whatever its number says.
PortResolver FixedDevice(const std::string& device);

// work(i, display) for every unit with the progress display and the stop
// signals of a fleet run, then the summary; returns the exit status.
int RunAndSummarize(const CliOptions& options, const std::vector<FleetUnit>& units,
                    const FleetSummaryHead& head,
                    const std::function<UnitOutcome(size_t, FleetDisplay&)>& work);

// download --targets as a whole: reads and checks the targets and the image
// before any unit is touched, asks `confirm`, runs the fleet and prints the
// summary. Returns the exit code.
int RunFleetDownload(const CliOptions& options, const CommSettings& run_settings,
                     const std::function<bool(const LoadedImage&)>& confirm);

}  // namespace fc
