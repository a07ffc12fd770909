#include "sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/command_line.h"
#include "platform/whole_number.h"

namespace fc::sim {

namespace {

using Handler = std::function<bool(CommandLine&, const std::string&, std::string*)>;

struct OptionInfo {
    const char* name;
    const char* value;  // nullptr: a flag without a value
    const char* help;
    Handler handle;
};

// An integer option with its range.
Handler IntField(std::function<void(CommandLine&, long long)> store, long long low,
                 long long high) {
    return [=](CommandLine& cl, const std::string& value, std::string* error) {
        long long number = 0;
        if (!ParseWholeNumber(value, low, high, &number)) {
            *error = "'" + value + "' is not a number from " + std::to_string(low) + " to " +
                     std::to_string(high);
            return false;
        }
        store(cl, number);
        return true;
    };
}

template <typename E>
Handler Choice(std::vector<std::pair<const char*, E>> choices,
               std::function<void(CommandLine&, E)> store) {
    return [=](CommandLine& cl, const std::string& value, std::string* error) {
        std::string names;
        for (const auto& [name, choice] : choices) {
            if (SameChoice(value, name)) {
                store(cl, choice);
                return true;
            }
            names += std::string(names.empty() ? "" : ", ") + name;
        }
        *error = "'" + value + "' is not one of " + names;
        return false;
    };
}

Handler Text(std::function<void(CommandLine&, const std::string&)> store) {
    return [=](CommandLine& cl, const std::string& value, std::string* error) {
        if (value.empty()) {
            *error = "an empty value";
            return false;
        }
        store(cl, value);
        return true;
    };
}

Handler Flag(std::function<void(CommandLine&)> store) {
    return [=](CommandLine& cl, const std::string&, std::string*) {
        store(cl);
        return true;
    };
}

bool ParseRegisterValue(const std::string& v, std::vector<std::pair<uint16_t, uint32_t>>* into,
                        std::string* error) {
    const size_t eq = v.find('=');
    long long address = 0, value = 0;
    if (eq == std::string::npos || !ParseWholeNumber(v.substr(0, eq), 0, 65535, &address) ||
        !ParseWholeNumber(v.substr(eq + 1), 0, 0xFFFFFFFFLL, &value)) {
        *error = "'" + v + "' is not ADDR=VALUE";
        return false;
    }
    into->emplace_back(static_cast<uint16_t>(address), static_cast<uint32_t>(value));
    return true;
}

bool IsBaud(long long baud) {
    for (long long known : {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400})
        if (baud == known)
            return true;
    return false;
}

const std::vector<OptionInfo>& Options() {
    static const std::vector<OptionInfo> options = {
        {"--pty", nullptr, "serve the serial side on a new pseudo-terminal",
         Flag([](CommandLine& cl) { cl.options.pty = true; })},
        {"--link", "PATH", "make PATH a symbolic link to the pty's slave side",
         Text([](CommandLine& cl, const std::string& v) { cl.options.link = v; })},
        {"--device", "PATH", "serve the serial side on an existing serial device",
         Text([](CommandLine& cl, const std::string& v) { cl.options.device = v; })},
        {"--mode", "rtu|ascii", "serial framing (rtu)",
         Choice<SerialMode>({{"rtu", SerialMode::Rtu}, {"ascii", SerialMode::Ascii}},
                            [](CommandLine& cl, SerialMode m) { cl.options.unit.line.mode = m; })},
        {"--unit", "N", "unit address, 1 to 247 (1)",
         IntField([](CommandLine& cl,
                     long long v) { cl.options.unit.line.unit = static_cast<uint8_t>(v); },
                  1, 247)},
        {"--also-unit", "N",
         "another unit at address N on the same endpoints (repeatable), as behind one gateway "
         "or on one RS-485 line",
         IntField([](CommandLine& cl,
                     long long v) { cl.options.more_units.push_back(static_cast<uint8_t>(v)); },
                  1, 247)},
        {"--after-download", "ADDR=VALUE",
         "what register ADDR reads once a download has ended (repeatable): the new image's",
         [](CommandLine& cl, const std::string& v, std::string* error) {
             return ParseRegisterValue(v, &cl.options.unit.after_download, error);
         }},
        {"--baud", "N", "serial speed (9600); the unit answers only at this speed",
         [](CommandLine& cl, const std::string& v, std::string* error) {
             long long baud = 0;
             if (!ParseWholeNumber(v, 1, 1000000, &baud) || !IsBaud(baud)) {
                 *error = "'" + v + "' is not a serial speed (300 to 230400)";
                 return false;
             }
             cl.options.unit.line.baud = static_cast<int>(baud);
             return true;
         }},
        {"--parity", "none|odd|even", "serial parity (none)",
         Choice<Parity>({{"none", Parity::None}, {"odd", Parity::Odd}, {"even", Parity::Even}},
                        [](CommandLine& cl, Parity p) { cl.options.unit.line.parity = p; })},
        {"--tcp-port", "N", "serve Modbus TCP on 127.0.0.1:N (0: the kernel chooses)",
         IntField([](CommandLine& cl, long long v) { cl.options.tcp_port = static_cast<int>(v); },
                  0, 65535)},
        {"--rtu-tcp-port", "N", "serve RTU frames over TCP on 127.0.0.1:N (0: the kernel chooses)",
         IntField(
             [](CommandLine& cl, long long v) { cl.options.rtu_tcp_port = static_cast<int>(v); }, 0,
             65535)},
        {"--loader-version", "1|2", "the loader that answers in download mode (2)",
         IntField([](CommandLine& cl,
                     long long v) { cl.options.unit.loader_version = static_cast<int>(v); },
                  1, 2)},
        {"--busy-polls", "N", "status reads answering 1 (busy) after each flash write (0)",
         IntField(
             [](CommandLine& cl, long long v) { cl.options.unit.busy_polls = static_cast<int>(v); },
             0, 1000000)},
        {"--reset-ms", "N", "silence after leaving download mode, in ms (1000)",
         IntField(
             [](CommandLine& cl, long long v) { cl.options.unit.reset_ms = static_cast<int>(v); },
             0, 600000)},
        {"--latency-ms", "N", "the unit's think time before each reply, in ms (0)",
         IntField([](CommandLine& cl, long long v) { cl.options.latency_ms = static_cast<int>(v); },
                  0, 600000)},
        {"--pace", nullptr, "send serial replies at the line rate (10 bits per character)",
         Flag([](CommandLine& cl) { cl.options.pace = true; })},
        {"--mismatch", "silent|garbage", "what a wrong line speed gets on a pty (silent)",
         Choice<bool>({{"silent", false}, {"garbage", true}},
                      [](CommandLine& cl, bool g) { cl.options.mismatch_garbage = g; })},
        {"--silent-probe", nullptr, "do not answer the diagnostics probe (function 8)",
         Flag([](CommandLine& cl) { cl.options.unit.silent_probe = true; })},
        {"--registers", "FILE", "initial register contents: lines \"address value\"",
         [](CommandLine& cl, const std::string& v, std::string* error) {
             return LoadRegisterFile(v, &cl.options.registers, error);
         }},
        {"--set", "ADDR=VALUE", "initial contents of register ADDR (repeatable)",
         [](CommandLine& cl, const std::string& v, std::string* error) {
             return ParseRegisterValue(v, &cl.options.registers, error);
         }},
        {"--clock-register", "N", "first of the two clock registers (4203)",
         IntField([](CommandLine& cl,
                     long long v) { cl.options.unit.clock_register = static_cast<uint16_t>(v); },
                  0, 65534)},
        {"--date-register", "N", "first of the two date registers (4201)",
         IntField([](CommandLine& cl,
                     long long v) { cl.options.unit.date_register = static_cast<uint16_t>(v); },
                  0, 65534)},
        {"--date-order", "dmy|mdy|ymd", "field order of the date register (dmy)",
         Choice<DateOrder>(
             {{"dmy", DateOrder::Dmy}, {"mdy", DateOrder::Mdy}, {"ymd", DateOrder::Ymd}},
             [](CommandLine& cl, DateOrder o) { cl.options.unit.date_order = o; })},
        {"--flash-out", "FILE", "write the flashed image here on exit and on request",
         Text([](CommandLine& cl, const std::string& v) { cl.options.flash_out = v; })},
        {"--log", "FILE|-", "traffic log in hex with timestamps (-: stderr)",
         Text([](CommandLine& cl, const std::string& v) { cl.options.log = v; })},
        {"--fault", "RULE", "inject a fault (repeatable; see FAULTS)",
         [](CommandLine& cl, const std::string& v, std::string* error) {
             const auto rule = ParseFault(v, error);
             if (rule)
                 cl.options.faults.push_back(*rule);
             return rule.has_value();
         }},
        {"--idle-timeout", "SECONDS",
         "close a connection that sends nothing so long (60; 0: never)",
         IntField(
             [](CommandLine& cl, long long v) { cl.options.idle_timeout_s = static_cast<int>(v); },
             0, 86400)},
        {"--control", "PATH",
         "Unix socket taking one-line commands (see CONTROL); replaces only a socket",
         Text([](CommandLine& cl, const std::string& v) { cl.options.control = v; })},
        {"--help", nullptr, "show this text and exit",
         Flag([](CommandLine& cl) { cl.help = true; })},
        {"--version", nullptr, "show the version and exit",
         Flag([](CommandLine& cl) { cl.version = true; })},
    };
    return options;
}

const OptionInfo* Find(const std::string& name) {
    for (const auto& option : Options()) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

bool CheckCombination(const SimulatorOptions& options, std::string* error) {
    if (options.pty && !options.device.empty())
        *error = "--pty and --device exclude each other";
    else if (!options.link.empty() && !options.pty)
        *error = "--link needs --pty";
    else if (!options.pty && options.device.empty() && options.tcp_port == kNoPort &&
             options.rtu_tcp_port == kNoPort)
        *error = "nothing to serve: give --pty, --device, --tcp-port or --rtu-tcp-port";
    else
        return true;
    return false;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error) {
    CommandLine cl;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string argument(LongOptionName(args[i]));
        const size_t eq = argument.find('=');
        const std::string name = argument.substr(0, eq);
        const OptionInfo* option = Find(name);
        if (option == nullptr) {
            *error = "unknown option '" + args[i] + "'";
            return std::nullopt;
        }
        std::string value;
        if (option->value == nullptr && eq != std::string::npos) {
            *error = name + " takes no value";
            return std::nullopt;
        }
        if (option->value != nullptr) {
            if (eq != std::string::npos) {
                value = argument.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                *error = name + " needs a value (" + option->value + ")";
                return std::nullopt;
            }
        }
        std::string reason;
        if (!option->handle(cl, value, &reason)) {
            *error = name + ": " + reason;
            return std::nullopt;
        }
    }
    if (!cl.help && !cl.version && !CheckCombination(cl.options, error))
        return std::nullopt;
    return cl;
}

std::string HelpText() {
    constexpr size_t kOptionColumn = 30;
    std::string text =
        "Usage: fcsim [options]\n" +
        WrappedText(
            "A simulated flow computer: registers, clock and date, the diagnostics "
            "probe and the flash loader, over a pseudo-terminal or serial device, Modbus "
            "TCP and RTU over TCP. On start it prints one line per endpoint (\"pty "
            "/dev/pts/N\", \"modbus-tcp 127.0.0.1:PORT\", \"rtu-tcp 127.0.0.1:PORT\") "
            "and then \"ready\"; it runs until SIGINT or SIGTERM.") +
        "\nOptions:\n";
    for (const auto& option : Options())
        text += HelpRow(OptionHead(option.name, option.value ? option.value : ""), option.help,
                        kOptionColumn);
    text +=
        "\nFAULTS: --fault KIND[=P[:P2]][,once[=N]|,every=N|,rate=R][,seed=S]\n"
        "                      [,fn=F][,addr=A]\n" +
        WrappedText(
            "once (the default) fires on the N-th matching request (1), every=N on "
            "each N-th, rate=R on a share R (0..1) of them, drawn from seed S; fn= "
            "and addr= narrow the requests that match (addr: the request's "
            "registers include A). Kinds:",
            2) +
        FaultHelp() + "\n" +
        WrappedText(
            "CONTROL: one command per line on the --control socket, one answer line "
            "back (\"ok ...\" or \"error ...\"): ping, status, get ADDR, set ADDR "
            "VALUE, fault RULE, clear-faults, flash-out [FILE], flash-size, requests, "
            "clear-requests, help.") +
        "\n" +
        WrappedText(
            "Addresses (ADDR, N of the register options, A) are the register numbers "
            "as sent on the wire, counted from 0. Choices take any case.") +
        "\n" +
        WrappedText(
            "Exit status: 0 after SIGINT/SIGTERM, 1 when an endpoint cannot be "
            "opened, 2 on bad options.");
    return text;
}

bool LoadRegisterFile(const std::string& path,
                      std::vector<std::pair<uint16_t, uint32_t>>* registers, std::string* error) {
    std::ifstream file(path);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string address_text, value_text, extra;
        if (!(fields >> address_text))
            continue;
        fields >> value_text >> extra;
        long long address = 0, value = 0;
        if (!ParseWholeNumber(address_text, 0, 65535, &address) ||
            !ParseWholeNumber(value_text, 0, 0xFFFFFFFFLL, &value) || !extra.empty()) {
            *error = path + ":" + std::to_string(number) + ": expected \"address value\"";
            return false;
        }
        registers->emplace_back(static_cast<uint16_t>(address), static_cast<uint32_t>(value));
    }
    return true;
}

}  // namespace fc::sim
