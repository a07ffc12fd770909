#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <climits>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "connection/connection.h"
#include "connection/messages.h"
#include "modbus/link_failure.h"
#include "modbus/messages.h"
#include "platform/scripted_user_interface.h"
#include "registers/register_operations.h"
#include "sim/simulator.h"
#include "tests/peers/driver_bench.h"

// The register page's operations against the simulated unit over its
// pseudo-terminal, as the window and the command line run them.
namespace fc {
namespace {

using sim::LoggedRequest;

class RegisterBench : public ::testing::Test, public test::DriverBench {
  protected:
    void SetUp() override {
        sim::SimulatorOptions options;
        options.pty = true;
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        // Two seconds: a reply must never miss a time-out that runs to the
        // next whole second only. Tests of failures set 0 just before.
        settings.Timeout = 2;
        devices = {sim_->PtyPath()};
    }

    void Fault(const std::string& text) {
        std::string error;
        ASSERT_TRUE(sim_->AddFault(text, &error)) << error;
    }

    // The requests of one function the unit took (the connection's probe
    // never reaches it: the link is closed between operations).
    std::vector<sim::RequestInfo> Taken(int function) const {
        std::vector<sim::RequestInfo> taken;
        for (const LoggedRequest& request : sim_->Requests())
            if (request.info.function == function)
                taken.push_back(request.info);
        return taken;
    }

    static RegisterTypeRanges Defaults() {
        RegisterTypeRanges ranges;
        for (int i = 0; i < RegisterTypeRanges::kCount; ++i)
            ranges.Bound(i) = RegisterTypeRanges::Default(i);
        return ranges;
    }

    // The loop's ticks as the window runs them: the next text, then the
    // "&Write" steps with it. Returns the texts "Data" showed.
    std::vector<std::string> RunLoop(std::string data, float increment, double upper, double lower,
                                     int ticks, RegisterType type, int address = 100) {
        std::vector<std::string> texts;
        for (int i = 0; i < ticks; ++i) {
            data = NextLoopData(data, increment, upper, lower).value();
            texts.push_back(data);
            WriteText(address, type, data);
        }
        return texts;
    }

    // "&Write" with the text as the page takes it.
    RegisterOutcome WriteText(int address, RegisterType type, std::string_view text,
                              FloatLayout layout = {}) {
        return WriteValue(master, address, type, ValueFromText(text, type).value(), layout);
    }

    RegisterOutcome AutoRead(int address) {
        return ReadValue(master, address, TypeForAddress(Defaults(), address));
    }

