#include <algorithm>

#include "modbus/modbus_master.h"

namespace fc {

namespace {
// A connect gives up after Timeout seconds, at least one (a Timeout of 0
// still lets a connection be made) and never later than the cap, so that
// the window does not hang for the kernel's minutes of retries. A connect
// inside an attempt takes no more than what is left of the attempt.
constexpr int kMinConnectSeconds = 1;
constexpr int kMaxConnectSeconds = 60;
}  // namespace

int ModbusMaster::ConnectBoundSeconds() const {
    return std::clamp<int>(settings_.Timeout, kMinConnectSeconds, kMaxConnectSeconds);
}

// A new connection carries nothing of the old one: no reply owed, no id
// habits of the server.
bool ModbusMaster::ConnectSocket() {
    idsIgnored_ = false;
    reconnectDue_ = false;
    guard_.Forget();
    return Socket.Connect(settings_.IPAddress, settings_.IPPort, ConnectBoundSeconds());
}

bool ModbusMaster::CloseSocket() {
    Socket.Close();
    return true;
}

int ModbusMaster::TransactTcp() {
    return RunTransaction(settings_.IPProtocol == 0 ? Framing::ModbusTcp : Framing::Encapsulated);
}

}  // namespace fc
