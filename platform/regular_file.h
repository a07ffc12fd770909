#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace fc {

// Opens path only when it names a regular file, and never waits on the way:
// the path is looked at before it is opened, and the open does not block,
// so a FIFO without its other end or a device is refused at once instead of
// holding the caller (and the window) for good. O_TRUNC in flags takes effect
// only once the file is known to be regular. Returns a blocking descriptor
// (close-on-exec), or -1 with errno set (EINVAL for a file that is not
// regular).
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0666);

// Why path did not open after a failure with errno `error`: what the file is
// when it is no regular file, else the system's text.
std::string OpenFailureReason(const std::string& path, int error);

// Files the tool writes (logs, captures, CSVs, reports) are the user's own.
// A file is created in a folder that is the user's (or root's alone) or
// sticky, so nobody else can swap it; an existing file is emptied and reused
// only when it is a regular file of the user's with no other name, never
// through a symbolic link, and a FIFO or a device is refused at once.
// Returns a blocking descriptor (close-on-exec), or -1 with the reason.
int CreateOwnFile(const std::string& path, std::string& reason);

// The same judgement without creating anything: true when CreateOwnFile
// would take the path, else false with the reason.
bool OwnFileAllowed(const std::string& path, std::string& reason);

// Makes the folder, and the folders above it that are missing, open to the
// user alone (0700); an existing folder is taken when it is the user's (or
// root's alone) or sticky.
bool MakeOwnFolder(const std::string& path, std::string& reason);

// A text file of the tool's own whose every write is checked: the first
// failure (a full disk, a quota) is kept with its reason, and every later
// write and the close then fail as well, so no caller can take a cut file
// for a whole one. Each write is on disk once it returns.
class OwnFile {
  public:
    OwnFile() = default;
    ~OwnFile();
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;

    bool Create(const std::string& path, std::string& reason);
    bool Write(std::string_view text);
    // Closes the file; false when it, or anything written before, failed.
    bool Close();
    bool IsOpen() const { return file_ != nullptr; }
    bool Failed() const { return !failure_.empty(); }
    const std::string& Path() const { return path_; }
    // The reason of the first failure, empty while there was none.
    const std::string& Failure() const { return failure_; }

  private:
    void Fail(int error);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string failure_;
};

}  // namespace fc
