#include "cli/fleet_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/fleet_summary.h"
#include "cli/messages.h"
#include "download/download_progress.h"
#include "download/messages.h"
#include "modbus/frame_trace.h"
#include "modbus/modbus_master.h"
#include "modbus/traffic_capture.h"
#include "platform/application_title.h"
#include "platform/messages.h"
#include "platform/regular_file.h"
#include "platform/stop_request.h"

namespace fc {

namespace m = download_messages;
namespace cm = cli_messages;

namespace {

using Clock = std::chrono::steady_clock;

struct UnitFiles {
    std::vector<std::unique_ptr<OwnFile>> logs;
    std::vector<std::unique_ptr<TrafficCapture>> captures;
};

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "fcloader-cli: %s\n", reason.c_str());
    return kExitUsage;
}

// Every serial port number is looked up here, on the main thread: the
// profile store is not for threads.
std::string DeviceForPort(int port) {
    const auto devices = ProfilePortResolver(ApplicationTitle())(port);
    return devices.empty() ? DefaultDevicePath(port) : devices.front();
}

// One trace file per unit (and a capture with --capture), all opened before
// the run so that a folder that cannot take them refuses the run, not a unit
// half-way.
std::optional<UnitFiles> OpenUnitFiles(const std::string& folder,
                                       const std::vector<FleetUnit>& units, bool capture,
                                       std::string& error) {
    std::string reason;
    if (!MakeOwnFolder(folder, reason)) {
        error = "cannot use " + folder + ": " + reason;
        return std::nullopt;
    }
    UnitFiles files;
    for (const FleetUnit& unit : units) {
        if (!IsFileName(unit.name)) {
            error = "targets: line " + std::to_string(unit.line) + ": " + cm::kNameNoFileName;
            return std::nullopt;
        }
        const std::string path = folder + "/" + unit.name + ".log";
        auto log = std::make_unique<OwnFile>();
        if (!log->Create(path, reason)) {
            error = cm::kCannotWrite + path + ": " + reason;
            return std::nullopt;
        }
        files.logs.push_back(std::move(log));
        if (!capture)
            continue;
        const std::string capture_path = folder + "/" + unit.name + ".pcap";
        auto opened = TrafficCapture::Create(capture_path, reason);
        if (!opened) {
            error = cm::kCannotWrite + capture_path + ": " + reason;
            return std::nullopt;
        }
        files.captures.push_back(std::move(opened));
    }
    return files;
}

// "PATH was not written: REASON" for the first of the unit's files that did
// not reach the disk in full, once both are closed; empty when both did.
std::string CloseUnitFiles(OwnFile* log, TrafficCapture* capture) {
    const bool log_written = !log || log->Close();
    const bool capture_written = !capture || capture->Close();
    if (!log_written)
        return log->Path() + cm::kNotWritten + log->Failure();
    if (!capture_written)
        return capture->Path() + cm::kNotWritten + capture->Failure();
    return "";
}

UnitOutcome FlashUnit(const FleetUnit& unit, size_t index, const FleetRunSettings& run,
                      FleetDisplay& display) {
    const auto start = Clock::now();
    OwnFile* log = run.logs.empty() ? nullptr : run.logs[index];
    TrafficCapture* capture = run.captures.empty() ? nullptr : run.captures[index];
    UnitUserInterface ui(index, display, log);
    CommSettings settings = unit.settings;
    LinkFlags links;
    ModbusMaster master(settings, links, ui, FixedDevice(unit.device));
    // A log or capture that fails to write (a full disk) ends there; the unit
    // goes on to a known state, and the run starts no other unit.
    TrafficObservers::Watch trace_watch;
    if (log) {
        trace_watch = master.OnTraffic.Add([log, &run](const TrafficFrame& frame) {
            if (!log->Write(TraceLine(frame) + "\n"))
                *run.files_failed = true;
        });
    }
    TrafficObservers::Watch capture_watch;
    if (capture) {
        capture_watch =
            master.OnTraffic.Add([capture, &capture_watch, &run](const TrafficFrame& frame) {
                if (capture->Write(frame))
                    return;
                capture_watch.Stop();
                *run.files_failed = true;
            });
    }
    ui.Enter(UnitPhase::Connecting);
    DownloadHooks hooks;
    hooks.stop = &ProcessStopRequest();
    const DownloadOutcome outcome = RunDownloadSession(master, run.image, hooks, {}, run.checks);
    TellDownloadOutcome(ui, outcome);
    trace_watch.Stop();
    capture_watch.Stop();
    const std::string unwritten = CloseUnitFiles(log, capture);
    if (!unwritten.empty())
        *run.files_failed = true;
    return ui.Finish(outcome, Clock::now() - start, unwritten);
}

