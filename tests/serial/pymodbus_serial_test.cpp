#include <gtest/gtest.h>

#include "tests/peers/driver_bench.h"
#include "tests/peers/python_peer.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

// pymodbus plays the unit on a socat pty pair: our framing against framing
// written by somebody else.
class PymodbusSerial : public ::testing::TestWithParam<int> {};

TEST_P(PymodbusSerial, ReadAndWriteHoldingRegisters) {
    const bool ascii = GetParam() == kModbusAscii;
    test::PymodbusPeer peer(ascii ? "ascii" : "rtu");
    if (!peer.Missing().empty())
        GTEST_SKIP() << peer.Missing();

    test::DriverBench bench;
    bench.devices = {peer.Device()};
    bench.settings.ModbusType = GetParam();
    bench.settings.Timeout = 2;
    bench.settings.Retry = 2;
    ModbusMaster& master = bench.master;
    ASSERT_TRUE(master.Open(1, 9600, ascii ? 7 : 8, ascii ? 2 : 0, 0));
    ASSERT_TRUE(master.SetTimeouts(20));
    bench.links.LinkOpen = 1;

    int value = 0;
    EXPECT_EQ(master.ReadRegister16(2649, value), 1);
    EXPECT_EQ(value, 2649);
    EXPECT_EQ(master.WriteRegister32(300, 0x12345678), 1);
    EXPECT_EQ(master.ReadRegister32(300, value), 1);
    EXPECT_EQ(value, 0x12345678);
    uint8_t block[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(master.WriteRegisterBlock(500, block, 5), 1);
    uint8_t back[10] = {};
    EXPECT_EQ(master.ReadRegisterBlock(500, back, 5), 1);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 10), std::vector<uint8_t>(block, block + 10));
    EXPECT_TRUE(bench.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Framings, PymodbusSerial, ::testing::Values(kModbusRtu, kModbusAscii),
                         [](const auto& info) {
                             return info.param == kModbusRtu ? "Rtu" : "Ascii";
                         });

}  // namespace
}  // namespace fc
