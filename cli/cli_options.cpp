#include "cli/cli_options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>

#include "modbus/comm_settings.h"
#include "platform/command_line.h"
#include "platform/sha256.h"
#include "platform/whole_number.h"

namespace fc {

namespace {

std::optional<int> ParseBounded(const std::string& text, long lo, long hi) {
    const auto value = ParseWholeNumber(text, lo, hi);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

std::optional<int> IndexOf(const std::string& text, std::initializer_list<const char*> names) {
    int index = 0;
    for (const char* name : names) {
        if (SameChoice(text, name))
            return index;
        ++index;
    }
    return std::nullopt;
}

using Setter = std::function<bool(CliOptions&, const std::string&)>;

// Unit options describe how one unit is reached, so a targets line may give
// them; run options belong to the whole run and only the command line has them.
enum class Scope { Unit, Run };

struct OptionSpec {
    const char* name;
    bool takes_value;
    Setter set;
    const char* argument;
    const char* help;
    Scope scope = Scope::Run;
};

Setter Number(std::optional<int> SettingsOverrides::*field, long lo, long hi) {
    return [=](CliOptions& o, const std::string& v) {
        const auto value = ParseBounded(v, lo, hi);
        if (value)
            o.overrides.*field = *value;
        return value.has_value();
    };
}

Setter Choice(std::optional<int> SettingsOverrides::*field,
              std::initializer_list<const char*> names) {
    std::vector<std::string> choices(names.begin(), names.end());
    return [=](CliOptions& o, const std::string& v) {
        const auto it = std::find_if(choices.begin(), choices.end(),
                                     [&](const std::string& name) { return SameChoice(v, name); });
        if (it == choices.end())
            return false;
        o.overrides.*field = static_cast<int>(std::distance(choices.begin(), it));
        return true;
    };
}

Setter Flag(bool CliOptions::*field) {
    return [=](CliOptions& o, const std::string&) {
        o.*field = true;
        return true;
    };
}

bool SetBaud(CliOptions& o, const std::string& v) {
    const auto baud = ParseBounded(v, 1, 115200);
    if (!baud)
        return false;
    for (int i = 0; i < static_cast<int>(std::size(kBaudTable)); ++i) {
        if (kBaudTable[i] == *baud) {
            o.overrides.baud_index = i;
            return true;
        }
    }
    return false;
}

bool SetTcp(CliOptions& o, const std::string& v) {
    std::string host = v;
    int port = 502;
    const auto colon = v.rfind(':');
    if (colon != std::string::npos) {
        const auto parsed = ParseBounded(v.substr(colon + 1), 0, 65535);
        if (!parsed)
            return false;
        port = *parsed;
        host = v.substr(0, colon);
    }
    if (host.empty())
        return false;
    o.overrides.tcp_host = host;
    o.overrides.tcp_port = port;
    return true;
}

// Seconds between polls: fractions allowed, up to a day.
constexpr double kMaxPollSeconds = 86400;

bool SetPoll(CliOptions& o, const std::string& v) {
    char* end = nullptr;
    const double seconds = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > kMaxPollSeconds)
        return false;
    o.poll_seconds = seconds;
    return true;
}

// The watch polls at most ten times a second and at least once an hour.
constexpr double kMinWatchSeconds = 0.1;
constexpr double kMaxWatchSeconds = 3600;

bool SetInterval(CliOptions& o, const std::string& v) {
    char* end = nullptr;
    const double seconds = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !(seconds >= kMinWatchSeconds && seconds <= kMaxWatchSeconds))
        return false;
    o.interval_seconds = seconds;
    return true;
}

// REG=VALUE: a register as sent on the wire and a 16-bit value, decimal or 0x hex.
Setter Check(std::optional<RegisterCheck> CliOptions::*field) {
    return [=](CliOptions& o, const std::string& v) {
        const auto equals = v.find('=');
        if (equals == std::string::npos)
            return false;
        const auto address = ParseBounded(v.substr(0, equals), 0, 65535);
        const auto value = ParseBounded(v.substr(equals + 1), 0, 65535);
        if (!address || !value)
            return false;
        o.*field = RegisterCheck{*address, *value};
        return true;
    };
}

const std::vector<OptionSpec>& Options() {
    static const std::vector<OptionSpec> options = {
        {"--port", true, Number(&SettingsOverrides::port, 1, 32767), "N",
         "serial port number (COM N, see the [Ports] section of the profile)", Scope::Unit},
        {"--device", true,
         [](CliOptions& o, const std::string& v) {
             o.overrides.device = v;
             return !v.empty();
         },
         "PATH", "serial device to use for the port, e.g. /dev/ttyUSB0", Scope::Unit},
        {"--baud", true, SetBaud, "N", "1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200",
         Scope::Unit},
        {"--parity", true, Choice(&SettingsOverrides::parity, {"none", "odd", "even"}), "P",
         "none, odd or even", Scope::Unit},
        {"--data-bits", true, Number(&SettingsOverrides::data_bits, 5, 8), "N", "5 to 8",
         Scope::Unit},
        {"--stop-bits", true, Choice(&SettingsOverrides::stop_bits, {"1", "1.5", "2"}), "N",
         "1, 1.5 or 2", Scope::Unit},
        {"--mode", true, Choice(&SettingsOverrides::mode, {"rtu", "ascii"}), "M", "rtu or ascii",
         Scope::Unit},
        {"--tcp", true, SetTcp, "HOST[:PORT]", "reach the unit over TCP/IP (port 502 by default)",
         Scope::Unit},
        {"--encapsulated", false,
         [](CliOptions& o, const std::string&) {
             o.overrides.encapsulated = true;
             return true;
         },
         "", "over TCP, send RTU frames (TCP/IP Encapsulation) instead of Modbus TCP", Scope::Unit},
        {"--echo", false,
         [](CliOptions& o, const std::string&) {
             o.overrides.remove_echo = true;
             return true;
         },
         "", "the serial adapter echoes what it sends: read each echo back", Scope::Unit},
        {"--unit", true, Number(&SettingsOverrides::unit, 0, 255), "N", "unit id (0 to 255)",
         Scope::Unit},
        {"--timeout", true, Number(&SettingsOverrides::timeout, 0, 1000), "S",
         "reply time-out in whole seconds (0 to 1000)", Scope::Unit},
        {"--retry", true, Number(&SettingsOverrides::retry, 0, 100), "N",
         "repeated attempts (0 to 100)", Scope::Unit},
        {"--save", false, Flag(&CliOptions::save), "", "save the settings given here"},
        {"--type", true,
         [](CliOptions& o, const std::string& v) {
             static constexpr const char* kTypes[] = {"int16", "int32", "float", "auto"};
             const auto choice = IndexOf(v, {kTypes[0], kTypes[1], kTypes[2], kTypes[3]});
             if (choice)
                 o.type = kTypes[*choice];
             return choice.has_value();
         },
         "T", "int16, int32, float or auto (the saved Auto ranges; default)"},
        {"--float-size", true,
         [](CliOptions& o, const std::string& v) {
             const auto choice = IndexOf(v, {"4", "2"});
             if (choice)
                 o.float_registers = *choice == 0 ? 1 : 2;
             return choice.has_value();
         },
         "B", "4 (one 4-byte register, default) or 2 (two 2-byte registers)"},
        {"--float-order", true,
         [](CliOptions& o, const std::string& v) {
             const auto choice = IndexOf(v, {"hilo", "lohi"});
             if (choice)
                 o.float_low_word_first = *choice == 1;
             return choice.has_value();
         },
         "O", "hilo (high word first, default) or lohi"},
        {"--clock-register", true,
         [](CliOptions& o, const std::string& v) {
             o.clock_register = ParseBounded(v, 0, 65535);
             return o.clock_register.has_value();
         },
         "A", "clock register, as sent on the wire (default 4203)"},
        {"--date-register", true,
         [](CliOptions& o, const std::string& v) {
             o.date_register = ParseBounded(v, 0, 65535);
             return o.date_register.has_value();
         },
         "A", "date register, as sent on the wire (default 4201)"},
        {"--set", false, Flag(&CliOptions::set_clock), "",
         "clock: set the unit's clock and date to the PC's"},
        {"--yes", false, Flag(&CliOptions::yes), "", "download: do not ask for confirmation"},
        {"--sha256", true,
         [](CliOptions& o, const std::string& v) {
             o.sha256 = NormalSha256Hex(v);
             return !o.sha256.empty();
         },
         "HEX",
         "download: refuse, before any unit is touched, an image whose sha256 is not HEX"},
        {"--unless", true, Check(&CliOptions::unless), "REG=VALUE",
         "download: leave a unit alone whose register REG already reads VALUE"},
        {"--expect", true, Check(&CliOptions::expect), "REG=VALUE",
         "download: after the reset, register REG must read VALUE, or the unit fails"},
        {"--targets", true,
         [](CliOptions& o, const std::string& v) {
             o.targets = v;
             return !v.empty();
         },
         "FILE", "download, test, read, read-block: each unit FILE names, one a line"},
        {"--jobs", true,
         [](CliOptions& o, const std::string& v) {
             o.jobs = ParseBounded(v, 1, kMaxJobs);
             return o.jobs.has_value();
         },
         "N", "with --targets: N units at a time (default: all)"},
        {"--log-dir", true,
         [](CliOptions& o, const std::string& v) {
             o.log_dir = v;
             return !v.empty();
         },
         "DIR", "with --targets: keep each unit's --trace text (and capture) in DIR"},
        {"--json", false, Flag(&CliOptions::json), "", "print the result as JSON"},
        {"--trace", false, Flag(&CliOptions::trace), "",
         "print every frame sent and received, with its meaning"},
        {"--capture", true,
         [](CliOptions& o, const std::string& v) {
             o.capture = v;
             return !v.empty();
         },
         "FILE", "write the traffic into FILE (- for standard output), a capture for Wireshark"},
        {"--poll", true, SetPoll, "S", "read, read-block: repeat every S seconds (e.g. 0.5)"},
        {"--times", true,
         [](CliOptions& o, const std::string& v) {
             o.poll_times = ParseBounded(v, 1, INT_MAX);
             return o.poll_times.has_value();
         },
         "N", "with --poll or --interval: stop after N polls"},
        {"--interval", true, SetInterval, "S", "watch: poll every S seconds (0.1 to 3600)"},
        {"--csv", true,
         [](CliOptions& o, const std::string& v) {
             o.csv = v;
             return !v.empty();
         },
         "FILE", "watch: log every poll into FILE as CSV"},
        {"--help", false, Flag(&CliOptions::help), "", "show this text and exit"},
        {"--version", false, Flag(&CliOptions::version), "", "show the version and exit"},
    };
    return options;
}

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& entry : Options()) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

