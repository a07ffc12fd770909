// The serial port belongs to one program at a time, whichever came first:
// here the other program is a real second process, not a second descriptor.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "connection/connection.h"
#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

constexpr int kOpened = 10;
constexpr int kRefused = 11;

// Runs `body` in a child process and returns its exit code.
template <typename Body>
int InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ExclusivePort : public ::testing::Test, public test::SerialBench {};

TEST_F(ExclusivePort, ASecondProcessCannotOpenThePortTheToolHolds) {
    ASSERT_TRUE(Connect(master));
    const int code = InChild([&] {
        SerialPort other([&](int) { return std::vector<std::string>{pty.path}; });
        return other.Open(1, 9600, 8, 0, 0) ? kOpened : kRefused;
    });
    EXPECT_EQ(code, kRefused);
    // A program that does not lock is kept out by the exclusive mode, except
    // a privileged one (tests in CI run as root).
    if (::geteuid() != 0) {
        const int plain = InChild([&] {
            const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
            return fd >= 0 ? kOpened : kRefused;
        });
        EXPECT_EQ(plain, kRefused);
    }
    Disconnect(master);
    // Released: the other program gets it now.
    EXPECT_EQ(InChild([&] {
                  SerialPort other([&](int) { return std::vector<std::string>{pty.path}; });
                  return other.Open(1, 9600, 8, 0, 0) ? kOpened : kRefused;
              }),
              kOpened);
}

TEST_F(ExclusivePort, TheToolCannotOpenThePortASecondProcessHolds) {
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        SerialPort holder([&](int) { return std::vector<std::string>{pty.path}; });
        const char opened = holder.Open(1, 9600, 8, 0, 0) ? 1 : 0;
        (void)!::write(ready[1], &opened, 1);
        char any = 0;
        (void)!::read(release[0], &any, 1);
        ::_exit(0);
    }
    char opened = 0;
    ASSERT_EQ(::read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, 1);

    EXPECT_FALSE(Connect(master));
    EXPECT_FALSE(master.IsOpen());
    EXPECT_EQ(ui.MessageTexts(),
              std::vector<std::string>{WithReason(connection_messages::kUnableToUseCommPort,
                                                  PortFailureReason({pty.path, EBUSY}))});

    (void)!::write(release[1], "x", 1);
    ::waitpid(child, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
    ui.messages.clear();
    EXPECT_TRUE(Connect(master));
    EXPECT_TRUE(ui.messages.empty());
    Disconnect(master);
}

}  // namespace
}  // namespace fc
