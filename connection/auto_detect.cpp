#include "connection/auto_detect.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "connection/connection.h"
#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "modbus/comm_settings.h"
#include "modbus/frame_codec.h"
#include "modbus/modbus_master.h"
#include "platform/user_interface.h"

namespace fc {

const std::array<ScanStep, kScanSteps> kScanSequence = {{
    {kModbusRtu, 0, 4},
    {kModbusRtu, 0, 3},
    {kModbusRtu, 0, 2},
    {kModbusRtu, 0, 1},
    {kModbusRtu, 0, 0},
    {kModbusAscii, 1, 4},
    {kModbusAscii, 1, 3},
    {kModbusAscii, 1, 2},
    {kModbusAscii, 1, 1},
    {kModbusAscii, 1, 0},
    {kModbusAscii, 2, 4},
    {kModbusAscii, 2, 3},
    {kModbusAscii, 2, 2},
    {kModbusAscii, 2, 1},
    {kModbusAscii, 2, 0},
}};

namespace {

// Every scan step waits one second at most, whatever the user set; the
// user's time-out comes back on every way out of the scan. A scan that finds
// nothing puts back all it tried, so the next connection, the dialog and a
// later OK see the settings the user had, not the last step's.
constexpr int kScanTimeoutSeconds = 1;

class ScanSettings {
  public:
    explicit ScanSettings(CommSettings& settings) : settings_(settings), saved_(settings) {
        settings_.Timeout = kScanTimeoutSeconds;
    }
    ~ScanSettings() {
        settings_.Timeout = saved_.Timeout;
        if (found_)
            return;
        settings_.ModbusType = saved_.ModbusType;
        settings_.BaudRate = saved_.BaudRate;
        settings_.Parity = saved_.Parity;
        settings_.DataBits = saved_.DataBits;
        settings_.StopBits = saved_.StopBits;
        settings_.UnitId = saved_.UnitId;
    }
    void Found() { found_ = true; }
    ScanSettings(const ScanSettings&) = delete;
    ScanSettings& operator=(const ScanSettings&) = delete;

  private:
    CommSettings& settings_;
    const CommSettings saved_;
    bool found_ = false;
};

void ApplyStep(CommSettings& settings, const ScanStep& step) {
    settings.BaudRate = step.BaudRate;
    if (step.ModbusType == kModbusAscii) {
        SetSerialMode(settings, kModbusAscii);
        settings.Parity = step.Parity;
    }
}

// Clears the status text when the scan ends, however it ends: the last
// "Trying ..." would otherwise stay behind as if the scan were still on.
class ScanProgress {
  public:
    explicit ScanProgress(UserInterface& ui) : ui_(ui) {}
    ~ScanProgress() { ui_.SetStatusText(""); }
    ScanProgress(const ScanProgress&) = delete;
    ScanProgress& operator=(const ScanProgress&) = delete;

    void Show(const ScanStep& step, int number) {
        ui_.SetStatusText(ScanStepText(step, number));
        // The scan blocks the window: the text must be painted now.
        ui_.PumpPaintMessages();
    }

  private:
    UserInterface& ui_;
};

// The probe's data behind unit 0 and function 8: sub-function 0 and two
// zero bytes. The ASCII form carries the RTU frame's CRC bytes as data too,
// so both forms hold the same eight bytes.
constexpr std::array<uint8_t, 4> kRtuProbeData = {0x00, 0x00, 0x00, 0x00};
constexpr std::array<uint8_t, 6> kAsciiProbeData = {0x00, 0x00, 0x00, 0x00, 0xE1, 0xDA};

}  // namespace

// Both probes are one exchange of the engine, so the trace, captures and the
// traffic window see them as any other.
bool ProbeRtu(ModbusMaster& master) {
    return master.Probe(Framing::Rtu, kRtuProbeData) != 0;
}

bool ProbeAscii(ModbusMaster& master) {
    return master.Probe(Framing::Ascii, kAsciiProbeData) != 0;
}

bool AutoDetect(ModbusMaster& master) {
    CommSettings& settings = master.Settings();
    WaitCursor cursor(master.Ui());
    ScanSettings scan(settings);
    SetSerialMode(settings, kModbusRtu);
    ScanProgress progress(master.Ui());
    int number = 0;
    for (const ScanStep& step : kScanSequence) {
        // A stop ends the scan between steps as a scan that found nothing.
        if (master.StopRaised())
            return false;
        progress.Show(step, ++number);
        ApplyStep(settings, step);
        if (!OpenConfiguredPort(master)) {
            ClosePort(master);
            master.Ui().ShowMessage({WithReason(connection_messages::kUnableToOpenCommPort,
                                                PortFailureReason(master.LastOpenFailure())),
                                     "", MessageButtons::Ok, MessageIcon::None});
            return false;
        }
        const bool answered = step.ModbusType == kModbusRtu ? ProbeRtu(master) : ProbeAscii(master);
        ClosePort(master);
        if (answered) {
            settings.UnitId = master.RxBuffer[0];
            scan.Found();
            return true;
        }
    }
    return false;
}

std::string ScanStepText(const ScanStep& step, int number) {
    static constexpr const char* kParityNames[] = {"", " odd parity", " even parity"};
    const char* parity = step.Parity >= 1 && step.Parity <= 2 ? kParityNames[step.Parity] : "";
    char text[96];
    std::snprintf(text, sizeof text, "Trying %s %d%s ... (%d of %d)",
                  step.ModbusType == kModbusAscii ? "ASCII" : "RTU", BaudFromIndex(step.BaudRate),
                  parity, number, kScanSteps);
    return text;
}

std::string DeviceFoundText(const CommSettings& s) {
    char text[160];
    std::snprintf(text, sizeof text, connection_messages::kDeviceFoundText,
                  s.ModbusType != 0 ? "ASCII" : "RTU", static_cast<int>(s.ComPort),
                  static_cast<int>(s.UnitId));
    return text;
}

}  // namespace fc
