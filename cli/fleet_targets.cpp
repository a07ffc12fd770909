#include "cli/fleet_targets.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <string_view>

#include "cli/messages.h"
#include "download/loader.h"
#include "modbus/frame_trace.h"

namespace fc {

namespace {

constexpr const char* kNamePrefix = "name=";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Bytes of the file as --trace shows the bytes of a frame: a line's words
// reach the terminal in messages and unit names, and must not drive it.
std::string Shown(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return TraceBytes(Framing::Ascii, {bytes, text.size()}).substr(1);
}

std::string LineError(int line, const std::string& reason) {
    return "line " + std::to_string(line) + ": " + Shown(reason);
}

// A default name may hold anything the address held; it is shown as the
// trace shows bytes, and IsFileName judges it before it names a log.
std::string DefaultName(const SettingsOverrides& o, int line) {
    if (o.tcp_host)
        return Shown(*o.tcp_host + ":" + std::to_string(o.tcp_port.value_or(502)));
    // A folder's path ("/dev/") leaves no last part to name the unit by.
    const auto slash = o.device ? o.device->find_last_of('/') : std::string::npos;
    if (o.device && slash + 1 < o.device->size())
        return Shown(slash == std::string::npos ? *o.device : o.device->substr(slash + 1));
    if (o.port)
        return "COM" + std::to_string(*o.port);
    return "line" + std::to_string(line);
}

std::optional<FleetTarget> ParseTargetLine(std::vector<std::string> words, int line,
                                           std::string& error) {
    FleetTarget target;
    target.line = line;
    if (!words.empty() && words.front().rfind(kNamePrefix, 0) == 0) {
        target.name = words.front().substr(std::char_traits<char>::length(kNamePrefix));
        if (!IsFileName(target.name)) {
            error = LineError(line, "a name takes letters, digits and - _ . : @");
            return std::nullopt;
        }
        words.erase(words.begin());
    }
    std::string reason;
    const auto overrides = ParseUnitWords(words, reason);
    if (!overrides) {
        error = LineError(line, reason);
        return std::nullopt;
    }
    target.overrides = *overrides;
    if (target.name.empty())
        target.name = DefaultName(target.overrides, line);
    return target;
}

// The same device under another name (a /dev/serial/by-id link, a node
// made with mknod, a /dev/fd/N path) is the same device: a device is known
// by its device number, another file by its inode; a path that names
// nothing keeps its text (it fails on its own later).
std::string DeviceIdentity(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return "path " + path;
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return "device " + std::to_string(major(status.st_rdev)) + ":" +
               std::to_string(minor(status.st_rdev));
    return "inode " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

// Every address the connection may use, so that a name and its number count
// as one; a host that does not resolve keeps its text (it fails on its own
// later).
std::vector<std::string> HostAddresses(const std::string& host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return {host};
    std::vector<std::string> addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        char text[NI_MAXHOST] = {};
        if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) == 0)
            addresses.emplace_back(text);
    }
    ::freeaddrinfo(found);
    return addresses.empty() ? std::vector<std::string>{host} : addresses;
}

// What a unit's line is known by; two units sharing any one share a line.
std::vector<std::string> LineIdentities(const FleetUnit& unit) {
    if (!unit.settings.UseIP)
        return {DeviceIdentity(unit.device)};
    std::vector<std::string> endpoints;
    for (const std::string& address : HostAddresses(unit.settings.IPAddress))
        endpoints.push_back("tcp " + address + ":" + std::to_string(unit.settings.IPPort));
    return endpoints;
}

std::string LinkText(const FleetUnit& unit) {
    if (!unit.settings.UseIP)
        return "serial " + Shown(unit.device);
    return "tcp " + Shown(unit.settings.IPAddress) + ":" + std::to_string(unit.settings.IPPort);
}

// The line's own port or device wins over the command line's.
std::string DeviceOf(const SettingsOverrides& line, const SettingsOverrides& run,
                     const CommSettings& settings,
                     const std::function<std::string(int)>& device_for_port) {
    if (line.device)
        return *line.device;
    if (!line.port && run.device)
        return *run.device;
    return device_for_port(settings.ComPort);
}

}  // namespace

// A name is also a log file's name, so it keeps to what any file system takes.
bool IsFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const unsigned char c : name) {
        if (!std::isalnum(c) && c != '-' && c != '_' && c != '.' && c != ':' && c != '@')
            return false;
    }
    return true;
}

// As a shell splits: blanks between words, '...' keeps every byte, "..."
// keeps all but \ before " \ $ or `, a \ outside quotes keeps the byte
// after it, and a # that starts a word comments out the rest.
std::optional<std::vector<std::string>> SplitWords(const std::string& line, std::string& error) {
    constexpr std::string_view kEscapedInDoubleQuotes = "\"\\$`";
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == quote)
                quote = 0;
            else
                word += c;
            continue;
        }
        const bool next_escapable =
            i + 1 < line.size() &&
            kEscapedInDoubleQuotes.find(line[i + 1]) != std::string_view::npos;
        if (c == '\\' && (quote == 0 || next_escapable)) {
            if (++i == line.size()) {
                error = "a backslash ends the line";
                return std::nullopt;
            }
            word += line[i];
            in_word = true;
        } else if (quote == '"') {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            in_word = true;
        } else if (c == '#' && !in_word) {
            break;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote) {
        error = "unclosed quote";
        return std::nullopt;
    }
    if (in_word)
        words.push_back(word);
    return words;
}

