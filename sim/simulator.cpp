#include "sim/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/whole_number.h"

namespace fc::sim {

namespace {

constexpr auto kHangupRetry = std::chrono::milliseconds(20);
constexpr auto kPtyReopenMinimum = std::chrono::milliseconds(100);
constexpr int kMaxPollMs = 500;
// Enough for any download the tests run, and a bound on what a master that
// floods the unit can make it keep (requests of 123 registers included).
constexpr size_t kMaxLoggedRequests = 50000;
// A connection whose replies wait unread this many writes deep is not read
// from until they drain: its own kernel buffers then hold back its sender,
// instead of the queue growing with every request it pipelines.
constexpr size_t kMaxQueuedWrites = 4096;
// With no descriptor left, a waiting connection keeps the listener readable;
// polling it again at once would spin. Connections that close free some.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr size_t kMaxControlLine = 4096;
// Paced bytes go out in slices of about this length, not one write per byte.
constexpr auto kPaceSlice = std::chrono::microseconds(2000);

enum class OutAction { Write, Close, ClosePty, ApplyLine };
enum class EndpointKind { Serial, Stream, Listener, Control, ControlListener };

struct BaudCode {
    int baud;
    speed_t code;
};
constexpr BaudCode kBauds[] = {{300, B300},       {600, B600},      {1200, B1200},
                               {2400, B2400},     {4800, B4800},    {9600, B9600},
                               {19200, B19200},   {38400, B38400},  {57600, B57600},
                               {115200, B115200}, {230400, B230400}};

speed_t SpeedCode(int baud) {
    for (const auto& entry : kBauds) {
        if (entry.baud == baud)
            return entry.code;
    }
    return B9600;
}

int BaudOf(speed_t code) {
    for (const auto& entry : kBauds) {
        if (entry.code == code)
            return entry.baud;
    }
    return 0;
}

std::chrono::microseconds CharTime(int baud) {
    return std::chrono::microseconds(10'000'000 / std::max(baud, 1));
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

termios RawLine(const LineSettings& line) {
    termios tio{};
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (line.parity != Parity::None)
        tio.c_cflag |= PARENB;
    if (line.parity == Parity::Odd)
        tio.c_cflag |= PARODD;
    cfsetispeed(&tio, SpeedCode(line.baud));
    cfsetospeed(&tio, SpeedCode(line.baud));
    return tio;
}

// Which requests the unit answers. On a serial RTU line address 0 is a
// broadcast: writes are carried out unanswered, but the unit answers the
// diagnostics probe the tool's scan sends there. In ASCII and over TCP the
// tool waits for a reply even at address 0 and takes the unit's address from
// it, so the unit answers there from its own address; Modbus TCP gateways
// also address 255.
Addressing AddressingOf(Transport transport, const Request& request, uint8_t own) {
    if (request.unit == own)
        return Addressing::Answer;
    const bool tcp = transport == Transport::ModbusTcp || transport == Transport::RtuOverTcp;
    if (tcp)
        return request.unit == 0 || request.unit == 255 ? Addressing::Answer : Addressing::Ignore;
    if (request.unit != 0)
        return Addressing::Ignore;
    if (transport == Transport::SerialAscii || request.function == 8)
        return Addressing::Answer;
    return Addressing::ExecuteSilently;
}

bool IsListener(const auto& endpoint) {
    return endpoint.kind == EndpointKind::Listener ||
           endpoint.kind == EndpointKind::ControlListener;
}

}  // namespace

struct Simulator::Outgoing {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    OutAction action = OutAction::Write;
};

struct Simulator::Endpoint {
    EndpointKind kind;
    int fd = -1;
    std::string name;
    Transport transport;
    RequestParser parser;
    std::deque<Outgoing> out;
    std::string control_text;
    std::chrono::steady_clock::time_point last_heard = std::chrono::steady_clock::now();
    bool dead = false;

