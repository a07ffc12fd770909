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

}  // namespace fc::modbus_messages
