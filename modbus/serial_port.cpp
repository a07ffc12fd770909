#include "modbus/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <thread>

#include "platform/profile.h"

namespace fc {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// A serial line without flow control takes every byte at once; one that
// accepts nothing for this long has gone, and the write reports what it got.
constexpr int kWriteStallMs = 2000;

struct BaudSpeed {
    int baud;
    speed_t speed;
};
constexpr BaudSpeed kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

}  // namespace

std::string DefaultDevicePath(int port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}

PortResolver ProfilePortResolver(const std::string& application_title) {
    return [application_title](int port) -> std::vector<std::string> {
        const Profile profile(application_title);
        const std::string key = port_keys::kKeyPrefix + std::to_string(port);
        const std::string mapped = profile.GetString(port_keys::kSection, key, "");
        if (!mapped.empty())
            return {mapped};
        return {DefaultDevicePath(port)};
    };
}

speed_t SpeedFromBaud(int baud) {
    for (const auto& entry : kSpeeds) {
        if (entry.baud == baud)
            return entry.speed;
    }
    return B0;
}

std::optional<termios> BuildLineSettings(const termios& reported, int baud, uint8_t dataBits,
                                         uint8_t parity, uint8_t stopBits) {
    const speed_t speed = SpeedFromBaud(baud);
    if (speed == B0 || dataBits < 5 || dataBits > 8 || parity > 2 || stopBits > 2)
        return std::nullopt;
    termios line = reported;
    cfmakeraw(&line);
    // Parity is generated but never checked, and no byte is ever replaced,
    // stripped or held back by a flow-control character.
    line.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    line.c_cflag |= CLOCAL | CREAD;
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    line.c_cflag |= kSizes[dataBits - 5];
    if (parity == 1)
        line.c_cflag |= PARENB | PARODD;
    else if (parity == 2)
        line.c_cflag |= PARENB;
    // There is no one-and-a-half in termios. A UART asked for two stop bits
    // with 5-bit characters sends one and a half, which is the only framing
    // where one and a half is defined, so code 1 shares code 2's setting.
    if (stopBits != 0)
        line.c_cflag |= CSTOPB;
    // Reads never wait inside the driver; poll() measures the time-outs.
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    cfsetispeed(&line, speed);
    cfsetospeed(&line, speed);
    return line;
}

SerialPort::SerialPort(PortResolver resolver) : resolver_(std::move(resolver)) {}

SerialPort::~SerialPort() {
    CloseHandle();
}

std::vector<std::string> SerialPort::DevicesFor(int port) const {
    return resolver_ ? resolver_(port) : std::vector<std::string>{};
}

int SerialPort::OpenDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        NoteOpenFailure(path, errno);
        return -1;
    }
    // The lock keeps out every program that locks its ports (as this one
    // does); TIOCEXCL keeps out the others, except a privileged one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another program holds the lock: to the user that is a busy port.
        NoteOpenFailure(path, errno == EWOULDBLOCK ? EBUSY : errno);
        ::close(fd);
        return -1;
    }
    ::ioctl(fd, TIOCEXCL);
    device_ = path;
    return fd;
}

void SerialPort::NoteOpenFailure(std::string device, int error) {
    openFailure_ = {std::move(device), error};
}

