#include "download/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "download/messages.h"
#include "platform/regular_file.h"

namespace fc {

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ImageFile::Open(const std::string& path) {
    if (fd_ >= 0 || path.empty())
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

bool ImageFile::ReadSector(std::span<uint8_t, kSectorSize> sector) {
    size_t got = 0;
    while (fd_ >= 0 && got < sector.size()) {
        const ssize_t n = ::read(fd_, sector.data() + got, sector.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return got == sector.size();
}

bool ImageFileOpens(const std::string& path) {
    ImageFile file;
    return file.Open(path);
}

ImageVerdict JudgeImage(const std::string& path) {
    ImageFile file;
    if (!file.Open(path))
        return ImageVerdict::CannotOpen;
    if (file.Length() == 0)
        return ImageVerdict::Empty;
    if (file.Length() % kSectorSize != 0)
        return ImageVerdict::NotWholeSectors;
    if (file.Length() > kMaxImageLength)
        return ImageVerdict::TooLarge;
    return ImageVerdict::Fine;
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

}  // namespace fc
