#pragma once

// Texts of the register pages and the Register Auto Type dialog, each spelled
// once.
namespace fc::register_messages {

inline constexpr const char* kAutoTypeCaption = "Register Auto Type";
inline constexpr const char* kAutoTypePrompt = "Enter the range of register for each type.";
inline constexpr const char* kGroup16Bit = "16-Bit Integer";
inline constexpr const char* kGroup32Bit = "32-Bit Integer";
inline constexpr const char* kGroupFloat = "IEEE Float";
inline constexpr const char* kFrom = "From";
inline constexpr const char* kTo = "To";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kRegisterCountName = "Register count";

}  // namespace fc::register_messages
