#include "connection/failure_reason.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "connection/messages.h"
#include "modbus/driver_socket.h"
#include "modbus/serial_port.h"

namespace fc {

namespace {

// What the user can do about it, where the error says more than the text.
const char* PortHint(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return connection_messages::kPermissionHint;
        case EBUSY:
            return connection_messages::kBusyHint;
        case ENOTTY:
            return connection_messages::kNotSerialHint;
        default:
            return nullptr;
    }
}

std::string Sentence(const std::string& subject, const char* reason) {
    return (subject.empty() ? "" : subject + ": ") + reason + ".";
}

}  // namespace

std::string PortFailureReason(const PortOpenFailure& failure) {
    if (failure.error == 0)
        return "";
    if (failure.device.empty())
        return connection_messages::kNoDeviceForPort;
    std::string reason = Sentence(failure.device, std::strerror(failure.error));
    if (const char* hint = PortHint(failure.error))
        reason += std::string("\n") + hint;
    return reason;
}

std::string SocketFailureReason(const std::string& host, int port, const DriverSocket& socket) {
    const std::string where = host + ":" + std::to_string(port);
    if (socket.ResolveError() != 0)
        return Sentence(where, ::gai_strerror(socket.ResolveError()));
    if (socket.LastError() == 0)
        return "";
    return Sentence(where, std::strerror(socket.LastError()));
}

std::string WithReason(const char* text, const std::string& reason) {
    return reason.empty() ? std::string(text) : std::string(text) + "\n\n" + reason;
}

}  // namespace fc
