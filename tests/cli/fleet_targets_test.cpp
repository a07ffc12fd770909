#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "cli/fleet_targets.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

std::optional<std::vector<FleetTarget>> Read(const std::string& text, std::string& error) {
    return ReadTargets(text, error);
}

TEST(FleetTargets, LinesGiveNamesAndTheirOwnSettings) {
    std::string error;
    const auto targets = Read(
        "# bench 2\n"
        "\n"
        "name=pump-7 --device /dev/ttyUSB0 --baud 19200 --unit 3\n"
        "   --tcp 10.0.0.5:502\n"
        "--tcp 10.0.0.6 --encapsulated --unit 2\n"
        "name=odd --device \"/dev/serial/by-id/usb-FTDI one\" --parity=even\n",
        error);
    ASSERT_TRUE(targets) << error;
    ASSERT_EQ(targets->size(), 4u);
    EXPECT_EQ((*targets)[0].line, 3);
    EXPECT_EQ((*targets)[0].name, "pump-7");
    EXPECT_EQ((*targets)[0].overrides.unit, 3);
    EXPECT_EQ((*targets)[1].name, "10.0.0.5:502");
    EXPECT_TRUE((*targets)[2].overrides.encapsulated);
    EXPECT_EQ((*targets)[3].overrides.device, "/dev/serial/by-id/usb-FTDI one");
    EXPECT_EQ((*targets)[3].overrides.parity, 2);
}