    std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(RegisterBench, AutoReadsEachAddressAsItsRangeSays) {
    sim_->SetRegister(7000, std::bit_cast<uint32_t>(12.25f));
    sim_->SetRegister(4210, 0xFFFF);
    sim_->SetRegister(4211, 0xFFFE);
    sim_->SetRegister(100, 0xFFFF);

    EXPECT_EQ(AutoRead(7000).Data, "12.250000");
    EXPECT_EQ(AutoRead(4210).Data, "-2");
    const RegisterOutcome clock = AutoRead(4203);
    ASSERT_TRUE(clock.Success);
    EXPECT_LE(std::stoi(*clock.Data), 235959);
    EXPECT_EQ(AutoRead(100).Data, "65535");

    const auto reads = Taken(3);
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0].count, 1);  // one 4-byte register
    EXPECT_EQ(reads[1].count, 2);
    EXPECT_EQ(reads[2].count, 2);
    EXPECT_EQ(reads[3].count, 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(master.IsOpen());
    EXPECT_EQ(links.LinkState, kLinkDown);
}

TEST_F(RegisterBench, AFailedReadGivesNoDataButTheNewTraffic) {
    sim_->SetRegister(100, 7);
    const RegisterOutcome good = ReadValue(master, 100, RegisterType::Int16);
    EXPECT_EQ(good.TxText.substr(0, 18), " 01 03 00 64 00 01");
    EXPECT_FALSE(good.RxText.empty());

    settings.Timeout = 0;
    Fault("no-reply");
    const RegisterOutcome failed = ReadValue(master, 101, RegisterType::Int16);
    EXPECT_FALSE(failed.Success);
    EXPECT_FALSE(failed.Data.has_value());
    EXPECT_EQ(failed.TxText.substr(0, 18), " 01 03 00 65 00 01");
    EXPECT_TRUE(failed.RxText.empty());
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{modbus_messages::kUnableToConnect});
    EXPECT_FALSE(master.IsOpen());
}

TEST_F(RegisterBench, WritesTakeTheTextAsTheirTypeReadsIt) {
    EXPECT_TRUE(WriteText(100, RegisterType::Int16, "3.9").Success);
    EXPECT_TRUE(WriteText(4300, RegisterType::Int32, "-2,5").Success);
    EXPECT_TRUE(WriteText(7001, RegisterType::Float, "1e3").Success);
    EXPECT_FALSE(ValueFromText("words", RegisterType::Int16).has_value());
    EXPECT_EQ(sim_->Register(100), 3u);
    EXPECT_EQ(sim_->Register(4300), 0xFFFFu);
    EXPECT_EQ(sim_->Register(4301), 0xFFFEu);
    EXPECT_EQ(sim_->Register(7001), std::bit_cast<uint32_t>(1000.0f));
    EXPECT_EQ(ReadValue(master, 4300, RegisterType::Int32).Data, "-2");
}

TEST_F(RegisterBench, BlockWritesSendTheFillerAtTheWindowsWidth) {
    const RegisterOutcome narrow = WriteBlock(master, 100, 3);
    EXPECT_TRUE(narrow.Success);
    EXPECT_EQ(narrow.TxText.substr(0, 39), " 01 10 00 64 00 03 06 01 01 01 01 01 01");
    const RegisterOutcome wide = WriteBlock(master, 7000, 3);
    EXPECT_TRUE(wide.Success);
    // A long frame shows its head only, up to the byte count.
    EXPECT_EQ(wide.TxText, " 01 10 1B 58 00 03 0C");

    const auto writes = Taken(16);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].values, (std::vector<uint32_t>{0x0101, 0x0101, 0x0101}));
    EXPECT_EQ(writes[1].values, (std::vector<uint32_t>{0x01010101, 0x01010101, 0x01010101}));
}

TEST_F(RegisterBench, BlockReadsAskForTheWindowsWidth) {
    sim_->SetRegister(7000, 0x11223344);
    const RegisterOutcome wide = ReadBlock(master, 7000, 1);
    EXPECT_TRUE(wide.Success);
    EXPECT_EQ(wide.RxText.substr(0, 21), " 01 03 04 11 22 33 44");
    EXPECT_TRUE(ReadBlock(master, 100, 1).Success);
    EXPECT_TRUE(ReadBlock(master, 100, 125).Success);
    const auto reads = Taken(3);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[2].count, 125);
}

// Counts the driver refuses, and counts whose bytes would run past the
// 2048-byte filler, send nothing; the page still shows the traffic texts
// as they stood and the connection is still opened and closed.
TEST_F(RegisterBench, RefusedBlocksSendNothingAndNeverReadPastTheFiller) {
    const RegisterOutcome before = ReadBlock(master, 100, 1);
    ASSERT_TRUE(before.Success);
    sim_->ClearRequests();
    const struct {
        int address;
        int count;
    } refused[] = {{100, 0},   {100, -4},   {100, 32767},   {100, 128},       {100, 1025},
                   {7000, 64}, {7000, 513}, {7000, 100000}, {100, 2147483647}};
    for (const auto& block : refused) {
        SCOPED_TRACE(std::to_string(block.address) + " x " + std::to_string(block.count));
        const RegisterOutcome read = ReadBlock(master, block.address, block.count);
        const RegisterOutcome write = WriteBlock(master, block.address, block.count);
        EXPECT_FALSE(read.Success);
        EXPECT_FALSE(write.Success);
        EXPECT_FALSE(master.IsOpen());
    }
    // Writes above what one frame carries are refused by the driver too.
    EXPECT_FALSE(WriteBlock(master, 100, 125).Success);
    EXPECT_FALSE(WriteBlock(master, 7000, 63).Success);
    EXPECT_TRUE(sim_->Requests().empty());
    EXPECT_TRUE(ui.messages.empty());
}

