#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "download/messages.h"
#include "download/unit_contact.h"
#include "platform/messages.h"
#include "sim/simulator.h"
#include "tests/cli/cli_runner.h"
#include "tests/download/download_sim_support.h"
#include "tests/support/small_disk.h"
#include "tests/support/tshark.h"

namespace fc::test {
namespace {

TEST_F(CliProgramTest, TestAndClockOverModbusTcpAndSerial) {
    sim::SimulatorOptions options;
    options.tcp_port = 0;
    options.pty = true;
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;

    CliRun run = Run(With(Tcp(unit), {"test"}));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "The unit answered.\n");

    run = Run(With(Tcp(unit), {"clock", "--json"}));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("\"outcome\":\"success\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"time\":\""), std::string::npos) << run.out;

    run = Run({"--device", unit.PtyPath(), "--port", "1", "--timeout", "2", "--trace", "test"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find("-> 01 03 0A 59 00 01 57 C1  [unit 1, read holding registers at 2649"),
              std::string::npos)
        << run.err;
}

TEST_F(CliProgramTest, ValuesAndBlocksRoundTripThroughTheUnit) {
    sim::SimulatorOptions options;
    options.tcp_port = 0;
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    const auto tcp = Tcp(unit);

    EXPECT_EQ(Run(With(tcp, {"write", "7000", "1.5"})).exit_code, 0);
    EXPECT_EQ(Run(With(tcp, {"read", "7000"})).out, "1.500000\n");  // Auto: float
    EXPECT_EQ(Run(With(tcp, {"write", "100", "0xFFFF"})).exit_code, 0);
    EXPECT_EQ(Run(With(tcp, {"read", "100"})).out, "65535\n");
    EXPECT_EQ(Run(With(tcp, {"write", "5000", "-7", "--type", "int32"})).exit_code, 0);
    EXPECT_EQ(Run(With(tcp, {"read", "5000", "--type", "int32"})).out, "-7\n");

    // Word order: the float's low word goes first, as two 2-byte registers.
    CliRun run = Run(With(tcp, {"write", "300", "2.5", "--type", "float", "--float-size", "2",
                                "--float-order", "lohi", "--json"}));
    EXPECT_NE(run.out.find("01 10 01 2C 00 02 04 00 00 40 20"), std::string::npos) << run.out;
    EXPECT_EQ(Run(With(tcp, {"read", "300", "--type", "float", "--float-size", "2", "--float-order",
                             "lohi"}))
                  .out,
              "2.500000\n");

    EXPECT_EQ(Run(With(tcp, {"write-block", "100", "3", "1", "2", "0xFFFF"})).exit_code, 0);
    EXPECT_EQ(Run(With(tcp, {"read-block", "100", "3"})).out,
              "100 0x0001 1\n101 0x0002 2\n102 0xFFFF 65535\n");
    EXPECT_EQ(Run(With(tcp, {"write-block", "7000", "1", "0x3F800000"})).exit_code, 0);
    EXPECT_EQ(Run(With(tcp, {"read-block", "7000", "1"})).out, "7000 0x3F800000 1065353216\n");

    EXPECT_EQ(Run(With(tcp, {"write", "100", "abc"})).exit_code, 2);
    EXPECT_EQ(Run(With(tcp, {"write-block", "100", "2", "1"})).exit_code, 2);
    EXPECT_EQ(Run(With(tcp, {"write-block", "100", "1", "65536"})).exit_code, 2);
    EXPECT_EQ(Run(With(tcp, {"read-block", "100", "0"})).exit_code, 2);
}

// Each value goes out exactly as given or is refused with nothing sent: 0x10
// wrote 0, 1e3 wrote 1, 70000 wrote 4464, nan and inf wrote 0 and 1e40 as a
// float wrote infinity, each with exit status 0.
TEST_F(CliProgramTest, AValueIsWrittenExactlyAsGivenOrRefused) {
    sim::SimulatorOptions options;
    options.tcp_port = 0;
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    // type, value, the registers it leaves (none: refused)
    const std::tuple<const char*, const char*, std::vector<uint32_t>> cases[] = {
        {"int16", "0x10", {0x10}},
        {"int16", "65535", {0xFFFF}},
        {"int32", "-2147483648", {0x8000, 0}},
        {"int32", "4294967295", {0xFFFF, 0xFFFF}},
        {"float", "1e3", {0x447A0000}},
        {"int16", "1e3", {}},
        {"int16", "70000", {}},
        {"int16", "nan", {}},
        {"int32", "4294967296", {}},
        {"float", "inf", {}},
        {"float", "1e40", {}},
        {"float", "0x1p3", {}},
        {"float", " 1", {}}};
    for (const auto& [type, value, registers] : cases) {
        unit.ClearRequests();
        const int address = std::string(type) == "float" ? 7000 : 5000;
        const CliRun run =
            Run(With(Tcp(unit), {"--type", type, "write", std::to_string(address), value}));
        EXPECT_EQ(run.exit_code, registers.empty() ? 2 : 0) << type << " " << value;
        EXPECT_EQ(unit.Requests().empty(), registers.empty()) << value;
        for (size_t i = 0; i < registers.size(); ++i)
            EXPECT_EQ(unit.Register(address + i), registers[i]) << value;
    }
}

// A profile folder left root-owned by a sudo run: --save printed "success"
// and kept nothing. Now it names the file and the reason and fails the run.
TEST_F(CliProgramTest, ASaveThatCannotReachTheProfileFailsTheRun) {
    sim::SimulatorOptions options;
    options.tcp_port = 0;
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    const std::string file = dir_.File("Quenta/fcloader.conf");
    ASSERT_EQ(mkdir(dir_.File("Quenta").c_str(), 0555) | chmod(dir_.path().c_str(), 0755), 0);

    const CliRun run = Run(With(Tcp(unit), {"--save", "--json", "test"}), {}, true);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("Unable to save the settings to " + file + ":\nPermission denied"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("\"outcome\":\"failed\""), std::string::npos) << run.out;
    EXPECT_NE(access(file.c_str(), F_OK), 0);
}

TEST_F(CliProgramTest, DetectFindsTheUnitAndReportDescribesThePort) {
    sim::SimulatorOptions options;
    options.pty = true;
    options.unit.line = {sim::SerialMode::Rtu, 9600, sim::Parity::None, 7};
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;

    CliRun run = Run({"--device", unit.PtyPath(), "--port", "4", "detect", "--save", "--trace"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    // Each step says what it tries, and the probes show in the trace.
    const size_t first = run.err.find("Trying RTU 19200 ... (1 of 15)\n");
    const size_t second = run.err.find("Trying RTU 9600 ... (2 of 15)\n");
    EXPECT_LT(first, second) << run.err;
    EXPECT_NE(run.err.find("00 08 00 00 00 00 E1 DA", first), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("07 88 01", second), std::string::npos) << run.err;
    EXPECT_EQ(run.out,
              "Flow Computer Settings\n- RTU Mode\n- Port: Comm 4\n- Unit ID: 7\n- Baud: "
              "9600\n- Parity: none\n");
    // --save kept what was found, and the device for the port number.
    const std::string profile = ReadAll(dir_.File("Quenta/fcloader.conf"));
    EXPECT_NE(profile.find("UnitId=7"), std::string::npos) << profile;
    EXPECT_NE(profile.find("COM4=" + unit.PtyPath()), std::string::npos) << profile;

    const std::string report = dir_.File("port report.txt");
    run = Run({"--device", unit.PtyPath(), "report", "4", report});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(ReadAll(report).find(" Port                       :     4  (Serial Port Number)"),
              std::string::npos);
    run = Run({"--device", dir_.File("gone"), "report", "4", dir_.File("other.txt")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("Unable to open the port to read its settings."), std::string::npos);
}

TEST_F(CliProgramTest, ExitCodesForASilentUnitAndBadUsage) {
    CliRun run = Run({"--tcp", "127.0.0.1:1", "--timeout", "1", "--retry", "0", "test"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("Unable to stablish connection."), std::string::npos) << run.err;

    run = Run({"--device", dir_.File("no-such-tty"), "--port", "1", "test"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("Unable to use Comm Port!"), std::string::npos) << run.err;

    EXPECT_EQ(Run({"read"}).exit_code, 2);
    EXPECT_EQ(Run({"--baud", "1234", "test"}).exit_code, 2);
    EXPECT_EQ(Run({"--help"}).exit_code, 0);
}

TEST_F(CliProgramTest, DownloadNeedsYesWithoutATerminalAndFlashesTheImage) {
    sim::SimulatorOptions options = UnitOn(Route::ModbusTcp, 2);
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    const std::vector<uint8_t> image = TestImage(2);
    const std::string path = WriteFile(dir_.File("image.img"), image);
    const std::vector<std::string> tcp = {
        "--tcp",     "127.0.0.1:" + std::to_string(unit.ModbusTcpPort()),
        "--unit",    "5",
        "--timeout", std::to_string(kTimeout)};

    CliRun run = Run(With(tcp, {"download", path}));
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_TRUE(unit.Requests().empty()) << "nothing may be sent unconfirmed";

    // Judged before the unit is touched; a FIFO without a writer does not hang.
    const std::string fifo = dir_.File("fifo.img");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& bad :
         {dir_.File("missing.img"), fifo, WriteFile(dir_.File("empty.img"), {})}) {
        run = Run(With(tcp, {"download", bad, "--yes"}));
        EXPECT_EQ(run.exit_code, 2) << bad;
        EXPECT_TRUE(unit.Requests().empty()) << bad;
    }
    EXPECT_NE(run.err.find(download_messages::kImageEmpty), std::string::npos) << run.err;

    run = Run(With(tcp, {"download", path, "--yes", "--json"}));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find("Download completed successfully."), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"outcome\":\"success\""), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(download_messages::kAlreadyInDownloadMode), std::string::npos);
    EXPECT_EQ(unit.FlashImage(), image);
}

// A download stopped by a signal at sector 3, then the same command again.
struct InterruptCase {
    const char* name;
    Route route;
    int loader_version;
    int signal;
};

class InterruptedDownload : public CliProgramTest,
                            public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptedDownload, TheSameCommandRecoversTheUnit) {
    const InterruptCase& c = GetParam();
    sim::SimulatorOptions options = UnitOn(c.route, c.loader_version);
    std::string error;
    // The third sector's number is answered late, so the signal comes mid-run.
    const auto late = sim::ParseFault("delay=1500,fn=16,addr=2651,once=3", &error);
    ASSERT_TRUE(late) << error;
    options.faults.push_back(*late);
    sim::Simulator unit(options);
    ASSERT_TRUE(unit.Start(&error)) << error;
    const std::vector<uint8_t> image = TestImage(6);
    std::vector<std::string> settings = {"--unit",  "5", "--timeout", std::to_string(kTimeout),
                                         "--retry", "0"};
    if (c.route == Route::RtuPty)
        settings = With(settings, {"--device", unit.PtyPath(), "--port", "1", "--baud", "19200"});
    else
        settings = With(settings, {"--tcp", "127.0.0.1:" + std::to_string(unit.ModbusTcpPort())});
    const auto command =
        With(settings, {"--save", "--yes", "download", WriteFile(dir_.File("i.img"), image)});

    std::chrono::steady_clock::time_point signalled;
    CliRun run = Run(command, [&](pid_t pid) {
        const auto sector_numbers_sent = [&] {
            int sent = 0;
            for (const auto& request : unit.Requests())
                sent += request.info.function == 16 && request.info.address <= 2651 &&
                        request.info.address + request.info.count > 2651;
            return sent;
        };
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (sector_numbers_sent() < 3 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, c.signal);
        signalled = std::chrono::steady_clock::now();
    });
    // Within the wait under way, not after the reply it no longer waits for.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(kTimeout));
    EXPECT_EQ(run.exit_code, 128 + c.signal) << run.err;
    EXPECT_NE(run.err.find(std::string(download_messages::kDownloadInterrupted) + " " +
                           download_messages::kLeftInDownloadMode),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(unit.InDownloadMode());

    CliRun test = Run(With(settings, {"test"}));
    EXPECT_EQ(test.exit_code, 1);
    EXPECT_NE(test.err.find(LoaderFoundText(c.loader_version)), std::string::npos)
        << test.err;

    run = Run(command);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find(download_messages::kAlreadyInDownloadMode), std::string::npos);
    EXPECT_EQ(unit.FlashImage(), image);
    EXPECT_FALSE(unit.InDownloadMode());
    // --save kept the settings of the command line, not the loader's.
    const std::string profile = ReadAll(dir_.File("Quenta/fcloader.conf"));
    EXPECT_NE(profile.find("UnitId=5"), std::string::npos) << profile;
}

INSTANTIATE_TEST_SUITE_P(Routes, InterruptedDownload,
                         ::testing::Values(InterruptCase{"PtyLoader1", Route::RtuPty, 1, SIGINT},
                                           InterruptCase{"PtyLoader2", Route::RtuPty, 2, SIGTERM},
                                           InterruptCase{"TcpLoader1", Route::ModbusTcp, 1, SIGHUP},
                                           InterruptCase{"TcpLoader2", Route::ModbusTcp, 2,
                                                         SIGINT}),
                         [](const auto& info) { return std::string(info.param.name); });

// Four units at once, two on serial lines and two behind TCP, the last made
// to fail a flash write: the others are not held up, and the run says which.
TEST_F(CliProgramTest, FleetFlashesEveryGoodUnitAndReportsTheFailingOne) {
    std::vector<std::unique_ptr<sim::Simulator>> units;
    std::string error;
    for (const Route route : {Route::RtuPty, Route::RtuPty, Route::ModbusTcp, Route::ModbusTcp}) {
        units.push_back(std::make_unique<sim::Simulator>(UnitOn(route, 2)));
        ASSERT_TRUE(units.back()->Start(&error)) << error;
    }
    ASSERT_TRUE(units[3]->AddFault("flash-failed,once=2", &error)) << error;
    const std::vector<uint8_t> image = TestImage(3);
    const std::string path = WriteFile(dir_.File("image.img"), image);
    std::ofstream(dir_.File("targets"))
        << "name=pump-7 --device " << units[0]->PtyPath() << " --baud 19200\n"
        << "name=pump-8 --device " << units[1]->PtyPath() << " --baud 19200\n# behind the gateway\n"
        << "name=meter-3 --tcp 127.0.0.1:" << units[2]->ModbusTcpPort()
        << "\nname=meter-4 --tcp 127.0.0.1:" << units[3]->ModbusTcpPort() << "\n";

    const CliRun run = Run({"--unit", "5", "--timeout", std::to_string(kTimeout), "download", path,
                            "--yes", "--targets", dir_.File("targets"), "--log-dir",
                            dir_.File("logs"), "--capture", "fleet.pcap"});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    for (int good = 0; good < 3; ++good)
        EXPECT_EQ(units[good]->FlashImage(), image) << good;
    EXPECT_NE(run.out.find("pump-8   success "), std::string::npos) << run.out;
    const auto failed = run.out.find("meter-4  failed ");
    ASSERT_NE(failed, std::string::npos) << run.out;
    const std::string failed_line = run.out.substr(failed, run.out.find('\n', failed) - failed);
    EXPECT_NE(failed_line.find("Flash write failed."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 of 4 units flashed in "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("meter-4  failed: Flash write failed. (left in download mode)\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(ReadAll(dir_.File("logs/pump-7.log")).find("-> 05 03 0A 59 00 01"),
              std::string::npos);
    // Each unit's capture holds its own traffic: meter-3's first request is
    // the probe of register 2649 on its own port.
    const std::string port = std::to_string(units[2]->ModbusTcpPort());
    const auto requests =
        test::TsharkFields(dir_.File("logs/meter-3.pcap"), {"-o", "mbtcp.tcp.port:" + port},
                           "tcp.dstport==" + port, {"modbus.func_code"});
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), std::vector<std::string>{"3"});
}

// One job at a time: the second unit starts when the first has ended, and
// --json gives a line per change and the summary object last.
TEST_F(CliProgramTest, FleetJobsBoundTheUnitsAtWorkAndJsonTellsEachChange) {
    sim::Simulator failing(UnitOn(Route::RtuOverTcp, 2));
    sim::Simulator good(UnitOn(Route::ModbusTcp, 2));
    std::string error;
    ASSERT_TRUE(failing.Start(&error) && good.Start(&error)) << error;
    ASSERT_TRUE(failing.AddFault("flash-invalid", &error)) << error;
    const std::vector<uint8_t> image = TestImage(2);
    const std::string path = WriteFile(dir_.File("image.img"), image);
    std::ofstream(dir_.File("targets"))
        << "name=first --tcp 127.0.0.1:" << failing.RtuTcpPort() << " --encapsulated\n"
        << "name=second --tcp 127.0.0.1:" << good.ModbusTcpPort() << "\n";

    const CliRun run = Run({"--unit", "5", "--timeout", std::to_string(kTimeout), "download", path,
                            "--yes", "--json", "--jobs", "1", "--targets", dir_.File("targets")});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(good.FlashImage(), image);
    const auto first_failed = run.out.find(
        "{\"unit\":\"first\",\"state\":\"failed\",\"reason\":\"Invalid sector. (left in download "
        "mode)\"}\n");
    const auto second_starts = run.out.find("{\"unit\":\"second\",\"state\":\"connecting\"}\n");
    ASSERT_NE(first_failed, std::string::npos) << run.out;
    EXPECT_LT(first_failed, second_starts) << run.out;
    const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
    EXPECT_EQ(last.rfind("{\"command\":\"download\",\"image\":", 0), 0u) << last;
    EXPECT_NE(last.find("\"outcome\":\"failed\""), std::string::npos) << last;
    EXPECT_NE(last.find("\"unit\":\"second\",\"line\":2,\"outcome\":\"success\""),
              std::string::npos)
        << last;
}

// Two units behind one gateway are flashed one after the other and proven
// to run the image; a rerun finds both at its value and touches nothing.
TEST_F(CliProgramTest, UnitsOnOneLineRunInTurnAndARerunChangesNothing) {
    sim::SimulatorOptions options = UnitOn(Route::ModbusTcp, 2);
    options.more_units = {6};
    options.unit.after_download = {{100, 22}};
    sim::Simulator gateway(options);
    std::string error;
    ASSERT_TRUE(gateway.Start(&error)) << error;
    const std::vector<uint8_t> image = TestImage(2);
    const std::string path = WriteFile(dir_.File("image.img"), image);
    const std::string link = "tcp 127.0.0.1:" + std::to_string(gateway.ModbusTcpPort());
    std::ofstream(dir_.File("targets")) << "name=a --" << link << " --unit 5\nname=b --" << link
                                        << " --unit 6\n";
    const std::vector<std::string> command = {
        "--timeout", std::to_string(kTimeout), "download", path, "--yes", "--json", "--targets",
        dir_.File("targets"), "--unless", "100=22", "--expect", "100=22"};
    CliRun run = Run(command);
    EXPECT_EQ(run.exit_code, 0) << run.err << run.out;
    EXPECT_EQ(gateway.FlashImageOf(5), image);
    EXPECT_EQ(gateway.FlashImageOf(6), image);
    const std::string on_line = "\"link\":\"" + link + "\"}";
    EXPECT_LT(run.out.find(on_line), run.out.rfind(on_line)) << "both units on one line";
    gateway.ClearRequests();
    run = Run(command);
    EXPECT_EQ(run.exit_code, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("\"outcome\":\"skipped\",\"seconds\""), std::string::npos) << run.out;
    for (const auto& request : gateway.Requests())
        EXPECT_EQ(request.info.function, 3) << "a rerun only reads";
}

// SIGINT stops the units at work between two requests and starts no other;
// the same command then recovers the units left in their loaders.
TEST_F(CliProgramTest, FleetStoppedBySigintSaysWhereEachUnitIsAndRecoversThemAfter) {
    std::vector<std::unique_ptr<sim::Simulator>> units;
    std::string error;
    for (const Route route : {Route::RtuPty, Route::ModbusTcp, Route::ModbusTcp}) {
        units.push_back(std::make_unique<sim::Simulator>(UnitOn(route, 2)));
        ASSERT_TRUE(units.back()->Start(&error)) << error;
        // The second sector's write is answered late, so the signal comes mid-run.
        ASSERT_TRUE(units.back()->AddFault("delay=1500,fn=16,addr=2650,once=3", &error)) << error;
    }
    const std::vector<uint8_t> image = TestImage(4);
    std::ofstream(dir_.File("targets"))
        << "name=a --device " << units[0]->PtyPath() << " --baud 19200\n"
        << "name=b --tcp 127.0.0.1:" << units[1]->ModbusTcpPort() << "\n"
        << "name=c --tcp 127.0.0.1:" << units[2]->ModbusTcpPort() << "\n";
    const std::vector<std::string> command = {
        "--unit", "5",         "--timeout",         std::to_string(kTimeout),
        "--jobs", "2",         "download",          WriteFile(dir_.File("i.img"), image),
        "--yes",  "--targets", dir_.File("targets")};

    std::chrono::steady_clock::time_point signalled;
    CliRun run = Run(command, [&](pid_t pid) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!(units[0]->InDownloadMode() && units[1]->InDownloadMode()) &&
               std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGINT);
    });
    EXPECT_EQ(run.exit_code, 128 + SIGINT) << run.err;
    EXPECT_NE(run.out.find("\nb     stopped "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(download_messages::kLeftInDownloadMode), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nc     not started "), std::string::npos) << run.out;
    EXPECT_TRUE(units[2]->Requests().empty());

    run = Run(command);
    EXPECT_EQ(run.exit_code, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("(recovered from download mode)"), std::string::npos) << run.out;
    for (const auto& unit : units)
        EXPECT_EQ(unit->FlashImage(), image);
}

TEST_F(CliProgramTest, FleetRefusesADuplicateOrABadLineBeforeAnythingIsSent) {
    sim::Simulator unit(UnitOn(Route::RtuPty, 2));
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    const std::string link = dir_.File("by-id-link");
    ASSERT_EQ(symlink(unit.PtyPath().c_str(), link.c_str()), 0);
    const std::string path = WriteFile(dir_.File("image.img"), TestImage(1));
    const std::vector<std::string> download = {"download", path, "--yes"};
    std::vector<std::string> swapped = download;
    swapped.insert(swapped.end(), {"--sha256", std::string(64, '0')});
    const struct {
        std::string targets;
        std::string error;
        std::vector<std::string> command;
    } cases[] = {
        {"--device " + unit.PtyPath() + "\n--device " + link + "\n",
         "line 2: reaches the same unit as line 1", download},
        {"--device " + unit.PtyPath() + "\n--baud 1234\n", "line 2: bad value for --baud",
         download},
        {"--device " + unit.PtyPath() + " --unit 5\n--device " + link + " --unit 1\n",
         "line 1: shares its line (serial " + unit.PtyPath() + ") with line 2's unit 1", download},
        {"--device " + unit.PtyPath() + "\n", download_messages::kImageDigestDiffers, swapped},
        {"--device " + unit.PtyPath() + " --save\n", "line 1: --save applies to the whole run",
         {"test"}},
        {"--device " + unit.PtyPath() + " read 1\n", "line 1: unexpected word \"read\"",
         {"read", "100"}},
        {"--tcp ../ESCAPED/x\n", "line 1: the unit's name cannot name its log",
         {"download", path, "--yes", "--log-dir", dir_.File("logs")}},
    };
    for (const auto& c : cases) {
        std::ofstream(dir_.File("targets")) << c.targets;
        std::vector<std::string> args = c.command;
        args.insert(args.end(), {"--targets", dir_.File("targets")});
        const CliRun run = Run(args);
        EXPECT_EQ(run.exit_code, 2) << c.targets;
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    }
    EXPECT_TRUE(unit.Requests().empty()) << "nothing may be sent before the targets are checked";
    EXPECT_NE(access(dir_.File("ESCAPED").c_str(), F_OK), 0);
}

TEST_F(CliProgramTest, OutputFilesInTheWayAreRefusedWithTheReason) {
    namespace pm = platform_messages;
    const std::string fifo = dir_.File("fifo"), link = dir_.File("link.pcap");
    const std::string victim = WriteFile(dir_.File("victim.img"), TestImage(1));
    ASSERT_TRUE(mkfifo(fifo.c_str(), 0600) == 0 && symlink(victim.c_str(), link.c_str()) == 0);
    std::ofstream(dir_.File("list")) << "100 int16\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--capture", fifo, "test"}, fifo + ": " + pm::kIsFifo},
        {{"--capture", link, "test"}, link + ": " + pm::kIsLink},
        {{"report", "1", fifo}, fifo + ": " + pm::kIsFifo},
        {{"watch", dir_.File("list"), "--interval", "1", "--csv", "/dev/full"}, pm::kIsDevice},
        {{"download", victim, "--yes", "--targets", dir_.path()}, "Is a directory"},
    };
    for (const auto& [args, reason] : cases) {
        const CliRun run = Run(With({"--tcp", "127.0.0.1:1", "--timeout", "1"}, args));
        EXPECT_EQ(run.exit_code, 2) << reason;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadAll(victim).size(), 1024u);
}

