// The simulator against masters that misbehave on purpose: it stays within
// bounds of CPU and memory and keeps answering the well-behaved ones. Each
// simulator runs in a child process, so its memory and CPU time can be read
// from /proc and its descriptor limit lowered without touching the tests.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tests/sim/sim_peer.h"

// Under AddressSanitizer a freed block waits in a quarantine (256 MiB by
// default) before it is reused, so a child that answers a flood grows by what
// it has freed, not by what it keeps. A small quarantine keeps the resident
// size a measure of what the simulator holds on to. Other builds ignore it.
extern "C" __attribute__((used)) const char* __asan_default_options() {
    return "quarantine_size_mb=4";
}

namespace fc::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr long kMiB = 1024 * 1024;

// A simulator in a child process, killed when the object goes.
class ChildSimulator {
  public:
    ChildSimulator(SimulatorOptions options, rlim_t descriptors = 0) {
        int info[2];
        EXPECT_EQ(::pipe(info), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            const rlimit limit{descriptors, descriptors};
            if (descriptors > 0)
                ::setrlimit(RLIMIT_NOFILE, &limit);
            Simulator simulator(options);
            std::string error;
            if (!simulator.Start(&error))
                ::_exit(1);
            const std::string ports = std::to_string(simulator.ModbusTcpPort()) + " " +
                                      std::to_string(simulator.RtuTcpPort()) + " " +
                                      simulator.PtyPath() + "\n";
            (void)!::write(info[1], ports.data(), ports.size());
            ::close(info[1]);  // the end of the line, when there is no pty path
            for (;;)
                ::pause();
        }
        ::close(info[1]);
        std::FILE* in = ::fdopen(info[0], "r");
        char path[256] = "";
        EXPECT_GE(std::fscanf(in, "%d %d %255s", &tcp_port_, &rtu_tcp_port_, path), 2);
        std::fclose(in);
        pty_path_ = path;
    }
    ~ChildSimulator() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

    int TcpPort() const { return tcp_port_; }
    int RtuTcpPort() const { return rtu_tcp_port_; }
    const std::string& PtyPath() const { return pty_path_; }

    long ResidentBytes() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("VmRSS:", 0) != 0) {
        }
        return line.empty() ? -1 : std::stol(line.substr(6)) * 1024;
    }
    // User plus system time so far: fields 14 and 15 of /proc/PID/stat.
    std::chrono::milliseconds CpuTime() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skip;
        long user = 0, system = 0;
        for (int field = 3; field < 14; ++field)
            fields >> skip;
        fields >> user >> system;
        return std::chrono::milliseconds((user + system) * 1000 / ::sysconf(_SC_CLK_TCK));
    }

  private:
    pid_t pid_ = -1;
    int tcp_port_ = 0;
    int rtu_tcp_port_ = 0;
    std::string pty_path_;
};

SimulatorOptions TcpOnly() {
    SimulatorOptions options;
    options.tcp_port = 0;
    options.rtu_tcp_port = 0;
    return options;
}

int ConnectWithoutWaiting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// Writes `unit` over and over without reading (the descriptor does not
// block) until `total` bytes went, the time is up or the descriptor has taken
// nothing for a while; returns the bytes written.
long Flood(int fd, const Bytes& unit, long total, Clock::duration bound) {
    const auto end = Clock::now() + bound;
    auto last_progress = Clock::now();
    long sent = 0;
    while (sent < total && Clock::now() < end && Clock::now() - last_progress < 500ms) {
        const ssize_t n = ::write(fd, unit.data(), unit.size());
        if (n > 0) {
            sent += n;
            last_progress = Clock::now();
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    return sent;
}

Bytes ModbusTcpRead(uint16_t transaction) {
    return {static_cast<uint8_t>(transaction >> 8),
            static_cast<uint8_t>(transaction),
            0,
            0,
            0,
            6,
            1,
            3,
            0,
            100,
            0,
            1};
}

bool Answers(TcpPeer& peer, uint16_t transaction) {
    peer.Send(ModbusTcpRead(transaction));
    return peer.Receive(11, 2000ms).size() == 11;
}

TEST(HostileMaster, NoDescriptorsLeftNeitherSpinsNorStopsServing) {
    ChildSimulator sim(TcpOnly(), 24);
    TcpPeer early(sim.TcpPort());
    ASSERT_TRUE(Answers(early, 1));
    std::vector<int> hostile;
    for (int i = 0; i < 40; ++i)
        hostile.push_back(ConnectWithoutWaiting(sim.TcpPort()));
    std::this_thread::sleep_for(300ms);
    const auto before = sim.CpuTime();
    std::this_thread::sleep_for(2s);
    // Spinning on accept would take most of a core for the whole time.
    EXPECT_LT(sim.CpuTime() - before, 200ms);
    EXPECT_TRUE(Answers(early, 2));
    for (const int fd : hostile)
        ::close(fd);
    TcpPeer late(sim.TcpPort());
    EXPECT_TRUE(Answers(late, 3));
}

// Silent clients are closed after the idle time-out and cannot lock others out.
TEST(HostileMaster, IdleConnectionsTimeOutAndLetTheNextClientIn) {
    SimulatorOptions options = TcpOnly();
    options.idle_timeout_s = 1;
    ChildSimulator sim(options, 24);
    for (int i = 0; i < 40; ++i)
        ConnectWithoutWaiting(sim.TcpPort());  // left open until the test ends
    TcpPeer late(sim.TcpPort());
    late.Send(ModbusTcpRead(1));
    EXPECT_EQ(late.Receive(11, 10s).size(), 11u);
}

TEST(HostileMaster, UnreadRepliesToPipelinedRequestsStayBounded) {
    ::signal(SIGPIPE, SIG_IGN);  // the flood writes to a socket
    ChildSimulator sim(TcpOnly());
    const long start = sim.ResidentBytes();
    {
        // Requests for 125 registers: every 8 bytes in ask for 255 bytes out.
        Bytes requests;
        for (int i = 0; i < 512; ++i) {
            const Bytes one = WithCrc(ReadRequest(1, 0, 125));
            requests.insert(requests.end(), one.begin(), one.end());
        }
        const int fd = ConnectWithoutWaiting(sim.RtuTcpPort());
        Flood(fd, requests, 64 * kMiB, 5s);
        EXPECT_LT(sim.ResidentBytes() - start, 48 * kMiB);
        ::close(fd);
    }
    TcpPeer good(sim.TcpPort());
    EXPECT_TRUE(Answers(good, 4));
    EXPECT_LT(sim.ResidentBytes() - start, 48 * kMiB);
}

TEST(HostileMaster, AnEndlessSerialFrameOfAnUnknownFunctionStaysBounded) {
    SimulatorOptions options;
    options.pty = true;
    ChildSimulator sim(options);
    SerialPeer peer(sim.PtyPath(), 9600);
    ASSERT_TRUE(peer.ok());
    const long start = sim.ResidentBytes();
    const int fd = ::open(sim.PtyPath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    Bytes stream(4096, 0x55);
    stream[0] = 1;
    stream[1] = 0x41;
    const long written = Flood(fd, stream, 48 * kMiB, 3s);
    ::close(fd);
    EXPECT_LT(sim.ResidentBytes() - start, 16 * kMiB) << written << " bytes written";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(peer.Transact(ReadRequest(1, 100, 1), 7).size(), 7u);
}

}  // namespace
}  // namespace fc::sim::test