// Texts that tell how the run goes, not what went wrong.
bool IsNotice(const std::string& text) {
    for (const char* notice : {m::kDownloadCompleted, m::kAlreadyInDownloadMode,
                               m::kLookingForLoader}) {
        if (text == notice)
            return true;
    }
    return false;
}

const char* LeftInNote(UnitMode unit) {
    switch (unit) {
        case UnitMode::Application:
        case UnitMode::Flashed:
            return "";
        case UnitMode::MaybeInLoader:
            return " (may be left in download mode)";
        case UnitMode::InLoader:
            return " (left in download mode)";
    }
    return "";
}

}  // namespace

UnitUserInterface::UnitUserInterface(size_t index, FleetDisplay& display, OwnFile* log)
    : index_(index), display_(display), log_(log) {}

MessageAnswer UnitUserInterface::ShowMessage(const MessageBox& box) {
    messages_.push_back(box.text);
    if (log_)
        log_->Write(box.text + "\n");
    if (first_failure_.empty() && !IsNotice(box.text))
        first_failure_ = box.text;
    // Nobody sits at a unit of a fleet to answer: a question gets the answer
    // a script without a terminal gets.
    return UnattendedAnswer(box.buttons);
}

void UnitUserInterface::SetStatusText(std::string_view text) {
    if (log_ && !text.empty())
        log_->Write(std::string(text) + "\n");
    if (text == m::kSettingDownloadMode)
        Enter(UnitPhase::DownloadMode);
    else if (text == m::kBeingReset)
        Enter(UnitPhase::Reset);
}

void UnitUserInterface::SetProgressRange(int lower, int upper) {
    lower_ = lower;
    state_.sectors = upper - lower;
}

void UnitUserInterface::SetProgressPosition(int position) {
    state_.phase = UnitPhase::Sectors;
    state_.sector = position - lower_ + 1;
    Publish();
}

void UnitUserInterface::SetProgressText(int control_id, std::string_view text) {
    if (control_id == kTransferRateText)
        state_.rate = text;
}

void UnitUserInterface::Enter(UnitPhase phase) {
    state_.phase = phase;
    Publish();
}

void UnitUserInterface::Publish() {
    display_.Report(index_, state_);
}

UnitOutcome UnitUserInterface::FailToStart(const std::string& reason) {
    UnitOutcome outcome;
    outcome.started = true;
    outcome.message = "cannot start a thread for the unit: " + reason;
    outcome.messages = {outcome.message};
    state_.reason = outcome.message;
    Enter(UnitPhase::Failed);
    return outcome;
}

UnitOutcome UnitUserInterface::FinishQuery(bool ok, bool stopped, const std::string& said,
                                           std::chrono::duration<double> time) {
    UnitOutcome outcome;
    outcome.started = true;
    outcome.time = time;
    outcome.messages = messages_;
    if (ok) {
        outcome.result = DownloadResult::Completed;
        outcome.message = said;
        Enter(UnitPhase::Done);
        return outcome;
    }
    outcome.result = stopped ? DownloadResult::Interrupted : DownloadResult::Failed;
    // A unit found in its loader fails a test with no failure shown: the
    // notice that says so is the reason.
    outcome.message = stopped ? m::kStoppedBeforeAnswer
                      : !first_failure_.empty() ? first_failure_
                      : !messages_.empty()      ? messages_.back()
                                                : said;
    state_.reason = outcome.message;
    Enter(stopped ? UnitPhase::Stopped : UnitPhase::Failed);
    return outcome;
}

