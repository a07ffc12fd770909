// Firmware download figures against fcsim: a 64-sector image with loader
// version 1 at 9600 baud and version 2 at 38400 baud, the unit pacing its
// replies to the line, each next to the time the bytes alone need on the
// wire; then the same image over Modbus TCP on loopback.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "download/flash_download.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"

namespace {

using fc::sim::LoggedRequest;

struct Route {
    const char* name;
    int loader_version;
    bool tcp;
};

struct Figures {
    bool ok = false;
    double seconds = 0;
    double wire_seconds = 0;  // serial only
    size_t requests = 0;
};

// RTU frame lengths of one logged request and its reply.
size_t RequestBytes(const LoggedRequest& r) {
    return r.info.function == 16 ? 9u + 2u * r.info.count : 8u;
}
size_t ReplyBytes(const LoggedRequest& r) {
    return r.info.function == 16 ? 8u : 5u + 2u * r.info.count;
}

// Every request and reply at the speed the line had when it crossed: the
// loader switches after answering a write of its speed register.
double WireSeconds(const std::vector<LoggedRequest>& log) {
    int baud = 9600;
    double seconds = 0;
    for (const auto& r : log) {
        seconds += (RequestBytes(r) + ReplyBytes(r)) * 10.0 / baud;
        if (r.info.function == 16 && r.info.address == fc::kLoaderSpeedRegister &&
            !r.info.values.empty())
            baud = r.info.values[0] == fc::kLoaderFastBaudIndex ? 38400 : 9600;
    }
    return seconds;
}

Figures Download(const Route& route, const std::string& image_path) {
    fc::sim::SimulatorOptions options;
    options.unit.line = {fc::sim::SerialMode::Rtu, 9600, fc::sim::Parity::None, 1};
    options.unit.loader_version = route.loader_version;
    options.unit.reset_ms = 100;
    options.pace = true;
    options.pty = !route.tcp;
    if (route.tcp)
        options.tcp_port = 0;
    fc::sim::Simulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "fcsim: %s\n", error.c_str());
        return {};
    }
    fc::CommSettings settings;
    settings.Timeout = 2;
    settings.Retry = 10;
    settings.UseIP = route.tcp;
    settings.IPAddress = "127.0.0.1";
    settings.IPPort = static_cast<uint16_t>(sim.ModbusTcpPort());
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
    const auto start = std::chrono::steady_clock::now();
    int probe = 0;
    figures.ok = master.ReadRegister16(fc::kLoaderVersionRegister, probe) &&
                 fc::FlashDownload(master, image_path, hooks).RunDownload();
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fc::ClosePort(master);
    fc::Disconnect(master);
    const auto log = sim.Requests();
    figures.requests = log.size();
    figures.wire_seconds = route.tcp ? 0 : WireSeconds(log);
    std::ifstream file(image_path, std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), {});
    figures.ok = figures.ok && sim.FlashImage() == image;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const int sectors = argc > 1 ? std::atoi(argv[1]) : 64;
    char folder[] = "/tmp/fcloader-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::string path = std::string(folder) + "/image.img";
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < sectors * fc::kSectorSize; ++i)
            out.put(static_cast<char>(i * 31 + i / 1024));
    }
    const Route routes[] = {
        {"RTU pty, loader v1, 9600 baud", 1, false},
        {"RTU pty, loader v2, 38400 baud", 2, false},
        {"Modbus TCP loopback, loader v1", 1, true},
        {"Modbus TCP loopback, loader v2", 2, true},
    };
    std::printf("Download of a %d-sector image (%d bytes), unit pacing its replies\n", sectors,
                sectors * fc::kSectorSize);
    std::printf("%-34s %10s %10s %8s %9s %12s\n", "route", "time s", "wire s", "ratio", "requests",
                "bytes/s");
    for (const Route& route : routes) {
        const Figures f = Download(route, path);
        char wire[16] = "-", ratio[16] = "-";
        if (!route.tcp) {
            std::snprintf(wire, sizeof wire, "%.1f", f.wire_seconds);
            std::snprintf(ratio, sizeof ratio, "%.2f", f.seconds / f.wire_seconds);
        }
        std::printf("%-34s %10.1f %10s %8s %9zu %12.0f%s\n", route.name, f.seconds, wire, ratio,
                    f.requests, sectors * fc::kSectorSize / f.seconds, f.ok ? "" : "  FAILED");
    }
    std::filesystem::remove_all(folder);
    return 0;
}
