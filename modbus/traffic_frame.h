#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "modbus/frame_codec.h"

namespace fc {

struct CommSettings;

// Which way a frame went, for whoever watches the traffic. Dropped bytes
// came from the line but answered no request: late or repeated replies,
// noise behind a reply, an adapter's echo.
enum class TrafficDirection { Sent, Received, Dropped };

// One end of the TCP connection a frame travelled on; family 0 when the frame
// went over the serial line (or the socket could not tell).
struct TrafficEndpoint {
    int family = 0;  // AF_INET or AF_INET6
    std::array<uint8_t, 16> address{};
    uint16_t port = 0;
};

// A frame as it went out or was taken, whole and in the wire's framing, with
// the moment it was seen: what the trace, the traffic window and the capture
// files are all made from.
struct TrafficFrame {
    std::chrono::system_clock::time_point time;
    Framing framing = Framing::Rtu;
    TrafficDirection direction = TrafficDirection::Sent;
    std::vector<uint8_t> wire;
    TrafficEndpoint pc;
    TrafficEndpoint unit;
    // Why dropped bytes answered nothing (a repeat, an ambiguous pair, a
    // stale transaction id); null for frames sent or taken.
    const char* reason = nullptr;
};

// The framing the settings give the next transaction: over TCP Modbus TCP or
// RTU frames, whatever the mode; on the serial line ASCII or RTU.
Framing FramingOf(const CommSettings& settings);

// The frame seen now, with the socket's two ends when the settings put the
// link on TCP and the socket is connected.
TrafficFrame ObservedFrame(const CommSettings& settings, int socket, TrafficDirection direction,
                           std::span<const uint8_t> wire);

// Everyone who watches the driver's traffic: the trace, a capture file and the
// traffic window may all watch at once. Single-threaded, like the driver.
class TrafficObservers {
  public:
    using Observer = std::function<void(const TrafficFrame&)>;

    // Stops the observer when it goes; must not outlive the driver.
    class Watch {
      public:
        Watch() = default;
        Watch(TrafficObservers* owner, int ticket) : owner_(owner), ticket_(ticket) {}
        Watch(Watch&& other) noexcept { *this = std::move(other); }
        Watch& operator=(Watch&& other) noexcept;
        ~Watch() { Stop(); }
        void Stop();

      private:
        TrafficObservers* owner_ = nullptr;
        int ticket_ = 0;
    };

    [[nodiscard]] Watch Add(Observer observer);
    bool Empty() const { return observers_.empty(); }
    void Notify(const TrafficFrame& frame) const;

  private:
    void Remove(int ticket);

    std::vector<std::pair<int, Observer>> observers_;
    int next_ticket_ = 1;
};

}  // namespace fc
