#include "platform/user_interface.h"

#include <algorithm>
#include <thread>

namespace fc {

void SleepPumping(UserInterface& ui, std::chrono::milliseconds total) {
    constexpr std::chrono::milliseconds kSlice{50};
    const auto end = std::chrono::steady_clock::now() + total;
    for (;;) {
        ui.PumpPaintMessages();
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kSlice));
    }
}

}  // namespace fc
