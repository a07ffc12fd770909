#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/temp_dir.h"

// fcloader-cli as a script runs it: a child process with no terminal, its
// own profile, and the simulated unit on the other end.
namespace fc::test {

struct CliRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliProgramTest : public ::testing::Test {
  protected:
    TempDir dir_;

    // `meanwhile` runs in the test while the child does, with its pid.
    // unprivileged: as nobody when the tests run as root, whom no file
    // permission stops.
    CliRun Run(const std::vector<std::string>& arguments,
               const std::function<void(pid_t)>& meanwhile = {}, bool unprivileged = false) {
        const pid_t pid = Start(arguments, unprivileged);
        if (meanwhile)
            meanwhile(pid);
        return Wait(pid);
    }

    // The program started and left running; Wait collects it.
    pid_t Start(const std::vector<std::string>& arguments, bool unprivileged = false) {
        const std::string out = dir_.File("out.txt");
        const std::string err = dir_.File("err.txt");
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
            const int null = open("/dev/null", O_RDONLY);
            dup2(null, STDIN_FILENO);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            const passwd* nobody = getpwnam("nobody");
            if (unprivileged && geteuid() == 0 &&
                (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                 setuid(nobody->pw_uid) != 0))
                _exit(126);
            std::vector<char*> argv{const_cast<char*>("fcloader-cli")};
            for (const auto& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(FCLOADER_CLI_PATH, argv.data());
            _exit(127);
        }
        return pid;
    }

    // True once the running program has printed `lines` lines: the readiness
    // to wait for instead of a guess at how long it takes on a loaded machine.
    bool AwaitOutputLines(size_t lines, std::chrono::seconds limit = std::chrono::seconds(20)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            const std::string out = ReadAll(dir_.File("out.txt"));
            if (static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) >= lines)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    CliRun Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(dir_.File("out.txt")),
                ReadAll(dir_.File("err.txt"))};
    }

    static std::vector<std::string> Tcp(const sim::Simulator& unit) {
        return {"--tcp",     "127.0.0.1:" + std::to_string(unit.ModbusTcpPort()),
                "--timeout", "2",
                "--retry",   "0"};
    }
};

inline std::vector<std::string> With(std::vector<std::string> args,
                                     const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

}  // namespace fc::test
