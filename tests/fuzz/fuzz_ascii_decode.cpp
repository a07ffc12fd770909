// The ASCII reply decoder takes whatever characters came off the line.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "modbus/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The collection never stores more than 514 characters; the decoder must
    // cope with any text up to that and stay inside the reply buffer.
    if (size > fc::kAsciiRxBufferSize - 1)
        size = fc::kAsciiRxBufferSize - 1;
    std::array<uint8_t, fc::kRxBufferSize> rx{};
    const auto text = std::span(reinterpret_cast<const char*>(data), size);
    const fc::AsciiDecodeResult result = fc::DecodeAscii(text, rx);
    if (result.count > rx.size())
        std::abort();
    if (result.odd && result.count != 0)
        std::abort();
    // A small reply buffer must be respected as well.
    std::array<uint8_t, 7> small{};
    if (fc::DecodeAscii(text, small).count > small.size())
        std::abort();
    return 0;
}