UnitOutcome UnitUserInterface::Finish(const DownloadOutcome& download,
                                      std::chrono::duration<double> time,
                                      const std::string& unwritten) {
    UnitOutcome outcome;
    outcome.started = true;
    outcome.result = download.result;
    outcome.time = time;
    outcome.messages = messages_;
    switch (download.result) {
        case DownloadResult::Completed:
            outcome.message = m::kDownloadCompleted;
            if (download.recovered)
                outcome.message += " (recovered from download mode)";
            Enter(UnitPhase::Done);
            break;
        case DownloadResult::Skipped:
            outcome.message = AlreadyAtText(download.checked.value_or(0));
            state_.reason = outcome.message;
            Enter(UnitPhase::Skipped);
            break;
        case DownloadResult::Failed:
            outcome.message = first_failure_ + LeftInNote(download.unit);
            state_.reason = outcome.message;
            Enter(UnitPhase::Failed);
            break;
        case DownloadResult::Interrupted:
            outcome.message = InterruptionText(download.unit);
            state_.reason = outcome.message;
            Enter(UnitPhase::Stopped);
            break;
    }
    // The download said how it ended; the summary says that and what the
    // disk did not take, and does not count the unit a success.
    if (!unwritten.empty()) {
        outcome.files_written = false;
        if (!outcome.message.empty() && outcome.message.back() == '.')
            outcome.message.pop_back();  // "... successfully, but ..."
        outcome.message += cm::kButNotWritten + unwritten;
        state_.reason = outcome.message;
        Enter(download.result == DownloadResult::Interrupted ? UnitPhase::Stopped
                                                             : UnitPhase::Failed);
    }
    return outcome;
}

std::vector<UnitOutcome> RunUnits(const std::vector<FleetUnit>& units, int jobs_asked,
                                  const std::function<UnitOutcome(size_t)>& work,
                                  FleetDisplay& display) {
    std::vector<UnitOutcome> outcomes(units.size());
    // One device or endpoint carries one exchange at a time (and every
    // loader answers at one address), so the units of a line run one after
    // the other.
    std::vector<std::vector<size_t>> lines;
    for (size_t i = 0; i < units.size(); ++i) {
        if (units[i].link_index >= lines.size())
            lines.resize(units[i].link_index + 1);
        lines[units[i].link_index].push_back(i);
    }
    std::atomic<size_t> next{0};
    // Each worker takes the next line not yet started; a unit's outcome is
    // written by its worker alone and read after the join. A stop leaves the
    // units not yet started untouched.
    const auto worker = [&] {
        for (size_t line = next++; line < lines.size(); line = next++) {
            for (const size_t i : lines[line]) {
                if (ProcessStopRequest().Raised())
                    return;
                outcomes[i] = work(i);
            }
        }
    };
    const size_t jobs =
        jobs_asked > 0 ? std::min<size_t>(jobs_asked, lines.size()) : lines.size();
    std::vector<std::thread> workers;
    std::optional<std::system_error> refused;
    for (size_t j = 0; j < jobs; ++j) {
        try {
            workers.emplace_back(worker);
        } catch (const std::system_error& error) {
            refused = error;
        }
    }
    // A thread the system will not give (a process limit) leaves its lines
    // to the workers that did start; with no worker at all, every unit
    // fails with the reason.
    if (workers.empty() && refused) {
        for (size_t i = 0; i < units.size(); ++i)
            outcomes[i] = UnitUserInterface(i, display, nullptr).FailToStart(refused->what());
    }
    for (std::thread& thread : workers)
        thread.join();
    return outcomes;
}

std::vector<UnitOutcome> RunFleet(const std::vector<FleetUnit>& units,
                                  const FleetRunSettings& settings, FleetDisplay& display) {
    // After a unit whose log or capture the disk did not take, no unit starts.
    return RunUnits(
        units, settings.jobs,
        [&](size_t i) {
            return *settings.files_failed ? UnitOutcome{} : FlashUnit(units[i], i, settings, display);
        },
        display);
}

