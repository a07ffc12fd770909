#pragma once

#include <cstdint>
#include <memory>
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

// A firmware image file opened for reading: raw bytes. Only a regular file
// counts as an image; a folder, a FIFO or a device node is a file that cannot
// be opened.
class ImageFile {
  public:
    ImageFile() = default;
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // False with errno set when the file does not open as an image.
    bool Open(const std::string& path);
    // The length the file system gives, which a file of /proc or /sys does
    // not hold to: only the bytes read count.
    int64_t Length() const { return length_; }
    // Exactly one sector's bytes, or false (short read, read error).
    bool ReadSector(std::span<uint8_t, kSectorSize> sector);
    // Exactly out's size in bytes, or false.
    bool ReadExactly(std::span<uint8_t> out);
    // Everything up to the end of the file, or up to `limit` bytes; false on
    // a read error.
    bool ReadToEnd(std::vector<uint8_t>& out, size_t limit);

  private:
    int fd_ = -1;
    int64_t length_ = 0;
};

// Whether the path names an image file that can be opened for reading.
bool ImageFileOpens(const std::string& path);

// What an image file is found to be before the unit is touched.
enum class ImageVerdict {
    Fine,
    CannotOpen,
    ReadError,
    Empty,
    NotWholeSectors,
    TooLarge,
    DigestDiffers
};

// Judges an image's bytes: one or more whole 1024-byte sectors, no more than
// the loader can number.
ImageVerdict JudgeImage(const std::vector<uint8_t>& bytes);

// The message for a verdict other than Fine; a file that cannot be opened
// gets cannot_open, which differs between the page and the flash exchange.
const char* ImageVerdictText(ImageVerdict verdict, const char* cannot_open);

// An image read once, before any unit is touched, and judged on the bytes
// read; every run flashes exactly these bytes, so a file replaced or
// rewritten while a download runs changes nothing of it.
struct LoadedImage {
    ImageVerdict verdict = ImageVerdict::CannotOpen;
    ImageBytes bytes;    // set when the verdict is Fine
    std::string sha256;  // of the bytes read, once they were read whole
    std::string expected_sha256;  // the digest the caller gave, if any
    std::string reason;  // why the file did not open or read, for CannotOpen and ReadError
};

// Opens the file (never blocking, see OpenRegularFile) and reads it to its
// end. An image too large for any loader is cut one sector past the limit,
// which is enough for the size check to refuse it. With `expected_sha256`
// (sha256sum's hex), an image whose bytes read have another digest is
// refused: the bytes checked are the bytes handed on to be flashed, with no
// second read of the file in between.
LoadedImage LoadImage(const std::string& path, const std::string& expected_sha256 = "");

// The refusal of an image that is not Fine, with the system's reason on a
// line of its own when the file did not open or read; a differing digest
// names both.
std::string ImageRefusalText(const LoadedImage& image, const char* cannot_open);

// The download's confirmation, with the digest of the image it would flash.
std::string ConfirmDownloadText(const LoadedImage& image);

}  // namespace fc
