#include "modbus/driver_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace fc {

namespace {
// The longest a connect waits before the window gets its turn again.
constexpr auto kConnectSlice = std::chrono::milliseconds(50);

int MillisecondsUntil(LinkInstant deadline, std::chrono::milliseconds cap) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - LinkClock::now());
    return static_cast<int>(std::clamp(left, std::chrono::milliseconds(0), cap).count());
}
}  // namespace

bool IsConnectInProgress(int error) {
    return error == EINPROGRESS || error == EWOULDBLOCK || error == EAGAIN;
}

DriverSocket::~DriverSocket() {
    Close();
}

bool DriverSocket::Connect(const std::string& host, uint16_t port, int boundSeconds) {
    boundSeconds_ = boundSeconds;
    return ConnectBy(host, port, LinkClock::now() + std::chrono::seconds(boundSeconds));
}

bool DriverSocket::ConnectBy(const std::string& host, uint16_t port, LinkInstant deadline) {
    Close();
    host_ = host;
    port_ = port;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    resolveError_ = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolveError_ != 0) {
        lastError_ = EHOSTUNREACH;
        return false;
    }
    bool connected = false;
    for (addrinfo* entry = found; entry != nullptr && !connected; entry = entry->ai_next) {
        connected = ConnectTo(entry->ai_addr, entry->ai_addrlen, entry->ai_family, deadline);
    }
    ::freeaddrinfo(found);
    return connected;
}

// Connects without blocking and waits for the outcome, so an address that
// never answers costs the bound and not the kernel's minutes of SYN retries.
bool DriverSocket::ConnectTo(const void* address, unsigned length, int family,
                             LinkInstant deadline) {
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    int error = 0;
    if (::connect(fd_, static_cast<const sockaddr*>(address), length) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd writable{fd_, POLLOUT, 0};
            int ready = 0;
            while ((ready = ::poll(&writable, 1, MillisecondsUntil(deadline, kConnectSlice))) ==
                       0 &&
                   LinkClock::now() < deadline) {
                if (OnWaiting)
                    OnWaiting();
            }
            if (ready <= 0) {
                error = ETIMEDOUT;
            } else {
                socklen_t size = sizeof error;
                ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
            }
        }
    }
    if (error != 0) {
        lastError_ = error;
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    // Requests are small and answered one at a time: send each at once.
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    lastError_ = 0;
    return true;
}

bool DriverSocket::Write(const uint8_t* bytes, int count, int* written) {
    int sent = 0;
    bool result = fd_ >= 0;
    lastError_ = result ? 0 : ENOTCONN;
    while (result && sent < count) {
        const ssize_t n = ::send(fd_, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastError_ = n < 0 ? errno : EPIPE;
            peerClosed_ = true;
            result = false;
        } else {
            sent += static_cast<int>(n);
        }
    }
    if (written != nullptr)
        *written = sent;
    return result;
}

int DriverSocket::Read(int count, uint8_t* buffer) {
    if (fd_ < 0 || count <= 0) {
        lastError_ = ENOTCONN;
        return 0;
    }
    ssize_t n = 0;
    do {
        n = ::recv(fd_, buffer, count, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        lastError_ = errno;
    if (n > 0) {
        AcknowledgeAtOnce();
        closedByPeer_ = false;
    }
    // End of stream, or a reset: the unit closed its side.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        peerClosed_ = true;
    return n > 0 ? static_cast<int>(n) : 0;
}

// A peer whose stack holds a small second send back until the first is
// acknowledged (Nagle's rule) would let a repeated reply go only when the ACK
// rides on our next request, and it would then arrive right behind that
// request, as if it answered it. Acknowledging what came at once lets such a
// repeat come when the peer sent it, before the next request's drain.
void DriverSocket::AcknowledgeAtOnce() {
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

int DriverSocket::BytesWaiting() {
    int count = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &count) != 0)
        return 0;
    return count;
}

bool DriverSocket::WaitReadable(std::chrono::microseconds wait) {
    const auto deadline = LinkClock::now() + wait;
    if (fd_ >= 0) {
        pollfd readable{fd_, POLLIN, 0};
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        if (::poll(&readable, 1, static_cast<int>(ms)) > 0) {
            if (BytesWaiting() > 0)
                return true;
            NoteClosedIfNothingCame();
            if (peerClosed_)
                return false;
        }
    }
    // A closed connection reads as readable at once and forever; sit the
    // wait out instead of asking again at once.
    std::this_thread::sleep_until(deadline);
    return false;
}

bool DriverSocket::Drain(uint8_t* buffer, int maximum) {
    uint8_t internal[256];
    if (buffer == nullptr) {
        buffer = internal;
        maximum = 255;
    }
    bool drained = false;
    int got = 0;
    while ((got = Read(maximum, buffer)) > 0) {
        buffer[got] = 0;
        drained = true;
    }
    return drained;
}

bool DriverSocket::Reconnect() {
    return Connect(host_, port_, boundSeconds_);
}

bool DriverSocket::ReconnectBy(LinkInstant deadline) {
    const LinkInstant bound = LinkClock::now() + std::chrono::seconds(boundSeconds_);
    return ConnectBy(host_, port_, std::min(deadline, bound));
}

bool DriverSocket::Gone() {
    if (fd_ >= 0 && !peerClosed_ && BytesWaiting() == 0) {
        // Readable with nothing to read: the unit closed its side.
        pollfd readable{fd_, POLLIN | POLLRDHUP, 0};
        if (::poll(&readable, 1, 0) > 0)
            NoteClosedIfNothingCame();
    }
    return fd_ < 0 || peerClosed_;
}

void DriverSocket::NoteClosedIfNothingCame() {
    uint8_t peek = 0;
    const ssize_t n = ::recv(fd_, &peek, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        peerClosed_ = true;
}

void DriverSocket::Close() {
    if (fd_ >= 0)
        closedByPeer_ = peerClosed_;
    peerClosed_ = false;
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace fc
