#include <gtest/gtest.h>

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

struct FamilyCase {
    const char* name;
    Route route;
    bool ascii;
    friend void PrintTo(const FamilyCase& c, std::ostream* out) { *out << c.name; }
};

class CaptureProgramTest : public CliProgramTest, public ::testing::WithParamInterface<FamilyCase> {
  protected:
    void SetUp() override {
        sim::SimulatorOptions options = UnitOn(GetParam().route, 2);
        if (GetParam().ascii)
            options.unit.line.mode = sim::SerialMode::Ascii;
        unit_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(unit_->Start(&error)) << error;
        const std::string tcp = std::to_string(unit_->ModbusTcpPort());
        const std::string rtu_tcp = std::to_string(unit_->RtuTcpPort());
        link_ = {"--unit", "5", "--timeout", std::to_string(kTimeout)};
        switch (GetParam().route) {
            case Route::ModbusTcp:
                link_ = With(link_, {"--tcp", "127.0.0.1:" + tcp});
                tshark_ = {{"-o", "mbtcp.tcp.port:" + tcp}, "tcp.dstport==" + tcp, "mbtcp.unit_id"};
                break;
            case Route::RtuOverTcp:
                link_ = With(link_, {"--tcp", "127.0.0.1:" + rtu_tcp, "--encapsulated"});
                tshark_ = {{"-d", "tcp.port==" + rtu_tcp + ",mbrtu"},
                           "tcp.dstport==" + rtu_tcp,
                           "mbrtu.unit_id"};
                break;
            case Route::RtuPty:
                link_ = With(link_, {"--device", unit_->PtyPath(), "--port", "1", "--baud", "19200",
                                     "--mode", GetParam().ascii ? "ascii" : "rtu"});
                tshark_ = {{"-d", "udp.port==5020,mbrtu"}, "ip.dst==127.0.0.2", "mbrtu.unit_id"};
                break;
        }
    }

    // Unit, function, address and count of each request, as tshark decodes
    // them; ASCII frames (no dissector) from the text each datagram carries.
    std::vector<Row> CapturedRequests(const std::string& capture) const {
        if (!GetParam().ascii) {
            return TsharkFields(
                capture, tshark_.options, tshark_.filter,
                {tshark_.unit, "modbus.func_code", "modbus.reference_num", "modbus.word_cnt"});
        }
        std::vector<Row> rows;
        for (const Row& row : TsharkFields(capture, {"-o", "data.show_as_text:TRUE"},
                                           "udp.dstport==5021", {"data.text"})) {
            const auto field = [&](size_t at, size_t digits) {
                return std::to_string(std::stoul(row[0].substr(at, digits), nullptr, 16));
            };
            rows.push_back({field(1, 2), field(3, 2), field(5, 4), field(9, 4)});
        }
        return rows;
    }

    // Runs the command with a capture and compares; returns the requests.
    std::vector<Row> RunCaptured(const std::vector<std::string>& command) {
        SCOPED_TRACE(command.front());
        unit_->ClearRequests();
        const std::string capture = dir_.File(command.front() + ".pcap");
        const CliRun run = Run(With(With(link_, {"--capture", capture}), command));
        EXPECT_EQ(run.exit_code, 0) << run.err;
        std::vector<Row> taken;
        for (const sim::LoggedRequest& request : unit_->Requests()) {
            const sim::RequestInfo& info = request.info;
            taken.push_back({std::to_string(info.unit), std::to_string(info.function),
                             std::to_string(info.address), std::to_string(info.count)});
        }
        EXPECT_EQ(CapturedRequests(capture), taken);
        return taken;
    }

    std::unique_ptr<sim::Simulator> unit_;
    std::vector<std::string> link_;
    struct {
        std::vector<std::string> options;
        std::string filter;
        std::string unit;
    } tshark_;
};

bool Contains(const std::vector<Row>& rows, const Row& row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

TEST_P(CaptureProgramTest, TsharkDecodesWhatWasSent) {
    EXPECT_TRUE(Contains(RunCaptured({"read", "100", "--type", "int16"}), {"5", "3", "100", "1"}));
    EXPECT_TRUE(Contains(RunCaptured({"write", "7000", "2.5"}), {"5", "16", "7000", "1"}));
    EXPECT_TRUE(Contains(RunCaptured({"read-block", "300", "12"}), {"5", "3", "300", "12"}));
    EXPECT_TRUE(
        Contains(RunCaptured({"write-block", "300", "3", "1", "2", "3"}), {"5", "16", "300", "3"}));
    if (GetParam().ascii)
        return;  // the loader speaks RTU only
    const std::string image = WriteFile(dir_.File("image.img"), TestImage(2));
    const std::vector<Row> download = RunCaptured({"download", image, "--yes"});
    // Both sectors' data went to the sector buffer, under the loader's unit 1.
    EXPECT_EQ(std::count(download.begin(), download.end(), Row{"1", "16", "20000", "112"}), 2);
    EXPECT_TRUE(Contains(download, {"1", "16", "2650", "2"}));
}

INSTANTIATE_TEST_SUITE_P(Families, CaptureProgramTest,
                         ::testing::Values(FamilyCase{"ModbusTcp", Route::ModbusTcp, false},
                                           FamilyCase{"RtuOverTcp", Route::RtuOverTcp, false},
                                           FamilyCase{"SerialRtu", Route::RtuPty, false},
                                           FamilyCase{"SerialAscii", Route::RtuPty, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fc::test