    Endpoint(EndpointKind k, int f, std::string n, Transport t)
        : kind(k), fd(f), name(std::move(n)), transport(t), parser(t) {}
    ~Endpoint() {
        if (fd >= 0)
            close(fd);
    }
};

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)), model_(options_.unit) {
    for (const uint8_t address : options_.more_units) {
        UnitConfig config = options_.unit;
        config.line.unit = address;
        neighbours_.emplace_back(config);
    }
    for (const auto& [address, value] : options_.registers) {
        model_.SetRegister(address, value);
        for (UnitModel& unit : neighbours_)
            unit.SetRegister(address, value);
    }
    for (const auto& rule : options_.faults)
        faults_.Add(rule);
}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    if (thread_.joinable()) {
        *error = "already running";
        return false;
    }
    bool ok = pipe(wake_pipe_) == 0;
    if (!ok)
        *error = std::string("pipe: ") + std::strerror(errno);
    if (ok && !options_.log.empty())
        ok = log_.Open(options_.log, error);
    if (ok && options_.pty)
        ok = OpenPty(error);
    if (ok && !options_.device.empty())
        ok = OpenDevice(error);
    if (ok && options_.tcp_port != kNoPort)
        ok = Listen(options_.tcp_port, Transport::ModbusTcp, &tcp_port_, error);
    if (ok && options_.rtu_tcp_port != kNoPort)
        ok = Listen(options_.rtu_tcp_port, Transport::RtuOverTcp, &rtu_tcp_port_, error);
    if (ok && !options_.control.empty())
        ok = ListenControl(error);
    if (!ok) {
        CloseAll();
        return false;
    }
    SetNonBlocking(wake_pipe_[0]);
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Simulator::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const char byte = 0;
        [[maybe_unused]] auto written = write(wake_pipe_[1], &byte, 1);
        thread_.join();
    }
    CloseAll();
}

