#pragma once

namespace fc::modbus_messages {

// Shown when a transaction has used up its attempts; Retry starts a new series.
inline constexpr const char* kUnableToConnect = "Unable to connect to Device!";
// Stands in RxText after a broadcast, which no unit answers.
inline constexpr const char* kBroadcastNotice = "Broadcast Command (No Answer back)";

}  // namespace fc::modbus_messages