// Words as a shell splits them; a byte-order mark before line 1 is no part
// of it; a name made from a device shows its bytes as --trace does.
TEST(FleetTargets, WordsAreSplitAsAShellWouldSplitThem) {
    const struct {
        const char* text;
        const char* device;
        const char* name;
    } cases[] = {
        {"\xEF\xBB\xBF# bench 2\n--device /dev/a\n", "/dev/a", "a"},
        {"--device /dev/usb\\ one # the left one\n", "/dev/usb one", "usb one"},
        {"--device '/dev/it'\\''s'\n", "/dev/it's", "it's"},
        {"--device \"/dev/a \\\"b\\\" \\\\c\\d\"\n", "/dev/a \"b\" \\c\\d", "a \"b\" \\\\c\\\\d"},
        {"--device /dev/tty\x1b[2J\n", "/dev/tty\x1b[2J", "tty\\x1B[2J"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto targets = Read(c.text, error);
        ASSERT_TRUE(targets && targets->size() == 1) << c.text << error;
        EXPECT_EQ(targets->front().overrides.device, c.device) << c.text;
        EXPECT_EQ(targets->front().name, c.name) << c.text;
    }
    std::string error;
    EXPECT_EQ(Read("--tcp x\x1b[2J\n", error)->front().name, "x\\x1B[2J:502");
}

TEST(FleetTargets, ABadLineIsRefusedWithItsNumber) {
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"--tcp a\n--baud 1234\n", "line 2: bad value for --baud: \"1234\""},
        {"--tcp a\n\n# c\n--yes --tcp b\n",
         "line 4: --yes applies to the whole run, not to one unit"},
        {"--device /dev/ttyS0 extra\n", "line 1: unexpected word \"extra\""},
        {"--tcp a --nope\n", "line 1: unknown option --nope"},
        {"--device \"/dev/tty\n", "line 1: unclosed quote"},
        {"name=a/b --tcp a\n", "line 1: a name takes letters, digits and - _ . : @"},
        {"--unit\n", "line 1: --unit needs a value"},
        {"--tcp a \x1b]0;x\a\n", "line 1: unexpected word \"\\x1B]0;x\\x07\""},
        {std::string("--tcp a\n--device /dev/null\0junk\n", 32),
         "line 2: a NUL byte, which no option word holds"},
        {"--tcp a\n" + std::string(kMaxTargetsBytes, '#'), "line 2: the targets file is over 1 MB"},
        {"--tcp a --save\n", "line 1: --save applies to the whole run, not to one unit"},
        {"--tcp a --capture c.pcap\n", "line 1: --capture applies to the whole run, not to one unit"},
        {"--tcp a test --json\n", "line 1: unexpected word \"test\""},
        {"--tcp a\\\n", "line 1: a backslash ends the line"},
        {"# only a comment\n\n", "the targets name no unit"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(Read(c.text, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(FleetTargets, OneUnitReachedTwiceIsRefused) {
    test::TempDir dir;
    const std::string tty = dir.File("tty");
    const std::string link = dir.File("by-id-link");
    std::ofstream(tty).put('\n');
    ASSERT_EQ(symlink(tty.c_str(), link.c_str()), 0);
    const auto device_for_port = [&](int port) { return dir.File("com" + std::to_string(port)); };
    const std::string fd_path = "/proc/self/fd/" + std::to_string(::open(tty.c_str(), O_RDONLY));

    const struct {
        std::string text;
        std::string error;  // empty: accepted
    } cases[] = {
        {"--device " + tty + "\n--device " + link + "\n",
         "line 2: reaches the same unit as line 1"},
        {"--tcp 127.0.0.1:1502\n--tcp localhost:1502\n", "line 2: reaches the same unit as line 1"},
        {"--tcp 127.0.0.1:1502\n--tcp 127.0.0.1:1503\n", ""},
        {"--port 2\n--port 3\n", ""},
        {"--tcp 127.0.0.1:1502 --unit 5\n--tcp localhost:1502 --unit 6\n", ""},
        {"--device " + tty + " --unit 5\n--device " + fd_path + " --unit 5\n",
         "line 2: reaches the same unit as line 1: the same line and unit address"},
        {"--port 2\n--device " + dir.File("com2") + "\n",
         "line 2: reaches the same unit as line 1"},
        {"name=a --tcp h:1\nname=a --tcp h:2\n", "line 2: the name a is also line 1's"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto targets = Read(c.text, error);
        ASSERT_TRUE(targets) << error;
        const auto units = SettleUnits(*targets, CommSettings{}, {}, device_for_port, error);
        EXPECT_EQ(units.has_value(), c.error.empty()) << c.text;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
    }
}

TEST(FleetTargets, TheLineOverridesTheRunAndItsPortItsDevice) {
    std::string error;
    const auto targets = Read("--tcp h:7 --unit 9\n--port 4\n--baud 38400\n", error);
    ASSERT_TRUE(targets) << error;
    CommSettings run;
    run.UnitId = 3;
    SettingsOverrides run_overrides;
    run_overrides.device = "/dev/run-device";
    ApplyOverrides(run_overrides, run);
    const auto units = SettleUnits(
        *targets, run, run_overrides, [](int port) { return "/dev/com" + std::to_string(port); },
        error);
    ASSERT_TRUE(units) << error;
    EXPECT_TRUE((*units)[0].settings.UseIP);
    EXPECT_EQ((*units)[0].settings.UnitId, 9);
    EXPECT_EQ((*units)[1].device, "/dev/com4");
    EXPECT_EQ((*units)[1].settings.UnitId, 3);
    EXPECT_EQ((*units)[2].device, "/dev/run-device");
    EXPECT_EQ((*units)[2].settings.BaudRate, 5);
}

TEST(FleetTargets, FleetOptionsBelongToADownloadWithTargets) {
    const struct {
        std::vector<std::string> args;
        const char* error;  // empty: accepted
    } cases[] = {
        {{"download", "fw.img", "--targets", "-", "--jobs", "2", "--log-dir", "logs"}, ""},
        {{"download", "fw.img", "--jobs", "2"}, "--jobs and --log-dir need --targets"},
        {{"download", "fw.img", "--targets", "t", "--capture", "c.pcap"},
         "--capture with --targets needs --log-dir, which keeps one capture per unit"},
        {{"write", "1", "2", "--targets", "t"},
         "--targets and --jobs belong to download, test, read and read-block"},
        {{"read", "1", "--targets", "t", "--jobs", "2"}, ""},
        {{"test", "--targets", "t", "--log-dir", "l"}, "--log-dir belongs to download"},
        {{"read", "1", "--targets", "t", "--poll", "1"},
         "--poll asks one unit, not the units of --targets"},
        {{"test", "--sha256", std::string(64, 'a')}, "--sha256 works with download only"},
        {{"download", "f", "--sha256", "abc"}, "bad value for --sha256: \"abc\""},
        {{"download", "fw.img", "--targets", "t", "--save"},
         "--save saves one unit's settings, not a fleet's"},
        {{"download", "fw.img", "--targets", "t", "--jobs", "0"}, "bad value for --jobs: \"0\""},
        {{"read", "1", "--capture", "-", "--json"},
         "--capture - and --json both write to standard output; name a capture file"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(ParseCommandLine(c.args, error).has_value(), *c.error == '\0') << c.error;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace fc
