// An image file is whatever the user picked: LoadImage reads it once and
// judges the bytes read. An image taken must be exactly the file's bytes,
// whole sectors, with the digest of those bytes; anything else is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "download/image_file.h"
#include "platform/sha256.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fc::fuzz::Scratch().Write("image.img", data, size);
    const bool whole = size > 0 && size % fc::kSectorSize == 0;
    const fc::LoadedImage image = fc::LoadImage(path);
    if ((image.verdict == fc::ImageVerdict::Fine) != whole)
        std::abort();
    if (image.sha256 != fc::Sha256Hex({data, size}))
        std::abort();
    if (whole && (image.bytes->size() != size || std::memcmp(image.bytes->data(), data, size) != 0))
        std::abort();
    // The digest given decides alone, on the same bytes.
    const std::string other(64, size % 2 ? 'a' : 'b');
    if (whole && fc::LoadImage(path, image.sha256).verdict != fc::ImageVerdict::Fine)
        std::abort();
    if (whole && fc::LoadImage(path, other).verdict != fc::ImageVerdict::DigestDiffers)
        std::abort();
    return 0;
}
