#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/fleet_display.h"
#include "cli/fleet_summary.h"
#include "cli/fleet_targets.h"
#include "download/flash_download.h"
#include "download/image_file.h"
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
    // Raised by the first unit whose log or capture the disk did not take:
    // no unit starts after it.
    std::shared_ptr<std::atomic<bool>> files_failed = std::make_shared<std::atomic<bool>>(false);
};

// Flashes every unit, `jobs` at a time, each on a thread of its own with its
// own driver; returns when all have ended. Outcomes are in the units' order.
std::vector<UnitOutcome> RunFleet(const std::vector<FleetUnit>& units,
                                  const FleetRunSettings& settings, FleetDisplay& display);

// download --targets as a whole: reads and checks the targets and the image
// before any unit is touched, asks `confirm`, runs the fleet and prints the
// summary. Returns the exit code.
int RunFleetDownload(const CliOptions& options, const CommSettings& run_settings,
                     const std::function<bool()>& confirm);

}  // namespace fc
