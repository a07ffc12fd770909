#include <signal.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "sim/sim_options.h"
#include "sim/simulator.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void PrintEndpoints(const fc::sim::Simulator& simulator, const fc::sim::SimulatorOptions& options) {
    if (options.pty)
        std::printf("pty %s\n", simulator.PtyPath().c_str());
    if (options.tcp_port != fc::sim::kNoPort)
        std::printf("modbus-tcp 127.0.0.1:%d\n", simulator.ModbusTcpPort());
    if (options.rtu_tcp_port != fc::sim::kNoPort)
        std::printf("rtu-tcp 127.0.0.1:%d\n", simulator.RtuTcpPort());
    std::printf("ready\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto command_line =
        fc::sim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!command_line) {
        std::cerr << "fcsim: " << error << "\nTry 'fcsim --help'.\n";
        return kExitUsage;
    }
    if (command_line->help) {
        std::cout << fc::sim::HelpText();
        return 0;
    }
    if (command_line->version) {
        std::cout << fc::VersionLine("fcsim") << "\n";
        return 0;
    }
    // The signals are taken by sigwait below; blocked before the I/O thread
    // starts, so that thread never sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const auto& options = command_line->options;
    fc::sim::Simulator simulator(options);
    if (!simulator.Start(&error)) {
        std::cerr << "fcsim: " << error << "\n";
        return kExitFailure;
    }
    PrintEndpoints(simulator, options);
    int received = 0;
    sigwait(&signals, &received);
    simulator.Stop();
    if (!options.flash_out.empty() && !simulator.WriteFlashImage(options.flash_out, &error)) {
        std::cerr << "fcsim: " << error << "\n";
        return kExitFailure;
    }
    return 0;
}
