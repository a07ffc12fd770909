#pragma once

#include <cstdint>
#include <string>

namespace fc {

class Profile;

// Profile section and key names, spelled as the stored profile has them.
namespace settings_keys {
inline constexpr const char* kSection = "Settings";
inline constexpr const char* kUnitId = "UnitId";
inline constexpr const char* kModbusType = "ModbusType";
inline constexpr const char* kComPort = "ComPort";
inline constexpr const char* kBaudRate = "BaudRate";
inline constexpr const char* kParity = "Parity";
inline constexpr const char* kDataBits = "DataBits";
inline constexpr const char* kStopBits = "StopBits";
inline constexpr const char* kTimeout = "Timeout";
inline constexpr const char* kRetry = "Retry";
inline constexpr const char* kUseIP = "UseIP";
inline constexpr const char* kIPAddress = "IPAddress";
inline constexpr const char* kIPPort = "IPPort";
inline constexpr const char* kIPProtocol = "IPProtocol";
inline constexpr const char* kRemoveEcho = "RemoveEcho";
// Kept in the same section by the File Downloader page.
inline constexpr const char* kCurrentDir = "CurrentDir";
}  // namespace settings_keys

// The one record of how the tool reaches the unit. Every transport reads it
// at the moment it needs a value; the field widths are those of the stored
// profile, so a value too wide for its field keeps its low bits.
struct CommSettings {
    int16_t UnitId = 1;
    int32_t ModbusType = 0;  // 0 RTU, 1 ASCII
    int16_t ComPort = 1;
    int32_t BaudRate = 3;  // index into the baud table, not the rate
    int32_t Parity = 0;    // 0 none, 1 odd, 2 even
    int16_t DataBits = 8;
    int32_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    int16_t Timeout = 2;   // whole seconds per attempt
    int16_t Retry = 3;
    bool UseIP = false;
    std::string IPAddress;
    uint16_t IPPort = 0;
    int16_t IPProtocol = 0;  // 0 Modbus TCP, anything else RTU frames in TCP
    // The serial adapter hears its own requests (RS-485 adapters without
    // echo suppression): each request's echo is read back before the reply.
    bool RemoveEcho = false;
};

inline constexpr int kModbusRtu = 0;
inline constexpr int kModbusAscii = 1;

// Baud table: index to bits per second; every other index means 9600.
int BaudFromIndex(int index);
inline constexpr int kBaudTable[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// Reads every key, with its default when missing, in the order the profile
// has always been read.
void LoadSettings(CommSettings& settings, const Profile& profile);
// Start-up writes every key straight back so that all exist after a first run.
void WriteBackSettings(const CommSettings& settings, Profile& profile);
// After the Comm Settings dialog's OK (a different key order, kept as it was).
void SaveSettings(const CommSettings& settings, Profile& profile);

}  // namespace fc
