#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace fc {

class ModbusMaster;
struct CommSettings;

// The probe: diagnostics (function 8, sub-function 0, Return Query Data) to
// address 0, so that any unit on the line answers. Its CRC bytes travel as
// data in the ASCII form, behind which comes the LRC.
inline constexpr std::array<uint8_t, 8> kRtuProbe = {0x00, 0x08, 0x00, 0x00,
                                                     0x00, 0x00, 0xE1, 0xDA};
// The answer the RTU probe waits for: an exception reply's length.
inline constexpr int kRtuProbeAnswerLength = 5;

// One step of the scan: the framing and speed tried.
struct ScanStep {
    int ModbusType;  // kModbusRtu or kModbusAscii
    int Parity;      // 0 none, 1 odd, 2 even
    int BaudRate;    // baud index
};
inline constexpr int kScanSteps = 15;
// RTU without parity, then ASCII odd, then ASCII even, each from 19200 down
// to 1200 baud; the faster speeds are left out.
extern const std::array<ScanStep, kScanSteps> kScanSequence;

// Scans the framings and speeds on ComPort (current StopBits, 8 data bits)
// until a unit answers the probe. True when one did: the live settings then
// hold its framing, speed and address. False leaves them as they were before
// the scan. Nothing is saved; only the Comm Settings dialog's OK does that.
// Called with the port closed. A stop raised on the master (a StopScope)
// ends the scan at once, as one that found nothing.
bool AutoDetect(ModbusMaster& master);

// One probe each on the port as opened. On success the first byte of the
// answer (the unit's address) is in RxBuffer[0].
bool ProbeRtu(ModbusMaster& master);
bool ProbeAscii(ModbusMaster& master);

// What the status text shows while the scan is at a step, numbered from 1:
// "Trying RTU 9600 ... (2 of 15)", "Trying ASCII 2400 even parity ... (14 of 15)".
std::string ScanStepText(const ScanStep& step, int number);

// What a successful scan tells the user: the mode, the port and the unit.
std::string DeviceFoundText(const CommSettings& settings);

}  // namespace fc
