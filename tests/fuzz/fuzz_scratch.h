// Files a fuzz target hands to code that reads a path live in a folder of
// the process's own, made by mkdtemp (mode 0700): a predictable name in a
// shared /tmp could be made beforehand by another user, as a link to a file
// of the fuzzing user's that each run would overwrite.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace fc::fuzz {

class ScratchFolder {
  public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/fcloader-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
    }
    ~ScratchFolder() {
        for (const std::string& file : files_)
            ::unlink(file.c_str());
        ::rmdir(path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The file `name` of the folder, holding exactly the bytes given.
    std::string Write(const std::string& name, const uint8_t* data, size_t size) {
        const std::string file = path_ + "/" + name;
        files_.insert(file);
        FILE* out = std::fopen(file.c_str(), "wb");
        if (!out || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0)
            std::abort();
        return file;
    }

  private:
    std::string path_;
    std::set<std::string> files_;
};

inline ScratchFolder& Scratch() {
    static ScratchFolder folder;
    return folder;
}

}  // namespace fc::fuzz
