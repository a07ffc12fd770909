#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace fc {

// Every wait of a transaction is measured on this clock, from the moment its
// request went out: the wall clock jumps and turns its seconds at random
// points, the monotonic one does neither.
using LinkClock = std::chrono::steady_clock;
using LinkInstant = LinkClock::time_point;

// What a transaction needs of whatever carries its bytes: the termios port,
// the TCP socket, or an in-memory line whose far end a test scripts. Time
// comes through the link too, so a scripted line can let it pass virtually.
class ByteLink {
  public:
    virtual ~ByteLink() = default;

    // All `count` bytes or false; `written` tells how many went.
    virtual bool Write(const uint8_t* bytes, int count, int* written = nullptr) = 0;
    // Up to `count` bytes: those already there and those that follow within
    // the link's own read window. 0 when nothing came.
    virtual int Read(int count, uint8_t* buffer) = 0;
    virtual int BytesWaiting() = 0;
    // Blocks until something is readable or `wait` has passed.
    virtual bool WaitReadable(std::chrono::microseconds wait) = 0;
    // Throws away (or hands back, 0-terminated) whatever waits, `maximum` at a
    // time; the buffer must hold maximum + 1 bytes. True when anything came.
    virtual bool Drain(uint8_t* buffer = nullptr, int maximum = 255) = 0;
    // Drops the connection and makes a fresh one, so late or surplus bytes go
    // with the old one; a serial port opens its device again by its path.
    // True when the link is there again.
    virtual bool Reconnect() { return true; }
    // The same, given up when `deadline` comes: a reconnect inside an
    // attempt takes no more than the attempt's own time.
    virtual bool ReconnectBy(LinkInstant) { return Reconnect(); }
    // The far end went away (a peer that closed the connection, a serial
    // device that vanished or now names another device): nothing more will
    // come until Reconnect makes the link again.
    virtual bool Gone() { return false; }
    // How long one character takes on the line; 0 where nothing is framed.
    virtual std::chrono::microseconds CharacterTime() const { return {}; }

    // What a line may still carry for whoever opens it next (replies owed,
    // replies that may be repeated), kept beside the line: in a file per
    // device for a port, in the line itself in memory. Empty where nothing
    // outlives the connection (a new TCP connection carries nothing old).
    virtual std::string LoadLineRecord() { return {}; }
    virtual void SaveLineRecord(const std::string&) {}

    virtual LinkInstant Now() const { return LinkClock::now(); }
    virtual void Pause(std::chrono::microseconds wait) { std::this_thread::sleep_for(wait); }
};

}  // namespace fc
