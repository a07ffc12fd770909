#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/messages.h"
#include "cli/terminal_user_interface.h"
#include "platform/application_title.h"
#include "platform/command_line.h"
#include "platform/profile.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = fc::ParseCommandLine(args, error);
    if (!options) {
        std::fprintf(stderr, "fcloader-cli: %s\nTry 'fcloader-cli --help'.\n", error.c_str());
        return fc::kExitUsage;
    }
    if (options->help) {
        std::printf("%s", fc::UsageText().c_str());
        return fc::kExitSuccess;
    }
    if (options->version) {
        std::printf("%s\n", fc::VersionLine("fcloader-cli").c_str());
        return fc::kExitSuccess;
    }
    // A unit that closes its end must give the sender an error, not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    // The command line shares the window's settings and messages: its title is
    // the window's, so the same profile and the same captions serve both.
    fc::SetApplicationTitle("fcloader");
    fc::Profile profile(fc::ApplicationTitle());
    fc::TerminalUserInterface ui(stdin, stderr, isatty(STDIN_FILENO) && isatty(STDERR_FILENO));
    fc::CliSession session(*options, ui, profile);
    const int status = session.Run();
    // Results that did not reach standard output (a full disk) are no success.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "fcloader-cli: %sstandard output: %s\n",
                     fc::cli_messages::kCannotWrite, std::strerror(errno != 0 ? errno : EIO));
        return status == fc::kExitSuccess ? fc::kExitUnitFailed : status;
    }
    return status;
}
