#pragma once

#include <cstdint>
#include <string>

namespace fc {

// The unit's TCP connection: a blocking stream socket whose connect is
// bounded in time and whose send never raises SIGPIPE.
class DriverSocket {
  public:
    DriverSocket() = default;
    ~DriverSocket();
    DriverSocket(const DriverSocket&) = delete;
    DriverSocket& operator=(const DriverSocket&) = delete;

    // Resolves host (dotted address or name) and connects to the first address
    // that answers within boundSeconds in all. False with LastError() set.
    bool Connect(const std::string& host, uint16_t port, int boundSeconds);
    // All bytes or false.
    bool Send(const uint8_t* bytes, int count);
    // What recv gives without blocking: -1 with LastError() (EAGAIN while
    // nothing waits), 0 when the unit closed the connection.
    int Receive(uint8_t* buffer, int count);
    // Waits up to 100 ms for `awaited` bytes to be readable, then tells how
    // many are; -1 when the query fails. Wakes as soon as they are there.
    int BytesAvailable(int awaited);
    // Shuts the sending side, then closes.
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int LastError() const { return lastError_; }
    int Handle() const { return fd_; }

  private:
    bool ConnectTo(const void* address, unsigned length, int family, int milliseconds);

    int fd_ = -1;
    int lastError_ = 0;
};

// A connect that the platform reports as still under way.
bool IsConnectInProgress(int error);

}  // namespace fc
