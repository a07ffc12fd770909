#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "platform/scripted_user_interface.h"
#include "sim/simulator.h"
#include "tests/peers/driver_bench.h"
#include "tests/support/temp_dir.h"
#include "watch/watch_log.h"
#include "watch/watch_poller.h"

// The watch's logic: list files, the grouping into block reads, the CSV log,
// and polls against the simulated unit.
namespace fc {
namespace {

PolledRow I16(int address) { return {address, RegisterType::Int16, false}; }
PolledRow I32(int address) { return {address, RegisterType::Int32, false}; }
PolledRow F(int address) { return {address, RegisterType::Float, false}; }
PolledRow On(int unit, PolledRow row) {
    row.UnitId = unit;
    return row;
}
PolledRow As(PolledRow row, RowForm form) {
    row.Form = std::move(form);
    return row;
}

std::vector<PolledRow> Consecutive(int first, int count, PolledRow (*type)(int)) {
    std::vector<PolledRow> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(type(first + i));
    return rows;
}

std::vector<size_t> Indexes(size_t first, size_t count) {
    std::vector<size_t> indexes(count);
    for (size_t i = 0; i < count; ++i)
        indexes[i] = first + i;
    return indexes;
}

TEST(WatchPlan, FewestBlockReads) {
    const struct {
        const char* what;
        std::vector<PolledRow> rows;
        std::vector<BlockRead> plan;
    } cases[] = {
        {"neighbours share a read", {I16(100), I16(101), I32(102)}, {{100, 4, {0, 1, 2}}}},
        {"a gap of 20 bytes is read through", {I16(100), I16(111)}, {{100, 12, {0, 1}}}},
        {"a longer gap is not", {I16(100), I16(112)}, {{100, 1, {0}}, {112, 1, {1}}}},
        {"unsorted, overlapping rows", {I16(105), I16(100), I32(100)}, {{100, 6, {1, 2, 0}}}},
        {"4-byte registers in the window", {F(7000), F(7001), I32(7003), I16(7004)},
         {{7000, 5, {0, 1, 2, 3}}}},
        {"a gap in the window counts 4 bytes a register", {F(7000), F(7007)},
         {{7000, 1, {0}}, {7007, 1, {1}}}},
        {"no read crosses the window's edges", {I32(6998), F(7000), F(7999), I16(8000)},
         {{6998, 2, {0}}, {7000, 1, {1}}, {7999, 1, {2}}, {8000, 1, {3}}}},
        {"255 bytes: 127 2-byte registers", Consecutive(0, 128, I16),
         {{0, 127, Indexes(0, 127)}, {127, 1, {127}}}},
        {"255 bytes: 63 4-byte registers", Consecutive(7000, 64, F),
         {{7000, 63, Indexes(0, 63)}, {7063, 1, {63}}}},
        {"a read per unit", {On(1, I16(100)), On(2, I16(101)), On(1, I16(102))},
         {{100, 3, {0, 2}, 1}, {101, 1, {1}, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PlanBlockReads(c.rows), c.plan);
    }
    // A refused register is never read through.
    EXPECT_EQ(PlanBlockReads({I16(100), I16(104)}, {}, {102}),
              (std::vector<BlockRead>{{100, 1, {0}}, {104, 1, {1}}}));
}

TEST(WatchList, ParsesRowsAndRefusesBadLinesByNumber) {
    const struct {
        const char* text;
        std::vector<WatchRow> rows;
        const char* error;
    } cases[] = {
        {"100\n", {{100, WatchType::Auto, ""}}, ""},
        {"  7000 FLOAT flow  rate  # m3/h\n\n# note\n0x10 int32\r\n",
         {{7000, WatchType::Float, "flow rate"}, {16, WatchType::Int32, ""}}, ""},
        {"101 pressure bar\n7002 float-lohi\n",
         {{101, WatchType::Auto, "pressure bar"}, {7002, WatchType::FloatLoHi, ""}}, ""},
        {"100\nabc int16\n", {}, "line 2: \"abc\" is not a register address (0 to 65535)"},
        {"# c\n\n65536 int16", {}, "line 3: \"65536\" is not a register address (0 to 65535)"},
        {"5 int16 a\x1b[2Jb", {}, "line 1: a control character in the line"},
        {"# nothing\n", {}, "no rows to watch"},
        {"104 int16 unit=2 show=bits bit0=LowFlow bit3=HighTemp alarm word\n",
         {{104, WatchType::Int16, "alarm word", 2,
           {WatchShow::Bits, 1, 0, "", {"LowFlow", "", "", "HighTemp"}}}}, ""},
        {"100 show=signed scale=0,1 offset=-5 eu=m3/h flow\n5 a=b\n",
         {{100, WatchType::Auto, "flow", 0, {WatchShow::Signed, 0.1, -5, "m3/h", {}}},
          {5, WatchType::Auto, "a=b"}}, ""},
        {"100 unit=0", {}, "line 1: \"unit=0\": a unit address is 1 to 247"},
        {"100 show=octal", {}, "line 1: \"show=octal\": show is signed, unsigned, hex or bits"},
        {"100 scale=0", {}, "line 1: \"scale=0\": not a number other than 0"},
        {"100 bit32=x", {}, "line 1: \"bit32=x\": a bit is named bit0 to bit31=NAME"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto rows = ParseWatchList(c.text, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(rows.value_or(std::vector<WatchRow>{}), c.rows);
        if (rows) {
            const auto again = ParseWatchList(WatchListText(*rows), error);
            EXPECT_EQ(again, rows);
        }
    }
}

TEST(WatchForm, ValuesReadInTheRowsForm) {
    const RowForm bits{WatchShow::Bits, 1, 0, "", {"LowFlow"}};
    const struct {
        PolledRow row;
        double raw;  // as the register page reads it
        const char* shown;
    } cases[] = {
        {I16(1), 65535, "65535"},
        {As(I16(1), {WatchShow::Signed}), 65535, "-1"},
        {As(I32(1), {WatchShow::Unsigned}), -1, "4294967295"},
        {As(I16(1), {WatchShow::Hex}), 42, "0x002A"},
        {As(I32(1), {WatchShow::Hex}), -1, "0xFFFFFFFF"},
        {As(I16(1), bits), 5, "0000 0000 0000 0101 = LowFlow, bit 2"},
        {As(I16(1), {WatchShow::Plain, 0.1, 0, "m3/h"}), 125, "12.5 m3/h"},
        {As(F(7000), {WatchShow::Plain, 2, 1, ""}), 1.5, "4.000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(ShownText(c.row, {true, ShownValue(c.row, c.raw)}), c.shown);
    }
    EXPECT_EQ(MeanText(I32(1), -1720516608.25), "-1720516608.25");

    // Typed values go back through the field rules into the register's value.
    std::string prompt;
    EXPECT_EQ(RowValueFromText(As(I16(1), {WatchShow::Plain, 0.1}), "12,5", prompt)->Whole, 125);
    EXPECT_FALSE(RowValueFromText(As(I16(1), {WatchShow::Signed}), "-40000", prompt));
    EXPECT_EQ(prompt, "The register holds -32768 to 32767.");
    EXPECT_FALSE(RowValueFromText(I16(1), "12abc", prompt));
    EXPECT_EQ(prompt, "Please enter a number.");
}

TEST(WatchLog, OneColumnPerRowAndEmptyCellsForFailures) {
    EXPECT_EQ(CsvHeader({"flow", "b,c", "say \"hi\"", "7000"}),
              R"(time,flow,"b,c","say ""hi""",7000)");
    test::TempDir dir;
    WatchLog log;
    std::string error;
    ASSERT_TRUE(log.Open(dir.File("log.csv"), {"a", "b", "c"}, error)) << error;
    const std::vector<PolledRow> rows{I16(1), I32(2), F(7000)};
    log.Append(std::chrono::system_clock::now(), rows, {{true, 7}, {false, 0}, {true, 1.5}});
    log.Append(std::chrono::system_clock::now(), rows, {{false, 0}, {true, -2}, {false, 0}});
    log.Close();
    std::ifstream in(dir.File("log.csv"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(std::regex_match(text.str(), std::regex(R"(time,a,b,c
\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},7,,1\.500000
\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},,-2,
)"))) << text.str();
}

// Polls over the simulated unit on its pseudo-terminal.
class WatchPollTest : public ::testing::Test, public test::DriverBench {
  protected:
    void SetUp() override {
        sim::SimulatorOptions options;
        options.pty = true;
        options.registers = {{100, 7}, {101, 8}, {103, 9}, {7000, std::bit_cast<uint32_t>(12.25f)},
                             {7001, 0x00012345}};
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        settings.Timeout = 2;
        devices = {sim_->PtyPath()};
    }

    std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(WatchPollTest, ARefusedRowFailsAloneAndTheRestKeepTogether) {
    std::string error;
    ASSERT_TRUE(sim_->AddFault("exception=2,every=1,addr=103", &error)) << error;
    WatchPoller poller({I16(100), I16(101), I16(103), F(7000), I16(7001)});
    ASSERT_EQ(poller.Plan().size(), 2u);
    int reads = 0;
    poller.SetProgress({[&](const BlockRead&) { ++reads; }, {}});

    for (int poll = 0; poll < 2; ++poll) {
        SCOPED_TRACE(poll);
        EXPECT_FALSE(poller.Poll(master));
        const std::vector<RowReading>& got = poller.Readings();
        EXPECT_TRUE(got[0].Ok && got[0].Value == 7);
        EXPECT_TRUE(got[1].Ok && got[1].Value == 8);
        EXPECT_FALSE(got[2].Ok);
        EXPECT_TRUE(got[3].Ok && got[3].Value == 12.25);
        // A 4-byte register read as a 16-bit value gives its low half.
        EXPECT_TRUE(got[4].Ok && got[4].Value == 0x2345);
    }
    EXPECT_EQ(poller.Transactions(), 3);
    EXPECT_EQ(reads, 4 + 3) << "each read told as it ended; a refused one as its halves";
    EXPECT_EQ(poller.Plan(), (std::vector<BlockRead>{
                                 {100, 2, {0, 1}}, {7000, 2, {3, 4}}, {103, 1, {2}}}));
}

}  // namespace
}  // namespace fc
