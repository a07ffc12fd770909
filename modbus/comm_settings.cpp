#include "modbus/comm_settings.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/profile.h"

namespace fc {

namespace k = settings_keys;

namespace {

// A value too wide for its field is clamped to the nearest one the field
// holds, not cut to its low bits: a "UnitId" of 70000 that became 4464 would
// address some other unit without a word. Within the field's width nothing
// is checked; the Parts that use a value judge it (an unknown baud index
// gives 9600).
int16_t Within16(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

// The unit address travels in one byte: above it, the highest address; below
// it the default unit, never the broadcast 0 that every unit on the line obeys.
int16_t UnitIdWithin(int32_t value) {
    constexpr int32_t kHighestUnitId = 255;
    constexpr int32_t kDefaultUnitId = 1;
    return static_cast<int16_t>(value < 0 ? kDefaultUnitId : std::min(value, kHighestUnitId));
}

// How each integer key is written from the record; "IPAddress" is the one string.
using IntegerOf = int32_t (*)(const CommSettings&);
struct IntegerKey {
    const char* key;
    IntegerOf value;
};
constexpr IntegerKey kIntegerKeys[] = {
    {k::kUnitId, [](const CommSettings& s) -> int32_t { return s.UnitId; }},
    {k::kModbusType, [](const CommSettings& s) -> int32_t { return s.ModbusType; }},
    {k::kComPort, [](const CommSettings& s) -> int32_t { return s.ComPort; }},
    {k::kBaudRate, [](const CommSettings& s) -> int32_t { return s.BaudRate; }},
    {k::kParity, [](const CommSettings& s) -> int32_t { return s.Parity; }},
    {k::kDataBits, [](const CommSettings& s) -> int32_t { return s.DataBits; }},
    {k::kStopBits, [](const CommSettings& s) -> int32_t { return s.StopBits; }},
    {k::kTimeout, [](const CommSettings& s) -> int32_t { return s.Timeout; }},
    {k::kRetry, [](const CommSettings& s) -> int32_t { return s.Retry; }},
    {k::kUseIP, [](const CommSettings& s) -> int32_t { return s.UseIP ? 1 : 0; }},
    {k::kIPPort, [](const CommSettings& s) -> int32_t { return s.IPPort; }},
    {k::kIPProtocol, [](const CommSettings& s) -> int32_t { return s.IPProtocol; }},
    {k::kRemoveEcho, [](const CommSettings& s) -> int32_t { return s.RemoveEcho ? 1 : 0; }},
};

void WriteKey(const CommSettings& s, Profile& profile, const char* key) {
    for (const IntegerKey& entry : kIntegerKeys) {
        if (std::string_view(entry.key) == key) {
            profile.WriteInt(k::kSection, key, entry.value(s));
            return;
        }
    }
    profile.WriteString(k::kSection, key, s.IPAddress);
}

template <size_t N>
void WriteKeys(const CommSettings& s, Profile& profile, const char* const (&keys)[N]) {
    for (const char* key : keys)
        WriteKey(s, profile, key);
}

}  // namespace

int BaudFromIndex(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kBaudTable)))
        return 9600;
    return kBaudTable[index];
}

void LoadSettings(CommSettings& s, const Profile& profile) {
    auto get = [&](const char* key, int32_t fallback) {
        return profile.GetInt(k::kSection, key, fallback);
    };
    s.ModbusType = get(k::kModbusType, 0);
    s.ComPort = Within16(get(k::kComPort, 1));
    s.BaudRate = get(k::kBaudRate, 3);
    s.Parity = get(k::kParity, 0);
    s.DataBits = Within16(get(k::kDataBits, 8));
    s.UnitId = UnitIdWithin(get(k::kUnitId, 1));
    s.Timeout = Within16(get(k::kTimeout, 2));
    s.Retry = Within16(get(k::kRetry, 3));
    s.StopBits = get(k::kStopBits, 0);
    s.UseIP = get(k::kUseIP, 0) != 0;
    s.IPAddress = profile.GetString(k::kSection, k::kIPAddress, "10.1.1.1");
    s.IPPort = static_cast<uint16_t>(std::clamp<int32_t>(get(k::kIPPort, 502), 0, UINT16_MAX));
    s.IPProtocol = Within16(get(k::kIPProtocol, 0));
    s.RemoveEcho = get(k::kRemoveEcho, 0) != 0;
}

void WriteBackSettings(const CommSettings& s, Profile& profile) {
    static constexpr const char* kOrder[] = {
        k::kUnitId,    k::kModbusType, k::kComPort,   k::kBaudRate, k::kParity,
        k::kDataBits,  k::kStopBits,   k::kTimeout,   k::kRetry,    k::kUseIP,
        k::kIPAddress, k::kIPPort,     k::kIPProtocol, k::kRemoveEcho};
    WriteKeys(s, profile, kOrder);
}

void SaveSettings(const CommSettings& s, Profile& profile) {
    static constexpr const char* kOrder[] = {
        k::kUnitId,   k::kModbusType, k::kComPort,  k::kBaudRate, k::kParity,
        k::kDataBits, k::kStopBits,   k::kTimeout,  k::kRetry,    k::kUseIP,
        k::kIPPort,   k::kIPProtocol, k::kIPAddress, k::kRemoveEcho};
    WriteKeys(s, profile, kOrder);
}

}  // namespace fc
