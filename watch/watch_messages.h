#pragma once

// Texts of the watch, each spelled once.
namespace fc::watch_messages {

inline constexpr const char* kMenuEntry = "&Watch...";
inline constexpr const char* kCaption = "Watch";
inline constexpr const char* kName = "Name";
inline constexpr const char* kUnit = "Unit";
inline constexpr const char* kAddress = "Address";
inline constexpr const char* kType = "Type";
inline constexpr const char* kForm = "Form";
inline constexpr const char* kValue = "Value";
inline constexpr const char* kMinimum = "Minimum";
inline constexpr const char* kMaximum = "Maximum";
inline constexpr const char* kMean = "Mean";
inline constexpr const char* kLastGood = "Last good";
inline constexpr const char* kFailed = "Failed polls";
inline constexpr const char* kOpenList = "&Open List...";
inline constexpr const char* kSaveList = "Sa&ve List...";
inline constexpr const char* kAddRow = "&Add Row";
inline constexpr const char* kRemoveRows = "Re&move Rows";
inline constexpr const char* kInterval = "Poll &every";
inline constexpr const char* kSeconds = " s";
inline constexpr const char* kStart = "&Start";
inline constexpr const char* kStop = "S&top";
inline constexpr const char* kResetStatistics = "&Reset statistics";
inline constexpr const char* kLogToFile = "&Log to file...";
inline constexpr const char* kStopLog = "Stop &log";
inline constexpr const char* kSpan = "C&hart span";
inline constexpr const char* kClose = "&Close";
inline constexpr const char* kWriteValue = "&Write Value...";
inline constexpr const char* kFreeze = "&Freeze chart";
inline constexpr const char* kFreezeTip =
    "The chart stands still while the poll goes on. Drag a box or turn the wheel to zoom, "
    "Shift+wheel or the arrow keys to pan; uncheck to follow the poll again.";
inline constexpr const char* kListFilter = "Watch lists (*.txt *.watch);;All files (*)";
inline constexpr const char* kCsvFilter = "CSV files (*.csv);;All files (*)";
inline constexpr const char* kUnreadable = "Unable to read %1.\n%2";
inline constexpr const char* kUnwritten = "Unable to write %1.\n%2";
inline constexpr const char* kStopped = "Stopped.";
inline constexpr const char* kPolling = "Polling: %1 block reads a poll, the last took %2 ms.";
inline constexpr const char* kPaused = "Paused while another operation runs.";
inline constexpr const char* kLastFailure = "Last failure: %1";
inline constexpr const char* kLogging = "Logging to %1";
inline constexpr const char* kChartHint = "Select rows to chart them.";
// A row's value cell and its age.
inline constexpr const char* kFailedValue = "failed";
inline constexpr const char* kAgo = "%1 ago";
inline constexpr const char* kStale = "stale, %1 ago";
inline constexpr const char* kLastReadFailed = "failed, %1";
inline constexpr const char* kRetrying = "no answer, attempt %1 of %2";
inline constexpr const char* kRetryingStatus = "Register %1: no answer, attempt %2 of %3.";
// A chart row beyond the two axes, drawn 0 to 100 % of its own range.
inline constexpr const char* kNormalised = "%1 (%2 to %3 = 0 to 100 %)";
inline constexpr const char* kPercent = "%";
// Writing a value from the table.
inline constexpr const char* kWriteTitle = "Write Value";
inline constexpr const char* kWritePrompt = "Value for %1 (register %2):";
inline constexpr const char* kWriteConfirm = "Write %1 to %2 (register %3, unit %4)?";
inline constexpr const char* kWritten = "Wrote %1 to %2.";
inline constexpr const char* kNotWritten = "%1 was not written.";
inline constexpr const char* kOutOfRange = "The register holds %1 to %2.";

}  // namespace fc::watch_messages