struct LayoutCase {
    FloatLayout layout;
    int address;
    int count;
    std::vector<uint32_t> values;  // as the unit stores them, per register
};

// 1234.5f is 0x449A5000: both halves differ, so a swap shows.
TEST_F(RegisterBench, FloatLayoutsPutTheirWordsOnTheWireAndReadBack) {
    const LayoutCase cases[] = {
        {{false, false}, 7000, 1, {0x449A5000}},
        {{false, true}, 7001, 1, {0x5000449A}},
        {{true, false}, 500, 2, {0x449A, 0x5000}},
        {{true, true}, 600, 2, {0x5000, 0x449A}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.address);
        sim_->ClearRequests();
        EXPECT_TRUE(WriteText(c.address, RegisterType::Float, "1234.5", c.layout).Success);
        const RegisterOutcome read = ReadValue(master, c.address, RegisterType::Float, c.layout);
        EXPECT_EQ(read.Data, "1234.500000");
        const auto writes = Taken(16);
        const auto reads = Taken(3);
        ASSERT_EQ(writes.size(), 1u);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(writes[0].count, c.count);
        EXPECT_EQ(reads[0].count, c.count);
        EXPECT_EQ(writes[0].values, c.values);
    }
    // Read with the other word order, the same registers give another number.
    EXPECT_NE(ReadValue(master, 500, RegisterType::Float, {true, true}).Data, "1234.500000");
}

int SecondsOfDay(int clock) {
    return clock / 10000 * 3600 + clock / 100 % 100 * 60 + clock % 100;
}

std::string TodayAsTheUnitKeepsIt() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return FormatDate(tm.tm_mday * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_year % 100);
}

TEST_F(RegisterBench, ClockUpdatesMoveTheUnitBeforeEachBoundary) {
    for (const ClockIncrease increase :
         {ClockIncrease::Hour, ClockIncrease::Minute, ClockIncrease::Day}) {
        SCOPED_TRACE(static_cast<int>(increase));
        sim_->ClearRequests();
        std::vector<ClockReading> shown;
        const ClockSettings clock{kDefaultClockRegister, kDefaultDateRegister, increase};
        ASSERT_TRUE(UpdateClock(master, clock,
                                [&](const ClockReading& reading) { shown.push_back(reading); }));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(FormatDate(shown[0].Date), TodayAsTheUnitKeepsIt());
        const int moved = ClockBeforeBoundary(shown[0].Clock, increase);
        const auto writes = Taken(16);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].address, kDefaultClockRegister);
        EXPECT_EQ(writes[0].values, (std::vector<uint32_t>{static_cast<uint32_t>(moved) >> 16,
                                                           static_cast<uint32_t>(moved) & 0xFFFF}));
        // The unit's clock runs on from where it was put.
        int now = 0;
        ASSERT_TRUE(WithRegisterConnection(
            master, [&] { return master.ReadRegister32(kDefaultClockRegister, now) != 0; }));
        const int ran = (SecondsOfDay(now) - SecondsOfDay(moved) + 86400) % 86400;
        EXPECT_LE(ran, 3) << FormatClock(now);
    }
}

TEST_F(RegisterBench, AFailedClockReadShowsAndWritesNothing) {
    settings.Timeout = 0;
    Fault("no-reply,fn=3,addr=4203");
    bool shown = false;
    EXPECT_FALSE(UpdateClock(master, {}, [&](const ClockReading&) { shown = true; }));
    EXPECT_FALSE(shown);
    // With Timeout 0 the tool gives up after one 20 ms read; on a busy machine
    // the unit may log the unanswered request only after that.
    for (int wait = 0; wait < 100 && Taken(3).empty(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Taken(16).empty());
    EXPECT_EQ(Taken(3).size(), 1u);  // the date is not read after the clock failed
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{modbus_messages::kUnableToConnect});
    EXPECT_FALSE(master.IsOpen());
}

