#pragma once

#include <optional>
#include <string>
#include <vector>

#include "download/flash_download.h"

namespace fc {

struct CommSettings;

// Exit codes of fcloader-cli.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUnitFailed = 1;  // the unit or the link failed
inline constexpr int kExitUsage = 2;       // bad usage or bad input

// The most units flashed at the same time: each holds a thread and a port.
inline constexpr int kMaxJobs = 1000;

// Communication settings given on the command line: each overrides the saved
// profile for this run only (and is saved with --save).
struct SettingsOverrides {
    std::optional<int> port;
    std::optional<std::string> device;
    std::optional<int> baud_index;
    std::optional<int> parity;
    std::optional<int> data_bits;
    std::optional<int> stop_bits;
    std::optional<int> mode;
    std::optional<std::string> tcp_host;
    std::optional<int> tcp_port;
    bool encapsulated = false;
    bool remove_echo = false;
    std::optional<int> unit;
    std::optional<int> timeout;
    std::optional<int> retry;
};

struct CliOptions {
    std::string command;
    std::vector<std::string> arguments;
    SettingsOverrides overrides;
    bool save = false;
    bool yes = false;
    bool json = false;
    bool trace = false;
    std::string capture;                 // pcap file of the traffic, empty for none
    std::optional<double> poll_seconds;  // read, read-block: repeat every so many seconds
    std::optional<int> poll_times;       // ... this many times (else until Ctrl-C)
    std::optional<double> interval_seconds;  // watch: poll every so many seconds
    std::string csv;                         // watch: the CSV log, empty for none
    bool set_clock = false;
    std::string type = "auto";          // int16, int32, float, auto
    int float_registers = 1;            // 1: one 4-byte register; 2: two 2-byte registers
    bool float_low_word_first = false;  // "(LO/HI)"
    std::optional<int> clock_register;
    std::optional<int> date_register;
    bool help = false;
    bool version = false;
    // download --targets: the file naming the units (- for standard input),
    // how many run at a time, and the folder keeping each unit's trace.
    std::optional<std::string> targets;
    std::optional<int> jobs;
    std::optional<std::string> log_dir;
    // download: the image's sha256 as sha256sum prints it, empty for none.
    std::string sha256;
    // download: REG=VALUE, a unit whose register already reads VALUE is
    // left alone; after the reset the register must read VALUE.
    std::optional<RegisterCheck> unless;
    std::optional<RegisterCheck> expect;
};

// Parses the command line (without the program name). On bad usage returns
// none and puts the reason in error.
std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error);

// The words of one unit's settings (a targets line): unit options only.
std::optional<SettingsOverrides> ParseUnitWords(const std::vector<std::string>& words,
                                                std::string& error);

// The settings record with the overrides applied.
void ApplyOverrides(const SettingsOverrides& overrides, CommSettings& settings);

std::string UsageText();

}  // namespace fc
