#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "connection/serial_devices.h"
#include "modbus/serial_port.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

TEST(SerialDevices, StableNamesFirstThenEachKindInNumberOrder) {
    test::TempDir dev;
    std::filesystem::create_directories(dev.File("serial/by-id"));
    for (const char* name : {"serial/by-id/usb-B-port0", "serial/by-id/usb-A-port0", "ttyS10",
                             "ttyS2", "ttyUSB0", "ttyACM1", "ttySx", "tty0", "console"})
        std::ofstream(dev.File(name)).put('\n');
    EXPECT_EQ(
        SerialDevicesPresent(dev.path()),
        (std::vector<std::string>{dev.File("serial/by-id/usb-A-port0"),
                                  dev.File("serial/by-id/usb-B-port0"), dev.File("ttyS2"),
                                  dev.File("ttyS10"), dev.File("ttyUSB0"), dev.File("ttyACM1")}));
}

TEST(SerialDevices, AChosenDeviceIsKeptUnderItsNumberAndAMissingFolderListsNone) {
    test::TempDir dir;
    Profile profile = Profile::AtPath(dir.File("fcloader.conf"));
    StorePortDevice(profile, 3, "/dev/ttyUSB1");
    EXPECT_EQ(profile.GetString(port_keys::kSection, "COM3", ""), "/dev/ttyUSB1");
    EXPECT_EQ(SerialDevicesPresent(dir.File("missing")), std::vector<std::string>{});
}

}  // namespace
}  // namespace fc
