#pragma once

namespace fc::modbus_messages {

// Shown when a transaction has used up its attempts; Retry starts a new series.
inline constexpr const char* kUnableToConnect = "Unable to connect to Device!";
// Stands in RxText after a broadcast, which no unit answers.
inline constexpr const char* kBroadcastNotice = "Broadcast Command (No Answer back)";

// A read over RTU to unit 0 would go out as a broadcast, which no unit
// answers; it is refused before anything is sent.
inline constexpr const char* kBroadcastReadRefused =
    "Unit address 0 is a broadcast, which no unit answers: a read needs the unit's address.";

// An adapter set to echo its requests gave back something else, or nothing.
inline constexpr const char* kEchoMismatch =
    "The echo of the request did not come back as it was sent: check \"Remove echo\" in the "
    "Comm Settings.";
// The same from the command line, where the setting is a flag.
inline constexpr const char* kEchoMismatchCommandLine =
    "The echo of the request did not come back as it was sent: check --echo on the command "
    "line.";

// Under the box of a port or connection that failed, after the device and
// the system's reason: what the user can do about it.
inline constexpr const char* kPermissionHint =
    "Serial ports belong to the \"dialout\" group: add your user to it (sudo usermod -aG "
    "dialout $USER), then log in again.";
inline constexpr const char* kBusyHint = "Another program holds it.";
inline constexpr const char* kNotSerialHint = "It is not a serial port.";
inline constexpr const char* kNoDeviceForPort = "No device is named for this port number.";

}  // namespace fc::modbus_messages