// A byte-order mark (an editor's UTF-8 marker) before line 1 is no part of it.
std::optional<std::vector<FleetTarget>> ReadTargets(std::string_view text, std::string& error) {
    namespace m = cli_messages;
    if (text.size() > kMaxTargetsBytes) {
        const auto lines = std::count(text.begin(), text.begin() + kMaxTargetsBytes, '\n');
        error = LineError(static_cast<int>(lines) + 1, m::kTargetsTooLarge);
        return std::nullopt;
    }
    if (text.rfind(kByteOrderMark, 0) == 0)
        text.remove_prefix(kByteOrderMark.size());
    std::vector<FleetTarget> targets;
    int line = 0;
    while (!text.empty()) {
        ++line;
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string line_text(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line_text.find('\0') != std::string::npos) {
            error = LineError(line, m::kTargetsNulByte);
            return std::nullopt;
        }
        std::string reason;
        auto words = SplitWords(line_text, reason);
        if (!words) {
            error = LineError(line, reason);
            return std::nullopt;
        }
        if (words->empty())  // blank, or a comment
            continue;
        auto target = ParseTargetLine(std::move(*words), line, error);
        if (!target)
            return std::nullopt;
        targets.push_back(std::move(*target));
    }
    if (targets.empty()) {
        error = m::kTargetsNoUnit;
        return std::nullopt;
    }
    return targets;
}

std::optional<std::vector<FleetTarget>> ReadTargetsFile(const std::string& source,
                                                        std::string& error) {
    const bool standard_input = source == "-";
    const int fd = standard_input ? STDIN_FILENO : ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    ssize_t got = 0;
    if (fd >= 0) {
        char chunk[64 * 1024];
        while (text.size() <= kMaxTargetsBytes) {
            got = ::read(fd, chunk, std::min(sizeof chunk, kMaxTargetsBytes + 1 - text.size()));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            text.append(chunk, static_cast<size_t>(got));
        }
    }
    const int read_error = errno;
    if (fd >= 0 && !standard_input)
        ::close(fd);
    if (fd < 0 || got < 0) {
        error = "cannot read " + Shown(source) + ": " + std::strerror(read_error);
        return std::nullopt;
    }
    return ReadTargets(text, error);
}

std::optional<std::vector<FleetUnit>> SettleUnits(
    const std::vector<FleetTarget>& targets, const CommSettings& run_settings,
    const SettingsOverrides& run_overrides,
    const std::function<std::string(int port)>& device_for_port, std::string& error) {
    std::vector<FleetUnit> units;
    std::map<std::string, size_t> lines;  // identity: the index of the unit first on it
    std::map<std::pair<size_t, int>, int> addresses;  // link index, unit: targets line
    std::map<std::string, int> names;
    size_t line_count = 0;
    for (const FleetTarget& target : targets) {
        FleetUnit unit{target.line, target.name, run_settings, {}, {}, 0};
        ApplyOverrides(target.overrides, unit.settings);
        if (!unit.settings.UseIP)
            unit.device = DeviceOf(target.overrides, run_overrides, unit.settings, device_for_port);
        const std::vector<std::string> identities = LineIdentities(unit);
        std::optional<size_t> shared;
        for (const std::string& identity : identities) {
            if (const auto found = lines.find(identity); found != lines.end() && !shared)
                shared = found->second;
        }
        unit.link_index = shared ? units[*shared].link_index : line_count++;
        unit.link = shared ? units[*shared].link : LinkText(unit);
        for (const std::string& identity : identities)
            lines.emplace(identity, shared.value_or(units.size()));
        const auto [same_unit, new_unit] =
            addresses.emplace(std::pair{unit.link_index, int{unit.settings.UnitId}}, target.line);
        if (!new_unit) {
            error = LineError(target.line, "reaches the same unit as line " +
                                               std::to_string(same_unit->second) +
                                               ": the same line and unit address (" + unit.link +
                                               ", unit " + std::to_string(unit.settings.UnitId) +
                                               ")");
            return std::nullopt;
        }
        const auto [same_name, new_name] = names.emplace(target.name, target.line);
        if (!new_name) {
            error = LineError(target.line, "the name " + target.name + " is also line " +
                                               std::to_string(same_name->second) + "'s");
            return std::nullopt;
        }
        units.push_back(std::move(unit));
    }
    return units;
}

std::string LoaderAddressClash(const std::vector<FleetUnit>& units) {
    for (const FleetUnit& at_loader : units) {
        if (at_loader.settings.UnitId != kLoaderUnitId)
            continue;
        for (const FleetUnit& other : units) {
            if (&other != &at_loader && other.link_index == at_loader.link_index)
                return LineError(other.line,
                                 "shares its line (" + other.link + ") with line " +
                                     std::to_string(at_loader.line) + "'s unit " +
                                     std::to_string(kLoaderUnitId) +
                                     ", which would take the loader's writes as its own");
        }
    }
    return "";
}

}  // namespace fc