void Simulator::CloseAll() {
    endpoints_.clear();
    for (int& fd : wake_pipe_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (link_made_)
        unlink(options_.link.c_str());
    if (control_made_)
        unlink(options_.control.c_str());
    link_made_ = control_made_ = false;
}

bool Simulator::OpenPty(std::string* error) {
    int master = -1, slave = -1;
    termios tio = RawLine(model_.Line());
    // The pty driver drops the parity bit from the slave's settings; what is
    // left is the speed and the odd-parity flag, and that is what the unit
    // compares with its own line.
    tio.c_cflag &= ~PARENB;
    if (openpty(&master, &slave, nullptr, &tio, nullptr) != 0) {
        *error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    const char* name = ttyname(slave);
    std::string path = name != nullptr ? name : "";
    // Holding the slave open would keep the tool's exclusive lock alive
    // between its sessions, so the unit watches for hang-ups instead.
    close(slave);
    SetNonBlocking(master);
    if (!options_.link.empty()) {
        struct stat st {};
        if (lstat(options_.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            close(master);
            *error = "will not replace " + options_.link + ": not a symbolic link";
            return false;
        }
        unlink(options_.link.c_str());
        if (symlink(path.c_str(), options_.link.c_str()) != 0) {
            close(master);
            *error = "cannot create link " + options_.link + ": " + std::strerror(errno);
            return false;
        }
        link_made_ = true;
    }
    endpoints_.push_back(
        std::make_unique<Endpoint>(EndpointKind::Serial, master, "pty", Transport::SerialRtu));
    std::lock_guard lock(mutex_);
    pty_path_ = path;
    return true;
}

bool Simulator::OpenDevice(std::string* error) {
    const int fd = open(options_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + options_.device + ": " + std::strerror(errno);
        return false;
    }
    endpoints_.push_back(
        std::make_unique<Endpoint>(EndpointKind::Serial, fd, "serial", Transport::SerialRtu));
    ApplyDeviceLine();
    return true;
}

void Simulator::ApplyDeviceLine() {
    Endpoint* serial = SerialEndpoint();
    if (serial == nullptr || options_.device.empty())
        return;
    LineSettings line;
    {
        std::lock_guard lock(mutex_);
        line = model_.Line();
    }
    tcdrain(serial->fd);
    const termios tio = RawLine(line);
    tcsetattr(serial->fd, TCSANOW, &tio);
}

bool Simulator::Listen(int port, Transport transport, int* bound_port, std::string* error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    *bound_port = ntohs(address.sin_port);
    endpoints_.push_back(std::make_unique<Endpoint>(EndpointKind::Listener, fd,
                                                    TransportName(transport), transport));
    return true;
}

bool Simulator::ListenControl(std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (options_.control.size() >= sizeof address.sun_path) {
        *error = "control socket path too long: " + options_.control;
        return false;
    }
    std::strcpy(address.sun_path, options_.control.c_str());
    // A socket left by an earlier run is replaced; anything else is not ours.
    struct stat st {};
    if (lstat(options_.control.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
        *error = "will not replace " + options_.control + ": not a socket";
        return false;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    unlink(options_.control.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0) {
        *error = "cannot listen on " + options_.control + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    control_made_ = true;
    endpoints_.push_back(std::make_unique<Endpoint>(EndpointKind::ControlListener, fd, "control",
                                                    Transport::SerialRtu));
    return true;
}

Simulator::Endpoint* Simulator::SerialEndpoint() {
    for (auto& endpoint : endpoints_) {
        if (endpoint->kind == EndpointKind::Serial && !endpoint->dead)
            return endpoint.get();
    }
    return nullptr;
}

void Simulator::Run() {
    while (!stop_) {
        const auto now = Clock::now();
        std::vector<pollfd> fds{{wake_pipe_[0], POLLIN, 0}};
        std::vector<Endpoint*> owners{nullptr};
        for (auto& endpoint : endpoints_) {
            if (endpoint->kind == EndpointKind::Serial && now < serial_idle_until_)
                continue;
            if (IsListener(*endpoint) && now < accept_paused_until_)
                continue;
            short events = endpoint->out.size() < kMaxQueuedWrites ? POLLIN : 0;
            if (!endpoint->out.empty() && endpoint->out.front().due <= now)
                events |= POLLOUT;
            fds.push_back({endpoint->fd, events, 0});
            owners.push_back(endpoint.get());
        }
        const timespec timeout = PollTimeout(now);
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0) {
            char drain[16];
            while (read(wake_pipe_[0], drain, sizeof drain) > 0) {
            }
        }
        const auto after = Clock::now();
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                OnReadable(*owners[i], after);
        }
        for (auto& endpoint : endpoints_) {
            if (endpoint->kind == EndpointKind::Serial || endpoint->kind == EndpointKind::Stream)
                ServeFrames(*endpoint, after);
            CloseIfIdle(*endpoint, after);
        }
        for (size_t i = 0; i < endpoints_.size(); ++i)
            Flush(*endpoints_[i], Clock::now());
        std::erase_if(endpoints_, [](const auto& endpoint) { return endpoint->dead; });
        if (pty_reopen_pending_ && Clock::now() >= pty_reopen_at_) {
            pty_reopen_pending_ = false;
            std::string error;
            if (!OpenPty(&error))
                log_.Note("pty", error);
            else
                log_.Note("pty", "reopened as " + PtyPath());
        }
    }
}

// To the microsecond: paced replies are due every few character times, and a
// millisecond tick rounded up would make every reply late by up to one.
timespec Simulator::PollTimeout(Clock::time_point now) const {
    auto next = now + std::chrono::milliseconds(kMaxPollMs);
    for (const auto& endpoint : endpoints_) {
        if (!endpoint->out.empty())
            next = std::min(next, endpoint->out.front().due);
        if (auto deadline = endpoint->parser.Deadline())
            next = std::min(next, *deadline);
    }
    if (serial_idle_until_ > now)
        next = std::min(next, serial_idle_until_);
    if (pty_reopen_pending_)
        next = std::min(next, pty_reopen_at_);
    if (accept_paused_until_ > now)
        next = std::min(next, accept_paused_until_);
    for (const auto& endpoint : endpoints_) {
        if (const auto deadline = IdleDeadline(*endpoint))
            next = std::min(next, *deadline);
    }
    const auto wait = std::clamp<long long>(
        std::chrono::ceil<std::chrono::microseconds>(next - now).count(), 0, kMaxPollMs * 1000LL);
    return {static_cast<time_t>(wait / 1'000'000), static_cast<long>(wait % 1'000'000 * 1000)};
}

void Simulator::OnReadable(Endpoint& endpoint, Clock::time_point now) {
    switch (endpoint.kind) {
        case EndpointKind::Listener:
        case EndpointKind::ControlListener:
            Accept(endpoint);
            break;
        case EndpointKind::Serial:
            ReadSerial(endpoint, now);
            break;
        case EndpointKind::Stream:
            ReadStream(endpoint, now);
            break;
        case EndpointKind::Control:
            ReadControl(endpoint);
            break;
    }
}

std::optional<Simulator::Clock::time_point> Simulator::IdleDeadline(
    const Endpoint& endpoint) const {
    const bool connection =
        endpoint.kind == EndpointKind::Stream || endpoint.kind == EndpointKind::Control;
    if (!connection || options_.idle_timeout_s <= 0 || endpoint.dead)
        return std::nullopt;
    return endpoint.last_heard + std::chrono::seconds(options_.idle_timeout_s);
}

// A reply still on its way keeps the connection until it is sent.
void Simulator::CloseIfIdle(Endpoint& endpoint, Clock::time_point now) {
    const auto deadline = IdleDeadline(endpoint);
    if (!deadline || now < *deadline || !endpoint.out.empty())
        return;
    log_.Note(endpoint.name, "idle for " + std::to_string(options_.idle_timeout_s) + " s; closed");
    endpoint.dead = true;
}

void Simulator::Accept(Endpoint& listener) {
    const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            if (Clock::now() >= accept_paused_until_)
                log_.Note(listener.name, std::string("cannot accept: ") + std::strerror(errno));
            accept_paused_until_ = Clock::now() + kAcceptPause;
        }
        return;
    }
    if (listener.kind == EndpointKind::ControlListener) {
        endpoints_.push_back(
            std::make_unique<Endpoint>(EndpointKind::Control, fd, "control", listener.transport));
        return;
    }
    const std::string name =
        std::string(TransportName(listener.transport)) + "#" + std::to_string(fd);
    endpoints_.push_back(
        std::make_unique<Endpoint>(EndpointKind::Stream, fd, name, listener.transport));
    log_.Note(name, "connected");
}

bool Simulator::SerialLineMatches(int fd) const {
    if (!options_.device.empty())
        return true;  // a real line garbles a wrong speed by itself
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    LineSettings line;
    {
        std::lock_guard lock(mutex_);
        line = model_.Line();
    }
    // On Linux the master reports the slave's settings: the speed the tool
    // chose and, of the parity, only the odd flag survives the pty driver.
    const bool odd = (tio.c_cflag & PARODD) != 0;
    return BaudOf(cfgetospeed(&tio)) == line.baud && odd == (line.parity == Parity::Odd);
}

void Simulator::ReadSerial(Endpoint& endpoint, Clock::time_point now) {
    uint8_t buffer[1024];
    const ssize_t n = read(endpoint.fd, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && errno == EAGAIN)
            return;
        // Nobody has the slave open: the master reports a hang-up until the
        // tool opens the port again.
        serial_idle_until_ = now + kHangupRetry;
        endpoint.parser.Clear();
        return;
    }
    const std::span<const uint8_t> bytes(buffer, static_cast<size_t>(n));
    log_.Bytes(endpoint.name, "rx", bytes);
    if (!SerialLineMatches(endpoint.fd)) {
        log_.Note(endpoint.name, "line settings do not match the unit's; ignored");
        endpoint.parser.Clear();
        if (options_.mismatch_garbage) {
            std::vector<uint8_t> garbage(std::max<size_t>(1, bytes.size() / 2));
            for (size_t i = 0; i < garbage.size(); ++i)
                garbage[i] = static_cast<uint8_t>(0xF0 ^ bytes[i] ^ (i * 37));
            endpoint.out.push_back({now + std::chrono::milliseconds(options_.latency_ms),
                                    std::move(garbage), OutAction::Write});
        }
        return;
    }
    LineSettings line;
    {
        std::lock_guard lock(mutex_);
        line = model_.Line();
    }
    endpoint.parser.SetTransport(line.mode == SerialMode::Rtu ? Transport::SerialRtu
                                                              : Transport::SerialAscii);
    endpoint.parser.SetCharTime(CharTime(line.baud));
    endpoint.transport = endpoint.parser.transport();
    endpoint.parser.Feed(bytes, now);
}

void Simulator::ReadStream(Endpoint& endpoint, Clock::time_point now) {
    uint8_t buffer[1024];
    const ssize_t n = recv(endpoint.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        log_.Note(endpoint.name, "closed by the peer");
        endpoint.dead = true;
        return;
    }
    endpoint.last_heard = now;
    const std::span<const uint8_t> bytes(buffer, static_cast<size_t>(n));
    log_.Bytes(endpoint.name, "rx", bytes);
    endpoint.parser.Feed(bytes, now);
}

void Simulator::ReadControl(Endpoint& endpoint) {
    char buffer[512];
    const ssize_t n = recv(endpoint.fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            endpoint.dead = true;
        return;
    }
    endpoint.last_heard = Clock::now();
    endpoint.control_text.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = endpoint.control_text.find('\n')) != std::string::npos) {
        std::string line = endpoint.control_text.substr(0, newline);
        endpoint.control_text.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string answer = Command(line) + "\n";
        endpoint.out.push_back({Clock::now(), {answer.begin(), answer.end()}, OutAction::Write});
    }
    if (endpoint.control_text.size() > kMaxControlLine)
        endpoint.dead = true;
}

