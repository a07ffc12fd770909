#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/package_version.h"

// The habits the three programs share, tried as a user at a shell would:
// information options, choices in any case, help that fits 80 columns, and
// the bash completion of fcloader-cli.
namespace fc::test {
namespace {

struct Outcome {
    int exit_code = -1;
    std::string out;
};

// Runs a command line through the shell without a display of any kind, so a
// program that reached for one would fail here.
Outcome Shell(const std::string& command) {
    const std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + command;
    FILE* pipe = popen(line.c_str(), "r");
    Outcome outcome;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        outcome.out.append(chunk, got);
    const int status = pclose(pipe);
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

const std::string kVersion = kPackageVersion;

struct ProgramCase {
    const char* program;
    const char* arguments;
    int exit_code;
    std::string out_starts;
};

TEST(ProgramConventions, InformationOptionsAndChoicesInAnyCase) {
    const ProgramCase cases[] = {
        {FCLOADER_PATH, "--version", 0, "fcloader " + kVersion + "\n"},
        {FCLOADER_PATH, "-V", 0, "fcloader " + kVersion + "\n"},
        {FCLOADER_PATH, "-h", 0, "Usage: fcloader "},
        {FCLOADER_CLI_PATH, "-V", 0, "fcloader-cli (fcloader) " + kVersion + "\n"},
        {FCLOADER_CLI_PATH, "-h", 0, "Usage: fcloader-cli "},
        {FCLOADER_CLI_PATH, "--parity ODD --mode RTU --type Float --help", 0, "Usage:"},
        {FCLOADER_CLI_PATH, "--parity ODDS --help", 2, ""},
        {FCSIM_PATH, "--version", 0, "fcsim (fcloader) " + kVersion + "\n"},
        {FCSIM_PATH, "-h", 0, "Usage: fcsim "},
        {FCSIM_PATH, "--parity EVEN --mode Ascii --date-order YMD -h", 0, "Usage:"},
        {FCSIM_PATH, "--mode RTUX --help", 2, ""},
    };
    for (const ProgramCase& c : cases) {
        const Outcome outcome = Shell(std::string(c.program) + " " + c.arguments + " 2>/dev/null");
        EXPECT_EQ(outcome.exit_code, c.exit_code) << c.program << " " << c.arguments;
        EXPECT_EQ(outcome.out.substr(0, c.out_starts.size()), c.out_starts)
            << c.program << " " << c.arguments;
    }
}

TEST(ProgramConventions, HelpFitsEightyColumnsAndNamesBothInformationOptions) {
    for (const char* program : {FCLOADER_PATH, FCLOADER_CLI_PATH, FCSIM_PATH}) {
        const Outcome outcome = Shell(std::string(program) + " --help");
        EXPECT_NE(outcome.out.find("-h, --help"), std::string::npos) << program;
        EXPECT_NE(outcome.out.find("-V, --version"), std::string::npos) << program;
        std::istringstream lines(outcome.out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << program << ": " << line;
    }
    // A name as wide as its column once ran into its help.
    EXPECT_NE(Shell(std::string(FCSIM_PATH) + " --help").out.find("flash-unexpected  "),
              std::string::npos);
}

// What bash offers after the given words, as the user's Tab would ask.
std::string Completions(const std::string& words) {
    const std::string script = "source " FC_COMPLETION_PATH "; COMP_WORDS=(fcloader-cli " + words +
                               "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _fcloader_cli;"
                               " echo \"${COMPREPLY[*]}\"";
    return Shell("bash -c '" + script + "'").out;
}

TEST(ProgramConventions, BashCompletesCommandsOptionsChoicesAndDevices) {
    const struct {
        const char* words;
        const char* offered;
    } cases[] = {
        {"re", "read read-block report\n"},
        {"--port 3 write", "write write-block\n"},
        {"--par", "--parity\n"},
        {"--parity \"\"", "none odd even\n"},
        {"--mode A", "ascii\n"},
        {"--float-order = l", "lohi\n"},
        {"--device /dev/nul", "/dev/null\n"},
        {"--timeout \"\"", "\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Completions(c.words), c.offered) << c.words;
    // Every option the program's help lists is offered.
    std::string offered = Completions("--");
    std::replace(offered.begin(), offered.end(), '\n', ' ');
    std::istringstream help(Shell(std::string(FCLOADER_CLI_PATH) + " --help").out);
    const std::regex option_row("^  (-[a-zA-Z], )?(--[a-z0-9-]+)");
    int options = 0;
    for (std::string line; std::getline(help, line);) {
        std::smatch row;
        if (!std::regex_search(line, row, option_row))
            continue;
        ++options;
        EXPECT_NE(offered.find(row[2].str() + " "), std::string::npos) << row[2];
    }
    EXPECT_GT(options, 20);
}

}  // namespace
}  // namespace fc::test
