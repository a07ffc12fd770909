#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_environment.h"

namespace {

// A program of the run's own, ended with the run.
class Child {
  public:
    void Start(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execvp(args[0], args.data());
            std::perror(args[0]);
            ::_exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

  private:
    pid_t pid_ = -1;
};

// An X server of the run's own, on a display number it picks itself, so the
// tests need no desktop and never meet another run's server. The screen is
// the 1600x1000 of a small laptop, which a window at twice the scale fills.
std::string StartXvfb(Child& server) {
    int ready[2];
    if (::pipe(ready) != 0)
        return {};
    server.Start({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1600x1000x24",
                  "-nolisten", "tcp"});
    ::close(ready[1]);
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    char c = 0;
    while (::poll(&wait, 1, 15000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(ready[0]);
    return number.empty() ? std::string() : ":" + number;
}

// A real window manager frames the windows, places them, and sends the
// close request of the title bar's button and of Alt+F4. It says it is up by
// running its start-up command.
bool StartWindowManager(Child& manager) {
    char ready[] = "/tmp/fc-openbox-XXXXXX";
    const int fd = ::mkstemp(ready);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(ready);
    manager.Start({"openbox", "--sm-disable", "--startup", std::string("touch ") + ready});
    for (int waited = 0; waited < 15000; waited += 20) {
        if (::access(ready, F_OK) == 0) {
            ::unlink(ready);
            return true;
        }
        ::usleep(20000);
    }
    return false;
}

}  // namespace

// On a real display Qt loads libdbus, which keeps a buffer for the life of the
// process; the leak checker of the sanitizer build is told so. Other builds
// never call this.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

// These tests talk to a real X server as a desktop would, so the window runs
// on the xcb platform here rather than offscreen.
int main(int argc, char** argv) {
    fc::test::IsolateTestEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    Child server;
    const std::string display = StartXvfb(server);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    Child manager;
    if (!StartWindowManager(manager)) {
        std::fprintf(stderr, "openbox did not start\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
