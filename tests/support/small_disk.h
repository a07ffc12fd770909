#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

// A 64 KiB tmpfs in a mount namespace of this process's own, where allowed.
inline bool MountSmallDisk(const std::string& folder) {
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
}
