#pragma once

namespace fc::connection_messages {

inline constexpr const char* kUnableToUseCommPort =
    "Unable to use Comm Port!\n\nPlease make sure that:\n - There is no other Application using "
    "this port.\n - The selected port number is a valid port for your computer.";
inline constexpr const char* kUnableToStablishConnection =
    "Unable to stablish connection.\nPossible reasons:\n- Wrong IP Address or Port number.\n- "
    "Device not ready to answer a connection request.\n- Network configuration problems.";
inline constexpr const char* kUnableToOpenCommPort = "Unable to Open Comm Port.";
// The port report's own failures.
inline constexpr const char* kUnableToReadPort = "Unable to open the port to read its settings.";
// Followed by a line with the path.
inline constexpr const char* kUnableToCreateReport = "Unable to create the report file:";
// Followed by a line with the path.
inline constexpr const char* kReportNotOpened =
    "The report was written, but no program could open it (no desktop handler for text "
    "files, and neither $VISUAL nor $EDITOR names an editor). The report is in:";

// The outcome of "&Auto Detect Settings" in the Comm Settings dialog.
inline constexpr const char* kDeviceFoundCaption = "Device Found!";
// The mode ("ASCII" or "RTU"), the port number and the unit's address.
inline constexpr const char* kDeviceFoundText =
    "Flow Computer Settings\n- %s Mode\n- Port: Comm %d\n- Unit ID: %d";
inline constexpr const char* kFailedCaption = "Failed";
inline constexpr const char* kUnableToFindDevice = "Unable to find device";
// A scan the user stopped: nothing was found, and nothing was changed.
inline constexpr const char* kScanStopped = "Auto detect stopped: the settings are as they were.";

}  // namespace fc::connection_messages
