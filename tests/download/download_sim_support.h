#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace fc::test {

// An image whose bytes differ from sector to sector and within each sector,
// so a block sent to the wrong place or in the wrong order shows.
inline std::vector<uint8_t> TestImage(int sectors) {
    std::vector<uint8_t> image(static_cast<size_t>(sectors) * 1024);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31 + i / 1024 * 7 + 1);
    return image;
}

inline std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Time-outs count whole seconds of the wall clock, so one second may end a
// moment after the request went out; two leave any reply at least a second.
inline constexpr int kTimeout = 2;

// How a test reaches the simulated unit.
enum class Route { RtuPty, ModbusTcp, RtuOverTcp };

// A unit at settings of its own (19200 baud, unit 5), so that the switch to
// the loader's settings really happens on the line.
inline sim::SimulatorOptions UnitOn(Route route, int loader_version) {
    sim::SimulatorOptions options;
    options.unit.line = {sim::SerialMode::Rtu, 19200, sim::Parity::None, 5};
    options.unit.loader_version = loader_version;
    options.unit.reset_ms = 100;
    options.pty = route == Route::RtuPty;
    if (route == Route::ModbusTcp)
        options.tcp_port = 0;
    if (route == Route::RtuOverTcp)
        options.rtu_tcp_port = 0;
    return options;
}

}  // namespace fc::test
