#pragma once

// Texts of the watch, each spelled once.
namespace fc::watch_messages {

inline constexpr const char* kMenuEntry = "&Watch...";
inline constexpr const char* kCaption = "Watch";
inline constexpr const char* kName = "Name";
inline constexpr const char* kAddress = "Address";
inline constexpr const char* kType = "Type";
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
inline constexpr const char* kInterval = "Poll every";
inline constexpr const char* kSeconds = " s";
inline constexpr const char* kStart = "&Start";
inline constexpr const char* kStop = "S&top";
inline constexpr const char* kResetStatistics = "&Reset statistics";
inline constexpr const char* kLogToFile = "&Log to file...";
inline constexpr const char* kStopLog = "Stop &log";
inline constexpr const char* kSpan = "Chart span";
inline constexpr const char* kClose = "Close";
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

}  // namespace fc::watch_messages
