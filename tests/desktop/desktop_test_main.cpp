#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/test_environment.h"

namespace {

// An X server of the run's own, on a display number it picks itself, so the
// tests need no desktop and never meet another run's server.
class Xvfb {
  public:
    // The display, e.g. ":3"; empty when the server did not come up.
    std::string Start() {
        int ready[2];
        if (::pipe(ready) != 0)
            return {};
        const std::string fd = std::to_string(ready[1]);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            std::perror("Xvfb");
            ::_exit(127);
        }
        ::close(ready[1]);
        std::string number;
        pollfd wait{ready[0], POLLIN, 0};
        char c = 0;
        while (::poll(&wait, 1, 15000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(ready[0]);
        return number.empty() ? std::string() : ":" + number;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

  private:
    pid_t pid_ = -1;
};

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
    Xvfb server;
    const std::string display = server.Start();
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