PortResolver FixedDevice(const std::string& device) {
    return [device](int) { return std::vector<std::string>{device}; };
}

std::optional<std::vector<FleetUnit>> ReadFleetUnits(const CliOptions& options,
                                                     const CommSettings& run_settings,
                                                     std::string& error) {
    const auto targets = ReadTargetsFile(*options.targets, error);
    auto units = targets ? SettleUnits(*targets, run_settings, options.overrides, DeviceForPort,
                                       error)
                         : std::nullopt;
    if (!units)
        error = "targets: " + error;
    return units;
}

// In place only while every unit's line fits on the screen: the cursor
// cannot go back up to lines that have scrolled away.
FleetDisplay::Mode FleetDisplayMode(const CliOptions& options, size_t units) {
    if (options.json)
        return FleetDisplay::Mode::Json;
    if (!isatty(STDERR_FILENO))
        return FleetDisplay::Mode::Plain;
    winsize size{};
    const bool rows_known = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0;
    return rows_known && units >= size.ws_row ? FleetDisplay::Mode::Plain
                                              : FleetDisplay::Mode::Terminal;
}

int RunAndSummarize(const CliOptions& options, const std::vector<FleetUnit>& units,
                    const FleetSummaryHead& head,
                    const std::function<UnitOutcome(size_t, FleetDisplay&)>& work) {
    std::vector<std::string> names;
    for (const FleetUnit& unit : units)
        names.push_back(unit.name);
    FleetDisplay display(options.json ? stdout : stderr, FleetDisplayMode(options, names.size()),
                         names);
    const auto start = Clock::now();
    std::vector<UnitOutcome> outcomes;
    {
        const StopSignals signals;
        outcomes = RunUnits(
            units, options.jobs.value_or(0), [&](size_t i) { return work(i, display); }, display);
    }
    const auto wall_time = Clock::now() - start;
    const FleetVerdict verdict = JudgeFleet(outcomes, ProcessStopRequest().Signal());
    if (options.json)
        std::printf("%s\n", SummaryJson(head, units, outcomes, verdict, wall_time).c_str());
    else
        std::printf("%s", SummaryTable(head, units, outcomes, wall_time).c_str());
    return verdict.exit_status;
}

int RunFleetDownload(const CliOptions& options, const CommSettings& run_settings,
                     const std::function<bool(const LoadedImage&)>& confirm) {
    std::string error;
    const auto units = ReadFleetUnits(options, run_settings, error);
    if (!units)
        return Refuse(error);
    if (const std::string clash = LoaderAddressClash(*units); !clash.empty())
        return Refuse("targets: " + clash);
    const std::string& image_path = options.arguments.front();
    // Read once for every unit and judged as a single download judges it.
    const LoadedImage image = LoadImage(image_path, options.sha256);
    if (image.verdict != ImageVerdict::Fine) {
        std::fprintf(stderr, "%s\n", ImageRefusalText(image, m::kUnableToOpenSelectedFile).c_str());
        return kExitUsage;
    }
    UnitFiles files;
    if (options.log_dir) {
        auto opened = OpenUnitFiles(*options.log_dir, *units, !options.capture.empty(), error);
        if (!opened)
            return Refuse(error);
        files = std::move(*opened);
    }
    if (!confirm(image))
        return kExitUsage;

    FleetRunSettings run{image.bytes, options.jobs.value_or(0), {}, {},
                         {options.unless, options.expect}};
    for (const auto& log : files.logs)
        run.logs.push_back(log.get());
    for (const auto& capture : files.captures)
        run.captures.push_back(capture.get());
    return RunAndSummarize(options, *units, {"download", image_path, "flashed"},
                           [&](size_t i, FleetDisplay& display) {
                               return FlashUnit((*units)[i], i, run, display);
                           });
}

}  // namespace fc
