#include "ui/main_dialog_template.h"

namespace fc {

namespace {

using K = ControlKind;
constexpr Page kFile = Page::kFileDownloader;
constexpr Page kDriver = Page::kModbusDriver;
constexpr Page kAdv = Page::kAdvanced;

// clang-format off
constexpr ControlSpec kControls[] = {
    {1034, K::TabControl, nullptr, 2, 2, 277, 192},
    {1039, K::GroupBox, nullptr, 8, 18, 265, 170},

    {1000, K::PushButton, "Start &Download", 15, 98, 101, 19, kDisabled, kFile},
    {1001, K::PushButton, "&Test Communication with FC", 17, 38, 141, 16, kNoFlags, kFile},
    {1002, K::ProgressBar, nullptr, 17, 171, 244, 7, kHidden, kFile},
    {1003, K::PushButton, "&Browse...", 215, 67, 47, 18, kDisabled, kFile},
    {1014, K::Edit, nullptr, 19, 69, 191, 12, kReadOnly | kDisabled, kFile},
    {1018, K::PushButton, "&Start Over", 191, 98, 71, 19, kNoFlags, kFile},
    {1047, K::Label, "Step 1. Press button to check connection with the flow computer.", 13, 27, 207, 8, kNoFlags, kFile},
    {1048, K::Label, "Step 2. Browse for the image file to download.", 13, 56, 145, 8, kNoFlags, kFile},
    {1049, K::Label, "Step 3. Press Download Button to start.", 13, 86, 125, 8, kNoFlags, kFile},
    {1050, K::Label, "Elapsed Time:", 19, 121, 51, 8, kNoFlags, kFile},
    {1051, K::Label, "Estimated time left:", 133, 121, 60, 8, kNoFlags, kFile},
    {1052, K::Label, "Transfer Rate:", 19, 133, 46, 8, kNoFlags, kFile},
    {1053, K::Label, "Total Bytes sent:", 19, 145, 54, 8, kNoFlags, kFile},
    {1042, K::Label, "00:00", 79, 121, 39, 8, kNoFlags, kFile},
    {1043, K::Label, "00:00", 197, 121, 54, 8, kNoFlags, kFile},
    {1044, K::Label, "0 Bytes/Sec", 79, 133, 90, 8, kNoFlags, kFile},
    {1045, K::Label, "0 of 0 Bytes", 79, 145, 110, 8, kNoFlags, kFile},
    {1004, K::PushButton, "&Comm Settings", 119, 98, 70, 19, kNoFlags, kFile},
    {1046, K::Label, nullptr, 17, 158, 244, 8, kAlignCentre | kHidden, kFile},
    {1019, K::PushButton, "Sto&p", 211, 132, 50, 16, kDisabled, kFile},

    {1035, K::Label, "&Address", 12, 35, 26, 8, kNoFlags, kDriver},
    {1012, K::RadioButton, "&32-Bit", 60, 67, 34, 10, kNoFlags, kDriver},
    {1037, K::Label, "&Data", 93, 35, 16, 8, kNoFlags, kDriver},
    {1021, K::PushButton, "&Read", 186, 31, 39, 18, kNoFlags, kDriver},
    {1022, K::Edit, nullptr, 40, 33, 43, 12, kAlignRight, kDriver},
    {1011, K::RadioButton, "&16-Bit", 18, 67, 34, 10, kNoFlags, kDriver},
    {1024, K::Edit, nullptr, 114, 33, 64, 12, kAlignRight, kDriver},
    {1023, K::PushButton, "&Write", 226, 31, 39, 18, kNoFlags, kDriver},
    {1040, K::Label, "&Transmit Message", 13, 90, 58, 8, kNoFlags, kDriver},
    {1041, K::Label, "Receive &Message", 13, 120, 58, 8, kNoFlags, kDriver},
    {1026, K::Edit, nullptr, 13, 103, 254, 14, kNoFlags, kDriver},
    {1027, K::Edit, nullptr, 13, 132, 254, 14, kNoFlags, kDriver},
    {1086, K::Edit, nullptr, 13, 156, 36, 13, kNoFlags, kDriver},
    {1085, K::PushButton, "R&ead Multiple Registers", 55, 156, 87, 19, kNoFlags, kDriver},
    {1013, K::RadioButton, "&Float", 104, 67, 31, 10, kNoFlags, kDriver},
    {1015, K::RadioButton, "A&uto", 146, 67, 31, 10, kNoFlags, kDriver},
    {1091, K::PushButton, "Auto &Settings...", 186, 63, 70, 16, kNoFlags, kDriver},
    {1089, K::GroupBox, "Register Type", 14, 54, 250, 29, kNoFlags, kDriver},
    {1087, K::PushButton, "Wr&ite Multiple Registers", 148, 157, 87, 19, kNoFlags, kDriver},

    {1077, K::Label, "00:00:00", 65, 30, 35, 8, kAlignRight, kAdv},
    {1073, K::Label, "00:00:00", 106, 30, 35, 8, kNoFlags, kAdv},
    {1069, K::Edit, nullptr, 71, 42, 29, 12, kAlignRight, kAdv},
    {1074, K::RadioButton, "1 H&our", 74, 60, 37, 10, kNoFlags, kAdv},
    {1075, K::RadioButton, "1 &Minute", 116, 60, 43, 10, kNoFlags, kAdv},
    {1070, K::PushButton, "St&art", 221, 63, 45, 17, kNoFlags, kAdv},
    {1071, K::PushButton, "&Stop", 221, 83, 45, 17, kNoFlags, kAdv},
    {1072, K::Edit, nullptr, 215, 28, 45, 12, kAlignRight, kAdv},
    {1076, K::Edit, nullptr, 215, 42, 45, 12, kAlignRight, kAdv},
    {1078, K::Label, "Current Time:", 20, 30, 43, 8, kNoFlags, kAdv},
    {1079, K::Label, "&Update every:", 21, 44, 46, 8, kNoFlags, kAdv},
    {1080, K::Label, "Seconds", 105, 44, 29, 8, kNoFlags, kAdv},
    {1082, K::Label, "&Clock Register", 161, 31, 47, 8, kNoFlags, kAdv},
    {1083, K::Label, "Date &Register", 165, 44, 44, 8, kNoFlags, kAdv},
    {1084, K::Label, "Increase by:", 26, 60, 41, 8, kNoFlags, kAdv},
    {1081, K::RadioButton, "&1 Day", 164, 60, 35, 10, kNoFlags, kAdv},
    {1103, K::GroupBox, "Writting Loop", 16, 116, 250, 62, kNoFlags, kAdv},
    {1104, K::Label, "I&nterval (seconds)", 24, 129, 57, 8, kNoFlags, kAdv},
    {1099, K::Edit, nullptr, 85, 127, 33, 14, kAlignRight, kAdv},
    {1105, K::Label, "&Data Increment", 24, 148, 50, 8, kNoFlags, kAdv},
    {1097, K::Edit, nullptr, 85, 143, 33, 14, kAlignRight, kAdv},
    {1106, K::Label, "(Add this value to data every time)", 124, 146, 108, 8, kNoFlags, kAdv},
    {1107, K::Label, "Lo&w Limit", 72, 166, 30, 8, kNoFlags, kAdv},
    {1102, K::Edit, nullptr, 108, 161, 40, 14, kAlignRight, kAdv},
    {1108, K::Label, "&Hi Limit", 158, 166, 24, 8, kNoFlags, kAdv},
    {1101, K::Edit, nullptr, 188, 161, 40, 14, kAlignRight, kAdv},
    {1109, K::Label, "Data Limits:", 24, 166, 38, 8, kNoFlags, kAdv},
    {1098, K::PushButton, "Star&t Loop", 149, 126, 50, 16, kNoFlags, kAdv},
    {1100, K::PushButton, "Sto&p Loop", 203, 126, 50, 16, kNoFlags, kAdv},
    {1110, K::GroupBox, "Floating Point", 15, 71, 192, 42, kNoFlags, kAdv},
    {1111, K::Label, "Register Size:", 21, 86, 46, 9, kNoFlags, kAdv},
    {1112, K::Label, "Byte Order:", 123, 86, 36, 8, kNoFlags, kAdv},
    {1061, K::RadioButton, "&4-Byte", 71, 86, 40, 10, kNoFlags, kAdv},
    {1062, K::RadioButton, "&2-Byte", 71, 97, 40, 10, kNoFlags, kAdv},
    {1063, K::RadioButton, "(H&I/LO)", 161, 86, 40, 10, kNoFlags, kAdv},
    {1064, K::RadioButton, "(&LO/HI)", 161, 97, 40, 10, kNoFlags, kAdv},
};
// clang-format on

constexpr int kRegisterTypeGroup[] = {ids::kRadio16Bit, ids::kRadio32Bit, ids::kRadioFloat,
                                      ids::kRadioAuto};
constexpr int kRegisterSizeGroup[] = {ids::kRadio4Byte, ids::kRadio2Byte};
constexpr int kByteOrderGroup[] = {ids::kRadioHiLo, ids::kRadioLoHi};
constexpr int kIncreaseByGroup[] = {ids::kRadioHour, ids::kRadioMinute, ids::kRadioDay};

constexpr std::span<const int> kRadioGroups[] = {kRegisterTypeGroup, kRegisterSizeGroup,
                                                 kByteOrderGroup, kIncreaseByGroup};

}  // namespace

std::span<const ControlSpec> MainDialogControls() {
    return kControls;
}

std::span<const std::span<const int>> MainDialogRadioGroups() {
    return kRadioGroups;
}

}  // namespace fc