void Simulator::ServeFrames(Endpoint& endpoint, Clock::time_point now) {
    while (auto frame = endpoint.parser.Next(now))
        Dispatch(endpoint, *frame, now);
}

// The first unit on the endpoints that takes the request (every unit hears
// every request, as on a shared line or behind one gateway).
UnitModel* Simulator::Addressee(Transport transport, const Request& request,
                                Addressing& addressing) {
    addressing = AddressingOf(transport, request, model_.Line().unit);
    if (addressing != Addressing::Ignore)
        return &model_;
    for (UnitModel& unit : neighbours_) {
        addressing = AddressingOf(transport, request, unit.Line().unit);
        if (addressing != Addressing::Ignore)
            return &unit;
    }
    return nullptr;
}

void Simulator::Dispatch(Endpoint& endpoint, const Frame& frame, Clock::time_point now) {
    LineSettings line;
    FaultPlan plan;
    ModelReply reply;
    Addressing addressing;
    {
        std::lock_guard lock(mutex_);
        UnitModel* unit = Addressee(endpoint.transport, frame.request, addressing);
        if (unit == nullptr)
            return;
        if (unit->Resetting(now)) {
            log_.Note(endpoint.name, "resetting; request ignored");
            return;
        }
        line = unit->Line();
        const RequestInfo info = unit->Inspect(frame.request);
        plan = faults_.Decide(info);
        if (requests_.size() >= kMaxLoggedRequests)
            requests_.erase(requests_.begin(), requests_.begin() + kMaxLoggedRequests / 2);
        requests_.push_back({endpoint.transport, info, plan.fired});
        if (plan.reboot_ms) {
            unit->Reboot(now, std::chrono::milliseconds(*plan.reboot_ms));
            reply.silent = true;
        } else {
            reply = unit->Handle(frame.request, plan.flash, now);
        }
    }
    for (const auto& fault : plan.fired)
        log_.Note(endpoint.name, "fault " + fault);
    const bool serial = endpoint.kind == EndpointKind::Serial;
    auto start = now + std::chrono::milliseconds(options_.latency_ms + plan.delay_ms);
    if (serial && options_.pace)
        start += CharTime(line.baud) *
                 static_cast<int>(frame.wire_bytes);  // the request's own wire time
    if (addressing == Addressing::ExecuteSilently || reply.silent || plan.no_reply) {
        // nothing to send
    } else if (plan.drop_connection && !serial) {
        endpoint.out.push_back({start, {}, OutAction::Close});
    } else if (plan.close_pty && serial && options_.device.empty()) {
        endpoint.out.push_back({start, {}, OutAction::ClosePty});
    } else {
        std::vector<uint8_t> pdu = reply.pdu;
        if (plan.exception)
            pdu = {static_cast<uint8_t>(frame.request.function | 0x80), *plan.exception};
        auto bytes =
            BuildReply(endpoint.transport, line.unit, frame.transaction, pdu, plan.bad_check);
        if (plan.stray)
            bytes.insert(bytes.begin(), *plan.stray);
        bytes.insert(bytes.end(), static_cast<size_t>(plan.surplus), 0);
        const int baud = serial && options_.pace ? line.baud : 0;
        if (plan.repeat_ms) {
            Schedule(endpoint, bytes, start, plan.split_size, plan.split_gap_ms, baud);
            start = endpoint.out.back().due + std::chrono::milliseconds(*plan.repeat_ms);
        }
        Schedule(endpoint, std::move(bytes), start, plan.split_size, plan.split_gap_ms, baud);
        if (plan.close_after && !serial)
            endpoint.out.push_back({endpoint.out.back().due, {}, OutAction::Close});
    }
    if (reply.line_changed && serial && !options_.device.empty())
        endpoint.out.push_back({start, {}, OutAction::ApplyLine});
}

