#include "platform/regular_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fc {

namespace {

bool IsRegular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, mode_t mode) {
    struct stat info {};
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const bool truncate = (flags & O_TRUNC) != 0;
    // The look above and this open are two steps; the file may be swapped
    // between them, so the open itself must not block either.
    const int fd =
        ::open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    if (!IsRegular(fd) || (truncate && ::ftruncate(fd, 0) != 0)) {
        const int error = IsRegular(fd) ? errno : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace fc
