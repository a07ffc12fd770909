// Firmware download figures against the simulator, one row per route:
//
//   bench_download [sectors] [--latency-ms N] [--only TEXT] [--loss R]
//
// With --loss the unit leaves that share of requests unanswered (a flaky
// line: 0.05 or 0.2, say), at Timeout 1, and the rows show what the lost
// replies cost.
//
// RTU rows run on a pty with the unit pacing every character at the line
// rate (10 bits a character) and answering after the unit latency; the TCP
// rows run on loopback. Each row shows the measured time next to the
// wire-limited ideal: every byte of every request and reply at the line's
// character rate, plus the unit latency per transaction. On loopback there
// is no line; the mark there is the goal of 10 ms a sector plus the latency
// of each request (the tool pauses only after an attempt that failed). The
// tool's CPU time is that of this thread (the
// simulator runs on its own thread).
//
// The loader v1 at 9600 and v2 at 38400 rows are whole downloads (entering
// download mode, the speed switches, leaving it). The loader drops to 9600
// on entering download mode, so the 115200 rows start the loader at that
// speed and time the sector transfer alone, which is all but a few requests
// of a download. With the default 64 sectors a run takes about three
// minutes, most of it the 9600 row (16 sectors: 45 s).
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "download/flash_download.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"

namespace {

using fc::sim::LoggedRequest;

enum class Link { Pty, ModbusTcp, RtuOverTcp };

struct Route {
    const char* name;
    int loader_version;
    Link link;
    int baud;            // the line speed of the transfer (serial only)
    bool transfer_only;  // sectors only, the loader already at `baud`
};

struct Options {
    int sectors = 64;
    int latency_ms = 0;
    std::string only;
    double loss = 0;
};

struct Figures {
    bool ok = false;
    double seconds = 0;
    double ideal_seconds = 0;
    double cpu_seconds = 0;
    size_t requests = 0;
};

// Over TCP nothing paces the bytes: a sector is to take 10 ms at most.
constexpr double kTcpSectorSeconds = 0.010;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// RTU frame lengths of one logged request and its reply.
size_t RequestBytes(const LoggedRequest& r) {
    return r.info.function == 16 ? 9u + 2u * r.info.count : 8u;
}
size_t ReplyBytes(const LoggedRequest& r) {
    return r.info.function == 16 ? 8u : 5u + 2u * r.info.count;
}

// Every request and reply at the speed the line had when it crossed: the
// loader switches after answering a write of its speed register.
double WireSeconds(const std::vector<LoggedRequest>& log, int start_baud) {
    int baud = start_baud;
    double seconds = 0;
    for (const auto& r : log) {
        seconds += (RequestBytes(r) + ReplyBytes(r)) * 10.0 / baud;
        if (r.info.function == 16 && r.info.address == fc::kLoaderSpeedRegister &&
            !r.info.values.empty())
            baud = r.info.values[0] == fc::kLoaderFastBaudIndex ? 38400 : 9600;
    }
    return seconds;
}

int BaudIndex(int baud) {
    for (int i = 0; i < static_cast<int>(std::size(fc::kBaudTable)); ++i) {
        if (fc::kBaudTable[i] == baud)
            return i;
    }
    return fc::kLoaderSlowBaudIndex;
}

fc::sim::SimulatorOptions SimulatorFor(const Route& route, const Options& options) {
    fc::sim::SimulatorOptions sim;
    const int unit_baud = route.transfer_only ? route.baud : 9600;
    sim.unit.line = {fc::sim::SerialMode::Rtu, unit_baud, fc::sim::Parity::None, 1};
    sim.unit.loader_version = route.loader_version;
    sim.unit.loader_baud = unit_baud;
    sim.unit.reset_ms = 100;
    sim.latency_ms = options.latency_ms;
    if (options.loss > 0) {
        std::string error;
        sim.faults.push_back(
            *fc::sim::ParseFault("no-reply,rate=" + std::to_string(options.loss), &error));
    }
    sim.pace = true;
    sim.pty = route.link == Link::Pty;
    if (route.link == Link::ModbusTcp)
        sim.tcp_port = 0;
    if (route.link == Link::RtuOverTcp)
        sim.rtu_tcp_port = 0;
    return sim;
}

// The sector loop alone, on a loader already at the route's speed.
bool TransferOnly(fc::ModbusMaster& master, const std::string& image_path, int sectors,
                  int loader_version) {
    if (!master.WriteRegister16(fc::kLoaderVersionRegister, fc::kEnterDownloadMode))
        return false;
    std::ifstream file(image_path, std::ios::binary);
    fc::FlashDownload download(master, nullptr);
    std::array<uint8_t, fc::kSectorSize> data{};
    for (int sector = 0; sector < sectors; ++sector) {
        file.read(reinterpret_cast<char*>(data.data()), data.size());
        if (!download.WriteSector(data, static_cast<uint16_t>(sector), loader_version))
            return false;
    }
    return true;
}

Figures Download(const Route& route, const Options& options, const std::string& image_path) {
    fc::sim::Simulator sim(SimulatorFor(route, options));
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "fcsim: %s\n", error.c_str());
        return {};
    }
    fc::CommSettings settings;
    settings.Timeout = options.loss > 0 ? 1 : 2;
    settings.Retry = 10;
    settings.BaudRate = BaudIndex(route.transfer_only ? route.baud : 9600);
    settings.UseIP = route.link != Link::Pty;
    settings.IPProtocol = route.link == Link::RtuOverTcp ? 1 : 0;
    settings.IPAddress = "127.0.0.1";
    settings.IPPort = static_cast<uint16_t>(route.link == Link::RtuOverTcp ? sim.RtuTcpPort()
                                                                           : sim.ModbusTcpPort());
    fc::LinkFlags links;
    fc::ScriptedUserInterface ui;
    fc::ModbusMaster master(settings, links, ui,
                            [&](int) { return std::vector<std::string>{sim.PtyPath()}; });
    Figures figures;
    if (!fc::Connect(master))
        return figures;
    links.LinkState = fc::kLinkDownloading;
    fc::DownloadHooks hooks;
    hooks.wait = [](std::chrono::milliseconds) {};  // the unit's reset is no part of the transfer
    sim.ClearRequests();
    const double cpu_start = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    int probe = 0;
    if (route.transfer_only) {
        figures.ok = TransferOnly(master, image_path, options.sectors, route.loader_version);
    } else {
        figures.ok =
            master.ReadRegister16(fc::kLoaderVersionRegister, probe) &&
            fc::FlashDownload(master, fc::LoadImage(image_path).bytes, hooks).RunDownload();
    }
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpu_seconds = ThreadCpuSeconds() - cpu_start;
    fc::ClosePort(master);
    fc::Disconnect(master);
    const auto log = sim.Requests();
    figures.requests = log.size();
    figures.ideal_seconds = options.latency_ms / 1000.0 * static_cast<double>(log.size());
    if (route.link != Link::Pty)
        figures.ideal_seconds += kTcpSectorSeconds * options.sectors;
    if (route.link == Link::Pty)
        figures.ideal_seconds += WireSeconds(log, route.transfer_only ? route.baud : 9600);
    std::ifstream file(image_path, std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), {});
    figures.ok = figures.ok && sim.FlashImage() == image;
    return figures;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--latency-ms" && i + 1 < argc)
            options.latency_ms = std::atoi(argv[++i]);
        else if (arg == "--only" && i + 1 < argc)
            options.only = argv[++i];
        else if (arg == "--loss" && i + 1 < argc)
            options.loss = std::atof(argv[++i]);
        else if (!arg.empty() && arg[0] != '-')
            options.sectors = std::atoi(arg.c_str());
        else
            return false;
    }
    return options.sectors >= 0 && options.latency_ms >= 0 && options.loss >= 0 &&
           options.loss <= 1;
}

