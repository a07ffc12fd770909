#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "download/download_progress.h"

namespace fc {

// The sector number travels as 16 bits and the progress bar counts sectors,
// so a loader cannot take more than this.
inline constexpr int kMaxImageSectors = 65535;
inline constexpr int64_t kMaxImageLength = int64_t{kMaxImageSectors} * kSectorSize;

// The bytes of an image read once and shared by many runs at once.
using ImageBytes = std::shared_ptr<const std::vector<uint8_t>>;

// A firmware image opened for reading: raw bytes, read a sector at a time,
// from the file or from bytes read before. Only a regular file counts as an
// image; a folder, a FIFO or a device node is a file that cannot be opened.
class ImageFile {
  public:
    ImageFile() = default;
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool Open(const std::string& path);
    bool Open(ImageBytes bytes);
    int64_t Length() const { return length_; }
    // Exactly one sector's bytes, or false (short read, read error).
    bool ReadSector(std::span<uint8_t, kSectorSize> sector);
    // Exactly out's size in bytes, or false.
    bool ReadExactly(std::span<uint8_t> out);

  private:
    int fd_ = -1;
    int64_t length_ = 0;
    ImageBytes bytes_;
    size_t offset_ = 0;
};

// Whether the path names an image file that can be opened for reading.
bool ImageFileOpens(const std::string& path);

// What an image file is found to be before the unit is touched.
enum class ImageVerdict { Fine, CannotOpen, Empty, NotWholeSectors, TooLarge };

// Judges the file by opening it (never blocking, see OpenRegularFile) and by
// its length: a regular file of one or more whole 1024-byte sectors, no more
// than the loader can number.
ImageVerdict JudgeImage(const std::string& path);
// The same judgement of bytes read before.
ImageVerdict JudgeImage(const std::vector<uint8_t>& bytes);

// The message for a verdict other than Fine; a file that cannot be opened
// gets cannot_open, which differs between the page and the flash exchange.
const char* ImageVerdictText(ImageVerdict verdict, const char* cannot_open);

// The whole image, for runs that share it; none when it cannot be opened or
// read. An image too large for any loader is cut one sector past the limit,
// which is enough for the size check to refuse it.
std::optional<ImageBytes> ReadImageBytes(const std::string& path);

}  // namespace fc
