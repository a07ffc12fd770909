// Round trip of a one-register read against the simulator, which answers at
// once without pacing: RTU on a pty at 9600 baud and Modbus TCP on loopback,
// this tool next to libmodbus reading the same register from the same unit in
// the same run. The pty moves bytes at memory speed, so the RTU figure is the
// tool's own cost: for this tool mostly the quiet gap after the reply that
// tells a complete reply from a longer one (3.5 characters at 9600 baud).
// The TCP figure includes the 25 ms pause this tool makes before each
// attempt.
//
//   bench_latency [reads]
#include <modbus.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"

namespace {

constexpr int kRegister = 2649;
constexpr int kBaud = 9600;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// Times `reads` calls of `read`; prints median, 95th percentile and the CPU
// time of one read.
void Report(const char* name, int reads, const std::function<bool()>& read) {
    std::vector<double> ms;
    int failed = 0;
    const double cpu_start = ThreadCpuSeconds();
    for (int i = 0; i < reads; ++i) {
        const auto start = std::chrono::steady_clock::now();
        failed += read() ? 0 : 1;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double cpu_ms = (ThreadCpuSeconds() - cpu_start) * 1000 / reads;
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double share) { return ms[static_cast<size_t>(share * (ms.size() - 1))]; };
    std::printf("%-28s %9.2f %9.2f %9.2f %9.3f %7d\n", name, at(0.5), at(0.95), ms.back(), cpu_ms,
                failed);
}

struct Tool {
    fc::CommSettings settings;
    fc::LinkFlags links;
    fc::ScriptedUserInterface ui;
    fc::ModbusMaster master;

    Tool(const fc::sim::Simulator& sim, bool tcp)
        : master(settings, links, ui,
                 [&sim](int) { return std::vector<std::string>{sim.PtyPath()}; }) {
        settings.Timeout = 2;
        settings.Retry = 0;
        settings.BaudRate = 3;  // 9600
        settings.UseIP = tcp;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(sim.ModbusTcpPort());
    }
    bool Read() {
        int value = 0;
        return master.ReadRegister16(kRegister, value) != 0;
    }
};

void MeasureTool(const fc::sim::Simulator& sim, bool tcp, int reads) {
    Tool tool(sim, tcp);
    if (!fc::Connect(tool.master)) {
        std::printf("fcloader: no link\n");
        return;
    }
    Report(tcp ? "fcloader, Modbus TCP" : "fcloader, RTU pty", reads, [&] { return tool.Read(); });
    fc::ClosePort(tool.master);
    fc::Disconnect(tool.master);
}

void MeasureLibmodbus(modbus_t* context, const char* name, int reads) {
    if (context == nullptr || modbus_set_slave(context, 1) != 0 || modbus_connect(context) != 0) {
        std::printf("%s: no link\n", name);
        if (context != nullptr)
            modbus_free(context);
        return;
    }
    modbus_set_response_timeout(context, 2, 0);
    Report(name, reads, [&] {
        uint16_t value = 0;
        return modbus_read_registers(context, kRegister, 1, &value) == 1;
    });
    modbus_close(context);
    modbus_free(context);
}

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    fc::sim::SimulatorOptions options;
    options.unit.line = {fc::sim::SerialMode::Rtu, kBaud, fc::sim::Parity::None, 1};
    options.pty = true;
    options.tcp_port = 0;
    fc::sim::Simulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "fcsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("One-register read of %d, %d reads each, unpaced unit\n", kRegister, reads);
    std::printf("%-28s %9s %9s %9s %9s %7s\n", "client", "median ms", "p95 ms", "max ms", "CPU ms",
                "failed");
    // One client at a time: the tool opens the pty exclusively.
    MeasureTool(sim, false, reads);
    MeasureLibmodbus(modbus_new_rtu(sim.PtyPath().c_str(), kBaud, 'N', 8, 1), "libmodbus, RTU pty",
                     reads);
    MeasureTool(sim, true, reads);
    MeasureLibmodbus(modbus_new_tcp("127.0.0.1", sim.ModbusTcpPort()), "libmodbus, Modbus TCP",
                     reads);
    sim.Stop();
    return 0;
}
