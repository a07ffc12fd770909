#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>

namespace fc::sim {

// Every request and reply in hex with a timestamp, to stderr ("-") or a file.
class TrafficLog {
  public:
    TrafficLog() = default;
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    bool Open(const std::string& path, std::string* error);
    bool Enabled() const { return file_ != nullptr; }
    void Bytes(const std::string& endpoint, const char* direction, std::span<const uint8_t> bytes);
    void Note(const std::string& endpoint, const std::string& text);

  private:
    void Line(const std::string& text);

    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

}  // namespace fc::sim
