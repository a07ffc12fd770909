#include "download/download_progress.h"

#include <cstdio>

namespace fc {

std::string ElapsedText(int64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::optional<ProgressTexts> ComputeProgressTexts(int64_t e, int d, int n, int64_t file_length) {
    if (e == 0)
        return std::nullopt;
    ProgressTexts texts;
    texts.elapsed = ElapsedText(e);
    char text[96];
    // The products are unsigned 32-bit values, so the figures are those of
    // the unit's own arithmetic: the percentage would wrap only past 41,943 sectors
    // (a 41 MB image, far beyond any unit's flash).
    const uint32_t bytes = static_cast<uint32_t>(d) * 1024u;
    std::snprintf(text, sizeof text, "%d Bytes/Sec", static_cast<int>(bytes / e));
    texts.rate = text;
    const uint32_t percent =
        file_length > 0 ? static_cast<uint32_t>(static_cast<uint32_t>(d) * 102400u / file_length)
                        : 0;
    std::snprintf(text, sizeof text, "%d of %d KBytes (%d%%)", d, n, static_cast<int>(percent));
    texts.sent = text;
    if (d > 0) {
        const auto left = static_cast<int64_t>(static_cast<double>(e) / d * (n - d));
        texts.left = ElapsedText(left);
    }
    return texts;
}

std::string ShortenPathForDisplay(const std::string& path, size_t width) {
    if (path.size() <= width)
        return path;
    const auto slash = path.find_last_of('/');
    const size_t tail = slash == std::string::npos ? path.size() : path.size() - slash;
    const size_t head = tail >= width ? 0 : width - tail;
    return path.substr(0, head) + "..." + path.substr(path.size() - tail);
}

std::string FolderOfPath(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace fc
