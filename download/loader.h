#pragma once

#include "connection/connection.h"

namespace fc {

struct CommSettings;

// What the unit's flash loader is, seen from the link: its registers, its
// commands and statuses, and where it listens. The contact that looks for it
// and the download that drives it both read this, and neither the other.

// The loader's registers (16-bit holding registers).
inline constexpr int kLoaderVersionRegister = kProbeRegister;  // 2649
inline constexpr int kFlashCommandRegister = 2650;
inline constexpr int kSectorNumberRegister = 2651;
inline constexpr int kLoaderSpeedRegister = 2563;
inline constexpr int kSectorBufferRegister = 20000;

inline constexpr int kEnterDownloadMode = 1;
inline constexpr int kLeaveDownloadMode = 0;
inline constexpr int kStartOfImage = 2;
inline constexpr int kFlashWrite = 1;
inline constexpr int kLoaderVersion2 = 2;

// Flash-write status read back from the command register.
inline constexpr int kFlashBusy = 1;
inline constexpr int kFlashWritten = 2;
inline constexpr int kFlashFailed = 3;
inline constexpr int kFlashInvalidSector = 4;
inline constexpr int kMaxStatusPolls = 5;

// Loader version 2 runs the transfer at 38400 baud; the codes written to its
// speed register are the tool's own baud indexes.
inline constexpr int kLoaderFastBaudIndex = 5;
inline constexpr int kLoaderSlowBaudIndex = 3;

// A unit in download mode answers at this address, whatever its own.
inline constexpr int kLoaderUnitId = 1;

// The serial settings the loader answers under, set in memory only: the
// profile keeps the user's own.
void ApplyLoaderSettings(CommSettings& settings);

}  // namespace fc
