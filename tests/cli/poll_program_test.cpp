#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tests/cli/cli_runner.h"

// read and read-block --poll: a line per poll, failures told and gone past.
namespace fc::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// "2026-03-01T14:05:09.123" in front of every line.
const std::regex kStamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} .*)");

class PollProgramTest : public CliProgramTest {
  protected:
    void SetUp() override {
        sim::SimulatorOptions options;
        options.tcp_port = 0;
        options.registers = {{100, 7}, {101, 8}, {102, 9}};
        unit_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(unit_->Start(&error)) << error;
    }
    std::vector<std::string> Poll(const std::vector<std::string>& command) const {
        return With(With(Tcp(*unit_), {"--timeout", "1"}), command);
    }
    std::unique_ptr<sim::Simulator> unit_;
};

TEST_F(PollProgramTest, OneStampedLinePerPollInTextAndJson) {
    const struct {
        std::vector<std::string> command;
        size_t polls;
        bool json;
        std::string line_end;
    } rows[] = {
        {{"read", "100", "--type", "int16", "--poll", "0.2", "--times", "3"}, 3, false, " 7"},
        {{"read-block", "100", "3", "--poll", ".1", "--times", "2"}, 2, false, " 7 8 9"},
        {{"read-block", "100", "3", "--poll", "0.1", "--times", "2", "--json"},
         2,
         true,
         R"(","outcome":"success","values":["7","8","9"],"messages":[]})"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command.back());
        const auto started = std::chrono::steady_clock::now();
        const CliRun run = Run(Poll(row.command));
        EXPECT_EQ(run.exit_code, 0) << run.err;
        const auto lines = Lines(run.out);
        EXPECT_EQ(lines.size(), row.polls) << run.out;
        for (const std::string& line : lines) {
            if (row.json)
                EXPECT_EQ(line.rfind(R"({"time":")", 0), 0u) << line;
            else
                EXPECT_TRUE(std::regex_match(line, kStamped)) << line;
            EXPECT_EQ(line.substr(line.size() - row.line_end.size()), row.line_end) << line;
        }
        // The polls keep their period: n polls take at least n - 1 periods.
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took.count(), 0.1 * (lines.size() - 1));
    }
}

TEST_F(PollProgramTest, AFailedPollIsToldAndPollingGoesOn) {
    ASSERT_TRUE(unit_->AddFault("no-reply,fn=3,addr=100", nullptr));
    const CliRun run = Run(
        Poll({"read", "100", "--type", "int16", "--retry", "0", "--poll", "0.1", "--times", "3"}));
    EXPECT_EQ(run.exit_code, 1) << "a failed poll fails the run";
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(R"(.* failed: Unable to connect to Device!)")))
        << lines[0];
    EXPECT_EQ(lines[1].substr(lines[1].size() - 2), " 7");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 2), " 7");
}

// Ctrl-C is how an endless poll ends: the polls done have told their lines,
// one that waits on a unit gone silent is cut short at once and says
// nothing, and the exit status says how the polls went.
TEST_F(PollProgramTest, CtrlCEndsPollingWithTheOutcomeOfThePolls) {
    const pid_t cli = Start(With(With(Tcp(*unit_), {"--timeout", "3"}),
                                 {"read", "100", "--type", "int16", "--poll", "0.05"}));
    EXPECT_TRUE(AwaitOutputLines(2));
    ASSERT_TRUE(unit_->AddFault("no-reply,every=1", nullptr));
    const auto unanswered = [&] {
        const auto seen = unit_->Requests();
        return std::any_of(seen.begin(), seen.end(), [](auto& r) { return !r.faults.empty(); });
    };
    while (!unanswered())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(cli, SIGINT);
    const auto signalled = std::chrono::steady_clock::now();
    const CliRun run = Wait(cli);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const auto lines = Lines(run.out);
    EXPECT_GE(lines.size(), 2u) << run.out;
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(.* 7)"))) << line;
}

TEST_F(PollProgramTest, BadPollUsage) {
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"read", "100", "--poll", "0"},
             {"read", "100", "--poll", "-1"},
             {"read", "100", "--poll", "1s"},
             {"read", "100", "--poll", "nan"},
             {"read", "100", "--poll", "1", "--times", "0"},
             {"read", "100", "--times", "2"},
             {"write", "100", "1", "--poll", "1"},
             {"watch", "list.txt"},
             {"watch", "list.txt", "--interval", "0.05"},
             {"watch", "list.txt", "--interval", "3601"},
             {"read", "100", "--interval", "1"},
             {"read", "100", "--csv", "x.csv"},
         }) {
        SCOPED_TRACE(command[0] + " " + command.back());
        EXPECT_EQ(Run(Poll(command)).exit_code, 2);
    }
}

// watch: a line per poll without a terminal, the CSV log beside it, and a
// list that does not parse refused with its line before anything is sent.
TEST_F(PollProgramTest, WatchPrintsALinePerPollAndLogsCsv) {
    const std::string list = dir_.File("list.txt");
    std::ofstream(list) << "100 int16 first\n102 int16 # unnamed\n";
    const std::string csv = dir_.File("log.csv");
    const CliRun run =
        Run(Poll({"watch", list, "--interval", "0.1", "--times", "2", "--csv", csv}));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\S+ 7 9)"))) << lines[1];
    const auto logged = Lines(ReadAll(csv));
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0], "time,first,102");

    const size_t sent = unit_->Requests().size();
    std::ofstream(list) << "100\n\n7000 floaty\nx100 int16\n";
    const CliRun bad = Run(Poll({"watch", list, "--interval", "1"}));
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.err.find("line 4: \"x100\" is not a register address"), std::string::npos)
        << bad.err;
    EXPECT_EQ(unit_->Requests().size(), sent);
}

}  // namespace
}  // namespace fc::test
