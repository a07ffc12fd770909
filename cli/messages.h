#pragma once

#include <cstddef>

namespace fc::cli_messages {

// Refusals of a targets file, each after "line N: ".
inline constexpr const char* kTargetsTooLarge = "the targets file is over 1 MB";
inline constexpr const char* kTargetsNulByte = "a NUL byte, which no option word holds";
inline constexpr const char* kTargetsNoUnit = "the targets name no unit";

}  // namespace fc::cli_messages
