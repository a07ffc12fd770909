#include "connection/connection.h"

#include <chrono>

#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/user_interface.h"

namespace fc {

namespace {

constexpr int kReadTimeoutMs = 20;

void ShowConnectionError(ModbusMaster& master, const std::string& text) {
    master.Ui().ShowMessage({text, "", MessageButtons::Ok, MessageIcon::Stop});
}

void ShowPortError(ModbusMaster& master) {
    ShowConnectionError(master, WithReason(connection_messages::kUnableToUseCommPort,
                                           PortFailureReason(master.LastOpenFailure())));
}

void ShowSocketError(ModbusMaster& master) {
    const CommSettings& s = master.Settings();
    ShowConnectionError(master,
                        WithReason(connection_messages::kUnableToStablishConnection,
                                   SocketFailureReason(s.IPAddress, s.IPPort, master.Socket)));
}

// Codes beyond a byte must not wrap into valid ones; 255 is refused by the port.
uint8_t LineCode(int value) {
    return value < 0 || value > 255 ? 255 : static_cast<uint8_t>(value);
}

bool ConnectSerial(ModbusMaster& master) {
    CommSettings& s = master.Settings();
    SetSerialMode(s, s.ModbusType);
    WaitCursor cursor(master.Ui());
    int value = 0;
    // A port left open by the previous operation needs no second open.
    if (master.ReadRegister16(kProbeRegister, value) || OpenConfiguredPort(master)) {
        master.Links().LinkOpen = 1;
        return true;
    }
    ClosePort(master);
    ShowPortError(master);
    return false;
}

bool ConnectIp(ModbusMaster& master, const UnitProbe& probe) {
    LinkFlags& links = master.Links();
    if (!master.ConnectSocket() && !IsConnectInProgress(master.Socket.LastError())) {
        master.CloseSocket();
        links.LinkOpen = 0;
        ShowSocketError(master);
        return false;
    }
    links.LinkOpen = 1;
    links.LinkState = kLinkUp;
    uint8_t value[2];
    if (probe ? probe(master) : master.ReadRegisterBlock(kProbeRegister, value, 1) != 0)
        return true;
    // The connection stays until Disconnect. A user who stopped the probe
    // knows why it ended; the unit may well be there.
    links.LinkOpen = 0;
    links.LinkState = kLinkDown;
    if (!master.StopRaised())
        ShowConnectionError(master, connection_messages::kUnableToStablishConnection);
    return false;
}

}  // namespace

bool OpenConfiguredPort(ModbusMaster& master) {
    const CommSettings& s = master.Settings();
    const int parity = s.Parity == 1 || s.Parity == 2 ? s.Parity : 0;
    if (!master.Open(s.ComPort, BaudFromIndex(s.BaudRate), LineCode(s.DataBits), LineCode(parity),
                     LineCode(s.StopBits)))
        return false;
    master.SetTimeouts(kReadTimeoutMs);
    return true;
}

void SetSerialMode(CommSettings& settings, int mode) {
    if (mode == kModbusRtu) {
        settings.ModbusType = kModbusRtu;
        settings.Parity = 0;
        settings.DataBits = 8;
    } else {
        settings.ModbusType = kModbusAscii;
    }
}

bool Connect(ModbusMaster& master, const UnitProbe& probe) {
    const bool result = master.Settings().UseIP ? ConnectIp(master, probe) : ConnectSerial(master);
    master.OpenState = result ? 1 : 0;
    return result;
}

// A closed port carries no link.
void ClosePort(ModbusMaster& master) {
    master.Close();
    master.OpenState = 0;
    master.Links().LinkOpen = 0;
}

// The end of a use of the link: a reply still owed to an attempt that failed
// comes now or never, and is dropped, so no later request takes it.
void Disconnect(ModbusMaster& master) {
    if (!master.Settings().UseIP)
        master.SettleOwedReplies(master.SerialLink());
    master.Links().LinkState = kLinkDown;
    if (master.Settings().UseIP)
        master.CloseSocket();
    else
        ClosePort(master);
}

int ReopenSerial(ModbusMaster& master, const ReopenBound& bound) {
    CommSettings& s = master.Settings();
    SetSerialMode(s, s.ModbusType);
    if (master.OpenState != 0)
        return master.OpenState;
    for (int attempt = 0; attempt < bound.attempts && !master.StopRaised(); ++attempt) {
        if (attempt > 0)
            SleepPumping(master.Ui(), std::chrono::milliseconds(bound.pauseMs));
        if (OpenConfiguredPort(master)) {
            master.OpenState = 1;
            return master.OpenState;
        }
        ClosePort(master);
    }
    return master.OpenState;
}

bool Reconnect(ModbusMaster& master, const ReopenBound& bound) {
    LinkFlags& links = master.Links();
    int value = 0;
    if (master.ReadRegister16(kProbeRegister, value)) {
        master.OpenState = 1;
        return true;
    }
    if (master.Settings().UseIP) {
        master.OpenState = 0;
        if (links.LinkState != kLinkDown)
            return false;
        if (master.ConnectSocket()) {
            links.LinkState = kLinkUp;
            return false;
        }
        master.CloseSocket();
        links.LinkState = kLinkDown;
        ShowSocketError(master);
        return false;
    }
    if (ReopenSerial(master, bound) != 0) {
        master.SetTimeouts(kReadTimeoutMs);
        links.LinkState = kLinkUp;
        master.OpenState = 1;
        return true;
    }
    links.LinkState = kLinkDown;
    ShowPortError(master);
    master.OpenState = 0;
    return false;
}

void NoteUnitAnswered(ModbusMaster& master, bool answered) {
    master.Links().LinkState = answered ? kLinkUp : kLinkDown;
}

bool ReopenAt(ModbusMaster& master, const CommSettings& settings) {
    const int gate = master.Links().LinkOpen;
    master.Settings() = settings;
    if (settings.UseIP)
        return true;
    ClosePort(master);
    if (!OpenConfiguredPort(master)) {
        ClosePort(master);
        return false;
    }
    master.OpenState = 1;
    master.Links().LinkOpen = gate;
    return true;
}

void OpenGateForLoader(ModbusMaster& master) {
    master.Links().LinkOpen = kLinkDownloading;
}

bool GateOpen(ModbusMaster& master) {
    return master.Settings().UseIP ? master.Links().LinkState != kLinkDown
                                   : master.Links().LinkOpen != 0;
}

bool LinkCarriesRequests(ModbusMaster& master) {
    return GateOpen(master) && (master.Settings().UseIP ? master.Socket.IsOpen() : master.IsOpen());
}

void MarkDownloading(ModbusMaster& master) {
    master.Links().LinkState = kLinkDownloading;
}

KeptLinkState::KeptLinkState(ModbusMaster& master)
    : master_(master), kept_(master.Links().LinkState) {}

KeptLinkState::~KeptLinkState() {
    master_.Links().LinkState = kept_;
}

}  // namespace fc
