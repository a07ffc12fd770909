#pragma once

// Texts of the application shell, each spelled once.
namespace fc::app_messages {

inline constexpr const char* kSocketInitFailed = "Socket Initialization Failed";
inline constexpr const char* kMainCaption = "Brisel, Inc. - Downloader V.2";
inline constexpr const char* kAboutMenuEntry = "&About Tarnel...";
inline constexpr const char* kAboutCaption = "About Tarnel";
inline constexpr const char* kAboutVersion = "Tarnel Version 3.0";
inline constexpr const char* kOk = "OK";

inline constexpr const char* kTabFileDownloader = "File Downloader";
inline constexpr const char* kTabModbusDriver = "Modbus Driver";
inline constexpr const char* kTabAdvanced = "Advanced";

}  // namespace fc::app_messages
