// Watch cycle figures: 100 rows in 4 address ranges, polled against the
// simulated unit on a pseudo-terminal at 19200 baud, every reply character
// paced at the line rate (10 bits a character) after the request's own wire
// time.
//
//   bench_watch [cycles] [--connect-each]
//
// The protocol limit of a cycle is the wire time of the transactions it
// needs: every byte of each request and reply at the line rate plus the 3.5
// characters of silence that end each frame. The command line keeps the
// link open from cycle to cycle; --connect-each opens and closes the port
// for each cycle, as the window's watch does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"
#include "watch/watch_poller.h"

namespace {

constexpr int kBaud = 19200;
constexpr double kCharSeconds = 10.0 / kBaud;

// The rows: 30 int16 registers side by side, 20 int32 values, 25 floats in
// the 4-byte window, and 25 int16 registers with an unwatched one between
// each (read through).
std::vector<fc::PolledRow> Rows() {
    std::vector<fc::PolledRow> rows;
    for (int i = 0; i < 30; ++i)
        rows.push_back({100 + i, fc::RegisterType::Int16, false});
    for (int i = 0; i < 20; ++i)
        rows.push_back({3200 + 2 * i, fc::RegisterType::Int32, false});
    for (int i = 0; i < 25; ++i)
        rows.push_back({7000 + i, fc::RegisterType::Float, false});
    for (int i = 0; i < 25; ++i)
        rows.push_back({20000 + 2 * i, fc::RegisterType::Int16, false});
    return rows;
}

// Request: unit, function, address, count, CRC = 8; reply: unit, function,
// byte count, data, CRC = 5 + data; 3.5 characters of silence after each.
double LimitSeconds(const std::vector<fc::BlockRead>& plan) {
    double characters = 0;
    for (const fc::BlockRead& block : plan)
        characters += 8 + 5 + block.Count * fc::BlockRegisterWidth(block.Start) + 2 * 3.5;
    return characters * kCharSeconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    // The window's way: a connection for each cycle.
    const bool connect_each = argc > 2 && std::string(argv[2]) == "--connect-each";
    fc::sim::SimulatorOptions options;
    options.pty = true;
    options.pace = true;
    options.unit.line.baud = kBaud;
    fc::sim::Simulator unit(options);
    std::string error;
    if (!unit.Start(&error)) {
        std::fprintf(stderr, "fcsim: %s\n", error.c_str());
        return 1;
    }
    fc::CommSettings settings;
    settings.BaudRate = 4;  // 19200
    settings.Timeout = 2;
    settings.Retry = 0;
    fc::LinkFlags links;
    fc::ScriptedUserInterface ui;
    fc::ModbusMaster master(settings, links, ui,
                            [&](int) { return std::vector<std::string>{unit.PtyPath()}; });

    const std::vector<fc::PolledRow> rows = Rows();
    fc::WatchPoller poller(rows);
    if (!connect_each)
        poller.KeepLinkOpen();
    std::vector<double> seconds;
    int failed = 0;
    for (int i = 0; i < cycles; ++i) {
        const auto start = std::chrono::steady_clock::now();
        failed += poller.Poll(master) ? 0 : 1;
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    const double limit = LimitSeconds(poller.Plan());
    std::vector<fc::BlockRead> one_each;
    for (size_t i = 0; i < rows.size(); ++i)
        one_each.push_back({rows[i].Address, fc::RowRegisters(rows[i]), {i}});
    poller.Release(master);
    std::printf("watch: %zu rows in 4 ranges, RTU %d baud on a pty, paced unit, %d cycles, %s\n",
                rows.size(), kBaud, cycles,
                connect_each ? "a connection each cycle (the window)"
                             : "the link kept open (the command line)");
    std::printf("  block reads a cycle: %d (fewest possible: 4)\n", poller.Transactions());
    std::printf("  cycle time: median %.1f ms, min %.1f ms, max %.1f ms; failed cycles %d\n",
                median * 1000, seconds.front() * 1000, seconds.back() * 1000, failed);
    std::printf("  protocol limit of those reads: %.1f ms; the cycle runs at %.1f %% of it\n",
                limit * 1000, 100 * limit / median);
    std::printf("  one read a row would need %zu reads: a limit of %.1f ms\n", one_each.size(),
                LimitSeconds(one_each) * 1000);
    return failed == 0 ? 0 : 1;
}
