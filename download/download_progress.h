#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fc {

// Control ids of the four progress texts of the File Downloader page.
inline constexpr int kElapsedTimeText = 1042;
inline constexpr int kTimeLeftText = 1043;
inline constexpr int kTransferRateText = 1044;
inline constexpr int kBytesSentText = 1045;

inline constexpr int kSectorSize = 1024;

struct ProgressTexts {
    std::string elapsed;              // 1042
    std::optional<std::string> left;  // 1043; none while no sector is counted
    std::string rate;                 // 1044
    std::string sent;                 // 1045
};

// The texts after a sector, with e whole seconds since the start, d sectors
// written before it, n sectors in all and the file's length in bytes.
// Nothing changes while no second has passed (none is returned). While d is
// 0 the remaining time has no basis, so field 1043 is left as it stands.
std::optional<ProgressTexts> ComputeProgressTexts(int64_t elapsed_seconds, int sectors_done,
                                                  int sector_count, int64_t file_length);

// "%02d:%02d": whole minutes and seconds.
std::string ElapsedText(int64_t seconds);

// The chosen file as the 40-character file box shows it: whole when it fits,
// otherwise the head of the folder, "...", and the file part with its "/".
std::string ShortenPathForDisplay(const std::string& path, size_t width = 40);

// The folder of a path including its trailing "/", or empty without one.
std::string FolderOfPath(const std::string& path);

}  // namespace fc
