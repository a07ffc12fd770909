#include "download/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fc {

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ImageFile::Open(const std::string& path) {
    if (fd_ >= 0 || path.empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
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

}  // namespace fc
