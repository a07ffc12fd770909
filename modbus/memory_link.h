#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "modbus/byte_link.h"

namespace fc {

// A line in memory whose far end is a script: bytes, gaps and a close, played
// on a clock of its own from the moment the next request is written. Waiting
// on it advances that clock instead of sleeping, so a scripted second of
// silence costs nothing, and a test or fuzz target runs the transactions
// exactly as they run on a port or a socket.
class MemoryLink : public ByteLink {
  public:
    // The far end's next steps, played in order after the next Write.
    MemoryLink& Send(std::span<const uint8_t> bytes);
    MemoryLink& Gap(std::chrono::microseconds wait);
    MemoryLink& Hangup();
    // Called with every request written; may script the answer to it.
    std::function<void(std::span<const uint8_t>)> OnRequest;
    // The read window of a serial port: a read waits this long for a first
    // byte, and this long after each byte for the next.
    std::chrono::microseconds ReadWindow{20'000};
    std::chrono::microseconds Character{};

    bool Write(const uint8_t* bytes, int count, int* written = nullptr) override;
    int Read(int count, uint8_t* buffer) override;
    int BytesWaiting() override;
    bool WaitReadable(std::chrono::microseconds wait) override;
    bool Drain(uint8_t* buffer = nullptr, int maximum = 255) override;
    // A new connection: what waits is dropped, and after a hangup the
    // script's later steps play on it.
    bool Reconnect() override;
    bool Gone() override;
    std::chrono::microseconds CharacterTime() const override { return Character; }
    std::string LoadLineRecord() override { return record_; }
    void SaveLineRecord(const std::string& record) override { record_ = record; }
    LinkInstant Now() const override { return now_; }
    void Pause(std::chrono::microseconds wait) override { now_ += wait; }

    // Everything the master wrote, requests one after another.
    const std::vector<uint8_t>& Written() const { return written_; }
    int Writes() const { return writes_; }
    // How many times the master made the link again.
    int Connections() const { return connections_; }

  private:
    struct Step {
        std::chrono::microseconds gap{};
        std::vector<uint8_t> bytes;
        bool hangup = false;
    };
    // Moves the steps that are due by now_ into the readable bytes.
    void Deliver();
    // When the next scripted bytes arrive, if the script has been started.
    bool NextArrival(LinkInstant& at) const;

    LinkInstant now_{};
    std::deque<Step> script_;
    bool playing_ = false;
    LinkInstant cursor_{};  // when the step at the script's front begins
    int Waiting() const { return static_cast<int>(readable_.size() - head_); }
    // Moves up to `count` readable bytes out (into buffer, unless null).
    int Take(uint8_t* buffer, int count);
    // Arrived and not yet read: readable_[head_..].
    std::vector<uint8_t> readable_;
    size_t head_ = 0;
    bool hungUp_ = false;
    std::vector<uint8_t> written_;
    int writes_ = 0;
    int connections_ = 0;
    std::string record_;
};

}  // namespace fc
