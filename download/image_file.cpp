#include "download/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "download/messages.h"
#include "platform/regular_file.h"
#include "platform/sha256.h"

namespace fc {

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ImageFile::Open(const std::string& path) {
    if (fd_ >= 0 || path.empty()) {
        errno = path.empty() ? ENOENT : EBUSY;
        return false;
    }
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    length_ = static_cast<int64_t>(info.st_size);
    return true;
}

bool ImageFile::ReadSector(std::span<uint8_t, kSectorSize> sector) {
    return ReadExactly(sector);
}

bool ImageFile::ReadExactly(std::span<uint8_t> out) {
    size_t got = 0;
    while (fd_ >= 0 && got < out.size()) {
        const ssize_t n = ::read(fd_, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return got == out.size();
}

bool ImageFile::ReadToEnd(std::vector<uint8_t>& out, size_t limit) {
    constexpr size_t kChunk = 64 * 1024;
    out.clear();
    // The length the file system gives is only a hint.
    out.reserve(static_cast<size_t>(std::clamp<int64_t>(length_, 0, limit)));
    while (fd_ >= 0 && out.size() < limit) {
        const size_t at = out.size();
        out.resize(std::min(limit, at + kChunk));
        const ssize_t n = ::read(fd_, out.data() + at, out.size() - at);
        out.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
    }
    return fd_ >= 0;
}

bool ImageFileOpens(const std::string& path) {
    ImageFile file;
    return file.Open(path);
}

namespace {
ImageVerdict JudgeLength(int64_t length) {
    if (length == 0)
        return ImageVerdict::Empty;
    if (length % kSectorSize != 0)
        return ImageVerdict::NotWholeSectors;
    if (length > kMaxImageLength)
        return ImageVerdict::TooLarge;
    return ImageVerdict::Fine;
}
}  // namespace

ImageVerdict JudgeImage(const std::vector<uint8_t>& bytes) {
    return JudgeLength(static_cast<int64_t>(bytes.size()));
}

const char* ImageVerdictText(ImageVerdict verdict, const char* cannot_open) {
    namespace m = download_messages;
    switch (verdict) {
        case ImageVerdict::Fine:
            return "";
        case ImageVerdict::CannotOpen:
            return cannot_open;
        case ImageVerdict::ReadError:
            return m::kFileReadError;
        case ImageVerdict::Empty:
            return m::kImageEmpty;
        case ImageVerdict::NotWholeSectors:
            return m::kNotTheRightSize;
        case ImageVerdict::TooLarge:
            return m::kImageTooLarge;
        case ImageVerdict::DigestDiffers:
            return m::kImageDigestDiffers;
    }
    return cannot_open;
}

LoadedImage LoadImage(const std::string& path, const std::string& expected_sha256) {
    LoadedImage image;
    image.expected_sha256 = expected_sha256;
    ImageFile file;
    if (!file.Open(path)) {
        image.reason = OpenFailureReason(path, errno);
        return image;
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (!file.ReadToEnd(*bytes, static_cast<size_t>(kMaxImageLength + kSectorSize))) {
        image.verdict = ImageVerdict::ReadError;
        image.reason = std::strerror(errno);
        return image;
    }
    image.sha256 = Sha256Hex(*bytes);
    image.verdict = JudgeImage(*bytes);
    if (image.verdict == ImageVerdict::Fine && !expected_sha256.empty() &&
        image.sha256 != expected_sha256)
        image.verdict = ImageVerdict::DigestDiffers;
    if (image.verdict == ImageVerdict::Fine)
        image.bytes = std::move(bytes);
    return image;
}

std::string ImageRefusalText(const LoadedImage& image, const char* cannot_open) {
    namespace m = download_messages;
    std::string text = ImageVerdictText(image.verdict, cannot_open);
    if (!image.reason.empty())
        text += "\n" + image.reason;
    if (image.verdict == ImageVerdict::DigestDiffers)
        text += std::string("\n") + m::kImageDigestRead + image.sha256 + "\n" +
                m::kImageDigestGiven + image.expected_sha256;
    return text;
}

std::string ConfirmDownloadText(const LoadedImage& image) {
    namespace m = download_messages;
    return std::string(m::kConfirmDownload) + "\n\n" + m::kImageDigestLine + image.sha256;
}

}  // namespace fc