TEST_F(CliProgramTest, AFullDiskFailsTheRunThatWritesToIt) {
    const std::string disk = dir_.File("disk"), capture = disk + "/x.pcap";
    if (mkdir(disk.c_str(), 0700) != 0 || !MountSmallDisk(disk))
        GTEST_SKIP() << "the runner may not mount a small disk";
    sim::Simulator unit(UnitOn(Route::ModbusTcp, 2));
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    const CliRun run = Run(With(Tcp(unit), {"--unit", "5", "--capture", capture, "read-block",
                                            "300", "100", "--poll", "0.001", "--times", "9999"}));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(capture + ": " + std::strerror(ENOSPC)), std::string::npos);
    unit.Stop();
    umount(disk.c_str());
}

// A signal ends a run at once while its reply is owed; the next run on the
// line waits that reply out instead of taking it for its own answer.
TEST_F(CliProgramTest, ARunStoppedWhileItsReplyIsOwedHandsItToNoOtherRun) {
    for (const auto& [mode, word] : {std::pair{sim::SerialMode::Rtu, "rtu"},
                                     std::pair{sim::SerialMode::Ascii, "ascii"}}) {
        sim::SimulatorOptions options = UnitOn(Route::RtuPty, 2);
        options.unit.line.mode = mode;
        sim::Simulator unit(options);
        std::string error;
        ASSERT_TRUE(unit.Start(&error) && unit.AddFault("delay=800,every=1", &error)) << error;
        unit.SetRegister(100, 111);
        unit.SetRegister(200, 222);
        const auto read = [&](const char* address) {
            return std::vector<std::string>{"--device", unit.PtyPath(), "--mode", word, "--baud",
                                            "19200", "--unit", "5", "--timeout", "2",
                                            "--type", "int16", "read", address};
        };
        const CliRun stopped = Run(read("100"), [](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            kill(pid, SIGTERM);
        });
        EXPECT_EQ(stopped.exit_code, 128 + SIGTERM) << word;
        const CliRun next = Run(read("200"));
        EXPECT_EQ(next.out, "222\n") << word << next.err;
    }
}

