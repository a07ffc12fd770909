#pragma once

#include <cstddef>

// Texts of fcloader-cli, each spelled once.
namespace fc::cli_messages {

// Refusals of a targets file, each after "line N: ".
inline constexpr const char* kTargetsTooLarge = "the targets file is over 1 MB";
inline constexpr const char* kTargetsNulByte = "a NUL byte, which no option word holds";
inline constexpr const char* kTargetsNoUnit = "the targets name no unit";

// "cannot write PATH: REASON", after the program's name.
inline constexpr const char* kCannotWrite = "cannot write ";
// A unit's summary message when its download ended but its log or capture
// did not reach the disk in full: "... , but PATH was not written: REASON".
inline constexpr const char* kButNotWritten = ", but ";
inline constexpr const char* kNotWritten = " was not written: ";
// A default name (made from how the unit is reached) that is no file name.
inline constexpr const char* kNameNoFileName =
    "the unit's name cannot name its log; give the line a name= (letters, digits and - _ . : @)";

}  // namespace fc::cli_messages
