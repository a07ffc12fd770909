// Serial transaction figures on a pseudo-terminal: the round trip of a
// one-register RTU read against a unit that answers at once, and the CPU time
// a transaction spends waiting out a silent line.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "tests/peers/serial_bench.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void RoundTrip() {
    fc::test::SerialBench bench;
    bench.settings.Timeout = 2;
    bench.OpenLink();
    fc::test::RegisterBank bank;
    bench.StartPeer(fc::test::FramePeer::Framing::Rtu, fc::test::RtuBank(bank));
    std::vector<double> ms;
    for (int i = 0; i < 50; ++i) {
        int value = 0;
        const auto start = std::chrono::steady_clock::now();
        if (!bench.master.ReadRegister16(2649, value))
            std::printf("read failed\n");
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::printf(
        "RTU one-register read on a pty, instant peer: median %.2f ms, min %.2f ms, "
        "max %.2f ms (50 reads)\n",
        Median(ms), *std::min_element(ms.begin(), ms.end()),
        *std::max_element(ms.begin(), ms.end()));
}

void SilentLine(int modbusType, const char* name) {
    fc::test::SerialBench bench;
    bench.settings.Timeout = 2;
    bench.settings.Retry = -1;  // one attempt, no box
    bench.settings.ModbusType = modbusType;
    bench.OpenLink();
    const double cpu_before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    int value = 0;
    bench.master.ReadRegister16(2649, value);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s transaction on a silent line (Timeout 2): wall %.2f s, CPU %.1f ms\n", name,
                wall, (CpuSeconds() - cpu_before) * 1000);
}

}  // namespace

int main() {
    RoundTrip();
    SilentLine(fc::kModbusRtu, "RTU");
    SilentLine(fc::kModbusAscii, "ASCII");
}
