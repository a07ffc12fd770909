#include "modbus/memory_link.h"

#include <algorithm>

namespace fc {

MemoryLink& MemoryLink::Send(std::span<const uint8_t> bytes) {
    script_.push_back({{}, std::vector<uint8_t>(bytes.begin(), bytes.end()), false});
    return *this;
}

MemoryLink& MemoryLink::Gap(std::chrono::microseconds wait) {
    script_.push_back({wait, {}, false});
    return *this;
}

MemoryLink& MemoryLink::Hangup() {
    script_.push_back({{}, {}, true});
    return *this;
}

void MemoryLink::Deliver() {
    while (playing_ && !script_.empty() && cursor_ + script_.front().gap <= now_) {
        Step& step = script_.front();
        cursor_ += step.gap;
        readable_.insert(readable_.end(), step.bytes.begin(), step.bytes.end());
        hungUp_ = hungUp_ || step.hangup;
        script_.pop_front();
    }
}

bool MemoryLink::NextArrival(LinkInstant& at) const {
    if (!playing_ || hungUp_)
        return false;
    LinkInstant when = cursor_;
    for (const Step& step : script_) {
        when += step.gap;
        if (!step.bytes.empty() || step.hangup) {
            at = when;
            return true;
        }
    }
    return false;
}

bool MemoryLink::Write(const uint8_t* bytes, int count, int* written) {
    Deliver();
    const bool ok = !hungUp_ && bytes != nullptr && count > 0;
    if (ok) {
        written_.insert(written_.end(), bytes, bytes + count);
        ++writes_;
        // Gaps count from this request once the earlier steps have played.
        if (!playing_ || script_.empty()) {
            playing_ = true;
            cursor_ = now_;
        }
        if (OnRequest)
            OnRequest(std::span<const uint8_t>(bytes, count));
        Deliver();
    }
    if (written != nullptr)
        *written = ok ? count : 0;
    return ok;
}

int MemoryLink::BytesWaiting() {
    Deliver();
    return Waiting();
}

int MemoryLink::Take(uint8_t* buffer, int count) {
    const int take = std::min(count, Waiting());
    if (take <= 0)
        return 0;
    if (buffer != nullptr)
        std::copy_n(readable_.begin() + static_cast<std::ptrdiff_t>(head_), take, buffer);
    head_ += static_cast<size_t>(take);
    if (head_ == readable_.size()) {
        readable_.clear();
        head_ = 0;
    }
    return take;
}

bool MemoryLink::WaitReadable(std::chrono::microseconds wait) {
    wait = std::max(wait, std::chrono::microseconds(0));
    if (BytesWaiting() > 0)
        return true;
    LinkInstant at{};
    const LinkInstant limit = now_ + wait;
    now_ = NextArrival(at) && at < limit ? std::max(at, now_) : limit;
    return BytesWaiting() > 0;
}

// As a serial read with the driver's time-outs: a first byte within the
// window, then more for as long as they keep coming, within the window in all.
int MemoryLink::Read(int count, uint8_t* buffer) {
    const LinkInstant limit = now_ + ReadWindow;
    if (buffer == nullptr || count <= 0 || !WaitReadable(ReadWindow))
        return 0;
    int got = 0;
    do {
        got += Take(buffer + got, count - got);
    } while (got < count && now_ < limit &&
             WaitReadable(std::chrono::duration_cast<std::chrono::microseconds>(limit - now_)));
    return got;
}

bool MemoryLink::Drain(uint8_t* buffer, int maximum) {
    Deliver();
    bool drained = false;
    int got = 0;
    while (maximum > 0 && (got = Take(buffer, maximum)) > 0) {
        if (buffer != nullptr)
            buffer[got] = 0;
        drained = true;
    }
    return drained;
}

bool MemoryLink::Reconnect() {
    Deliver();
    readable_.clear();
    head_ = 0;
    hungUp_ = false;
    ++connections_;
    return true;
}

bool MemoryLink::Gone() {
    Deliver();
    return hungUp_ && Waiting() == 0;
}

}  // namespace fc
