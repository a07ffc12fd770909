#pragma once

#include <string>

namespace fc {

struct PortOpenFailure;
class DriverSocket;

// The device and the system's reason a port did not open, as the line added
// under the connection boxes: "/dev/ttyUSB0: Permission denied." with a hint
// where the user can act on it. Empty when there is nothing to tell.
std::string PortFailureReason(const PortOpenFailure& failure);
// The same for a TCP connect: "host:port: Connection refused.", or the
// resolver's reason for a name that was not found.
std::string SocketFailureReason(const std::string& host, int port, const DriverSocket& socket);
// A box's documented text, then the reason after an empty line.
std::string WithReason(const char* text, const std::string& reason);

}  // namespace fc
