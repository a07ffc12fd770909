// The download's exchange with a hostile loader: every request of a run over
// Modbus TCP is answered from the input, so the loader may claim any version,
// any flash status, any sector, answer short, long, late or not at all. The
// run must end, on time, with the unit's state told and no write past a
// buffer, whatever it heard.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "download/flash_download.h"
#include "tests/fuzz/fuzz_link.h"

namespace {

// The input, a piece an answer: [how: bits 0-5 length, bit 6 a 300 ms gap
// first, bit 7 raw bytes instead of the request's MBAP header, unit and
// function] [that many bytes]. Past the input's end the loader is silent.
class HostileLoader {
  public:
    HostileLoader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    void Answer(fc::MemoryLink& line, std::span<const uint8_t> request) {
        if (at_ >= size_ || request.size() < 8)
            return;
        const uint8_t how = data_[at_++];
        const size_t length = std::min<size_t>(how & 0x3F, size_ - at_);
        std::vector<uint8_t> reply;
        if (!(how & 0x80)) {
            const size_t pdu = 2 + length;
            reply = {request[0], request[1], 0, 0, static_cast<uint8_t>(pdu >> 8),
                     static_cast<uint8_t>(pdu), request[6], request[7]};
        }
        reply.insert(reply.end(), data_ + at_, data_ + at_ + length);
        at_ += length;
        if (how & 0x40)
            line.Gap(std::chrono::milliseconds(300));
        line.Send(reply);
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fc::fuzz::MemoryBench bench(true);
    HostileLoader loader(data, size);
    bench.Line().OnRequest = [&](std::span<const uint8_t> request) {
        loader.Answer(bench.Line(), request);
    };
    auto image = std::make_shared<std::vector<uint8_t>>(2 * fc::kSectorSize, 0x5A);
    fc::DownloadHooks hooks;
    hooks.wait = [&](std::chrono::milliseconds wait) { bench.Line().Pause(wait); };
    hooks.clock = [] { return int64_t{0}; };
    const fc::LinkInstant start = bench.Line().Now();
    fc::FlashDownload download(bench.Master(), image, hooks);
    const bool done = download.RunDownload();
    if (done != (download.LeftUnitIn() == fc::UnitMode::Flashed))
        std::abort();
    // Every request waits at most a time-out of a virtual second, and the
    // input answers a few hundred of them at most.
    if (bench.Line().Now() - start > std::chrono::hours(1))
        std::abort();
    return 0;
}
