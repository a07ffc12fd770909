// Waiting on a dead link: the CPU the tool spends while one transaction
// waits out a long time-out on a silent serial line and on a TCP peer that
// took the connection and never answers, and the longest time from a pulled
// cable (the pty closed, the TCP connection dropped) to the box.
//
//   bench_dead_link [--wait SECONDS] [--tries N]
//
// Prints figures only; a slow machine changes them, nothing here fails.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "modbus/comm_settings.h"
#include "modbus/link_flags.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"

namespace {

using fc::CommSettings;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Measure {
    bool ok = false;
    double wall = 0;
    double cpu = 0;
    std::string message;
};

// Far from the probe register of a connect, so a fault on it hits the read.
constexpr int kPulledRegister = 100;

// A connect and one read of register 100 through a fresh driver over the given settings;
// the scripted user cancels the box, so the read ends at its first failure.
Measure TimedRead(CommSettings settings, const std::string& device) {
    fc::LinkFlags links;
    fc::ScriptedUserInterface ui;
    fc::ModbusMaster master(settings, links, ui,
                            [&](int) { return std::vector<std::string>{device}; });
    // Timed from the connect on: over TCP the connect's own probe read is
    // the first transaction to wait on a peer that never answers.
    Measure measure;
    const double cpu = ProcessCpuSeconds();
    const double wall = WallSeconds();
    if (fc::Connect(master)) {
        links.LinkState = fc::kLinkUp;
        int value = 0;
        measure.ok = master.ReadRegister16(kPulledRegister, value) != 0;
    }
    measure.cpu = ProcessCpuSeconds() - cpu;
    measure.wall = WallSeconds() - wall;
    if (!ui.messages.empty())
        measure.message = ui.MessageTexts().front();
    fc::Disconnect(master);
    return measure;
}

CommSettings SerialSettings(int timeout, int retry) {
    CommSettings settings;
    settings.Timeout = static_cast<int16_t>(timeout);
    settings.Retry = static_cast<int16_t>(retry);
    settings.UnitId = 1;
    settings.UseIP = false;
    return settings;
}

CommSettings TcpSettings(int timeout, int retry, int port) {
    CommSettings settings = SerialSettings(timeout, retry);
    settings.UseIP = true;
    settings.IPAddress = "127.0.0.1";
    settings.IPPort = static_cast<uint16_t>(port);
    settings.IPProtocol = 0;
    return settings;
}

void PrintWait(const char* link, const Measure& m) {
    std::printf("  %-34s wall %6.2f s  CPU %8.4f s  (%.3f%% of one core)  %s\n", link, m.wall,
                m.cpu, m.wall > 0 ? 100.0 * m.cpu / m.wall : 0.0, m.message.c_str());
}

// A pty whose far end is held open and never written: a unit that says
// nothing.
void WaitOnSilentPty(int seconds) {
    int master_fd = -1;
    int slave_fd = -1;
    char name[256] = {};
    if (openpty(&master_fd, &slave_fd, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return;
    }
    ::close(slave_fd);  // the driver opens the slave side by its name
    PrintWait("silent serial line (pty)", TimedRead(SerialSettings(seconds, 0), name));
    ::close(master_fd);
}

// A listening socket that is never accepted from: the kernel completes the
// connection, and nothing ever answers on it.
void WaitOnSilentTcpPeer(int seconds) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        return;
    }
    PrintWait("TCP peer that never answers",
              TimedRead(TcpSettings(seconds, 0, ntohs(address.sin_port)), ""));
    ::close(listener);
}

// The simulated unit pulls its line at the next read; the longest of a few
// tries from that read's start to the box.
void PulledCable(const char* link, bool serial, int timeout, int retry, int tries) {
    double longest = 0;
    double shortest = 1e9;
    std::string message;
    for (int i = 0; i < tries; ++i) {
        fc::sim::SimulatorOptions options;
        options.pty = serial;
        if (!serial)
            options.tcp_port = 0;
        fc::sim::Simulator sim(options);
        std::string error;
        if (!sim.Start(&error) ||
            !sim.AddFault(std::string(serial ? "close-pty" : "drop-connection") +
                              ",fn=3,every=1,addr=" + std::to_string(kPulledRegister),
                          &error)) {
            std::printf("  %s: %s\n", link, error.c_str());
            return;
        }
        const CommSettings settings = serial ? SerialSettings(timeout, retry)
                                             : TcpSettings(timeout, retry, sim.ModbusTcpPort());
        const Measure m = TimedRead(settings, serial ? sim.PtyPath() : "");
        longest = std::max(longest, m.wall);
        shortest = std::min(shortest, m.wall);
        message = m.ok ? "(the read succeeded)" : m.message;
        sim.Stop();
    }
    std::printf(
        "  %-34s Timeout %d Retry %d, %d tries: longest %.2f s, shortest %.2f s, "
        "bound %d s  \"%s\"\n",
        link, timeout, retry, tries, longest, shortest, (retry + 1) * timeout, message.c_str());
}

int IntOption(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int wait = std::max(1, IntOption(argc, argv, "--wait", 30));
    const int tries = std::max(1, IntOption(argc, argv, "--tries", 5));

    std::printf("CPU used by one transaction waiting on a dead link (Timeout %d, Retry 0):\n",
                wait);
    WaitOnSilentPty(wait);
    WaitOnSilentTcpPeer(wait);

    std::printf("Pulled cable (at the read after a working connect) to its box:\n");
    for (const int retry : {0, 1}) {
        PulledCable("serial line (pty closed)", true, 1, retry, tries);
        PulledCable("Modbus TCP (connection dropped)", false, 1, retry, tries);
    }
    return 0;
}