TEST_F(RegisterBench, WriteLoopTicksWriteTheSteppedValue) {
    EXPECT_EQ(RunLoop("-5", 1, 10, 0, 2, RegisterType::Int16),
              (std::vector<std::string>{"10.000000", "0.000000"}));
    EXPECT_EQ(RunLoop("1", 0.5f, 10000, 0, 3, RegisterType::Int32),
              (std::vector<std::string>{"1.500000", "2.000000", "2.500000"}));
    const auto writes = Taken(16);
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[0].values, std::vector<uint32_t>{10});
    EXPECT_EQ(writes[1].values, std::vector<uint32_t>{0});
    // 1.5, 2.0, 2.5 written as 32-bit integers: two registers, high word 0.
    EXPECT_EQ(writes[2].values, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(writes[3].values, (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(writes[4].values, (std::vector<uint32_t>{0, 2}));

    EXPECT_EQ(RunLoop("9999.5", 1, 10000, 0, 1, RegisterType::Float, 7000),
              std::vector<std::string>{"0.000000"});
    EXPECT_EQ(sim_->Register(7000), std::bit_cast<uint32_t>(0.0f));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RegisterBench, LinkStateIsUpOnlyWhileAConnectionIsMade) {
    int inside = -1;
    EXPECT_TRUE(WithRegisterConnection(master, [&] {
        inside = links.LinkState;
        return true;
    }));
    EXPECT_EQ(inside, kLinkUp);
    EXPECT_EQ(links.LinkState, kLinkDown);
}

TEST_F(RegisterBench, AnUnusablePortStillRunsTheRequestAndEndsClosed) {
    ModbusMaster nowhere{settings, links, ui,
                         [](int) { return std::vector<std::string>{"/nonexistent/tty"}; }};
    int inside = -1;
    const RegisterOutcome read = ReadValue(nowhere, 100, RegisterType::Int16);
    EXPECT_FALSE(read.Success);
    EXPECT_FALSE(WithRegisterConnection(nowhere, [&] {
        inside = links.LinkState;
        return false;
    }));
    EXPECT_EQ(inside, kLinkDown);
    const std::string box = WithReason(connection_messages::kUnableToUseCommPort,
                                       PortFailureReason({"/nonexistent/tty", ENOENT}));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{box, box}));
    EXPECT_FALSE(nowhere.IsOpen());
}

TEST(RegisterTypeChoice, TheButtonsInTheirOrderOfPrecedence) {
    RegisterTypeRanges ranges;
    ranges.FloatLo = 7000;
    ranges.FloatHi = 7999;
    EXPECT_EQ(SelectRegisterType({true, true, true, true}, ranges, 7000), RegisterType::Float);
    EXPECT_EQ(SelectRegisterType({true, true, true, true}, ranges, 100), RegisterType::Int16);
    EXPECT_EQ(SelectRegisterType({true, true, true, false}, ranges, 100), RegisterType::Float);
    EXPECT_EQ(SelectRegisterType({true, true, false, false}, ranges, 7000), RegisterType::Int32);
    EXPECT_EQ(SelectRegisterType({true, false, false, false}, ranges, 7000), RegisterType::Int16);
    EXPECT_EQ(SelectRegisterType({}, ranges, 7000), RegisterType::Int16);
}

TEST(TimerPeriod, SecondsToMillisecondsWithinWhatATimerHolds) {
    EXPECT_EQ(TimerPeriodMs(10), 10000);
    EXPECT_EQ(TimerPeriodMs(130000), 130000000);
    EXPECT_EQ(TimerPeriodMs(0), kShortestTimerPeriodMs);
    // A negative period never comes round (the timer's period is unsigned),
    // rather than hammering the unit at the shortest one.
    EXPECT_EQ(TimerPeriodMs(-3), INT_MAX);
    EXPECT_EQ(TimerPeriodMs(-2147483647), INT_MAX);
    EXPECT_EQ(TimerPeriodMs(2147483647), 2147483647);
}

TEST(LoopData, StepsInDoubleWithASinglePrecisionIncrement) {
    EXPECT_EQ(NextLoopData("0", 0.1f, 10000, 0), "0.100000");
    EXPECT_EQ(NextLoopData("no number", 2, 10000, 0), std::nullopt);
    EXPECT_EQ(NextLoopData("3", -1, 10, 0), "2.000000");
    EXPECT_EQ(NextLoopData("10000", 0.5f, 10000, 0), "0.000000");
}

}  // namespace
}  // namespace fc
