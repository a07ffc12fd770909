#include "modbus/driver_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace fc {

namespace {
using Clock = std::chrono::steady_clock;

// One readable-count query waits at most this long.
constexpr int kCountPollMs = 100;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}
}  // namespace

bool IsConnectInProgress(int error) {
    return error == EINPROGRESS || error == EWOULDBLOCK || error == EAGAIN;
}

DriverSocket::~DriverSocket() {
    Close();
}

bool DriverSocket::Connect(const std::string& host, uint16_t port, int boundSeconds) {
    Close();
    const auto deadline = Clock::now() + std::chrono::seconds(boundSeconds);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        lastError_ = EHOSTUNREACH;
        return false;
    }
    bool connected = false;
    for (addrinfo* entry = found; entry != nullptr && !connected; entry = entry->ai_next) {
        connected = ConnectTo(entry->ai_addr, entry->ai_addrlen, entry->ai_family,
                              MillisecondsUntil(deadline));
    }
    ::freeaddrinfo(found);
    return connected;
}

// Connects without blocking and waits for the outcome, so an address that
// never answers costs the bound and not the kernel's minutes of SYN retries.
bool DriverSocket::ConnectTo(const void* address, unsigned length, int family, int milliseconds) {
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
            if (::poll(&writable, 1, milliseconds) <= 0) {
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

bool DriverSocket::Send(const uint8_t* bytes, int count) {
    if (fd_ < 0) {
        lastError_ = ENOTCONN;
        return false;
    }
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::send(fd_, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lastError_ = n < 0 ? errno : EPIPE;
            return false;
        }
        sent += static_cast<int>(n);
    }
    return true;
}

int DriverSocket::Receive(uint8_t* buffer, int count) {
    if (fd_ < 0) {
        lastError_ = ENOTCONN;
        return -1;
    }
    const ssize_t n = ::recv(fd_, buffer, count, MSG_DONTWAIT);
    if (n < 0)
        lastError_ = errno;
    return static_cast<int>(n);
}

int DriverSocket::BytesAvailable(int awaited) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCountPollMs);
    if (fd_ < 0) {
        std::this_thread::sleep_until(deadline);
        return -1;
    }
    // With the low-water mark at the awaited count, poll() wakes when the
    // whole reply is there rather than at its first segment.
    if (awaited > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVLOWAT, &awaited, sizeof awaited);
    pollfd readable{fd_, POLLIN, 0};
    ::poll(&readable, 1, kCountPollMs);
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) != 0)
        count = -1;
    // Woken by a count that will not do (surplus bytes, a closed
    // connection): sit out the slot instead of asking again at once.
    if (count != awaited)
        std::this_thread::sleep_until(deadline);
    return count;
}

void DriverSocket::Close() {
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace fc
