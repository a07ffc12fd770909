#pragma once

// Texts of fcloader-cli about the files it writes, each spelled once.
namespace fc::cli_messages {

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
