// The wall time of flashing four units at once against that of the slowest
// of them flashed alone:
//
//   bench_fleet [--sectors N] [--loader 1|2] [--latency-ms N]
//
// Four simulated units on pseudo-terminals, each pacing its replies at the
// line rate (10 bits a character) and answering after the unit latency. Each
// is first flashed alone by `fcloader-cli download`, then all four by one
// `fcloader-cli download --targets`. Units on lines of their own share
// nothing but the processor, so the fleet should take about as long as its
// slowest unit: a ratio near 1, where flashing them one after another would
// give 4. Each download includes the 5 s the tool waits for the unit's reset.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"

extern char** environ;

namespace {

constexpr int kUnits = 4;

struct Options {
    int sectors = 64;
    int loader = 2;
    int latency_ms = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (name == "--sectors" && value > 0)
            options.sectors = value;
        else if (name == "--loader" && (value == 1 || value == 2))
            options.loader = value;
        else if (name == "--latency-ms" && value >= 0)
            options.latency_ms = value;
        else
            return false;
    }
    return argc % 2 == 1;
}

// The seconds one fcloader-cli run takes, or a negative value when it fails.
double TimedRun(const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(FCLOADER_CLI_PATH)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, FCLOADER_CLI_PATH, &quiet, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&quiet);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took.count() : -1;
}

std::vector<std::string> UnitWords(const fc::sim::Simulator& unit) {
    return {"--device", unit.PtyPath(), "--baud", "19200", "--unit", "5"};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench_fleet [--sectors N] [--loader 1|2] [--latency-ms N]\n");
        return 2;
    }
    char folder[] = "/tmp/bench-fleet-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    setenv("XDG_CONFIG_HOME", folder, 1);
    const std::string image = std::string(folder) + "/image.img";
    {
        std::ofstream out(image, std::ios::binary);
        for (int i = 0; i < options.sectors * 1024; ++i)
            out.put(static_cast<char>(i * 31 + i / 1024 * 7 + 1));
    }

    std::vector<std::unique_ptr<fc::sim::Simulator>> units;
    std::string error;
    for (int i = 0; i < kUnits; ++i) {
        fc::sim::SimulatorOptions sim;
        sim.pty = true;
        sim.pace = true;
        sim.latency_ms = options.latency_ms;
        sim.unit.line = {fc::sim::SerialMode::Rtu, 19200, fc::sim::Parity::None, 5};
        sim.unit.loader_version = options.loader;
        sim.unit.reset_ms = 100;
        units.push_back(std::make_unique<fc::sim::Simulator>(sim));
        if (!units.back()->Start(&error)) {
            std::fprintf(stderr, "bench_fleet: %s\n", error.c_str());
            return 1;
        }
    }
    std::printf("%d units on ptys, paced replies, loader v%d, %d sectors, latency %d ms\n", kUnits,
                options.loader, options.sectors, options.latency_ms);

    double slowest = 0;
    double sum = 0;
    for (int i = 0; i < kUnits; ++i) {
        std::vector<std::string> arguments = UnitWords(*units[i]);
        arguments.insert(arguments.end(), {"download", image, "--yes"});
        const double seconds = TimedRun(arguments);
        std::printf("unit %d alone   %7.2f s\n", i + 1, seconds);
        if (seconds < 0)
            return 1;
        slowest = std::max(slowest, seconds);
        sum += seconds;
    }

    const std::string targets = std::string(folder) + "/targets";
    {
        std::ofstream out(targets);
        for (const auto& unit : units) {
            for (const std::string& word : UnitWords(*unit))
                out << word << ' ';
            out << '\n';
        }
    }
    const double fleet = TimedRun({"download", image, "--yes", "--targets", targets});
    std::printf("all %d at once %7.2f s\n", kUnits, fleet);
    if (fleet < 0)
        return 1;
    std::printf("one after another would take %.2f s\n", sum);
    std::printf("fleet / slowest single unit: %.2f\n", fleet / slowest);
    std::filesystem::remove_all(folder);
    return 0;
}
