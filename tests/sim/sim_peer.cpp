#include "tests/sim/sim_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "modbus/frame_codec.h"

namespace fc::sim::test {

namespace {

Bytes ReceiveFrom(int fd, size_t count, std::chrono::milliseconds quiet) {
    Bytes bytes;
    while (bytes.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0)
            break;
        uint8_t buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void SendTo(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

speed_t Speed(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B9600;
    }
}

}  // namespace

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc));
    return frame;
}

std::string AsciiText(const Bytes& frame) {
    static const char kHex[] = "0123456789ABCDEF";
    Bytes with_lrc = frame;
    with_lrc.push_back(Lrc(frame));
    std::string text = ":";
    for (uint8_t byte : with_lrc) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    }
    return text + "\r\n";
}

Bytes ReadRequest(uint8_t unit, uint16_t address, uint16_t count) {
    return {unit,
            3,
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count)};
}

Bytes WriteRequest(uint8_t unit, uint16_t address, const std::vector<uint16_t>& values) {
    Bytes frame{unit,
                16,
                static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(address),
                0,
                static_cast<uint8_t>(values.size()),
                static_cast<uint8_t>(values.size() * 2)};
    for (uint16_t value : values) {
        frame.push_back(static_cast<uint8_t>(value >> 8));
        frame.push_back(static_cast<uint8_t>(value));
    }
    return frame;
}

std::vector<uint16_t> Values16(const Bytes& reply) {
    std::vector<uint16_t> values;
    for (size_t at = 3; at + 3 < reply.size(); at += 2)
        values.push_back(static_cast<uint16_t>(reply[at] << 8 | reply[at + 1]));
    return values;
}

SerialPeer::SerialPeer(const std::string& path, int baud, Parity parity) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0)
        SetLine(baud, parity);
}

SerialPeer::~SerialPeer() {
    if (fd_ >= 0)
        close(fd_);
}

void SerialPeer::SetLine(int baud, Parity parity) {
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tio.c_cflag &= ~(PARENB | PARODD);
    if (parity != Parity::None)
        tio.c_cflag |= PARENB;
    if (parity == Parity::Odd)
        tio.c_cflag |= PARODD;
    cfsetispeed(&tio, Speed(baud));
    cfsetospeed(&tio, Speed(baud));
    tcsetattr(fd_, TCSANOW, &tio);
}

void SerialPeer::Send(const Bytes& bytes) {
    [[maybe_unused]] auto n = write(fd_, bytes.data(), bytes.size());
}

Bytes SerialPeer::Receive(size_t count, std::chrono::milliseconds quiet) {
    return ReceiveFrom(fd_, count, quiet);
}

Bytes SerialPeer::Transact(const Bytes& frame, size_t reply_length) {
    Send(WithCrc(frame));
    return Receive(reply_length);
}

TcpPeer::TcpPeer(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

TcpPeer::~TcpPeer() {
    if (fd_ >= 0)
        close(fd_);
}

void TcpPeer::Send(const Bytes& bytes) {
    SendTo(fd_, bytes);
}

Bytes TcpPeer::Receive(size_t count, std::chrono::milliseconds quiet) {
    return ReceiveFrom(fd_, count, quiet);
}

bool TcpPeer::Closed(std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0)
        return false;
    uint8_t byte;
    return recv(fd_, &byte, 1, MSG_PEEK) == 0;
}

}  // namespace fc::sim::test
