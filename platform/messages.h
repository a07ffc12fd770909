#pragma once

// Why a file the tool writes was refused or not written, each spelled once.
namespace fc::platform_messages {

inline constexpr const char* kIsLink = "it is a symbolic link";
inline constexpr const char* kIsFifo = "it is a FIFO, not a regular file";
inline constexpr const char* kIsFolder = "it is a folder, not a regular file";
inline constexpr const char* kIsDevice = "it is a device, not a regular file";
inline constexpr const char* kIsSocket = "it is a socket, not a regular file";
inline constexpr const char* kNotRegular = "it is not a regular file";
inline constexpr const char* kOtherOwner = "it belongs to another user";
inline constexpr const char* kHardLinked = "it has other hard links";
inline constexpr const char* kForeignFolder =
    "its folder belongs to another user and is not sticky";
inline constexpr const char* kNotFolder = "it is not a folder";
inline constexpr const char* kFolderIsForeign = "it belongs to another user and is not sticky";

}  // namespace fc::platform_messages
