#pragma once

// Texts of the application shell, each spelled once.
namespace fc::app_messages {

inline constexpr const char* kSocketInitFailed = "Socket Initialization Failed";
inline constexpr const char* kMainCaption = "Brisel, Inc. - Downloader V.2";
inline constexpr const char* kAboutMenuEntry = "&About Tarnel...";
inline constexpr const char* kAboutCaption = "About Tarnel";
inline constexpr const char* kAboutVersion = "Tarnel Version 3.0";
inline constexpr const char* kOk = "OK";

// The traffic window.
inline constexpr const char* kTrafficMenuEntry = "&Traffic...";
inline constexpr const char* kTrafficCaption = "Traffic";
inline constexpr const char* kTrafficTime = "Time";
inline constexpr const char* kTrafficDirection = "Direction";
inline constexpr const char* kTrafficFrame = "Frame";
inline constexpr const char* kTrafficMeaning = "Meaning";
inline constexpr const char* kTrafficSent = "Sent";
inline constexpr const char* kTrafficReceived = "Received";
inline constexpr const char* kTrafficPause = "&Pause";
inline constexpr const char* kTrafficResume = "&Resume";
inline constexpr const char* kTrafficClear = "C&lear";
inline constexpr const char* kTrafficSaveText = "Save as &Text...";
inline constexpr const char* kTrafficSaveCapture = "Save &Capture...";
inline constexpr const char* kTrafficClose = "Close";
inline constexpr const char* kTrafficCount = "%1 frames (the last %2 are kept)";
inline constexpr const char* kTrafficPausedCount = "Paused: %1 frames not kept";
inline constexpr const char* kTrafficTextFilter = "Text files (*.txt);;All files (*)";
inline constexpr const char* kTrafficCaptureFilter = "Capture files (*.pcap);;All files (*)";
inline constexpr const char* kTrafficUnwritten = "Unable to write %1.\n%2";

inline constexpr const char* kTabFileDownloader = "File Downloader";
inline constexpr const char* kTabModbusDriver = "Modbus Driver";
inline constexpr const char* kTabAdvanced = "Advanced";

}  // namespace fc::app_messages
