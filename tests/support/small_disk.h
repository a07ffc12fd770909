#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace fc::test {

// A full disk within reach: a 64 KiB tmpfs on `folder`, in a mount namespace
// of this process's own (so nothing outside sees it, and it goes with the
// process). False where the runner may not mount (not root, no
// CAP_SYS_ADMIN, or threads already running).
inline bool MountSmallDisk(const std::string& folder) {
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
}

}  // namespace fc::test
