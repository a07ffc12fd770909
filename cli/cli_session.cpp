#include "cli/cli_session.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

#include "cli/fleet_query.h"
#include "cli/fleet_run.h"
#include "cli/messages.h"
#include "connection/auto_detect.h"
#include "connection/connection.h"
#include "connection/messages.h"
#include "connection/port_report.h"
#include "connection/serial_devices.h"
#include "download/flash_download.h"
#include "download/image_file.h"
#include "download/messages.h"
#include "download/unit_contact.h"
#include "modbus/frame_trace.h"
#include "modbus/messages.h"
#include "platform/application_title.h"
#include "platform/field_text.h"
#include "platform/profile.h"
#include "platform/regular_file.h"
#include "platform/stop_request.h"
#include "platform/whole_number.h"
#include "registers/clock_registers.h"
#include "registers/register_operations.h"
#include "registers/register_types.h"
#include "watch/watch_log.h"

namespace fc {

namespace {
constexpr const char* kParityNames[] = {"none", "odd", "even"};

std::optional<int> ParsePortArgument(const std::string& text) {
    const auto value = ParseWholeNumber(text, 1, 32767);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

// A register's whole number: from the lowest signed to the highest unsigned
// value of its width, in decimal or 0x hex.
std::optional<long long> ParseRegisterWhole(const std::string& text, bool wide) {
    return ParseWholeNumber(text, wide ? INT32_MIN : INT16_MIN, wide ? UINT32_MAX : UINT16_MAX);
}

// The window takes any text (a non-number writes 0); a script is better
// served by a refusal than by some other value written into the unit. Floats
// are decimal numbers a float can hold.
std::optional<RegisterValue> ParseValueArgument(const std::string& text, RegisterType type) {
    if (type == RegisterType::Float) {
        const std::optional<float> value = ParseFloatField(text);
        // The field would take blanks around it; an argument never has them.
        if (!value || text.find_first_of(" \t") != std::string::npos)
            return std::nullopt;
        return RegisterValue{*value, 0};
    }
    const std::optional<long long> value = ParseRegisterWhole(text, type == RegisterType::Int32);
    if (!value)
        return std::nullopt;
    return RegisterValue{0, *value};
}

int BadArgument(const char* what, const std::string& text) {
    std::fprintf(stderr, "fcloader-cli: bad %s \"%s\"\n", what, text.c_str());
    return kExitUsage;
}

// "2026-03-01T14:05:09.123", local time: polls may run for days, so the date
// goes with every line.
std::string PollStamp(std::chrono::system_clock::time_point time) {
    return IsoLocalTime(time);
}

// For its life SIGINT, SIGTERM and SIGHUP raise the process's stop request,
// cleared of any earlier one, instead of ending the process, and the
// driver's waits end on it.
class SignalStop {
  public:
    explicit SignalStop(ModbusMaster& master) : stoppable_(master, Cleared()) {}

  private:
    static const StopRequest* Cleared() {
        ProcessStopRequest().Clear();
        return &ProcessStopRequest();
    }
    const ModbusMaster::StopScope stoppable_;
    const StopSignals signals_;
};

}  // namespace

CliSession::CliSession(const CliOptions& options, TerminalUserInterface& ui, Profile& profile)
    : options_(options), ui_(ui), profile_(profile), master_(settings_, links_, ui_, Resolver()) {
    LoadSettings(settings_, profile_);
    ApplyOverrides(options_.overrides, settings_);
    master_.EchoMismatchText = modbus_messages::kEchoMismatchCommandLine;
    if (options_.trace) {
        trace_watch_ = master_.OnTraffic.Add([this](const TrafficFrame& frame) {
            ui_.FinishProgress();
            std::fprintf(stderr, "%s\n", TraceLine(frame).c_str());
        });
    }
}

void SayCannotWrite(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "fcloader-cli: %s%s: %s\n", cli_messages::kCannotWrite, path.c_str(),
                 reason.c_str());
}

// A capture that cannot be written is bad usage: nothing is sent then. One
// that fails later (a full disk) ends with the last whole frame and fails
// the run once the unit is left as the command leaves it.
bool CliSession::StartCapture() {
    if (options_.capture.empty())
        return true;
    std::string error;
    capture_ = TrafficCapture::Create(options_.capture, error);
    if (!capture_) {
        SayCannotWrite(options_.capture, error);
        return false;
    }
    capture_watch_ = master_.OnTraffic.Add([this](const TrafficFrame& frame) {
        if (capture_->Write(frame))
            return;
        capture_watch_.Stop();
        TellOutputFailure(options_.capture, capture_->Failure());
    });
    return true;
}

void CliSession::TellOutputFailure(const std::string& path, const std::string& reason) {
    ui_.FinishProgress();
    SayCannotWrite(path, reason);
    output_failed_ = true;
}

bool CliSession::CloseOutputs() {
    if (capture_ && !capture_->Close() && !output_failed_)
        TellOutputFailure(options_.capture, capture_->Failure());
    return !output_failed_;
}

PortResolver CliSession::Resolver() const {
    // --device names the device for this run whatever the port number says.
    if (options_.overrides.device) {
        const std::string device = *options_.overrides.device;
        return [device](int) { return std::vector<std::string>{device}; };
    }
    return ProfilePortResolver(ApplicationTitle());
}

int CliSession::Run() {
    using Command = int (CliSession::*)();
    static const std::map<std::string, Command> kCommands = {
        {"test", &CliSession::Test},
        {"clock", &CliSession::Clock},
        {"detect", &CliSession::Detect},
        {"download", &CliSession::Download},
        {"report", &CliSession::Report},
        {"read", &CliSession::Read},
        {"write", &CliSession::Write},
        {"read-block", &CliSession::ReadBlockCommand},
        {"write-block", &CliSession::WriteBlockCommand},
        {"watch", &CliSession::WatchCommand},
    };
    const auto found = kCommands.find(options_.command);
    if (found == kCommands.end()) {
        std::fprintf(stderr, "fcloader-cli: %s is not available yet\n", options_.command.c_str());
        return kExitUsage;
    }
    // A fleet keeps its captures per unit, in --log-dir.
    if (!options_.targets && !StartCapture())
        return kExitUsage;
    result_.Add("command", options_.command);
    const bool ownsStops =
        options_.command == "download" || options_.command == "watch" || options_.poll_seconds;
    if (ownsStops)
        return (this->*found->second)();
    return RunStoppable(found->second);
}

// A signal ends a one-shot command as a stop does: the transaction in hand
// ends at once, and the port closes through the driver, which leaves what
// the line still owes that request beside it for the next run. Ended by the
// signal itself, the process would hand that late reply to whichever run
// opens the line next, as the answer to its own request.
int CliSession::RunStoppable(int (CliSession::*command)()) {
    const SignalStop stop(master_);
    const int status = (this->*command)();
    const int signal = ProcessStopRequest().Signal();
    return signal != 0 ? ExitStatusForSignal(signal) : status;
}

// --save keeps the settings as a successful run leaves them (after detect:
// the ones found); a failed run saves nothing, so a scan that found no unit
// cannot leave its last attempt behind as the saved settings. A save that
// does not reach the file fails the run: a script must not take it as kept.
bool CliSession::SaveIfAsked() {
    if (!options_.save)
        return true;
    SaveSettings(settings_, profile_);
    if (options_.overrides.device)
        StorePortDevice(profile_, settings_.ComPort, *options_.overrides.device);
    return SyncAndReport(profile_, ui_);
}

int CliSession::Finish(bool success, const char* failure, const char* done) {
    ui_.FinishProgress();
    success = CloseOutputs() && success;
    if (success)
        success = SaveIfAsked();
    if (options_.json) {
        result_.Add("outcome", success ? done : failure);
        if (master_.EndedByException)
            result_.Add("exception", ExceptionText(master_.ExceptionCode));
        result_.Add("messages", ui_.Messages());
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
        result_.Add("seconds", elapsed.count());
        std::printf("%s\n", result_.Text().c_str());
    }
    return success ? kExitSuccess : kExitUnitFailed;
}

int CliSession::RegisterOrDefault(const std::optional<int>& given, int fallback) const {
    return given.value_or(fallback);
}

int CliSession::Test() {
    if (options_.targets)
        return RunFleetQuery(options_, settings_, TestUnit);
    const UnitAnswer answer = TestUnit(master_);
    if (answer.loader_version)
        result_.Add("loader_version", *answer.loader_version);
    if (answer.ok && !options_.json)
        std::printf("%s\n", answer.said.c_str());
    return Finish(answer.ok);
}

int CliSession::Clock() {
    const int clock_register = RegisterOrDefault(options_.clock_register, kDefaultClockRegister);
    const int date_register = RegisterOrDefault(options_.date_register, kDefaultDateRegister);
    int clock = 0;
    int date = 0;
    const bool ok = WithRegisterConnection(master_, [&] {
        if (options_.set_clock) {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            const int pc_clock = local.tm_hour * 10000 + local.tm_min * 100 + local.tm_sec;
            const int pc_date =
                local.tm_mday * 10000 + (local.tm_mon + 1) * 100 + local.tm_year % 100;
            if (!master_.WriteRegister32(clock_register, pc_clock))
                return false;
            if (!master_.WriteRegister32(date_register, pc_date))
                return false;
        }
        return master_.ReadRegister32(clock_register, clock) &&
               master_.ReadRegister32(date_register, date);
    });
    if (ok) {
        result_.Add("time", FormatClock(clock));
        result_.Add("date", FormatDate(date));
        if (!options_.json) {
            std::printf("time %s\ndate %s\n", FormatClock(clock).c_str(), FormatDate(date).c_str());
        }
    }
    return Finish(ok);
}

int CliSession::Detect() {
    const bool found = AutoDetect(master_);
    if (found) {
        const std::string text = DeviceFoundText(settings_);
        result_.Add("mode", settings_.ModbusType != 0 ? "ascii" : "rtu");
        result_.Add("port", settings_.ComPort);
        result_.Add("baud", BaudFromIndex(settings_.BaudRate));
        result_.Add("parity", kParityNames[std::clamp(settings_.Parity, 0, 2)]);
        result_.Add("unit", settings_.UnitId);
        if (!options_.json) {
            std::printf("%s\n- Baud: %d\n- Parity: %s\n", text.c_str(),
                        BaudFromIndex(settings_.BaudRate),
                        kParityNames[std::clamp(settings_.Parity, 0, 2)]);
        }
    } else {
        ui_.ShowMessage({connection_messages::kUnableToFindDevice,
                         connection_messages::kFailedCaption, MessageButtons::Ok,
                         MessageIcon::None});
    }
    return Finish(found);
}

// The download clears the unit: --yes, or a Yes on the terminal.
bool CliSession::DownloadConfirmed(const LoadedImage& image) {
    if (options_.yes)
        return true;
    if (!ui_.Interactive()) {
        std::fprintf(stderr,
                     "fcloader-cli: a download clears the unit; give --yes to run it "
                     "without a terminal to confirm on\n");
        return false;
    }
    const MessageBox confirm{ConfirmDownloadText(image), download_messages::kConfirmCaption,
                             MessageButtons::YesNo, MessageIcon::Warning};
    return ui_.ShowMessage(confirm) == MessageAnswer::Yes;
}

// As the window's Start Download does it once confirmed. SIGINT, SIGTERM and
// SIGHUP do not end the process mid-frame: they ask the run to stop between
// two requests, and the run then says what it left behind.
int CliSession::Download() {
    if (options_.targets)
        return RunFleetDownload(options_, settings_,
                                [this](const LoadedImage& image) { return DownloadConfirmed(image); });
    namespace m = download_messages;
    const std::string& path = options_.arguments.front();
    const LoadedImage image = LoadImage(path, options_.sha256);
    if (image.verdict != ImageVerdict::Fine) {
        ui_.ShowMessage({ImageRefusalText(image, m::kUnableToOpenSelectedFile), "",
                         MessageButtons::Ok, MessageIcon::None});
        return kExitUsage;
    }
    if (!DownloadConfirmed(image))
        return kExitUsage;
    result_.Add("image", path);
    DownloadOutcome outcome;
    {
        const StopSignals signals;
        DownloadHooks hooks;
        hooks.stop = &ProcessStopRequest();
        outcome = RunDownloadSession(master_, image.bytes, hooks, {},
                                     {options_.unless, options_.expect});
    }
    result_.Add("recovered", outcome.recovered);
    if (outcome.checked)
        result_.Add("register_value", *outcome.checked);
    TellDownloadOutcome(ui_, outcome);
    if (outcome.result == DownloadResult::Skipped)
        return Finish(true, "", "skipped");
    if (outcome.result != DownloadResult::Interrupted)
        return Finish(outcome.result == DownloadResult::Completed);
    Finish(false, "interrupted");
    return ExitStatusForSignal(outcome.signal);
}

int CliSession::Report() {
    const auto port = ParsePortArgument(options_.arguments[0]);
    if (!port) {
        std::fprintf(stderr, "fcloader-cli: bad port number \"%s\"\n",
                     options_.arguments[0].c_str());
        return kExitUsage;
    }
    const std::string file = options_.arguments[1];
    std::string refusal;
    if (!OwnFileAllowed(file, refusal)) {
        SayCannotWrite(file, refusal);
        return kExitUsage;
    }
    bool written = false;
    PortReportHooks hooks;
    hooks.choosePath = [&] { return std::optional<std::string>(file); };
    hooks.open = [&](const std::string& path) {
        written = true;
        if (!options_.json)
            std::printf("Port report written to %s\n", path.c_str());
    };
    GenerateFullPortReport(master_, *port, hooks);
    result_.Add("file", file);
    return Finish(written);
}

RegisterType CliSession::ValueType(int address) const {
    if (options_.type == "int16")
        return RegisterType::Int16;
    if (options_.type == "int32")
        return RegisterType::Int32;
    if (options_.type == "float")
        return RegisterType::Float;
    RegisterTypeRanges ranges;
    LoadRegisterTypeRanges(ranges, profile_);
    return TypeForAddress(ranges, address);
}

FloatLayout CliSession::Layout() const {
    return {options_.float_registers == 2, options_.float_low_word_first};
}

int CliSession::ReportValue(const RegisterOutcome& outcome, RegisterType type) {
    static constexpr const char* kTypeNames[] = {"int16", "int32", "float"};
    result_.Add("type", kTypeNames[static_cast<int>(type)]);
    result_.Add("transmitted", outcome.TxText);
    result_.Add("received", outcome.RxText);
    if (outcome.Data) {
        result_.Add("value", *outcome.Data);
        if (!options_.json)
            std::printf("%s\n", outcome.Data->c_str());
    }
    return Finish(outcome.Success);
}

int CliSession::Read() {
    int address = 0;
    if (!ParseWholeNumber(options_.arguments[0], 0, 65535, &address))
        return BadArgument("address", options_.arguments[0]);
    const RegisterType type = ValueType(address);
    if (options_.targets) {
        return RunFleetQuery(options_, settings_, [&](ModbusMaster& master) {
            const RegisterOutcome outcome = ReadValue(master, address, type, Layout());
            UnitAnswer answer{outcome.Success, outcome.Data.value_or(""), outcome.Data, {}, {}};
            return answer;
        });
    }
    if (options_.poll_seconds) {
        return Poll([&] {
            const RegisterOutcome outcome = ReadValue(master_, address, type, Layout());
            PollResult result{outcome.Success, {}};
            if (outcome.Data)
                result.values.push_back(*outcome.Data);
            return result;
        });
    }
    return ReportValue(ReadValue(master_, address, type, Layout()), type);
}

// mbpoll's loop: the polls keep their rhythm (a slow one is not made up for
// with a burst), a failed one is told on its line and the next one comes.
int CliSession::Poll(const std::function<PollResult()>& read) {
    return RepeatPolls(*options_.poll_seconds, [&] {
        const size_t seen = ui_.Messages().size();
        const auto time = std::chrono::system_clock::now();
        const PollResult result = read();
        if (!result.ok && master_.StoppedByRequest())
            return false;
        const std::vector<std::string> messages(ui_.Messages().begin() + seen,
                                                ui_.Messages().end());
        PrintPollLine(time, result, messages);
        return result.ok;
    });
}

int CliSession::RepeatPolls(double seconds, const std::function<bool()>& poll) {
    using namespace std::chrono;
    const auto period = duration_cast<steady_clock::duration>(duration<double>(seconds));
    // Ctrl-C (or SIGTERM, SIGHUP) ends polling at once: a poll that has its
    // answers prints its line, one still waiting on a silent unit is cut
    // short and says nothing of it.
    const SignalStop stop(master_);
    const KeptRegisterConnection kept(master_);
    ui_.StopAsking();
    bool any_failed = false;
    auto next = steady_clock::now();
    for (long long n = 0; !options_.poll_times || n < *options_.poll_times; ++n) {
        if (n > 0 && !SleepUnlessStopped(&ProcessStopRequest(),
                                         ceil<milliseconds>(next - steady_clock::now())))
            break;
        const bool ok = poll();
        if (!ok && master_.StoppedByRequest())
            break;  // cut short, it says nothing of the unit
        any_failed = !ok || any_failed;
        if (output_failed_)
            break;
        next = std::max(next + period, steady_clock::now());
        if (ProcessStopRequest().Raised())
            break;
    }
    any_failed = !CloseOutputs() || any_failed;
    if (!any_failed)
        SaveIfAsked();
    return any_failed ? kExitUnitFailed : kExitSuccess;
}

void CliSession::PrintPollLine(std::chrono::system_clock::time_point time, const PollResult& result,
                               const std::vector<std::string>& messages) {
    const std::string stamp = PollStamp(time);
    if (options_.json) {
        JsonObject line;
        line.Add("time", stamp);
        line.Add("outcome", result.ok ? "success" : "failed");
        if (result.ok)
            line.Add("values", result.values);
        line.Add("messages", messages);
        std::printf("%s\n", line.Text().c_str());
    } else {
        std::string text = stamp;
        for (const std::string& value : result.values)
            text += " " + value;
        if (!result.ok)
            text += " failed" + (messages.empty() ? "" : ": " + messages.back());
        std::printf("%s\n", text.c_str());
    }
    // A pipe must see each poll as it happens, not when the buffer fills.
    std::fflush(stdout);
}

int CliSession::Write() {
    int address = 0;
    if (!ParseWholeNumber(options_.arguments[0], 0, 65535, &address))
        return BadArgument("address", options_.arguments[0]);
    const RegisterType type = ValueType(address);
    const std::optional<RegisterValue> value = ParseValueArgument(options_.arguments[1], type);
    if (!value)
        return BadArgument("value", options_.arguments[1]);
    return ReportValue(WriteValue(master_, address, type, *value, Layout()), type);
}

// ADDR and COUNT of the block commands; false after saying what is wrong.
bool CliSession::ParseBlockArguments(int& address, int& count) const {
    if (!ParseWholeNumber(options_.arguments[0], 0, 65535, &address)) {
        BadArgument("address", options_.arguments[0]);
        return false;
    }
    if (!ParseWholeNumber(options_.arguments[1], 1, kMaxBlockCount, &count)) {
        BadArgument("count", options_.arguments[1]);
        return false;
    }
    return true;
}

// Values one per line, hex and decimal, each register as wide as the block's
// start address makes it; when polling, the values of a poll on one line.
int CliSession::ReadBlockCommand() {
    int address = 0;
    int count = 0;
    if (!ParseBlockArguments(address, count))
        return kExitUsage;
    if (options_.targets) {
        return RunFleetQuery(options_, settings_, [&](ModbusMaster& master) {
            return ReadBlockValues(master, address, count);
        });
    }
    const int width = BlockRegisterWidth(address);
    const auto read = [&] {
        const UnitAnswer answer = ReadBlockValues(master_, address, count);
        return PollResult{answer.ok, answer.values.value_or(std::vector<std::string>{})};
    };
    if (options_.poll_seconds)
        return Poll(read);
    const PollResult result = read();
    for (size_t i = 0; !options_.json && i < result.values.size(); ++i) {
        const auto value = static_cast<uint32_t>(std::stoul(result.values[i]));
        std::printf("%lld 0x%0*X %u\n", address + static_cast<long long>(i), width * 2, value,
                    value);
    }
    result_.Add("values", result.values);
    return Finish(result.ok);
}

int CliSession::WriteBlockCommand() {
    int address = 0;
    int count = 0;
    if (!ParseBlockArguments(address, count))
        return kExitUsage;
    const size_t given = options_.arguments.size() - 2;
    if (given != static_cast<size_t>(count)) {
        std::fprintf(stderr, "fcloader-cli: %d values needed, %zu given\n", count, given);
        return kExitUsage;
    }
    const int width = BlockRegisterWidth(address);
    std::vector<uint8_t> data;
    for (size_t i = 2; i < options_.arguments.size(); ++i) {
        const auto value = ParseRegisterWhole(options_.arguments[i], width == 4);
        if (!value)
            return BadArgument("value", options_.arguments[i]);
        for (int b = width - 1; b >= 0; --b)
            data.push_back(static_cast<uint8_t>(static_cast<uint64_t>(*value) >> (8 * b)));
    }
    const bool ok = WithRegisterConnection(
        master_, [&] { return master_.WriteRegisterBlock(address, data.data(), count) != 0; });
    result_.Add("transmitted", master_.TxText);
    return Finish(ok);
}

}  // namespace fc
