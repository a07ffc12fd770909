#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/json_writer.h"
#include "cli/terminal_user_interface.h"
#include "download/flash_download.h"
#include "download/image_file.h"
#include "modbus/comm_settings.h"
#include "modbus/frame_trace.h"
#include "modbus/link_flags.h"
#include "modbus/modbus_master.h"
#include "modbus/traffic_frame.h"
#include "modbus/traffic_capture.h"
#include "registers/register_operations.h"

namespace fc {

class Profile;

// "fcloader-cli: cannot write PATH: REASON" on standard error.
void SayCannotWrite(const std::string& path, const std::string& reason);

// One run of fcloader-cli: the saved settings with this run's overrides, the
// one driver, and the command asked for. Each command returns an exit code.
class CliSession {
  public:
    CliSession(const CliOptions& options, TerminalUserInterface& ui, Profile& profile);
    int Run();

  private:
    int RunStoppable(int (CliSession::*command)());
    int Test();
    int Clock();
    int Detect();
    int Download();
    bool DownloadConfirmed(const LoadedImage& image);
    int Report();
    int Read();
    int Write();
    int ReadBlockCommand();
    int WriteBlockCommand();
    bool ParseBlockArguments(int& address, int& count) const;
    // What one read of a poll gave: the values, as text.
    struct PollResult {
        bool ok = false;
        std::vector<std::string> values;
    };
    // Repeats read every --poll seconds, a line each, until --times or Ctrl-C.
    int Poll(const std::function<PollResult()>& read);
    // Runs poll every `seconds` until --times or Ctrl-C; poll says whether it
    // read everything. The exit status says whether any poll failed.
    int RepeatPolls(double seconds, const std::function<bool()>& poll);
    int WatchCommand();
    void PrintPollLine(std::chrono::system_clock::time_point time, const PollResult& result,
                       const std::vector<std::string>& messages);
    bool StartCapture();
    // Says that a file of this run was not written in full; the run then fails.
    void TellOutputFailure(const std::string& path, const std::string& reason);
    // Closes the capture; false when it or any other output of the run failed.
    bool CloseOutputs();
    // The type --type names, or the saved Auto ranges' for the address.
    RegisterType ValueType(int address) const;
    FloatLayout Layout() const;
    int ReportValue(const RegisterOutcome& outcome, RegisterType type);

    // The outcome as --json names it: "success" (or `done`), or the failure's name.
    int Finish(bool success, const char* failure = "failed", const char* done = "success");
    bool SaveIfAsked();
    PortResolver Resolver() const;
    int RegisterOrDefault(const std::optional<int>& given, int fallback) const;

    const CliOptions& options_;
    TerminalUserInterface& ui_;
    Profile& profile_;
    CommSettings settings_;
    LinkFlags links_;
    ModbusMaster master_;
    std::unique_ptr<TrafficCapture> capture_;
    TrafficObservers::Watch trace_watch_;
    TrafficObservers::Watch capture_watch_;
    bool output_failed_ = false;
    JsonObject result_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace fc