// Queues the reply: in chunks with gaps when a fault splits it, and byte by
// byte at the line's character rate when paced (baud non-zero).
void Simulator::Schedule(Endpoint& endpoint, std::vector<uint8_t> bytes, Clock::time_point start,
                         int split_size, int split_gap_ms, int baud) {
    const size_t chunk = split_size > 0 ? static_cast<size_t>(split_size) : bytes.size();
    const auto char_time = CharTime(baud);
    const size_t slice =
        baud > 0 ? std::max<size_t>(1, static_cast<size_t>(kPaceSlice / char_time)) : chunk;
    auto due = start;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        const size_t chunk_end = std::min(bytes.size(), at + chunk);
        for (size_t piece = at; piece < chunk_end; piece += slice) {
            const size_t piece_end = std::min(chunk_end, piece + slice);
            endpoint.out.push_back({due,
                                    {bytes.begin() + static_cast<long>(piece),
                                     bytes.begin() + static_cast<long>(piece_end)},
                                    OutAction::Write});
            if (baud > 0)
                due += char_time * static_cast<int>(piece_end - piece);
        }
        due += std::chrono::milliseconds(split_gap_ms);
    }
}

void Simulator::Flush(Endpoint& endpoint, Clock::time_point now) {
    while (!endpoint.out.empty() && endpoint.out.front().due <= now && !endpoint.dead) {
        Outgoing& next = endpoint.out.front();
        switch (next.action) {
            case OutAction::Close:
                log_.Note(endpoint.name, "connection dropped");
                endpoint.dead = true;
                return;
            case OutAction::ClosePty:
                endpoint.out.clear();
                ClosePty(now);
                return;
            case OutAction::ApplyLine:
                ApplyDeviceLine();
                break;
            case OutAction::Write: {
                const ssize_t n =
                    endpoint.kind == EndpointKind::Serial
                        ? write(endpoint.fd, next.bytes.data(), next.bytes.size())
                        : send(endpoint.fd, next.bytes.data(), next.bytes.size(), MSG_NOSIGNAL);
                if (n < 0 && errno == EAGAIN)
                    return;
                if (n < 0) {
                    // The port was closed under the reply, or the peer left.
                    endpoint.out.clear();
                    if (endpoint.kind != EndpointKind::Serial)
                        endpoint.dead = true;
                    return;
                }
                if (endpoint.kind != EndpointKind::Control)
                    log_.Bytes(endpoint.name, "tx",
                               std::span(next.bytes).first(static_cast<size_t>(n)));
                if (static_cast<size_t>(n) < next.bytes.size()) {
                    next.bytes.erase(next.bytes.begin(), next.bytes.begin() + n);
                    return;
                }
                break;
            }
        }
        endpoint.out.pop_front();
    }
}

