#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/cli/cli_runner.h"
#include "tests/download/download_sim_support.h"
#include "tests/support/tshark.h"

// fcloader-cli --capture over every transport family: what tshark decodes
// from the file is what the unit took, request for request.
namespace fc::test {
namespace {

using Row = std::vector<std::string>;

enum class Family { ModbusTcp, RtuOverTcp, SerialRtu, SerialAscii };

struct FamilyCase {
    const char* name;
    Family family;
    friend void PrintTo(const FamilyCase& c, std::ostream* out) { *out << c.name; }
};

class CaptureProgramTest : public CliProgramTest, public ::testing::WithParamInterface<FamilyCase> {
  protected:
    void StartUnit() {
        const Family family = GetParam().family;
        const Route route = family == Family::ModbusTcp    ? Route::ModbusTcp
                            : family == Family::RtuOverTcp ? Route::RtuOverTcp
                                                           : Route::RtuPty;
        sim::SimulatorOptions options = UnitOn(route, 2);
        if (family == Family::SerialAscii)
            options.unit.line.mode = sim::SerialMode::Ascii;
        unit_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(unit_->Start(&error)) << error;
    }

    std::vector<std::string> Link() const {
        std::vector<std::string> args = {"--unit", "5", "--timeout", std::to_string(kTimeout)};
        switch (GetParam().family) {
            case Family::ModbusTcp:
                return With(args, {"--tcp", "127.0.0.1:" + std::to_string(UnitPort())});
            case Family::RtuOverTcp:
                return With(args,
                            {"--tcp", "127.0.0.1:" + std::to_string(UnitPort()), "--encapsulated"});
            case Family::SerialRtu:
                return With(args, {"--device", unit_->PtyPath(), "--port", "1", "--baud", "19200"});
            case Family::SerialAscii:
                return With(args, {"--device", unit_->PtyPath(), "--port", "1", "--baud", "19200",
                                   "--mode", "ascii"});
        }
        return args;
    }

    int UnitPort() const {
        return GetParam().family == Family::ModbusTcp ? unit_->ModbusTcpPort()
                                                      : unit_->RtuTcpPort();
    }

    // Unit, function, address and count of each request in the capture, as
    // tshark decodes them; for ASCII, read from the text each datagram carries.
    std::vector<Row> CapturedRequests(const std::string& capture) const {
        const std::string port = std::to_string(UnitPort());
        const std::vector<std::string> modbus = {"modbus.func_code", "modbus.reference_num",
                                                 "modbus.word_cnt"};
        switch (GetParam().family) {
            case Family::ModbusTcp:
                return Fields(capture, {"-o", "mbtcp.tcp.port:" + port}, "tcp.dstport==" + port,
                              "mbtcp.unit_id", modbus);
            case Family::RtuOverTcp:
                return Fields(capture, {"-d", "tcp.port==" + port + ",mbrtu"},
                              "tcp.dstport==" + port, "mbrtu.unit_id", modbus);
            case Family::SerialRtu:
                return Fields(capture, {"-d", "udp.port==5020,mbrtu"}, "ip.dst==127.0.0.2",
                              "mbrtu.unit_id", modbus);
            case Family::SerialAscii:
                break;
        }
        std::vector<Row> rows;
        for (const Row& row : TsharkFields(capture, {"-o", "data.show_as_text:TRUE"},
                                           "ip.dst==127.0.0.2 && udp.dstport==5021",
                                           {"data.text", "frame.time_epoch"})) {
            ExpectRecent(row[1]);
            // ":" unit function address count ...
            const auto hex = [&](size_t at, size_t digits) {
                return std::to_string(std::stoul(row[0].substr(at, digits), nullptr, 16));
            };
            rows.push_back({hex(1, 2), hex(3, 2), hex(5, 4), hex(9, 4)});
        }
        return rows;
    }

    std::vector<Row> Fields(const std::string& capture, const std::vector<std::string>& options,
                            const std::string& filter, const std::string& unit_field,
                            const std::vector<std::string>& modbus) const {
        std::vector<std::string> fields = {unit_field};
        fields.insert(fields.end(), modbus.begin(), modbus.end());
        fields.push_back("frame.time_epoch");
        std::vector<Row> rows = TsharkFields(capture, options, filter, fields);
        for (Row& row : rows) {
            ExpectRecent(row.back());
            row.pop_back();
        }
        return rows;
    }

    // Real time stamps: within this test's run.
    void ExpectRecent(const std::string& epoch) const {
        const double seconds = std::stod(epoch);
        EXPECT_GE(seconds, started_ - 1) << epoch;
        EXPECT_LE(seconds, Now() + 1) << epoch;
    }

    static double Now() {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }

    std::vector<Row> TakenRequests() const {
        std::vector<Row> rows;
        for (const sim::LoggedRequest& request : unit_->Requests()) {
            rows.push_back(
                {std::to_string(request.info.unit), std::to_string(request.info.function),
                 std::to_string(request.info.address), std::to_string(request.info.count)});
        }
        return rows;
    }

    // Runs the command with a capture and compares; returns the requests.
    std::vector<Row> RunCaptured(const std::vector<std::string>& command) {
        SCOPED_TRACE(command.front());
        unit_->ClearRequests();
        const std::string capture = dir_.File(command.front() + ".pcap");
        const CliRun run = Run(With(With(Link(), {"--capture", capture}), command));
        EXPECT_EQ(run.exit_code, 0) << run.err;
        const std::vector<Row> taken = TakenRequests();
        EXPECT_EQ(CapturedRequests(capture), taken);
        return taken;
    }

    double started_ = Now();
    std::unique_ptr<sim::Simulator> unit_;
};

bool Contains(const std::vector<Row>& rows, const Row& row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

TEST_P(CaptureProgramTest, TsharkDecodesWhatWasSent) {
    StartUnit();
    EXPECT_TRUE(Contains(RunCaptured({"read", "100", "--type", "int16"}), {"5", "3", "100", "1"}));
    EXPECT_TRUE(Contains(RunCaptured({"write", "7000", "2.5"}), {"5", "16", "7000", "1"}));
    EXPECT_TRUE(Contains(RunCaptured({"read-block", "300", "12"}), {"5", "3", "300", "12"}));
    EXPECT_TRUE(
        Contains(RunCaptured({"write-block", "300", "3", "1", "2", "3"}), {"5", "16", "300", "3"}));
    if (GetParam().family == Family::SerialAscii)
        return;  // the loader speaks RTU only
    const std::string image = WriteFile(dir_.File("image.img"), TestImage(2));
    const std::vector<Row> download = RunCaptured({"download", image, "--yes"});
    // Both sectors' data went to the sector buffer, under the loader's unit 1.
    EXPECT_EQ(std::count(download.begin(), download.end(), Row{"1", "16", "20000", "112"}), 2);
    EXPECT_TRUE(Contains(download, {"1", "16", "2650", "2"}));
}

INSTANTIATE_TEST_SUITE_P(Families, CaptureProgramTest,
                         ::testing::Values(FamilyCase{"ModbusTcp", Family::ModbusTcp},
                                           FamilyCase{"RtuOverTcp", Family::RtuOverTcp},
                                           FamilyCase{"SerialRtu", Family::SerialRtu},
                                           FamilyCase{"SerialAscii", Family::SerialAscii}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fc::test
