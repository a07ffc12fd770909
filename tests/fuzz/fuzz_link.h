// A master driven against a peer that answers its one request with the
// fuzzer's bytes, over a real pseudo-terminal or loopback TCP: the reply
// collection is exercised as it runs, read by read, without a seam cut into it.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"

namespace fc::fuzz {

// How long the peer waits for the request before giving up on the run.
inline constexpr int kPeerWaitMs = 200;

inline bool WaitReadable(int fd, int ms) {
    pollfd readable{fd, POLLIN, 0};
    return ::poll(&readable, 1, ms) > 0;
}

inline void WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Reads the request that arrived on fd, then writes the reply.
inline void AnswerOnce(int fd, std::span<const uint8_t> reply) {
    if (!WaitReadable(fd, kPeerWaitMs))
        return;
    uint8_t request[600];
    if (::read(fd, request, sizeof request) <= 0)
        return;
    WriteAll(fd, reply);
}

// The register request a run makes; the first input byte picks it, the
// second gives a block's register count (0 and counts whose reply cannot fit
// any buffer included on purpose).
struct RequestChoice {
    uint8_t kind = 0;
    uint8_t count = 0;
};

// Runs the chosen request; checks what a reply taken as valid must be.
inline void RunRequest(ModbusMaster& master, RequestChoice choice) {
    int value = 0;
    double real = 0;
    // Exactly as large as the request asks for, so a write past the end shows.
    std::vector<uint8_t> block(static_cast<size_t>(choice.count) * 4 + 1);
    int ok = 0;
    switch (choice.kind % 7) {
        case 0:
            ok = master.ReadRegister16(100, value);
            break;
        case 1:
            ok = master.ReadRegister32(7000, value);
            break;
        case 2:
            ok = master.ReadRegisterFloat(7002, real);
            break;
        case 3:
            ok = master.WriteRegister16(100, 5);
            break;
        case 4:
            ok = master.ReadRegisterBlock(100, block.data() + 1, choice.count);
            break;
        case 5:
            ok = master.ReadRegisterBlock(7000, block.data() + 1, choice.count);
            break;
        default:
            ok = master.WriteRegisterBlock(100, block.data(), choice.count / 2);
            break;
    }
    (void)value;
    (void)real;
    if (!ok || master.Settings().UnitId == 0)
        return;
    // Success means a whole reply inside the buffer, and a CRC that checks
    // wherever the framing carries one. (The unit address of a reply taken
    // in one piece is not compared: the transactions never did.)
    if (master.RxLength == 0 || master.RxLength > kRxBufferSize)
        std::abort();
    const CommSettings& settings = master.Settings();
    const bool crc_framed = !settings.UseIP || settings.IPProtocol != 0;
    if (crc_framed && Crc16(std::span<const uint8_t>(master.RxBuffer, master.RxLength)) != 0)
        std::abort();
}

// One pty pair for the whole fuzzing session; the harness keeps the slave
// open too so the line never hangs up between runs.
class PtyLink {
  public:
    PtyLink() {
        char name[128] = {};
        if (::openpty(&master_fd_, &slave_fd_, name, nullptr, nullptr) != 0)
            std::abort();
        path_ = name;
        settings_.Timeout = 0;
        settings_.Retry = -1;
        settings_.UnitId = 1;
        if (!master_.Open(1, 19200, 8, 0, 0))
            std::abort();
        // Short read windows: the peer answers at once, so 5 ms separate a
        // reply from silence without making every run wait 20 ms.
        master_.SetTimeouts(5);
        links_.LinkOpen = 1;
    }

    void Run(RequestChoice choice, std::span<const uint8_t> reply) {
        std::thread peer([&] { AnswerOnce(master_fd_, reply); });
        RunRequest(master_, choice);
        peer.join();
    }

  private:
    int master_fd_ = -1;
    int slave_fd_ = -1;
    std::string path_;
    CommSettings settings_;
    LinkFlags links_;
    ScriptedUserInterface ui_;
    ModbusMaster master_{settings_, links_, ui_,
                         [this](int) { return std::vector<std::string>{path_}; }};
};

// A loopback listener the master connects to afresh for every run; the peer
// answers on that connection and then closes its sending side, so a short
// reply ends the run without waiting out the read window.
class TcpLink {
  public:
    TcpLink() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        settings_.UseIP = true;
        settings_.IPAddress = "127.0.0.1";
        settings_.IPPort = ntohs(address.sin_port);
        settings_.Timeout = 0;
        settings_.Retry = -1;
        settings_.UnitId = 1;
        links_.LinkState = kLinkUp;
    }

    void Run(RequestChoice choice, bool encapsulated, std::span<const uint8_t> reply) {
        settings_.IPProtocol = encapsulated ? 1 : 0;
        master_.CloseSocket();
        DropPendingConnections();
        if (!master_.ConnectSocket())
            std::abort();
        std::thread peer([&] {
            if (!WaitReadable(listener_, kPeerWaitMs))
                return;
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                return;
            AnswerOnce(connection, reply);
            ::shutdown(connection, SHUT_WR);
            WaitReadable(connection, kPeerWaitMs);  // until the master lets go
            ::close(connection);
        });
        RunRequest(master_, choice);
        master_.CloseSocket();
        peer.join();
    }

  private:
    // A failed attempt reconnects; that connection is never served.
    void DropPendingConnections() {
        while (WaitReadable(listener_, 0)) {
            const int stale = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (stale < 0)
                return;
            ::close(stale);
        }
    }

    int listener_ = -1;
    CommSettings settings_;
    LinkFlags links_;
    ScriptedUserInterface ui_;
    ModbusMaster master_{settings_, links_, ui_};
};

}  // namespace fc::fuzz
