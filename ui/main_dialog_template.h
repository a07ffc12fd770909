#pragma once

#include <span>

#include "ui/control_table.h"

namespace fc {

// Control ids of the main window.
namespace ids {
// Always shown.
inline constexpr int kTabControl = 1034;
inline constexpr int kPageFrame = 1039;
// File Downloader.
inline constexpr int kStartDownload = 1000;
inline constexpr int kTestCommunication = 1001;
inline constexpr int kProgressBar = 1002;
inline constexpr int kBrowse = 1003;
inline constexpr int kFileBox = 1014;
inline constexpr int kStartOver = 1018;
inline constexpr int kElapsedTime = 1042;
inline constexpr int kTimeLeft = 1043;
inline constexpr int kTransferRate = 1044;
inline constexpr int kBytesSent = 1045;
inline constexpr int kCommSettings = 1004;
inline constexpr int kStatusLine = 1046;
// Stops the download that runs (Escape too).
inline constexpr int kStopOperation = 1019;
// Modbus Driver.
inline constexpr int kRadio32Bit = 1012;
inline constexpr int kRead = 1021;
inline constexpr int kAddress = 1022;
inline constexpr int kRadio16Bit = 1011;
inline constexpr int kData = 1024;
inline constexpr int kWrite = 1023;
inline constexpr int kTransmitMessage = 1026;
inline constexpr int kReceiveMessage = 1027;
inline constexpr int kRegisterCount = 1086;
inline constexpr int kReadMultiple = 1085;
inline constexpr int kRadioFloat = 1013;
inline constexpr int kRadioAuto = 1015;
inline constexpr int kAutoSettings = 1091;
inline constexpr int kWriteMultiple = 1087;
// Advanced.
inline constexpr int kDateDisplay = 1077;
inline constexpr int kTimeDisplay = 1073;
inline constexpr int kUpdateEvery = 1069;
inline constexpr int kRadioHour = 1074;
inline constexpr int kRadioMinute = 1075;
inline constexpr int kClockStart = 1070;
inline constexpr int kClockStop = 1071;
inline constexpr int kClockRegister = 1072;
inline constexpr int kDateRegister = 1076;
inline constexpr int kRadioDay = 1081;
inline constexpr int kLoopInterval = 1099;
inline constexpr int kDataIncrement = 1097;
inline constexpr int kLowLimit = 1102;
inline constexpr int kHiLimit = 1101;
inline constexpr int kStartLoop = 1098;
inline constexpr int kStopLoop = 1100;
inline constexpr int kRadio4Byte = 1061;
inline constexpr int kRadio2Byte = 1062;
inline constexpr int kRadioHiLo = 1063;
inline constexpr int kRadioLoHi = 1064;
}  // namespace ids

// The main window's size in dialog units.
inline constexpr int kMainDialogWidth = 282;
inline constexpr int kMainDialogHeight = 196;

// Every control of the main window: the tab control and the page frame, then
// the three pages, each in the order the page switch walks it.
std::span<const ControlSpec> MainDialogControls();

// The radio groups of the main window.
std::span<const std::span<const int>> MainDialogRadioGroups();

// The order in which the page switch walks the pages.
inline constexpr Page kPageWalkOrder[] = {Page::kModbusDriver, Page::kFileDownloader,
                                          Page::kAdvanced};

}  // namespace fc
