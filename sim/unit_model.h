#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fc::sim {

enum class SerialMode { Rtu, Ascii };
enum class Parity { None, Odd, Even };
enum class DateOrder { Dmy, Mdy, Ymd };

// The serial settings under which the unit answers, and its address.
struct LineSettings {
    SerialMode mode = SerialMode::Rtu;
    int baud = 9600;
    Parity parity = Parity::None;
    uint8_t unit = 1;
    bool operator==(const LineSettings&) const = default;
};

std::string Describe(const LineSettings& line);

inline constexpr uint16_t kProbeRegister = 2649;  // download mode / loader version
inline constexpr uint16_t kFlashCommand = 2650;   // start of image, flash write, status
inline constexpr uint16_t kSectorNumber = 2651;
inline constexpr uint16_t kLoaderSpeed = 2563;    // loader version 2: baud code
inline constexpr uint16_t kSectorBuffer = 20000;  // 512 registers, one sector
inline constexpr int kSectorBytes = 1024;
inline constexpr uint16_t kWideWindowFirst = 7000;  // 4-byte registers for block requests
inline constexpr uint16_t kWideWindowLast = 7999;

// Loader baud codes are the tool's baud indexes.
inline constexpr int kLoaderFastCode = 5;  // 38400
inline constexpr int kLoaderSlowCode = 3;  // 9600

inline constexpr uint8_t kIllegalFunction = 1;
inline constexpr uint8_t kIllegalAddress = 2;
inline constexpr uint8_t kIllegalValue = 3;

struct UnitConfig {
    LineSettings line;
    int loader_version = 2;
    int busy_polls = 0;      // status reads that answer "busy" after each flash write
    int reset_ms = 1000;     // silence after leaving download mode
    int loader_baud = 9600;  // the loader's speed on entering download mode
    DateOrder date_order = DateOrder::Dmy;
    uint16_t clock_register = 4203;
    uint16_t date_register = 4201;
    bool silent_probe = false;
    // What the new image shows once the unit has left download mode (a
    // version register, say), so that a rollout can tell it runs.
    std::vector<std::pair<uint16_t, uint32_t>> after_download;
};

// A request as a transport hands it over: address, function and the bytes
// behind the function code (check bytes removed).
struct Request {
    uint8_t unit = 0;
    uint8_t function = 0;
    std::vector<uint8_t> body;
};

// What a request asks for, decoded once for the request log and the faults.
struct RequestInfo {
    uint8_t unit = 0;
    uint8_t function = 0;
    uint16_t address = 0;
    uint16_t count = 0;
    std::vector<uint32_t> values;  // function 16: one value per register
    bool flash_commit = false;     // writes 1 to the flash command in download mode
};

// What the loader reports after a flash write; faults choose the bad ones.
enum class FlashOutcome { Written, Failed, InvalidSector, StuckBusy, Unexpected };

struct ModelReply {
    bool silent = false;
    std::vector<uint8_t> pdu;   // function code and payload
    bool line_changed = false;  // the serial settings change once this reply is out
};

// The flow computer itself: registers, clock, loader. Not thread-safe; the
// simulator serialises every call.
class UnitModel {
  public:
    using SteadyTime = std::chrono::steady_clock::time_point;

    explicit UnitModel(UnitConfig config);

    RequestInfo Inspect(const Request& request) const;
    // Power lost and back: the unit starts in its loader after `silence`, at
    // the loader's first speed, with an empty sector buffer and registers.
    void Reboot(SteadyTime now, std::chrono::milliseconds silence);
    ModelReply Handle(const Request& request, FlashOutcome outcome, SteadyTime now);

    // The settings the unit answers under right now (the loader's while in
    // download mode).
    LineSettings Line() const;
    bool Resetting(SteadyTime now) const { return now < reset_until_; }
    bool InDownloadMode() const { return download_mode_; }
    const UnitConfig& Config() const { return config_; }

    uint32_t Register(uint16_t address) const { return registers_[address]; }
    void SetRegister(uint16_t address, uint32_t value) { registers_[address] = value; }
    const std::vector<uint8_t>& Flash() const { return flash_; }

    // The simulated wall clock, as the clock and date registers show it.
    uint32_t ClockValue() const;
    uint32_t DateValue() const;

  private:
    static int Width(uint16_t start);
    ModelReply Read(const Request& request);
    ModelReply Write(const Request& request, FlashOutcome outcome, SteadyTime now);
    uint32_t ReadOne(uint16_t address);
    void RefreshClockRegisters();
    bool ApplyClockWrite(uint16_t first, int count);
    ModelReply AfterWrite(uint16_t first, int count, FlashOutcome outcome, SteadyTime now);
    void CommitSector(FlashOutcome outcome);
    uint32_t Pair(uint16_t address) const;
    std::time_t SimulatedNow() const;

    UnitConfig config_;
    std::vector<uint32_t> registers_;
    std::vector<uint8_t> flash_;
    long long clock_offset_ = 0;  // seconds added to the host clock
    bool download_mode_ = false;
    int loader_baud_ = 9600;
    int flash_status_ = 0;
    int busy_left_ = 0;
    int final_status_ = 2;
    bool status_stuck_ = false;
    SteadyTime reset_until_{};
};

}  // namespace fc::sim
