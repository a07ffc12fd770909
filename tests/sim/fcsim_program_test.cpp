#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/sim/sim_peer.h"
#include "tests/support/temp_dir.h"

// fcsim as scripts and benchmarks run it: a child process whose endpoints are
// read from its first lines, driven through its control socket.
namespace fc::sim::test {
namespace {

std::string FcsimPath() { return FCSIM_PATH; }

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
    std::string err_path;
};

Child Spawn(const std::vector<std::string>& arguments, const std::string& err_path) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    Child child;
    child.err_path = err_path;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        FILE* err = std::freopen(err_path.c_str(), "w", stderr);
        (void)err;
        close(out[0]);
        std::vector<char*> argv{const_cast<char*>("fcsim")};
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(FcsimPath().c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    child.out = fdopen(out[0], "r");
    return child;
}

int Wait(Child& child) {
    int status = 0;
    waitpid(child.pid, &status, 0);
    if (child.out != nullptr)
        std::fclose(child.out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> LinesUntilReady(Child& child) {
    std::vector<std::string> lines;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, child.out) != nullptr) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        lines.push_back(line);
        if (line == "ready")
            break;
    }
    return lines;
}

std::string Control(const std::string& path, const std::string& command) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return "connect failed";
    }
    const std::string line = command + "\n";
    send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string answer;
    char c;
    while (recv(fd, &c, 1, 0) == 1 && c != '\n')
        answer += c;
    close(fd);
    return answer;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FcsimProgram, BadOptionsExitWithTwoAndSayWhy) {
    fc::test::TempDir dir;
    std::ofstream(dir.File("bad.txt")) << "100 5\nnot a line\n";
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--pty", "--baud", "1234"},
        {"--pty", "--mode", "binary"},
        {"--tcp-port", "70000"},
        {"--pty", "--fault", "explode"},
        {"--pty", "--registers", dir.File("bad.txt")},
        {"--baud"},
        {},
        {"--pty", "--device", "/dev/null"},
    };
    for (const auto& arguments : cases) {
        Child child = Spawn(arguments, dir.File("err.txt"));
        EXPECT_EQ(Wait(child), 2) << arguments.size();
        const std::string err = ReadFile(dir.File("err.txt"));
        EXPECT_EQ(err.rfind("fcsim: ", 0), 0u) << err;
    }
    Child registers = Spawn({"--pty", "--registers", dir.File("bad.txt")}, dir.File("err.txt"));
    Wait(registers);
    EXPECT_NE(ReadFile(dir.File("err.txt")).find("bad.txt:2"), std::string::npos);
}

TEST(FcsimProgram, HelpNamesEveryOption) {
    fc::test::TempDir dir;
    Child child = Spawn({"--help"}, dir.File("err.txt"));
    std::string help;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, child.out) != nullptr)
        help += buffer;
    EXPECT_EQ(Wait(child), 0);
    for (const char* option :
         {"--pty", "--link", "--device", "--mode", "--unit", "--baud", "--parity", "--tcp-port",
          "--rtu-tcp-port", "--loader-version", "--busy-polls", "--latency-ms", "--pace",
          "--registers", "--flash-out", "--date-order", "--log", "--fault", "--control"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(FcsimProgram, PrintsEndpointsServesAndWritesTheImageOnTerm) {
    fc::test::TempDir dir;
    std::ofstream(dir.File("regs.txt")) << "# initial contents\n100 0x1234\n";
    const std::string control = dir.File("ctl");
    Child child = Spawn({"--pty", "--link", dir.File("ttyFC"), "--tcp-port", "0", "--rtu-tcp-port",
                         "0", "--registers", dir.File("regs.txt"), "--control", control,
                         "--flash-out", dir.File("flash.img"), "--log", dir.File("traffic.log")},
                        dir.File("err.txt"));
    const auto lines = LinesUntilReady(child);
    ASSERT_EQ(lines.size(), 4u) << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(lines[0].rfind("pty /dev/pts/", 0), 0u);
    EXPECT_EQ(lines[1].rfind("modbus-tcp 127.0.0.1:", 0), 0u);
    EXPECT_EQ(lines[2].rfind("rtu-tcp 127.0.0.1:", 0), 0u);
    EXPECT_EQ(lines[3], "ready");

    SerialPeer peer(dir.File("ttyFC"), 9600);
    ASSERT_TRUE(peer.ok());
    EXPECT_EQ(peer.Transact(ReadRequest(1, 100, 1), 7), WithCrc({1, 3, 2, 0x12, 0x34}));
    EXPECT_EQ(Control(control, "get 100"), "ok 4660");
    EXPECT_EQ(Control(control, "set 100 7"), "ok");
    EXPECT_EQ(peer.Transact(ReadRequest(1, 100, 1), 7), WithCrc({1, 3, 2, 0, 7}));
    EXPECT_EQ(Control(control, "fault no-reply"), "ok");
    EXPECT_TRUE(peer.Transact(ReadRequest(1, 100, 1), 7).empty());
    EXPECT_EQ(Control(control, "fault explode").rfind("error ", 0), 0u);
    EXPECT_EQ(Control(control, "requests"), "ok 3");
    EXPECT_EQ(Control(control, "status").rfind("ok mode=normal line=rtu,9600,none,unit=1", 0), 0u);
    EXPECT_EQ(Control(control, "flash-out"), "ok 0");
    EXPECT_EQ(Control(control, "launch").rfind("error ", 0), 0u);

    kill(child.pid, SIGTERM);
    EXPECT_EQ(Wait(child), 0);
    EXPECT_EQ(access(dir.File("flash.img").c_str(), F_OK), 0);
    EXPECT_NE(access(dir.File("ttyFC").c_str(), F_OK), 0);  // the link goes with the unit
    EXPECT_NE(ReadFile(dir.File("traffic.log")).find("pty rx 01 03 00 64 00 01 C5 D5"),
              std::string::npos);
}

}  // namespace
}  // namespace fc::sim::test
