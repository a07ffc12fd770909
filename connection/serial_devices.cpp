#include "connection/serial_devices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "modbus/serial_port.h"
#include "platform/profile.h"

namespace fc {

namespace {

namespace fs = std::filesystem;

// Names in a folder that start with the prefix, ttyS2 before ttyS10.
std::vector<std::string> Matching(const fs::path& folder, const std::string& prefix) {
    std::vector<std::pair<long, std::string>> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = name.substr(prefix.size());
        const bool numbered =
            !rest.empty() && std::all_of(rest.begin(), rest.end(),
                                         [](unsigned char c) { return std::isdigit(c) != 0; });
        if (!prefix.empty() && !numbered)
            continue;
        found.emplace_back(numbered && rest.size() < 9 ? std::stol(rest) : 0,
                           entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [number, path] : found)
        paths.push_back(std::move(path));
    return paths;
}

}  // namespace

std::vector<std::string> SerialDevicesPresent(const std::string& dev) {
    std::vector<std::string> devices = Matching(fs::path(dev) / "serial" / "by-id", "");
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        const std::vector<std::string> more = Matching(dev, prefix);
        devices.insert(devices.end(), more.begin(), more.end());
    }
    return devices;
}

void StorePortDevice(Profile& profile, int port, const std::string& device) {
    profile.WriteString(port_keys::kSection, port_keys::kKeyPrefix + std::to_string(port), device);
}

}  // namespace fc