void WriteImage(const std::string& path, int sectors) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < sectors * fc::kSectorSize; ++i)
        out.put(static_cast<char>(i * 31 + i / 1024));
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: bench_download [sectors] [--latency-ms N] [--only TEXT] [--loss R]\n");
        return 2;
    }
    char folder[] = "/tmp/fcloader-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::string path = std::string(folder) + "/image.img";
    WriteImage(path, options.sectors);
    const Route routes[] = {
        {"RTU pty, loader v1, 9600", 1, Link::Pty, 9600, false},
        {"RTU pty, loader v2, 38400", 2, Link::Pty, 38400, false},
        {"RTU pty, loader v1, 115200 *", 1, Link::Pty, 115200, true},
        {"RTU pty, loader v2, 115200 *", 2, Link::Pty, 115200, true},
        {"Modbus TCP, loader v1", 1, Link::ModbusTcp, 0, false},
        {"Modbus TCP, loader v2", 2, Link::ModbusTcp, 0, false},
        {"RTU over TCP, loader v1", 1, Link::RtuOverTcp, 0, false},
        {"RTU over TCP, loader v2", 2, Link::RtuOverTcp, 0, false},
    };
    std::printf("Download of a %d-sector image (%d bytes), unit latency %d ms\n", options.sectors,
                options.sectors * fc::kSectorSize, options.latency_ms);
    std::printf("%-30s %9s %9s %9s %7s %9s %9s %7s\n", "route", "bytes", "time s", "ideal s",
                "ideal%", "requests", "CPU s", "CPU%");
    for (const Route& route : routes) {
        if (!options.only.empty() && std::strstr(route.name, options.only.c_str()) == nullptr)
            continue;
        const Figures f = Download(route, options, path);
        std::printf("%-30s %9d %9.2f %9.2f %6.1f%% %9zu %9.3f %6.2f%%%s\n", route.name,
                    options.sectors * fc::kSectorSize, f.seconds, f.ideal_seconds,
                    100 * f.ideal_seconds / f.seconds, f.requests, f.cpu_seconds,
                    100 * f.cpu_seconds / f.seconds, f.ok ? "" : "  FAILED");
        std::fflush(stdout);
    }
    std::printf(
        "* sector transfer alone, the loader started at 115200. TCP mark: 10 ms a sector "
        "and the latency.\n");
    std::filesystem::remove_all(folder);
    return 0;
}
