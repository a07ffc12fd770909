#include "modbus/link_failure.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "modbus/driver_socket.h"
#include "modbus/messages.h"
#include "modbus/serial_port.h"

namespace fc {

namespace {

// What the user can do about it, where the error says more than the text.
const char* PortHint(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return modbus_messages::kPermissionHint;
        case EBUSY:
            return modbus_messages::kBusyHint;
        case ENOTTY:
            return modbus_messages::kNotSerialHint;
        default:
            return nullptr;
    }
}

// strerror's buffer is shared by every thread, and a fleet opens its units'
// ports on threads of their own.
std::string ErrorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

std::string Sentence(const std::string& subject, const std::string& reason) {
    return (subject.empty() ? "" : subject + ": ") + reason + ".";
}

}  // namespace

std::string PortFailureReason(const PortOpenFailure& failure) {
    if (failure.error == 0)
        return "";
    if (failure.device.empty())
        return modbus_messages::kNoDeviceForPort;
    std::string reason = Sentence(failure.device, ErrorText(failure.error));
    if (const char* hint = PortHint(failure.error))
        reason += std::string("\n") + hint;
    return reason;
}

std::string SocketFailureReason(const std::string& host, int port, const DriverSocket& socket) {
    const std::string where = host + ":" + std::to_string(port);
    if (socket.ResolveError() != 0)
        return Sentence(where, ::gai_strerror(socket.ResolveError()));
    if (socket.ClosedByPeer())
        return Sentence(where, "the unit closed the connection before it answered");
    if (socket.LastError() == 0)
        return "";
    return Sentence(where, ErrorText(socket.LastError()));
}

std::string WithReason(const char* text, const std::string& reason) {
    return reason.empty() ? std::string(text) : std::string(text) + "\n\n" + reason;
}

}  // namespace fc
