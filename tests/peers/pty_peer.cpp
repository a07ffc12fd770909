#include "tests/peers/pty_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "modbus/frame_codec.h"

namespace fc::test {

PtyPair::PtyPair() {
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path = name;
    termios raw{};
    ::tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave >= 0)
        ::close(slave);
}

void PtyPair::CloseMaster() {
    if (master >= 0)
        ::close(master);
    master = -1;
}

Bytes WithCrc(Bytes frame) {
    const size_t n = frame.size();
    frame.resize(n + 2);
    AppendCrc16(frame, n);
    return frame;
}

Bytes AsciiText(const Bytes& frame, bool lowerCase) {
    Bytes with_lrc = frame;
    with_lrc.push_back(Lrc(frame));
    std::string text = ":";
    for (uint8_t byte : with_lrc) {
        char hex[3];
        std::snprintf(hex, sizeof hex, lowerCase ? "%02x" : "%02X", byte);
        text += hex;
    }
    text += "\r\n";
    return Bytes(text.begin(), text.end());
}

RegisterBank::RegisterBank() : registers_(65536) {
    for (int n = 0; n < 65536; ++n)
        registers_[n] = static_cast<uint16_t>(n);
}

Bytes RegisterBank::Answer(const Bytes& request) {
    if (request.size() < 6)
        return {};
    const int start = request[2] << 8 | request[3];
    const int count = request[4] << 8 | request[5];
    const int width = start >= 7000 && start <= 7999 ? 2 : 1;  // in 16-bit words
    if (request[1] == 3) {
        Bytes reply{request[0], 3, static_cast<uint8_t>(count * width * 2)};
        for (int i = 0; i < count * width; ++i) {
            const uint16_t value = registers_[(start + i) & 0xFFFF];
            reply.push_back(static_cast<uint8_t>(value >> 8));
            reply.push_back(static_cast<uint8_t>(value));
        }
        return reply;
    }
    if (request[1] == 16 && request.size() >= 7) {
        const size_t bytes = request[6];
        for (size_t i = 0; i + 1 < bytes && 8 + i < request.size(); i += 2)
            registers_[(start + i / 2) & 0xFFFF] =
                static_cast<uint16_t>(request[7 + i] << 8 | request[8 + i]);
        return Bytes(request.begin(), request.begin() + 6);
    }
    return {};
}

FramePeer::FramePeer(int fd, Framing framing, Responder responder)
    : fd_(fd), framing_(framing), responder_(std::move(responder)) {
    thread_ = std::thread([this] { Run(); });
}

FramePeer::~FramePeer() {
    Stop();
}

void FramePeer::Stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::vector<Bytes> FramePeer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FramePeer::Run() {
    for (;;) {
        const bool stopping = stopping_;
        pollfd readable{fd_, POLLIN, 0};
        const int ready = ::poll(&readable, 1, stopping ? 0 : 5);
        if (ready <= 0 || !(readable.revents & POLLIN)) {
            if (stopping)
                return;
            continue;
        }
        uint8_t chunk[600];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0) {
            if (stopping)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        for (ssize_t i = 0; i < got; ++i)
            Take(chunk[i]);
    }
}

namespace {
// The length of an RTU request frame with its CRC, once enough of it is known.
size_t RtuRequestLength(const Bytes& pending) {
    if (pending.size() >= 7 && pending[1] == 16)
        return 9u + pending[6];
    return 8;
}

int Hex(uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}
}  // namespace

void FramePeer::Take(uint8_t byte) {
    if (framing_ == Framing::Ascii) {
        if (byte == ':')
            pending_.clear();
        pending_.push_back(byte);
        if (pending_.size() < 5 || pending_.back() != '\n' || pending_[0] != ':')
            return;
        Bytes frame;
        for (size_t i = 1; i + 3 < pending_.size(); i += 2)
            frame.push_back(static_cast<uint8_t>(Hex(pending_[i]) << 4 | Hex(pending_[i + 1])));
        if (!frame.empty())
            frame.pop_back();  // the LRC
        pending_.clear();
        Answer(frame);
        return;
    }
    pending_.push_back(byte);
    if (framing_ == Framing::Mbap) {
        if (pending_.size() >= 6 && pending_.size() == 6u + (pending_[4] << 8 | pending_[5])) {
            Bytes frame;
            frame.swap(pending_);
            Answer(frame);
        }
        return;
    }
    if (pending_.size() >= 2 && pending_.size() == RtuRequestLength(pending_)) {
        Bytes frame;
        frame.swap(pending_);
        Answer(frame);
    }
}

void FramePeer::Answer(const Bytes& request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    if (!responder_)
        return;
    for (const ReplyChunk& chunk : responder_(request)) {
        if (chunk.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
        size_t done = 0;
        while (done < chunk.bytes.size()) {
            const uint8_t* from = chunk.bytes.data() + done;
            const size_t left = chunk.bytes.size() - done;
            // A socket whose client has gone must not kill the test with SIGPIPE.
            ssize_t n = ::send(fd_, from, left, MSG_NOSIGNAL);
            if (n < 0 && errno == ENOTSOCK)
                n = ::write(fd_, from, left);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
}

Responder RtuBank(RegisterBank& bank) {
    return [&bank](const Bytes& request) -> std::vector<ReplyChunk> {
        if (request.empty() || request[0] == 0)
            return {};  // nobody answers a broadcast
        const Bytes reply = bank.Answer(request);
        if (reply.empty())
            return {};
        return {{WithCrc(reply), 0}};
    };
}

Responder MbapBank(RegisterBank& bank) {
    return [&bank](const Bytes& request) -> std::vector<ReplyChunk> {
        const Bytes reply = bank.Answer(Bytes(request.begin() + 6, request.end()));
        if (reply.empty())
            return {};
        Bytes framed{request[0], request[1], 0, 0, 0, static_cast<uint8_t>(reply.size())};
        framed.insert(framed.end(), reply.begin(), reply.end());
        return {{framed, 0}};
    };
}

Responder AsciiBank(RegisterBank& bank) {
    return [&bank](const Bytes& request) -> std::vector<ReplyChunk> {
        const Bytes reply = bank.Answer(request);
        if (reply.empty())
            return {};
        return {{AsciiText(reply), 0}};
    };
}

Responder Silent() {
    return {};
}

TcpUnit::TcpUnit(FramePeer::Framing framing, Responder responder)
    : framing_(framing), responder_(std::move(responder)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no loopback listener");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Accept(); });
}

TcpUnit::~TcpUnit() {
    Stop();
    ::close(listener_);
}

void TcpUnit::Accept() {
    for (;;) {
        const bool stopping = stopping_;
        pollfd readable{listener_, POLLIN, 0};
        if (::poll(&readable, 1, stopping ? 0 : 5) <= 0) {
            if (stopping)
                return;
            continue;
        }
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        std::lock_guard lock(mutex_);
        connections_.push_back(connection);
        peers_.push_back(std::make_unique<FramePeer>(connection, framing_, responder_));
    }
}

void TcpUnit::Stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(mutex_);
    for (auto& peer : peers_)
        peer->Stop();
    for (int connection : connections_)
        ::close(connection);
    connections_.clear();
}

std::vector<std::vector<Bytes>> TcpUnit::RequestsPerConnection() {
    std::lock_guard lock(mutex_);
    std::vector<std::vector<Bytes>> requests;
    for (auto& peer : peers_)
        requests.push_back(peer->Requests());
    return requests;
}

}  // namespace fc::test
