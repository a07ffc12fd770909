#pragma once

namespace fc {

// The two process-wide link flags that gate the transactions. Connection
// management (connection/connection.h) is their one writer.
struct LinkFlags {
    // Non-zero while the serial link may carry transactions; the RTU and
    // ASCII transactions fail at once, sending nothing, while it is 0. Only
    // zero against non-zero is ever tested (the download sets it to 3).
    int LinkOpen = 0;
    // 0 no link, 1 link up, 3 a firmware download is running; the TCP
    // transaction sends nothing while it is 0.
    int LinkState = 0;
    // How many uses keep the link open between their operations (a --poll
    // loop): while any does, an operation finds its link made and leaves it.
    int Kept = 0;
};

inline constexpr int kLinkDown = 0;
inline constexpr int kLinkUp = 1;
inline constexpr int kLinkDownloading = 3;

}  // namespace fc
