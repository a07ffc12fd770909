#include "platform/regular_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/messages.h"

namespace fc {

namespace m = platform_messages;

namespace {

bool IsRegular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

const char* NotRegularReason(mode_t mode) {
    if (S_ISLNK(mode))
        return m::kIsLink;
    if (S_ISFIFO(mode))
        return m::kIsFifo;
    if (S_ISDIR(mode))
        return m::kIsFolder;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return m::kIsDevice;
    if (S_ISSOCK(mode))
        return m::kIsSocket;
    return m::kNotRegular;
}

std::string SystemReason(int error) {
    return std::strerror(error != 0 ? error : EIO);
}

// Another user who may write into the folder could put a link or a file of
// theirs where ours goes, or swap ours after the check; in a sticky folder
// they cannot touch what is ours. Root can do anything anyway.
bool FolderTrusted(const struct stat& folder) {
    if ((folder.st_mode & S_ISVTX) != 0 || folder.st_uid == ::geteuid())
        return true;
    return folder.st_uid == 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Why an existing file may not be replaced; none when it may. A second name
// (a hard link) would carry the trace into whatever file it also is.
const char* ReplaceRefusal(const struct stat& file) {
    if (!S_ISREG(file.st_mode))
        return NotRegularReason(file.st_mode);
    if (file.st_uid != ::geteuid())
        return m::kOtherOwner;
    if (file.st_nlink > 1)
        return m::kHardLinked;
    return nullptr;
}

std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The folder is opened once and every later step works from that
// descriptor, so a folder renamed or swapped meanwhile changes nothing.
int OpenFolder(const std::string& path, std::string& name, std::string& reason) {
    auto [folder, base] = SplitPath(path);
    if (base.empty() || base == "." || base == "..") {
        reason = m::kIsFolder;
        return -1;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (dir < 0 || ::fstat(dir, &info) != 0) {
        reason = SystemReason(errno);
        if (dir >= 0)
            ::close(dir);
        return -1;
    }
    if (!FolderTrusted(info)) {
        reason = m::kForeignFolder;
        ::close(dir);
        return -1;
    }
    name = std::move(base);
    return dir;
}

bool ExistingAllowed(int dir, const std::string& name, std::string& reason) {
    struct stat info {};
    if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return true;
        reason = SystemReason(errno);
        return false;
    }
    const char* refusal = ReplaceRefusal(info);
    if (refusal)
        reason = refusal;
    return refusal == nullptr;
}

// The look before and this open are two steps, so the open itself neither
// follows a link nor blocks, and what it opened is judged again.
int OpenOwnAt(int dir, const std::string& name, std::string& reason) {
    const int fd =
        ::openat(dir, name.c_str(),
                 O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = errno == ELOOP ? m::kIsLink : SystemReason(errno);
        return -1;
    }
    struct stat info {};
    const char* refusal = ::fstat(fd, &info) != 0 ? m::kNotRegular : ReplaceRefusal(info);
    if (refusal || ::ftruncate(fd, 0) != 0) {
        reason = refusal ? refusal : SystemReason(errno);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
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

std::string OpenFailureReason(const std::string& path, int error) {
    struct stat info {};
    if (error == EINVAL && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return NotRegularReason(info.st_mode);
    return SystemReason(error);
}

int CreateOwnFile(const std::string& path, std::string& reason) {
    std::string name;
    const int dir = OpenFolder(path, name, reason);
    if (dir < 0)
        return -1;
    const int fd = ExistingAllowed(dir, name, reason) ? OpenOwnAt(dir, name, reason) : -1;
    ::close(dir);
    return fd;
}

bool OwnFileAllowed(const std::string& path, std::string& reason) {
    std::string name;
    const int dir = OpenFolder(path, name, reason);
    if (dir < 0)
        return false;
    const bool allowed = ExistingAllowed(dir, name, reason);
    ::close(dir);
    return allowed;
}

bool MakeOwnFolder(const std::string& path, std::string& reason) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = SystemReason(errno);
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || !FolderTrusted(info)) {
        reason = S_ISDIR(info.st_mode) ? m::kFolderIsForeign : m::kNotFolder;
        return false;
    }
    return true;
}

OwnFile::~OwnFile() {
    Close();
}

bool OwnFile::Create(const std::string& path, std::string& reason) {
    Close();
    failure_.clear();
    const int fd = CreateOwnFile(path, reason);
    if (fd < 0)
        return false;
    file_ = ::fdopen(fd, "w");
    if (!file_) {
        reason = SystemReason(errno);
        ::close(fd);
        return false;
    }
    path_ = path;
    return true;
}

void OwnFile::Fail(int error) {
    if (failure_.empty())
        failure_ = SystemReason(error);
}

bool OwnFile::Write(std::string_view text) {
    if (!file_ || Failed())
        return false;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0)
        Fail(errno);
    return !Failed();
}

bool OwnFile::Close() {
    if (file_) {
        errno = 0;
        if (std::fclose(file_) != 0)
            Fail(errno);
        file_ = nullptr;
    }
    return !Failed();
}

}  // namespace fc