void Simulator::ClosePty(Clock::time_point now) {
    Endpoint* serial = SerialEndpoint();
    if (serial == nullptr)
        return;
    log_.Note(serial->name, "closing the pty");
    serial->dead = true;
    if (!options_.link.empty())
        unlink(options_.link.c_str());
    {
        std::lock_guard lock(mutex_);
        pty_path_.clear();
    }
    pty_reopen_pending_ = true;
    pty_reopen_at_ =
        now + std::max<Clock::duration>(kPtyReopenMinimum,
                                        std::chrono::milliseconds(options_.unit.reset_ms));
}

std::string Simulator::PtyPath() const {
    std::lock_guard lock(mutex_);
    return pty_path_;
}

uint32_t Simulator::Register(uint16_t address) const {
    std::lock_guard lock(mutex_);
    return model_.Register(address);
}

void Simulator::SetRegister(uint16_t address, uint32_t value) {
    std::lock_guard lock(mutex_);
    model_.SetRegister(address, value);
}

std::vector<uint8_t> Simulator::FlashImage() const {
    std::lock_guard lock(mutex_);
    return model_.Flash();
}

std::vector<uint8_t> Simulator::FlashImageOf(uint8_t unit) const {
    std::lock_guard lock(mutex_);
    if (model_.Config().line.unit == unit)
        return model_.Flash();
    for (const UnitModel& neighbour : neighbours_) {
        if (neighbour.Config().line.unit == unit)
            return neighbour.Flash();
    }
    return {};
}

