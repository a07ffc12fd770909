#include "sim/unit_model.h"

#include <algorithm>
#include <ctime>

namespace fc::sim {

namespace {

constexpr int kStatusBusy = 1;
constexpr int kStatusWritten = 2;
constexpr int kStatusFailed = 3;
constexpr int kStatusInvalidSector = 4;
// A value outside the loader's vocabulary, for the tool's catch-all.
constexpr int kStatusUnexpected = 5;

// Reads and writes keep inside the standard's frame size, scaled by width:
// 125 two-byte registers read, 123 written.
constexpr int kMaxReadBytes = 250;
constexpr int kMaxWriteBytes = 246;

uint16_t Be16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void PutBe(std::vector<uint8_t>& out, uint32_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

ModelReply Exception(uint8_t function, uint8_t code) {
    return {false, {static_cast<uint8_t>(function | 0x80), code}, false};
}

bool Touches(uint16_t first, int count, uint16_t address) {
    return address >= first && address < first + count;
}

}  // namespace

std::string Describe(const LineSettings& line) {
    static const char* const kParity[] = {"none", "odd", "even"};
    return std::string(line.mode == SerialMode::Rtu ? "rtu" : "ascii") + "," +
           std::to_string(line.baud) + "," + kParity[static_cast<int>(line.parity)] +
           ",unit=" + std::to_string(line.unit);
}

UnitModel::UnitModel(UnitConfig config) : config_(config), registers_(65536, 0) {}

int UnitModel::Width(uint16_t start) {
    return start >= kWideWindowFirst && start <= kWideWindowLast ? 4 : 2;
}

LineSettings UnitModel::Line() const {
    if (!download_mode_)
        return config_.line;
    // The loader knows nothing of the unit's settings: it always listens as
    // unit 1, RTU, no parity.
    return {SerialMode::Rtu, loader_baud_, Parity::None, 1};
}

RequestInfo UnitModel::Inspect(const Request& request) const {
    RequestInfo info;
    info.unit = request.unit;
    info.function = request.function;
    const auto& body = request.body;
    if (body.size() >= 4 && (request.function == 3 || request.function == 16)) {
        info.address = Be16(body, 0);
        info.count = Be16(body, 2);
    }
    if (request.function == 16 && body.size() >= 5) {
        const int width = Width(info.address);
        for (size_t at = 5; at + width <= body.size(); at += width) {
            uint32_t value = 0;
            for (int i = 0; i < width; ++i)
                value = value << 8 | body[at + i];
            info.values.push_back(value);
        }
        for (size_t i = 0; i < info.values.size(); ++i) {
            if (download_mode_ && info.address + i == kFlashCommand && info.values[i] == 1)
                info.flash_commit = true;
        }
    }
    return info;
}

void UnitModel::Reboot(SteadyTime now, std::chrono::milliseconds silence) {
    download_mode_ = true;
    loader_baud_ = config_.loader_baud;
    flash_status_ = 0;
    status_stuck_ = false;
    for (uint16_t address : {kFlashCommand, kSectorNumber, kLoaderSpeed})
        registers_[address] = 0;
    std::fill_n(registers_.begin() + kSectorBuffer, kSectorBytes / 2, 0);
    reset_until_ = now + silence;
}

ModelReply UnitModel::Handle(const Request& request, FlashOutcome outcome, SteadyTime now) {
    if (Resetting(now))
        return {true, {}, false};
    switch (request.function) {
        case 3:
            return Read(request);
        case 16:
            return Write(request, outcome, now);
        case 8:
            // The unit has no diagnostics; it answers the probe with an
            // exception from its own address, which is all the tool's scan
            // needs to find it.
            if (config_.silent_probe)
                return {true, {}, false};
            return Exception(request.function, kIllegalFunction);
        default:
            return Exception(request.function, kIllegalFunction);
    }
}

ModelReply UnitModel::Read(const Request& request) {
    if (request.body.size() != 4)
        return Exception(request.function, kIllegalValue);
    const uint16_t first = Be16(request.body, 0);
    const int count = Be16(request.body, 2);
    const int width = Width(first);
    if (count < 1 || count * width > kMaxReadBytes)
        return Exception(request.function, kIllegalValue);
    if (first + count > 65536)
        return Exception(request.function, kIllegalAddress);
    RefreshClockRegisters();
    ModelReply reply;
    reply.pdu = {request.function, static_cast<uint8_t>(count * width)};
    for (int i = 0; i < count; ++i)
        PutBe(reply.pdu, ReadOne(static_cast<uint16_t>(first + i)), width);
    return reply;
}

uint32_t UnitModel::ReadOne(uint16_t address) {
    if (address == kProbeRegister)
        return download_mode_ ? static_cast<uint32_t>(config_.loader_version) : 0;
    if (address == kFlashCommand && download_mode_) {
        if (flash_status_ == kStatusBusy && !status_stuck_) {
            if (busy_left_ > 0)
                --busy_left_;
            else
                flash_status_ = final_status_;
        }
        return static_cast<uint32_t>(flash_status_);
    }
    return registers_[address];
}

ModelReply UnitModel::Write(const Request& request, FlashOutcome outcome, SteadyTime now) {
    const auto& body = request.body;
    if (body.size() < 5)
        return Exception(request.function, kIllegalValue);
    const uint16_t first = Be16(body, 0);
    const int count = Be16(body, 2);
    const int width = Width(first);
    const int byte_count = body[4];
    if (count < 1 || count * width > kMaxWriteBytes || byte_count != count * width ||
        body.size() != static_cast<size_t>(5 + byte_count))
        return Exception(request.function, kIllegalValue);
    if (first + count > 65536)
        return Exception(request.function, kIllegalAddress);
    RefreshClockRegisters();
    for (int i = 0; i < count; ++i) {
        uint32_t value = 0;
        for (int b = 0; b < width; ++b)
            value = value << 8 | body[5 + i * width + b];
        registers_[first + i] = value;
    }
    if (!ApplyClockWrite(first, count))
        return Exception(request.function, kIllegalValue);
    ModelReply reply = AfterWrite(first, count, outcome, now);
    reply.pdu = {request.function};
    PutBe(reply.pdu, first, 2);
    PutBe(reply.pdu, static_cast<uint32_t>(count), 2);
    return reply;
}

ModelReply UnitModel::AfterWrite(uint16_t first, int count, FlashOutcome outcome, SteadyTime now) {
    ModelReply reply;
    const bool probe_written = Touches(first, count, kProbeRegister);
    const uint32_t probe_value = registers_[kProbeRegister] & 0xFFFF;
    if (!download_mode_) {
        if (probe_written && probe_value == 1) {
            download_mode_ = true;
            loader_baud_ = config_.loader_baud;
            flash_status_ = 0;
            reply.line_changed = true;
        }
        return reply;
    }
    if (Touches(first, count, kFlashCommand)) {
        const uint32_t command = registers_[kFlashCommand] & 0xFFFF;
        if (command == 2)
            flash_.clear();  // the loader starts a new image
        else if (command == 1)
            CommitSector(outcome);
    }
    if (config_.loader_version == 2 && Touches(first, count, kLoaderSpeed)) {
        const uint32_t code = registers_[kLoaderSpeed] & 0xFFFF;
        if (code == kLoaderFastCode || code == kLoaderSlowCode) {
            loader_baud_ = code == kLoaderFastCode ? 38400 : 9600;
            reply.line_changed = true;
        }
    }
    if (probe_written && probe_value == 0) {
        download_mode_ = false;
        for (const auto& [address, value] : config_.after_download)
            registers_[address] = value;
        reset_until_ = now + std::chrono::milliseconds(config_.reset_ms);
        reply.line_changed = true;
    }
    return reply;
}

void UnitModel::CommitSector(FlashOutcome outcome) {
    flash_status_ = kStatusBusy;
    busy_left_ = config_.busy_polls;
    status_stuck_ = outcome == FlashOutcome::StuckBusy;
    final_status_ = outcome == FlashOutcome::Failed          ? kStatusFailed
                    : outcome == FlashOutcome::InvalidSector ? kStatusInvalidSector
                    : outcome == FlashOutcome::Unexpected    ? kStatusUnexpected
                                                             : kStatusWritten;
    if (outcome != FlashOutcome::Written)
        return;
    const size_t sector = registers_[kSectorNumber] & 0xFFFF;
    const size_t end = (sector + 1) * kSectorBytes;
    if (flash_.size() < end)
        flash_.resize(end, 0xFF);  // erased flash reads as FF
    for (int k = 0; k < kSectorBytes / 2; ++k) {
        const uint32_t word = registers_[kSectorBuffer + k];
        flash_[sector * kSectorBytes + 2 * k] = static_cast<uint8_t>(word >> 8);
        flash_[sector * kSectorBytes + 2 * k + 1] = static_cast<uint8_t>(word);
    }
}

std::time_t UnitModel::SimulatedNow() const {
    return std::time(nullptr) + static_cast<std::time_t>(clock_offset_);
}

uint32_t UnitModel::ClockValue() const {
    const std::time_t now = SimulatedNow();
    std::tm tm{};
    localtime_r(&now, &tm);
    return static_cast<uint32_t>(tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec);
}

uint32_t UnitModel::DateValue() const {
    const std::time_t now = SimulatedNow();
    std::tm tm{};
    localtime_r(&now, &tm);
    const int d = tm.tm_mday, m = tm.tm_mon + 1, y = tm.tm_year % 100;
    switch (config_.date_order) {
        case DateOrder::Mdy:
            return static_cast<uint32_t>(m * 10000 + d * 100 + y);
        case DateOrder::Ymd:
            return static_cast<uint32_t>(y * 10000 + m * 100 + d);
        case DateOrder::Dmy:
        default:
            return static_cast<uint32_t>(d * 10000 + m * 100 + y);
    }
}

// The clock and date are two registers each, high word first, computed from
// the host clock; the stored registers are refreshed before each access so a
// write of one half combines with the current other half.
void UnitModel::RefreshClockRegisters() {
    const uint32_t clock = ClockValue();
    const uint32_t date = DateValue();
    registers_[config_.clock_register] = clock >> 16;
    registers_[static_cast<uint16_t>(config_.clock_register + 1)] = clock & 0xFFFF;
    registers_[config_.date_register] = date >> 16;
    registers_[static_cast<uint16_t>(config_.date_register + 1)] = date & 0xFFFF;
}

uint32_t UnitModel::Pair(uint16_t address) const {
    return (registers_[address] & 0xFFFF) << 16 |
           (registers_[static_cast<uint16_t>(address + 1)] & 0xFFFF);
}

// Moves the clock offset when the clock or date registers were written;
// false when the written value is no time or no date.
bool UnitModel::ApplyClockWrite(uint16_t first, int count) {
    const auto touched = [&](uint16_t reg) {
        return Touches(first, count, reg) || Touches(first, count, static_cast<uint16_t>(reg + 1));
    };
    const bool clock = touched(config_.clock_register);
    const bool date = touched(config_.date_register);
    if (!clock && !date)
        return true;
    const std::time_t now = SimulatedNow();
    std::tm tm{};
    localtime_r(&now, &tm);
    if (clock) {
        const uint32_t t = Pair(config_.clock_register);
        tm.tm_hour = static_cast<int>(t / 10000);
        tm.tm_min = static_cast<int>(t / 100 % 100);
        tm.tm_sec = static_cast<int>(t % 100);
        if (tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
            return false;
    }
    if (date) {
        const uint32_t d = Pair(config_.date_register);
        const int a = static_cast<int>(d / 10000), b = static_cast<int>(d / 100 % 100),
                  c = static_cast<int>(d % 100);
        int day = a, month = b, year = c;
        if (config_.date_order == DateOrder::Mdy) {
            day = b;
            month = a;
        } else if (config_.date_order == DateOrder::Ymd) {
            day = c;
            year = a;
        }
        if (a > 99 || month < 1 || month > 12 || day < 1 || day > 31)
            return false;
        tm.tm_mday = day;
        tm.tm_mon = month - 1;
        tm.tm_year = 100 + year;
    }
    tm.tm_isdst = -1;
    const std::time_t target = std::mktime(&tm);
    if (target == static_cast<std::time_t>(-1))
        return false;
    clock_offset_ += static_cast<long long>(target - now);
    return true;
}

}  // namespace fc::sim
