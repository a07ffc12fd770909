#include "modbus/comm_settings.h"

#include <string_view>

#include "platform/profile.h"

namespace fc {

namespace k = settings_keys;

namespace {

int16_t Low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value));
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
    s.ComPort = Low16(get(k::kComPort, 1));
    s.BaudRate = get(k::kBaudRate, 3);
    s.Parity = get(k::kParity, 0);
    s.DataBits = Low16(get(k::kDataBits, 8));
    s.UnitId = Low16(get(k::kUnitId, 1));
    s.Timeout = Low16(get(k::kTimeout, 2));
    s.Retry = Low16(get(k::kRetry, 3));
    s.StopBits = get(k::kStopBits, 0);
    s.UseIP = get(k::kUseIP, 0) != 0;
    s.IPAddress = profile.GetString(k::kSection, k::kIPAddress, "10.1.1.1");
    s.IPPort = static_cast<uint16_t>(get(k::kIPPort, 502));
    s.IPProtocol = Low16(get(k::kIPProtocol, 0));
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