// test and read ask every unit at once, as a download flashes them, and say
// what each answered; a unit that does not answer fails alone.
TEST_F(CliProgramTest, FleetTestAndReadAskEveryUnit) {
    sim::Simulator serial(UnitOn(Route::RtuPty, 2));
    sim::Simulator tcp(UnitOn(Route::ModbusTcp, 2));
    std::string error;
    ASSERT_TRUE(serial.Start(&error) && tcp.Start(&error)) << error;
    serial.SetRegister(100, 21);
    tcp.SetRegister(100, 22);
    std::ofstream(dir_.File("targets"))
        << "name=s --device " << serial.PtyPath() << " --baud 19200\n"
        << "name=t --tcp 127.0.0.1:" << tcp.ModbusTcpPort() << "\nname=gone --tcp 127.0.0.1:1\n";
    const std::vector<std::string> fleet = {"--unit", "5", "--timeout", "1", "--retry", "0",
                                            "--targets", dir_.File("targets"), "--jobs", "2"};
    const auto run = [&](std::vector<std::string> command) {
        command.insert(command.end(), fleet.begin(), fleet.end());
        return Run(command);
    };
    const CliRun test = run({"test"});
    EXPECT_EQ(test.exit_code, 1);
    EXPECT_NE(test.out.find("t     success "), std::string::npos) << test.out;
    EXPECT_NE(test.out.find("2 of 3 units answered in "), std::string::npos) << test.out;
    const CliRun read = run({"read", "100", "--type", "int16", "--json"});
    EXPECT_NE(read.out.find(R"("unit":"s","line":1,"outcome":"success")"), std::string::npos);
    EXPECT_NE(read.out.find(R"("value":"21")"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find(R"("value":"22")"), std::string::npos) << read.out;
    const CliRun block = run({"read-block", "100", "2"});
    EXPECT_NE(block.out.find("s     success      0"), std::string::npos) << block.out;
    EXPECT_NE(block.out.find("21 0\n"), std::string::npos) << block.out;
}

}  // namespace
}  // namespace fc::test
