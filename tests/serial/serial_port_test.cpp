#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "modbus/comm_settings.h"
#include "modbus/serial_port.h"
#include "platform/profile.h"
#include "tests/peers/pty_peer.h"

namespace fc {
namespace {

using test::Bytes;
using test::PtyPair;

termios Reported() {
    termios t{};
    t.c_iflag = IXON | IXOFF | INPCK | ICRNL;
    t.c_cflag = CRTSCTS | CS8 | PARENB | PARODD;
    t.c_lflag = ICANON | ECHO;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    return t;
}

TEST(LineSettings, EvenParitySevenBitsOneStopWithoutFlowControl) {
    const auto line = BuildLineSettings(Reported(), 9600, 7, 2, 0);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->c_cflag & CSIZE, tcflag_t(CS7));
    EXPECT_TRUE(line->c_cflag & PARENB);
    EXPECT_FALSE(line->c_cflag & PARODD);
    EXPECT_FALSE(line->c_cflag & CSTOPB);
    EXPECT_FALSE(line->c_cflag & CRTSCTS);
    EXPECT_TRUE(line->c_cflag & CLOCAL);
    EXPECT_TRUE(line->c_cflag & CREAD);
    EXPECT_EQ(line->c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL), 0u);
    EXPECT_EQ(line->c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(line->c_cc[VMIN], 0);
    EXPECT_EQ(line->c_cc[VTIME], 0);
    // Untouched fields keep what the driver reported.
    EXPECT_EQ(line->c_cc[VSTART], 0x11);
    EXPECT_EQ(cfgetospeed(&*line), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&*line), speed_t(B9600));
}

TEST(LineSettings, ParityAndStopBitCodes) {
    const auto odd = BuildLineSettings(Reported(), 9600, 8, 1, 2);
    ASSERT_TRUE(odd);
    EXPECT_TRUE((odd->c_cflag & (PARENB | PARODD)) == (PARENB | PARODD));
    EXPECT_TRUE(odd->c_cflag & CSTOPB);
    const auto none = BuildLineSettings(Reported(), 9600, 8, 0, 0);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->c_cflag & PARENB);
    // One and a half: the two-stop-bit setting, which a UART sends as 1.5
    // with 5-bit characters.
    const auto five = BuildLineSettings(Reported(), 9600, 5, 0, 1);
    ASSERT_TRUE(five);
    EXPECT_EQ(five->c_cflag & CSIZE, tcflag_t(CS5));
    EXPECT_TRUE(five->c_cflag & CSTOPB);
}

