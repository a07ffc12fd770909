#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "modbus/byte_link.h"

namespace fc {

// The unit's TCP connection: a stream socket whose connect is bounded in
// time, whose reads never block and whose writes never raise SIGPIPE.
class DriverSocket : public ByteLink {
  public:
    DriverSocket() = default;
    ~DriverSocket() override;
    DriverSocket(const DriverSocket&) = delete;
    DriverSocket& operator=(const DriverSocket&) = delete;

    // Resolves host (dotted address or name) and connects to the first address
    // that answers within boundSeconds in all. False with LastError() set.
    bool Connect(const std::string& host, uint16_t port, int boundSeconds);
    // Shuts the sending side, then closes.
    void Close();

    bool Write(const uint8_t* bytes, int count, int* written = nullptr) override;
    // What recv gives without blocking; 0 when nothing waits or the unit
    // closed the connection.
    int Read(int count, uint8_t* buffer) override;
    int BytesWaiting() override;
    bool WaitReadable(std::chrono::microseconds wait) override;
    bool Drain(uint8_t* buffer = nullptr, int maximum = 255) override;
    // Connects again to where the last Connect went.
    bool Reconnect() override;
    bool ReconnectBy(LinkInstant deadline) override;
    bool Gone() override;

    bool IsOpen() const { return fd_ >= 0; }
    int LastError() const { return lastError_; }
    // Whether the last connection ended because the unit closed it.
    bool ClosedByPeer() const { return peerClosed_ || closedByPeer_; }
    // The resolver's code (EAI_*) when the last Connect found no address for
    // the name; 0 otherwise.
    int ResolveError() const { return resolveError_; }
    int Handle() const { return fd_; }

    // Called at least every 100 ms while a connect is under way.
    std::function<void()> OnWaiting;

  private:
    bool ConnectBy(const std::string& host, uint16_t port, LinkInstant deadline);
    bool ConnectTo(const void* address, unsigned length, int family, LinkInstant deadline);
    void AcknowledgeAtOnce();
    // Called when the socket reads as readable: an end of stream or an error
    // where no byte waits means the unit closed the connection.
    void NoteClosedIfNothingCame();

    int fd_ = -1;
    int lastError_ = 0;
    std::string host_;
    uint16_t port_ = 0;
    int boundSeconds_ = 0;
    int resolveError_ = 0;
    // Set when a read or write finds the connection closed by the unit.
    bool peerClosed_ = false;
    // The connection before this one ended so, and nothing has come since.
    bool closedByPeer_ = false;
};

// A connect that the platform reports as still under way.
bool IsConnectInProgress(int error);

}  // namespace fc
