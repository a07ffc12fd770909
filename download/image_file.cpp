#include "download/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "download/messages.h"
#include "platform/regular_file.h"

namespace fc {

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ImageFile::Open(const std::string& path) {
    if (fd_ >= 0 || bytes_ || path.empty())
        return false;
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

bool ImageFile::Open(ImageBytes bytes) {
    if (fd_ >= 0 || bytes_ || !bytes)
        return false;
    bytes_ = std::move(bytes);
    length_ = static_cast<int64_t>(bytes_->size());
    return true;
}

bool ImageFile::ReadSector(std::span<uint8_t, kSectorSize> sector) {
    return ReadExactly(sector);
}

bool ImageFile::ReadExactly(std::span<uint8_t> out) {
    if (bytes_) {
        if (bytes_->size() - offset_ < out.size())
            return false;
        std::copy_n(bytes_->begin() + static_cast<std::ptrdiff_t>(offset_), out.size(),
                    out.begin());
        offset_ += out.size();
        return true;
    }
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

ImageVerdict JudgeImage(const std::string& path) {
    ImageFile file;
    if (!file.Open(path))
        return ImageVerdict::CannotOpen;
    return JudgeLength(file.Length());
}

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
        case ImageVerdict::Empty:
            return m::kImageEmpty;
        case ImageVerdict::NotWholeSectors:
            return m::kNotTheRightSize;
        case ImageVerdict::TooLarge:
            return m::kImageTooLarge;
    }
    return cannot_open;
}

std::optional<ImageBytes> ReadImageBytes(const std::string& path) {
    ImageFile file;
    if (!file.Open(path))
        return std::nullopt;
    auto bytes = std::make_shared<std::vector<uint8_t>>(
        static_cast<size_t>(std::min(file.Length(), kMaxImageLength + kSectorSize)));
    if (!file.ReadExactly(*bytes))
        return std::nullopt;
    return ImageBytes(std::move(bytes));
}

}  // namespace fc
