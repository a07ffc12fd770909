// Round trip of a one-register read against the simulator, this tool next
// to libmodbus reading the same register from the same unit in the same run:
// Modbus TCP on loopback, RTU on a pty unpaced at 115200 baud (the pty moves
// bytes at memory speed, so the figure is the tool's own cost: mostly the
// 3.5 characters of quiet it waits behind a reply before taking it), and on
// a pty paced at 115200 and 9600 baud, where the unit sends at 10 bits a
// character and the wire limit (the request and the reply at the line rate,
// each followed by its 3.5 characters of silence) is printed beside. The
// "--poll" row is a poll loop of the command line's kind: the link kept
// open, one read a poll.
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
#include "registers/register_operations.h"
#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"

namespace {

constexpr int kRegister = 2649;
// A one-register read: 8 bytes out, 7 back, 3.5 characters after each.
constexpr double kWireCharacters = 8 + 7 + 2 * 3.5;

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

    Tool(const fc::sim::Simulator& sim, bool tcp, int baudIndex)
        : master(settings, links, ui,
                 [&sim](int) { return std::vector<std::string>{sim.PtyPath()}; }) {
        settings.Timeout = 2;
        settings.Retry = 0;
        settings.BaudRate = static_cast<int16_t>(baudIndex);
        settings.UseIP = tcp;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(sim.ModbusTcpPort());
    }
    bool Read() {
        int value = 0;
        return master.ReadRegister16(kRegister, value) != 0;
    }
};

void MeasureTool(const fc::sim::Simulator& sim, const char* name, bool tcp, int baudIndex,
                 int reads) {
    Tool tool(sim, tcp, baudIndex);
    if (!fc::Connect(tool.master)) {
        std::printf("%s: no link\n", name);
        return;
    }
    fc::NoteUnitAnswered(tool.master, true);
    Report(name, reads, [&] { return tool.Read(); });
    fc::Disconnect(tool.master);
}

// As `fcloader-cli read --poll` runs: each poll one register operation on a
// link kept from the first poll to the last.
void MeasurePoll(const fc::sim::Simulator& sim, const char* name, bool tcp, int baudIndex,
                 int reads) {
    Tool tool(sim, tcp, baudIndex);
    const fc::KeptRegisterConnection kept(tool.master);
    Report(name, reads, [&] {
        return fc::ReadValue(tool.master, kRegister, fc::RegisterType::Int16, {}).Success;
    });
}

void MeasureLibmodbus(modbus_t* context, const char* name, int reads) {
    if (context != nullptr)
        modbus_set_error_recovery(context, MODBUS_ERROR_RECOVERY_NONE);
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

struct Line {
    const char* tool;
    const char* libmodbus;
    int baud;
    int baudIndex;
    bool paced;
};

// One simulator a line: the pty keeps the rate and the pacing it was made with.
void MeasureLine(const Line& line, int reads, bool withTcp) {
    fc::sim::SimulatorOptions options;
    options.unit.line = {fc::sim::SerialMode::Rtu, line.baud, fc::sim::Parity::None, 1};
    options.pty = true;
    options.pace = line.paced;
    options.tcp_port = withTcp ? 0 : fc::sim::kNoPort;
    fc::sim::Simulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "fcsim: %s\n", error.c_str());
        return;
    }
    if (line.paced)
        std::printf("%-28s %9.2f\n", "  wire limit", kWireCharacters * 10 * 1000.0 / line.baud);
    // One client at a time: the tool opens the pty exclusively.
    MeasureTool(sim, line.tool, false, line.baudIndex, reads);
    MeasureLibmodbus(modbus_new_rtu(sim.PtyPath().c_str(), line.baud, 'N', 8, 1), line.libmodbus,
                     reads);
    if (!line.paced)
        MeasurePoll(sim, "fcloader, RTU pty --poll", false, line.baudIndex, reads);
    if (!withTcp)
        return;
    MeasureTool(sim, "fcloader, Modbus TCP", true, line.baudIndex, reads);
    MeasurePoll(sim, "fcloader, Modbus TCP --poll", true, line.baudIndex, reads);
    MeasureLibmodbus(modbus_new_tcp("127.0.0.1", sim.ModbusTcpPort()), "libmodbus, Modbus TCP",
                     reads);
    sim.Stop();
}

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::printf("One-register read of %d, %d reads each\n", kRegister, reads);
    std::printf("%-28s %9s %9s %9s %9s %7s\n", "client", "median ms", "p95 ms", "max ms", "CPU ms",
                "failed");
    MeasureLine({"fcloader, RTU pty", "libmodbus, RTU pty", 115200, 7, false}, reads, true);
    MeasureLine({"fcloader, paced 115200", "libmodbus, paced 115200", 115200, 7, true}, reads,
                false);
    MeasureLine({"fcloader, paced 9600", "libmodbus, paced 9600", 9600, 3, true}, reads / 4 + 1,
                false);
    return 0;
}