TEST(LineSettings, EveryBaudOfTheTable) {
    const speed_t expected[] = {B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
    for (int index = 0; index < 8; ++index) {
        const auto line = BuildLineSettings(Reported(), BaudFromIndex(index), 8, 0, 0);
        ASSERT_TRUE(line) << index;
        EXPECT_EQ(cfgetospeed(&*line), expected[index]) << index;
    }
}

TEST(LineSettings, RefusesWhatTheLineCannotTake) {
    EXPECT_FALSE(BuildLineSettings(Reported(), 12345, 8, 0, 0));
    EXPECT_FALSE(BuildLineSettings(Reported(), 9600, 9, 0, 0));
    EXPECT_FALSE(BuildLineSettings(Reported(), 9600, 4, 0, 0));
    EXPECT_FALSE(BuildLineSettings(Reported(), 9600, 8, 3, 0));
    EXPECT_FALSE(BuildLineSettings(Reported(), 9600, 8, 0, 3));
}

TEST(PortNames, ProfileMapsPortsElseTtyS) {
    {
        Profile profile("fcloader-ports");
        profile.WriteString(port_keys::kSection, "COM7", "/dev/ttyUSB3");
        profile.Sync();
    }
    const PortResolver resolve = ProfilePortResolver("fcloader-ports");
    EXPECT_EQ(resolve(7), std::vector<std::string>{"/dev/ttyUSB3"});
    EXPECT_EQ(resolve(8), std::vector<std::string>{"/dev/ttyS7"});
    EXPECT_EQ(DefaultDevicePath(1), "/dev/ttyS0");
}

class SerialPortOnPty : public ::testing::Test {
  protected:
    PtyPair pty;
    std::vector<std::string> paths{pty.path};
    int resolved = 0;
    SerialPort port{[this](int) {
        ++resolved;
        return paths;
    }};
};

TEST_F(SerialPortOnPty, PortNumberBelowOneTouchesNoDevice) {
    EXPECT_FALSE(port.Open(0, 9600, 8, 0, 0));
    EXPECT_FALSE(port.Open(-3, 9600, 8, 0, 0));
    EXPECT_EQ(resolved, 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortOnPty, OpensAPtyDespiteMissingModemLinesAndTriesNamesInTurn) {
    paths = {"/nonexistent/fcloader-port", pty.path};
    ASSERT_TRUE(port.Open(3, 9600, 8, 0, 0));
    const auto state = port.ReadDriverState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->device, pty.path);
    EXPECT_EQ(cfgetospeed(&state->line), speed_t(B9600));
    EXPECT_FALSE(state->line.c_cflag & CRTSCTS);
    EXPECT_TRUE(port.SetTimeouts(20));
    EXPECT_EQ(port.ReadDriverState()->timeouts.ReadIntervalTimeout, 20);
    EXPECT_EQ(port.ReadDriverState()->timeouts.ReadTotalTimeoutConstant, 20);
}

TEST_F(SerialPortOnPty, APortHeldByAnotherProgramDoesNotOpen) {
    const int holder = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(port.Open(1, 9600, 8, 0, 0));
    EXPECT_FALSE(port.IsOpen());
    ::close(holder);
    EXPECT_TRUE(port.Open(1, 9600, 8, 0, 0));
}

TEST_F(SerialPortOnPty, ClosedPortDoesNothing) {
    uint8_t byte = 0;
    EXPECT_FALSE(port.SetTimeouts(20));
    EXPECT_FALSE(port.Write(&byte, 1));
    EXPECT_EQ(port.Read(1, &byte), 0);
    EXPECT_FALSE(port.Drain());
    EXPECT_EQ(port.BytesWaiting(), 0);
    port.Close();
    port.Close();
}

TEST_F(SerialPortOnPty, WriteReadAndASilentLine) {
    ASSERT_TRUE(port.Open(1, 9600, 8, 0, 0));
    ASSERT_TRUE(port.SetTimeouts(20));
    const uint8_t request[] = {1, 3, 0x0A, 0x59, 0, 1, 0x57, 0xC1};
    int written = -1;
    EXPECT_TRUE(port.Write(request, sizeof request, &written));
    EXPECT_EQ(written, 8);
    uint8_t seen[8] = {};
    ASSERT_EQ(::read(pty.master, seen, sizeof seen), 8);
    EXPECT_EQ(Bytes(seen, seen + 8), Bytes(request, request + 8));

    const uint8_t reply[] = {1, 3, 2, 0, 1, 0x79, 0x84};
    ASSERT_EQ(::write(pty.master, reply, sizeof reply), 7);
    uint8_t got[256] = {};
    EXPECT_EQ(port.Read(7, got), 7);
    EXPECT_EQ(Bytes(got, got + 7), Bytes(reply, reply + 7));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(256, got), 0);
    // A bound against a hang, not a timing figure.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(SerialPortOnPty, DrainTakesEverythingInSlicesAndEndsWithAZero) {
    ASSERT_TRUE(port.Open(1, 9600, 8, 0, 0));
    ASSERT_TRUE(port.SetTimeouts(20));
    EXPECT_FALSE(port.Drain());
    Bytes flood(600);
    for (size_t i = 0; i < flood.size(); ++i)
        flood[i] = static_cast<uint8_t>(i | 1);
    ASSERT_EQ(::write(pty.master, flood.data(), flood.size()), 600);
    while (port.BytesWaiting() < 600)
        port.WaitReadable(10);
    uint8_t buffer[256];
    EXPECT_TRUE(port.Drain(buffer, 255));
    EXPECT_EQ(port.BytesWaiting(), 0);
    // The last slice was 600 - 2 x 255 = 90 bytes, with the zero behind it.
    EXPECT_EQ(buffer[89], flood[599]);
    EXPECT_EQ(buffer[90], 0);
}

