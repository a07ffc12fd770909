// Median round trip of a one-register Modbus TCP read over loopback, against
// an in-process unit and against pymodbus when it is installed. The old
// rule of sleeping 100 ms before every count query would give at least
// 25 + 100 = 125 ms per read.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "tests/peers/pty_peer.h"
#include "tests/peers/python_peer.h"
#include "tests/peers/serial_bench.h"

namespace {

void Measure(const char* name, int port) {
    fc::CommSettings settings;
    settings.UseIP = true;
    settings.IPAddress = "127.0.0.1";
    settings.IPPort = static_cast<uint16_t>(port);
    settings.Timeout = 2;
    fc::LinkFlags links;
    fc::ScriptedUserInterface ui;
    fc::ModbusMaster master(settings, links, ui, [](int) { return std::vector<std::string>{}; });
    if (!master.ConnectSocket()) {
        std::printf("%s: no connection\n", name);
        return;
    }
    links.LinkState = fc::kLinkUp;
    std::vector<double> ms;
    for (int i = 0; i < 40; ++i) {
        int value = 0;
        const auto start = std::chrono::steady_clock::now();
        if (!master.ReadRegister16(2649, value))
            std::printf("%s: read failed\n", name);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "%s: Modbus TCP one-register read, median %.2f ms (min %.2f, max %.2f, 40 reads; "
        "25 ms of it is the pause before each attempt)\n",
        name, ms[ms.size() / 2], ms.front(), ms.back());
}

}  // namespace

int main() {
    fc::test::RegisterBank bank;
    fc::test::TcpUnit unit(fc::test::FramePeer::Framing::Mbap, fc::test::MbapBank(bank));
    Measure("in-process unit", unit.Port());
    fc::test::PymodbusPeer peer("tcp");
    if (peer.Missing().empty())
        Measure("pymodbus", peer.Port());
    else
        std::printf("pymodbus: skipped (%s)\n", peer.Missing().c_str());
}
