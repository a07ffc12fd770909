#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fc {

// SHA-256 (FIPS 180-4), fed in pieces of any size. An image is checked by
// the digest of the very bytes about to be flashed, so the digest is made
// here in memory rather than by another program reading the file again.
class Sha256 {
  public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void Add(std::span<const uint8_t> bytes);
    // The digest of everything added; the object is spent afterwards.
    Digest Finish();

  private:
    void Compress(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> block_{};
    size_t block_used_ = 0;
    uint64_t length_ = 0;
};

// The digest of bytes as sha256sum prints it: 64 lower-case hex digits.
std::string Sha256Hex(std::span<const uint8_t> bytes);

// A digest as a user writes it (either case) in sha256sum's lower case, or
// empty when the text is not 64 hex digits.
std::string NormalSha256Hex(std::string_view text);

}  // namespace fc
