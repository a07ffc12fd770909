#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fc::test {

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair. The test keeps the slave open as well, so the line
// never hangs up when the port under test closes it.
struct PtyPair {
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    void CloseMaster();

    int master = -1;
    int slave = -1;
    std::string path;
};

// One piece of a reply, written after a pause.
struct ReplyChunk {
    Bytes bytes;
    int delayMs = 0;
};
using Responder = std::function<std::vector<ReplyChunk>(const Bytes& request)>;

Bytes WithCrc(Bytes frame);
// ":" hex LRC CR LF of the frame, as bytes to write.
Bytes AsciiText(const Bytes& frame, bool lowerCase = false);

// A unit with 65536 holding registers (register n holds n at start); the
// 4-byte window 7000..7999 has 4-byte registers. Answers function 3 and 16
// with the reply frame (no check bytes).
class RegisterBank {
  public:
    RegisterBank();
    Bytes Answer(const Bytes& request);
    uint16_t& operator[](int address) { return registers_[address & 0xFFFF]; }

  private:
    std::vector<uint16_t> registers_;
};

// Reads requests from the master side of a pty (or any stream descriptor) and
// writes what the responder returns. Every request is remembered as it came
// (RTU with its CRC, ASCII as the decoded frame without its LRC).
class FramePeer {
  public:
    enum class Framing { Rtu, Ascii, Mbap };
    FramePeer(int fd, Framing framing, Responder responder);
    ~FramePeer();
    // Takes in whatever is still on its way, then ends the peer.
    void Stop();
    std::vector<Bytes> Requests();

  private:
    void Run();
    void Take(uint8_t byte);
    void Answer(const Bytes& request);

    int fd_;
    Framing framing_;
    Responder responder_;
    Bytes pending_;
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Responders for the usual cases.
Responder RtuBank(RegisterBank& bank);
// Modbus TCP: the reply behind a header that echoes the request's.
Responder MbapBank(RegisterBank& bank);
Responder AsciiBank(RegisterBank& bank);
Responder Silent();

// A unit on a loopback port (kernel-chosen) that answers every connection
// it accepts with a FramePeer of its own.
class TcpUnit {
  public:
    TcpUnit(FramePeer::Framing framing, Responder responder);
    ~TcpUnit();
    int Port() const { return port_; }
    // Takes in what is on its way, then ends every connection.
    void Stop();
    // Requests, one list per accepted connection, in order of acceptance.
    std::vector<std::vector<Bytes>> RequestsPerConnection();

  private:
    void Accept();

    FramePeer::Framing framing_;
    Responder responder_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<int> connections_;
    std::vector<std::unique_ptr<FramePeer>> peers_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace fc::test