bool Simulator::WriteFlashImage(const std::string& path, std::string* error) const {
    const auto image = FlashImage();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
    file.close();
    if (!file) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

std::vector<LoggedRequest> Simulator::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Simulator::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void Simulator::AddFault(const FaultRule& rule) {
    std::lock_guard lock(mutex_);
    faults_.Add(rule);
}

bool Simulator::AddFault(const std::string& text, std::string* error) {
    const auto rule = ParseFault(text, error);
    if (rule)
        AddFault(*rule);
    return rule.has_value();
}

void Simulator::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.Clear();
}

bool Simulator::Resetting() const {
    std::lock_guard lock(mutex_);
    return model_.Resetting(std::chrono::steady_clock::now());
}

bool Simulator::InDownloadMode() const {
    std::lock_guard lock(mutex_);
    return model_.InDownloadMode();
}

LineSettings Simulator::Line() const {
    std::lock_guard lock(mutex_);
    return model_.Line();
}

std::string Simulator::Command(const std::string& line) {
    std::istringstream stream(line);
    std::string verb, first, second, extra;
    stream >> verb >> first >> second >> extra;
    const auto ok = [](const std::string& text) { return text.empty() ? "ok" : "ok " + text; };
    long long address = 0, value = 0;
    std::string error;
    if (verb == "ping")
        return ok("");
    if (verb == "fault" && !first.empty() && second.empty())
        return AddFault(first, &error) ? ok("") : "error " + error;
    if (verb == "clear-faults") {
        ClearFaults();
        return ok("");
    }
    if (verb == "get" && ParseWholeNumber(first, 0, 65535, &address) && second.empty())
        return ok(std::to_string(Register(static_cast<uint16_t>(address))));
    if (verb == "set" && ParseWholeNumber(first, 0, 65535, &address) &&
        ParseWholeNumber(second, 0, 0xFFFFFFFFLL, &value) && extra.empty()) {
        SetRegister(static_cast<uint16_t>(address), static_cast<uint32_t>(value));
        return ok("");
    }
    if (verb == "flash-out" && second.empty()) {
        const std::string path = first.empty() ? options_.flash_out : first;
        if (path.empty())
            return "error no file given and no --flash-out";
        return WriteFlashImage(path, &error) ? ok(std::to_string(FlashImage().size()))
                                             : "error " + error;
    }
    if (verb == "flash-size")
        return ok(std::to_string(FlashImage().size()));
    if (verb == "requests")
        return ok(std::to_string(Requests().size()));
    if (verb == "clear-requests") {
        ClearRequests();
        return ok("");
    }
    if (verb == "status") {
        std::lock_guard lock(mutex_);
        const char* mode = model_.Resetting(Clock::now()) ? "reset"
                           : model_.InDownloadMode()      ? "download"
                                                          : "normal";
        return ok(std::string("mode=") + mode + " line=" + Describe(model_.Line()) +
                  " pty=" + (pty_path_.empty() ? "-" : pty_path_) +
                  " flash=" + std::to_string(model_.Flash().size()));
    }
    if (verb == "help")
        return ok(
            "commands: ping, status, get ADDR, set ADDR VALUE, fault RULE, clear-faults, "
            "flash-out [FILE], flash-size, requests, clear-requests");
    return "error unknown or malformed command: " + line;
}

}  // namespace fc::sim
