// An image file is whatever the user picked: its length and bytes are read a
// sector at a time. The sectors handed back must be whole and never more
// than the file holds.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "download/image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/fcloader-fuzz-image-" + std::to_string(getpid()) + ".img";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    fc::ImageFile image;
    if (!image.Open(path))
        std::abort();
    if (image.Length() != static_cast<int64_t>(size))
        std::abort();
    std::array<uint8_t, fc::kSectorSize> sector{};
    size_t whole = 0;
    while (image.ReadSector(sector))
        ++whole;
    if (whole != size / fc::kSectorSize)
        std::abort();
    // A second open of the same object is refused, not leaked.
    if (image.Open(path))
        std::abort();
    return 0;
}