int SerialPort::OpenFirstAvailable(int port) {
    for (const std::string& path : DevicesFor(port)) {
        const int fd = OpenDevice(path);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

bool SerialPort::OpenAsIs(int port) {
    CloseHandle();
    const std::vector<std::string> devices =
        port < 1 ? std::vector<std::string>{} : DevicesFor(port);
    if (devices.empty()) {
        NoteOpenFailure("", ENODEV);
        return false;
    }
    fd_ = OpenDevice(devices.front());
    if (fd_ < 0)
        return false;
    openFailure_ = {};
    return true;
}

bool SerialPort::Open(int port, int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    if (port < 1) {
        NoteOpenFailure("", ENODEV);
        return false;
    }
    CloseHandle();
    fd_ = OpenFirstAvailable(port);
    if (fd_ < 0)
        return false;
    portNumber_ = port;
    baudRate_ = baud;
    dataBits_ = dataBits;
    parity_ = parity;
    stopBits_ = stopBits;
    if (!Configure(baud, dataBits, parity, stopBits)) {
        NoteOpenFailure(device_, errno);
        return false;
    }
    openFailure_ = {};
    return true;
}

// By the number the port was opened as, which names the same path: the
// user's adapter, plugged back in, appears there again.
bool SerialPort::Reconnect() {
    return portNumber_ >= 1 && Open(portNumber_, baudRate_, dataBits_, parity_, stopBits_);
}

bool SerialPort::Gone() {
    if (fd_ < 0 || gone_)
        return true;
    // A path that now names another device (a pseudo-terminal made again
    // behind the same link) or none: the handle reaches nothing the user means.
    struct stat held {}, named {};
    return ::fstat(fd_, &held) == 0 && (::stat(device_.c_str(), &named) != 0 ||
                                        named.st_rdev != held.st_rdev);
}

void SerialPort::NoteLineError(int error) {
    if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR)
        gone_ = true;
}

// False with errno set: ENOTTY for a device that is no terminal, EINVAL for a
// line the device cannot take.
bool SerialPort::Configure(int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    termios reported{};
    if (::tcgetattr(fd_, &reported) != 0)
        return false;
    const auto line = BuildLineSettings(reported, baud, dataBits, parity, stopBits);
    if (!line) {
        errno = EINVAL;
        return false;
    }
    if (::tcsetattr(fd_, TCSANOW, &*line) != 0)
        return false;
    // A pseudo-terminal has no modem lines; the port is usable all the same.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIS, &lines);
    return true;
}

void SerialPort::Close() {
    CloseHandle();
}

void SerialPort::CloseHandle() {
    if (fd_ < 0)
        return;
    // The exclusive mode belongs to the terminal, not to this descriptor: left
    // set, it outlives the close, and a pseudo-terminal whose other end stays
    // open then refuses every later open by a user who is not root, this
    // program's own included. The lock still keeps out other programs until
    // the close just below.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the lock
    fd_ = -1;
    gone_ = false;
}

bool SerialPort::SetTimeouts(int ms) {
    if (!IsOpen())
        return false;
    timeouts_.ReadIntervalTimeout = ms;
    timeouts_.ReadTotalTimeoutConstant = ms;
    timeouts_.WriteTotalTimeoutMultiplier = 0;
    return true;
}

bool SerialPort::Write(const uint8_t* bytes, int count, int* written) {
    bool result = false;
    int total = 0;
    if (IsOpen() && bytes != nullptr && count > 0) {
        while (total < count) {
            const ssize_t n = ::write(fd_, bytes + total, count - total);
            if (n > 0) {
                total += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            pollfd writable{fd_, POLLOUT, 0};
            if (n < 0 && errno == EAGAIN && ::poll(&writable, 1, kWriteStallMs) > 0 &&
                !(writable.revents & (POLLERR | POLLHUP)))
                continue;
            // The adapter may have gone: the next attempt opens it again.
            gone_ = true;
            break;
        }
        result = total == count;
    }
    if (written != nullptr)
        *written = total;
    return result;
}

bool SerialPort::WaitReadable(int ms) {
    return WaitReadable(std::chrono::milliseconds(std::max(ms, 0)));
}

bool SerialPort::WaitReadable(std::chrono::microseconds wait) {
    wait = std::max(wait, std::chrono::microseconds(0));
    // Waits on a closed or vanished port take their time: a caller that
    // polls in a loop must not spin.
    if (!IsOpen()) {
        std::this_thread::sleep_for(wait);
        return false;
    }
    pollfd readable{fd_, POLLIN, 0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>((wait - seconds).count() * 1000)};
    const int ready = ::ppoll(&readable, 1, &timeout, nullptr);
    if (ready > 0 && (readable.revents & POLLIN))
        return true;
    // A hung-up line wakes poll() at once and forever; wait the time instead.
    if (ready > 0) {
        gone_ = true;
        std::this_thread::sleep_for(wait);
    }
    return false;
}

std::chrono::microseconds SerialPort::CharacterTime() const {
    const int bits = 1 + dataBits_ + (parity_ != 0 ? 1 : 0) + (stopBits_ != 0 ? 2 : 1);
    return std::chrono::microseconds(1'000'000LL * bits / std::max(baudRate_, 1));
}

int SerialPort::Read(int count, uint8_t* buffer) {
    if (!IsOpen() || buffer == nullptr || count <= 0)
        return 0;
    const auto start = Clock::now();
    const auto total_deadline =
        start + std::chrono::milliseconds(timeouts_.ReadTotalTimeoutConstant +
                                          timeouts_.ReadTotalTimeoutMultiplier * count);
    int got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // With VMIN 0 an empty line reads as 0 bytes, like EAGAIN.
        if (n < 0 && errno != EAGAIN) {
            // A failing line answers at once; sit out the time-out anyway so
            // the callers' polling loops do not spin.
            NoteLineError(errno);
            std::this_thread::sleep_until(total_deadline);
            break;
        }
        int wait = MillisecondsUntil(total_deadline);
        if (got > 0 && timeouts_.ReadIntervalTimeout > 0)
            wait = std::min(wait, timeouts_.ReadIntervalTimeout);
        if (wait <= 0 || !WaitReadable(wait))
            break;
    }
    return got;
}

bool SerialPort::Drain(uint8_t* buffer, int maximum) {
    if (!IsOpen())
        return false;
    uint8_t internal[256];
    if (buffer == nullptr) {
        buffer = internal;
        maximum = 255;
    }
    bool drained = false;
    int waiting = 0;
    int got = 0;
    do {
        ::tcdrain(fd_);
        waiting = std::min(BytesWaiting(), maximum);
        got = waiting > 0 ? Read(waiting, buffer) : 0;
        if (got > 0) {
            buffer[got] = 0;
            drained = true;
        }
    } while (got > 0 && waiting > 0);
    return drained;
}

int SerialPort::BytesWaiting() {
    int waiting = 0;
    if (!IsOpen() || ::ioctl(fd_, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

std::optional<SerialDriverState> SerialPort::ReadDriverState() const {
    SerialDriverState state;
    if (!IsOpen() || ::tcgetattr(fd_, &state.line) != 0)
        return std::nullopt;
    state.device = device_;
    state.timeouts = timeouts_;
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) == 0)
        state.modemLines = lines;
    return state;
}

// The runtime folder is the user's own and emptied at logout, so a record
// never outlives the session that could still hear its line. Where the
// session names none (a service, a CI runner), a folder of the user's own in
// /tmp serves, made private and checked to be the user's before use.
std::string SerialPort::LineRecordPath() const {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat held {};
    if (fd_ < 0 || ::fstat(fd_, &held) != 0 || !S_ISCHR(held.st_mode))
        return "";
    const std::string folder = runtime != nullptr && *runtime == '/'
                                   ? std::string(runtime) + "/fcloader"
                                   : "/tmp/fcloader-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "";
    struct stat own {};
    if (::lstat(folder.c_str(), &own) != 0 || !S_ISDIR(own.st_mode) || own.st_uid != ::getuid() ||
        (own.st_mode & 077) != 0)
        return "";
    return folder + "/line-" + std::to_string(major(held.st_rdev)) + "-" +
           std::to_string(minor(held.st_rdev));
}

// A device number names another line once its node is made again (a pty
// opened anew, an adapter plugged in again): the node's change time tells
// which one a record was written beside.
std::string SerialPort::NodeStamp() const {
    struct stat held {};
    if (fd_ < 0 || ::fstat(fd_, &held) != 0)
        return "";
    return "node " + std::to_string(held.st_ctim.tv_sec) + "." +
           std::to_string(held.st_ctim.tv_nsec) + "\n";
}

std::string SerialPort::LoadLineRecord() {
    const std::string path = LineRecordPath();
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return "";
    // Far more than a record holds: one this long is none of ours.
    constexpr size_t kMostRead = 64 * 1024;
    std::string text;
    char chunk[4096];
    ssize_t n = 0;
    while (text.size() <= kMostRead && (n = ::read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    const std::string stamp = NodeStamp();
    if (n < 0 || text.size() > kMostRead || stamp.empty() || text.rfind(stamp, 0) != 0)
        return "";
    return text.substr(stamp.size());
}

void SerialPort::SaveLineRecord(const std::string& record) {
    const std::string path = LineRecordPath();
    if (path.empty())
        return;
    if (record.empty()) {
        ::unlink(path.c_str());
        return;
    }
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // A record is advice to the next run; one that cannot be written costs
    // that run its knowledge, never this run's outcome.
    const std::string text = NodeStamp() + record;
    [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
    ::close(fd);
}

}  // namespace fc