struct CommandSpec {
    const char* name;
    size_t min_args;
    size_t max_args;
    const char* synopsis;
};

constexpr CommandSpec kCommands[] = {
    {"test", 0, 0, "test                      connect, probe the unit, disconnect"},
    {"detect", 0, 0, "detect                    scan the serial port for the unit's settings"},
    {"download", 1, 1, "download IMAGE            download a firmware image into the unit"},
    {"read", 1, 1, "read ADDR                 read one value"},
    {"write", 2, 2, "write ADDR VALUE          write one value"},
    {"read-block", 2, 2, "read-block ADDR COUNT     read COUNT registers"},
    {"write-block", 3, SIZE_MAX, "write-block ADDR COUNT VALUES...  write COUNT registers"},
    {"clock", 0, 0, "clock [--set]             show (or set) the unit's clock and date"},
    {"report", 2, 2, "report PORT FILE          write the serial port report to FILE"},
    {"watch", 1, 1, "watch FILE --interval S   poll the rows of a watch list"},
};

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& entry : kCommands) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

}  // namespace

namespace {

// The option words of args into options; other words go to positional, or
// are refused when positional is null. Only options of the allowed scope
// are taken.
bool ParseOptionWords(const std::vector<std::string>& args, CliOptions& options,
                      std::vector<std::string>* positional, bool run_options_allowed,
                      std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string arg(LongOptionName(args[i]));
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            if (!positional) {
                error = "unexpected word \"" + arg + "\"";
                return false;
            }
            positional->push_back(arg);
            continue;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionSpec* entry = FindOption(name);
        if (!entry) {
            error = "unknown option " + name;
            return false;
        }
        if (entry->scope == Scope::Run && !run_options_allowed) {
            error = name + " applies to the whole run, not to one unit";
            return false;
        }
        std::string value;
        if (entry->takes_value) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = name + " needs a value";
                return false;
            }
        } else if (equals != std::string::npos) {
            error = name + " takes no value";
            return false;
        }
        if (!entry->set(options, value)) {
            error = "bad value for " + name + ": \"" + value + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<SettingsOverrides> ParseUnitWords(const std::vector<std::string>& words,
                                                std::string& error) {
    CliOptions options;
    if (!ParseOptionWords(words, options, nullptr, false, error))
        return std::nullopt;
    return options.overrides;
}

std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error) {
    CliOptions options;
    std::vector<std::string> positional;
    if (!ParseOptionWords(args, options, &positional, true, error))
        return std::nullopt;
    if (options.help || options.version)
        return options;
    if (positional.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    options.command = positional.front();
    options.arguments.assign(positional.begin() + 1, positional.end());
    const CommandSpec* command = FindCommand(options.command);
    if (!command) {
        error = "unknown command " + options.command;
        return std::nullopt;
    }
    if (options.arguments.size() < command->min_args ||
        options.arguments.size() > command->max_args) {
        error = "wrong number of arguments for " + options.command;
        return std::nullopt;
    }
    const bool fleet_option = options.jobs || options.log_dir;
    const bool fleet_command = options.command == "download" || options.command == "test" ||
                               options.command == "read" || options.command == "read-block";
    if ((options.targets || fleet_option) && !fleet_command) {
        error = "--targets and --jobs belong to download, test, read and read-block";
        return std::nullopt;
    }
    if (options.log_dir && options.command != "download") {
        error = "--log-dir belongs to download";
        return std::nullopt;
    }
    if ((options.unless || options.expect) && options.command != "download") {
        error = "--unless and --expect belong to download";
        return std::nullopt;
    }
    // Many units write many captures: one per unit beside its trace.
    if (options.targets && !options.capture.empty() && !options.log_dir) {
        error = "--capture with --targets needs --log-dir, which keeps one capture per unit";
        return std::nullopt;
    }
    if (options.capture == "-" && options.json) {
        error = "--capture - and --json both write to standard output; name a capture file";
        return std::nullopt;
    }
    if (fleet_option && !options.targets) {
        error = "--jobs and --log-dir need --targets";
        return std::nullopt;
    }
    // Many units have many settings; none of them is the one to keep.
    if (options.targets && options.save) {
        error = "--save saves one unit's settings, not a fleet's";
        return std::nullopt;
    }
    if (!options.sha256.empty() && options.command != "download") {
        error = "--sha256 works with download only";
        return std::nullopt;
    }
    // A poll's lines are one unit's: a fleet's answers come in one summary.
    if (options.poll_seconds && options.targets) {
        error = "--poll asks one unit, not the units of --targets";
        return std::nullopt;
    }
    if (options.poll_seconds && options.command != "read" && options.command != "read-block") {
        error = "--poll works with read and read-block only";
        return std::nullopt;
    }
    const bool watch = options.command == "watch";
    if (watch != options.interval_seconds.has_value()) {
        error = watch ? "watch needs --interval" : "--interval works with watch only";
        return std::nullopt;
    }
    if (!options.csv.empty() && !watch) {
        error = "--csv works with watch only";
        return std::nullopt;
    }
    if (options.poll_times && !options.poll_seconds && !watch) {
        error = "--times needs --poll or --interval";
        return std::nullopt;
    }
    return options;
}

void ApplyOverrides(const SettingsOverrides& o, CommSettings& s) {
    if (o.port)
        s.ComPort = static_cast<int16_t>(*o.port);
    if (o.port || o.device)
        s.UseIP = false;
    if (o.baud_index)
        s.BaudRate = *o.baud_index;
    if (o.parity)
        s.Parity = *o.parity;
    if (o.data_bits)
        s.DataBits = static_cast<int16_t>(*o.data_bits);
    if (o.stop_bits)
        s.StopBits = *o.stop_bits;
    if (o.mode)
        s.ModbusType = *o.mode;
    if (o.tcp_host) {
        s.UseIP = true;
        s.IPAddress = *o.tcp_host;
        s.IPPort = static_cast<uint16_t>(o.tcp_port.value_or(502));
        // Modbus TCP unless asked otherwise: the ASCII framing does not travel over TCP.
        s.ModbusType = kModbusRtu;
        s.IPProtocol = 0;
    }
    if (o.encapsulated)
        s.IPProtocol = 1;
    if (o.remove_echo)
        s.RemoveEcho = true;
    if (o.unit)
        s.UnitId = static_cast<int16_t>(*o.unit);
    if (o.timeout)
        s.Timeout = static_cast<int16_t>(*o.timeout);
    if (o.retry)
        s.Retry = static_cast<int16_t>(*o.retry);
}

std::string UsageText() {
    constexpr size_t kOptionColumn = 25;
    std::string text =
        "Usage: fcloader-cli [OPTIONS] COMMAND [ARGS]\n"
        "\n" +
        WrappedText(
            "Talks to a flow computer over Modbus with the settings saved by fcloader "
            "(~/.config/Quenta/fcloader.conf); the options below override them for "
            "this run only, unless --save is given.") +
        "\nCommands:\n";
    for (const CommandSpec& command : kCommands)
        text += std::string("  ") + command.synopsis + "\n";
    text += "\nOptions:\n";
    for (const OptionSpec& option : Options())
        text += HelpRow(OptionHead(option.name, option.argument), option.help, kOptionColumn);
    text += "\n" +
            WrappedText(
                "Values: addresses are the register numbers as sent on the wire, "
                "counted from 0 (a manual that counts from 1, or writes 40001, means one "
                "more). "
                "Addresses and counts are decimal, or hex after 0x. "
                "write-block VALUES are 16-bit register values (32-bit inside the "
                "7000..7999 window). A write VALUE is a whole number for int16 and int32 "
                "(decimal or 0x hex, -32768 to 65535 or -2147483648 to 4294967295) and a "
                "decimal number for float; anything else exits 2. "
                "Choices (--parity, --mode, ...) take any case.") +
            "\n" +
            WrappedText(
                "With --poll a line is printed per poll, with its time (a JSON object per "
                "line with --json); a failed poll is reported and polling goes on. Ctrl-C "
                "ends polling: the exit status then tells whether any poll failed. "
                "watch FILE reads the rows of FILE (\"ADDRESS [TYPE] [NAME...]\" a line, "
                "TYPE auto, int16, int32, float or float-lohi, # comments) in the fewest "
                "block reads each --interval: a table redrawn in place on a terminal, "
                "otherwise a line per poll, and with --csv a CSV log.") +
            "\n" +
            WrappedText(
                "Files written (--capture, --csv, --log-dir's logs and captures, report FILE): "
                "a file is created in a folder that is the user's own or sticky; an existing "
                "file is replaced only when it is a regular file of the user's with no other "
                "link, never through a symbolic link, and anything else (a link, a FIFO, a "
                "device, another user's file) is refused with the reason. --log-dir makes its "
                "folder open to the user alone. A file that cannot be written in full (a full "
                "disk) fails the run, after the unit is left as the command leaves it.") +
            "\nExit status: 0 success, 1 the unit or the link failed, 2 bad usage or bad input.\n";
    return text;
}

}  // namespace fc
