#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <string>

namespace fc {

// Opens path only when it names a regular file, and never waits on the way:
// the path is looked at before it is opened, and the open does not block,
// so a FIFO without its other end or a device is refused at once instead of
// holding the caller (and the window) for good. O_TRUNC in flags takes effect
// only once the file is known to be regular. Returns a blocking descriptor
// (close-on-exec), or -1 with errno set (EINVAL for a file that is not
// regular).
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0666);

}  // namespace fc
