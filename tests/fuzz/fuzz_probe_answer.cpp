// Auto-detect's probe answers: whatever a line brings back to the RTU or the
// ASCII probe (picked by the first byte) must be taken or refused, and an
// address adopted only from an answer that passed. The peer ends every
// answer so that the probe stops without sitting out its one-second wait: five
// filler bytes behind an RTU answer (the probe reads exactly five), an empty
// ":" CR LF frame behind an ASCII one.
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "connection/auto_detect.h"
#include "tests/fuzz/fuzz_link.h"

namespace {

class ProbeLink {
  public:
    ProbeLink() {
        char name[128] = {};
        if (::openpty(&peer_, &slave_, name, nullptr, nullptr) != 0)
            std::abort();
        path_ = name;
        settings_.Timeout = 1;
        if (!master_.Open(1, 19200, 8, 0, 0))
            std::abort();
        master_.SetTimeouts(5);
    }

    void Run(bool ascii, std::span<const uint8_t> answer) {
        settings_.UnitId = 0;
        std::vector<uint8_t> line(answer.begin(), answer.end());
        if (ascii)
            line.insert(line.end(), {':', '\r', '\n'});
        else
            line.insert(line.end(), 5, 0xFF);
        std::thread peer([&] { fc::fuzz::AnswerOnce(peer_, line); });
        const bool found = ascii ? ProbeAscii(master_) : ProbeRtu(master_);
        peer.join();
        // The filler alone never makes an answer.
        if (found && answer.empty())
            std::abort();
    }

  private:
    int peer_ = -1;
    int slave_ = -1;
    std::string path_;
    fc::CommSettings settings_;
    fc::LinkFlags links_;
    fc::ScriptedUserInterface ui_;
    fc::ModbusMaster master_{settings_, links_, ui_,
                             [this](int) { return std::vector<std::string>{path_}; }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ProbeLink link;
    if (size < 1)
        return 0;
    const size_t answer = std::min<size_t>(size - 1, 2 * fc::kAsciiRxBufferSize);
    link.Run((data[0] & 1) != 0, std::span(data + 1, answer));
    return 0;
}
