#include "sim/traffic_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "sim/wire_framing.h"

namespace fc::sim {

TrafficLog::~TrafficLog() {
    if (owned_ && file_ != nullptr)
        std::fclose(file_);
}

bool TrafficLog::Open(const std::string& path, std::string* error) {
    if (path == "-") {
        file_ = stderr;
        return true;
    }
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) {
        *error = "cannot open log file " + path + ": " + std::strerror(errno);
        return false;
    }
    owned_ = true;
    return true;
}

void TrafficLog::Bytes(const std::string& endpoint, const char* direction,
                       std::span<const uint8_t> bytes) {
    if (Enabled())
        Line(endpoint + " " + direction + " " + HexText(bytes));
}

void TrafficLog::Note(const std::string& endpoint, const std::string& text) {
    if (Enabled())
        Line(endpoint + " -- " + text);
}

void TrafficLog::Line(const std::string& text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "%s.%03d %s\n", stamp, static_cast<int>(millis), text.c_str());
    std::fflush(file_);
}

}  // namespace fc::sim
