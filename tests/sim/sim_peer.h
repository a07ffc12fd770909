#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/unit_model.h"

namespace fc::sim::test {

using Bytes = std::vector<uint8_t>;

// Frames written by hand, so that the simulator is checked against bytes and
// not against the tool's own builders.
Bytes WithCrc(Bytes frame);
std::string AsciiText(const Bytes& frame);  // ":" hex LRC CR LF
Bytes ReadRequest(uint8_t unit, uint16_t address, uint16_t count);
Bytes WriteRequest(uint8_t unit, uint16_t address, const std::vector<uint16_t>& values);

// The master's end of the simulator's pseudo-terminal, opened raw at a speed.
class SerialPeer {
  public:
    SerialPeer(const std::string& path, int baud, Parity parity = Parity::None);
    ~SerialPeer();
    SerialPeer(const SerialPeer&) = delete;
    SerialPeer& operator=(const SerialPeer&) = delete;
    bool ok() const { return fd_ >= 0; }
    void SetLine(int baud, Parity parity = Parity::None);
    void Send(const Bytes& bytes);
    // Collects bytes until `count` have come or nothing more comes for `quiet`.
    Bytes Receive(size_t count, std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // Sends an RTU request (CRC added) and collects `reply_length` bytes.
    Bytes Transact(const Bytes& frame, size_t reply_length);

  private:
    int fd_ = -1;
};

// A TCP client on 127.0.0.1.
class TcpPeer {
  public:
    explicit TcpPeer(int port);
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;
    bool ok() const { return fd_ >= 0; }
    void Send(const Bytes& bytes);
    Bytes Receive(size_t count, std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // True when the simulator has closed the connection.
    bool Closed(std::chrono::milliseconds wait = std::chrono::milliseconds(500));

  private:
    int fd_ = -1;
};

// Decodes the data of a function 3 RTU reply as 16-bit values.
std::vector<uint16_t> Values16(const Bytes& reply);

}  // namespace fc::sim::test