// A USB adapter unplugged and plugged back: its link path names a new device.
TEST_F(SerialPortOnPty, AVanishedDeviceIsGoneAndReopensAtItsPathWithTheSameLine) {
    const std::string link = ::testing::TempDir() + "fcloader-replug-" + std::to_string(::getpid());
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(pty.path.c_str(), link.c_str()), 0);
    paths = {link};
    ASSERT_TRUE(port.Open(4, 19200, 8, 0, 0));
    ASSERT_TRUE(port.SetTimeouts(20));
    EXPECT_FALSE(port.Gone());
    pty.CloseMaster();  // the adapter goes away

    const uint8_t byte = 0x55;
    EXPECT_FALSE(port.Write(&byte, 1));
    EXPECT_TRUE(port.Gone());
    uint8_t got[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(16, got), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    PtyPair replacement;  // and comes back behind the same link
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(replacement.path.c_str(), link.c_str()), 0);
    ASSERT_TRUE(port.Reconnect());
    EXPECT_FALSE(port.Gone());
    EXPECT_EQ(cfgetospeed(&port.ReadDriverState()->line), speed_t(B19200));
    EXPECT_TRUE(port.Write(&byte, 1));
    uint8_t seen = 0;
    EXPECT_EQ(::read(replacement.master, &seen, 1), 1);
    EXPECT_EQ(seen, 0x55);
    ::unlink(link.c_str());
}

// Runs `body` in a child process as a user who is not root (nobody, when
// the tests run as root, which bypasses exclusive modes and file modes) and
// returns its exit code.
template <typename Body>
int AsNormalUser(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The exclusive mode sticks to the terminal: cleared at close, the port
// opens again; left set, the second open of a pty whose other end stays
// open is refused to everyone but root (fcsim, socat, the README's demo).
TEST(SerialPortAsNormalUser, APortOpensAgainAfterItClosed) {
    const int code = AsNormalUser([] {
        PtyPair pty;
        SerialPort port([&](int) { return std::vector<std::string>{pty.path}; });
        for (int open = 1; open <= 3; ++open) {
            if (!port.Open(1, 9600, 8, 0, 0))
                return open;
            port.Close();
        }
        return 0;
    });
    EXPECT_EQ(code, 0) << "open number " << code << " was refused";
}

TEST(SerialPortAsNormalUser, OpenFailuresKeepTheDeviceAndTheSystemsReason) {
    const int code = AsNormalUser([] {
        PtyPair pty;
        char unreadable[] = "/tmp/fc-unreadable-XXXXXX";
        char plain[] = "/tmp/fc-plain-file-XXXXXX";
        const int file = ::mkstemp(unreadable);
        if (file < 0 || ::fchmod(file, 0) != 0 || ::mkstemp(plain) < 0)
            return 90;
        const int holder = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
        if (holder < 0 || ::flock(holder, LOCK_EX | LOCK_NB) != 0)
            return 91;
        const struct {
            std::string device;
            int error;
        } cases[] = {
            {"/nonexistent/fc-tty", ENOENT},
            {unreadable, EACCES},
            {pty.path, EBUSY},
            {plain, ENOTTY},
        };
        int failed = 0;
        for (const auto& c : cases) {
            ++failed;
            SerialPort port([&](int) { return std::vector<std::string>{c.device}; });
            if (port.Open(1, 9600, 8, 0, 0) || port.LastOpenFailure().device != c.device ||
                port.LastOpenFailure().error != c.error)
                return failed;
        }
        ::unlink(unreadable);
        ::unlink(plain);
        return 0;
    });
    EXPECT_EQ(code, 0) << "case " << code;
}

}  // namespace
}  // namespace fc
