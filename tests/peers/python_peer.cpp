#include "tests/peers/python_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace fc::test {

namespace {
constexpr const char* kPython = "/usr/bin/python3";

bool PymodbusImports() {
    static const bool imports =
        std::system("/usr/bin/python3 -c 'import pymodbus, serial' >/dev/null 2>&1") == 0;
    return imports;
}

// Reads one line from the child, giving it a few seconds to start.
std::string ReadLine(int fd) {
    std::string line;
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 10000) <= 0)
            return "";
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            return "";
        if (c == '\n')
            return line;
        line += c;
    }
}
// The server binds just after announcing its port.
bool WaitForListener(int port) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool listening =
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (listening)
            return true;
        ::usleep(10000);
    }
    return false;
}
}  // namespace

PymodbusPeer::PymodbusPeer(const std::string& mode) {
    const bool serial = mode == "rtu" || mode == "ascii";
    if (::access(kPython, X_OK) != 0 || !PymodbusImports()) {
        missing_ = "pymodbus is not installed (apt-get install python3-pymodbus)";
        return;
    }
    if (serial && ::access("/usr/bin/socat", X_OK) != 0) {
        missing_ = "socat is not installed (apt-get install socat)";
        return;
    }
    int out[2];
    if (::pipe(out) != 0) {
        missing_ = "no pipe for the pymodbus peer";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);  // socat goes with it when the group is ended
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const std::string folder = folder_.path();
        ::execl(kPython, kPython, FC_PYMODBUS_PEER, mode.c_str(), folder.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    const std::string line = pid_ > 0 ? ReadLine(out[0]) : "";
    ::close(out[0]);
    if (line.rfind("READY ", 0) != 0) {
        missing_ = "the pymodbus peer did not start";
        return;
    }
    ready_ = line.substr(6);
    if (!serial && !WaitForListener(Port()))
        missing_ = "the pymodbus peer does not listen";
}

PymodbusPeer::~PymodbusPeer() {
    if (pid_ <= 0)
        return;
    // The peer ends its socat itself; whatever is left of its group goes after.
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::kill(-pid_, SIGKILL);
}

}  // namespace fc::test
