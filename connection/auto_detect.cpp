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

// A frame shorter than an address and its LRC is no answer: ":" CR LF would
// otherwise pass the sum check and hand over a stale address.
constexpr size_t kShortestAsciiAnswer = 2;

// The probe goes out on the master's serial link, so a scripted line can
// stand in for the port; the answer is due by one Timeout from the request.
bool SendProbe(ModbusMaster& master, const uint8_t* bytes, int count, LinkInstant& deadline) {
    ByteLink& link = master.SerialLink();
    link.Drain();
    if (!link.Write(bytes, count))
        return false;
    deadline = master.DeadlineFrom(link);
    return true;
}

// The probe goes to address 0, so an answer from 0 is our own request coming
// back (a loopback plug, an RS-485 adapter's local echo), not a unit.
bool FromAUnit(const ModbusMaster& master) {
    return master.RxBuffer[0] != 0;
}

// The echo the ASCII probe asks for, as text: the request and its LRC.
constexpr int kAsciiProbeAnswerCharacters = 2 * (static_cast<int>(kRtuProbe.size()) + 1) + 3;

}  // namespace

bool ProbeRtu(ModbusMaster& master) {
    LinkInstant deadline{};
    if (!SendProbe(master, kRtuProbe.data(), static_cast<int>(kRtuProbe.size()), deadline))
        return false;
    master.Observe(TrafficDirection::Sent, kRtuProbe.data(), static_cast<int>(kRtuProbe.size()));
    if (!master.TakeEcho(master.SerialLink(), kRtuProbe.data(), static_cast<int>(kRtuProbe.size()),
                         deadline))
        return false;
    master.RxBuffer[0] = 0;
    for (int i = 0; i < kRtuProbeAnswerLength; ++i) {
        if (!master.ReceiveByte(master.RxBuffer[i], deadline)) {
            master.Observe(TrafficDirection::Received, master.RxBuffer, i);
            return false;
        }
    }
    master.Observe(TrafficDirection::Received, master.RxBuffer, kRtuProbeAnswerLength);
    // Only the length and the CRC tell an answer: a longer reply (the echo a
    // unit with diagnostics gives) fails here on its first five bytes.
    return Crc16(std::span<const uint8_t>(master.RxBuffer, kRtuProbeAnswerLength)) == 0 &&
           FromAUnit(master);
}

bool ProbeAscii(ModbusMaster& master) {
    uint8_t frame[kRtuProbe.size() + 1];
    std::copy(kRtuProbe.begin(), kRtuProbe.end(), frame);
    frame[kRtuProbe.size()] = Lrc(kRtuProbe);
    master.AsciiTxBuffer[0] = ':';
    const int characters = EncodeAscii(frame, std::span<char>(master.AsciiTxBuffer));
    LinkInstant deadline{};
    if (characters < 0 || !SendProbe(master, reinterpret_cast<const uint8_t*>(master.AsciiTxBuffer),
                                     characters, deadline))
        return false;
    master.Observe(TrafficDirection::Sent, master.AsciiTxBuffer, characters);
    if (!master.TakeEcho(master.SerialLink(), reinterpret_cast<const uint8_t*>(master.AsciiTxBuffer),
                         characters, deadline))
        return false;

    master.AsciiRxBuffer[0] = 0;
    size_t stored = 0;
    const bool collected = master.CollectAsciiText(stored, deadline, kAsciiProbeAnswerCharacters);
    master.Observe(TrafficDirection::Received, master.AsciiRxBuffer, static_cast<int>(stored));
    if (!collected)
        return false;
    const AsciiDecodeResult decoded = DecodeAscii(
        std::span<const char>(master.AsciiRxBuffer, stored), std::span<uint8_t>(master.RxBuffer));
    if (decoded.odd || decoded.invalid || decoded.count < kShortestAsciiAnswer)
        return false;
    CommSettings& settings = master.Settings();
    if (settings.UnitId == 0 && master.RxBuffer[0] != 0)
        settings.UnitId = master.RxBuffer[0];
    return ByteSum(std::span<const uint8_t>(master.RxBuffer, decoded.count)) == 0 &&
           FromAUnit(master);
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
