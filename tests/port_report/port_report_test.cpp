#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <sstream>
#include <string>
#include <vector>

#include "connection/port_report.h"

namespace fc {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

termios RawLine() {
    termios t{};
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    t.c_cflag |= CS7 | PARENB | CSTOPB;
    t.c_cflag &= ~CSIZE;
    t.c_cflag |= CS7;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x93;
    t.c_cc[VEOF] = 0x04;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return t;
}

TEST(PortReport, LayoutLineByLine) {
    PortReportValues values{};
    for (int i = 0; i < kPortReportRows; ++i)
        values[i] = i;
    values[0] = 3;
    values[1] = 115200;  // wider than the column: printed whole
    const auto lines = Lines(FormatPortReport(values));
    ASSERT_EQ(lines.size(), 3u + 1 + 2 + 25 + 3 + 5);
    EXPECT_EQ(lines[0], std::string(28, '-'));
    EXPECT_EQ(lines[1], "      SERIAL PORT REPORT");
    EXPECT_EQ(lines[2], std::string(28, '-'));
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], " CONTROL SETTINGS");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], " Port                       :     3  (Serial Port Number)");
    EXPECT_EQ(lines[7],
              " BaudRate                   : 115200  (Speed at which the communication device "
              "operates)");
    EXPECT_EQ(lines[31], "");
    EXPECT_EQ(lines[32], " TIME SETTINGS");
    EXPECT_EQ(lines[33], "");
    EXPECT_EQ(lines[34],
              " ReadIntervalTimeout        :    25  (mS) Maximum time to elapse between the "
              "arrival of two chars.");
    EXPECT_EQ(lines[38],
              " WriteTotalTimeoutConstant  :    29  (mS) Constant to calculate the total "
              "time-out for Tx operations");
}

TEST(PortReport, ValuesFromTheDriverState) {
    SerialDriverState state;
    state.line = RawLine();
    state.modemLines = TIOCM_DTR | TIOCM_RTS;
    const PortReportValues v = PortReportFromDriver(3, state);
    EXPECT_EQ(v[0], 3);
    EXPECT_EQ(v[1], 19200);
    EXPECT_EQ(v[2], 7);
    EXPECT_EQ(v[3], 2);   // even
    EXPECT_EQ(v[4], 2);   // two stop bits
    EXPECT_EQ(v[7], 1);   // raw: binary
    EXPECT_EQ(v[11], 1);  // DTR asserted
    EXPECT_EQ(v[17], 1);  // RTS asserted
    EXPECT_EQ(v[20], 17);
    EXPECT_EQ(v[21], -109);  // XOFF 0x93 as a signed byte
    EXPECT_EQ(v[23], 4);
    EXPECT_EQ(v[25], -1);  // VMIN 0 and VTIME 0: reads return at once
}

TEST(PortReport, PseudoTerminalWithoutModemLinesAndHardwareHandshake) {
    SerialDriverState state;
    state.line = RawLine();
    state.line.c_cflag |= CRTSCTS | PARODD;
    state.line.c_cc[VMIN] = 1;
    state.line.c_cc[VTIME] = 5;
    const PortReportValues v = PortReportFromDriver(1, state);
    EXPECT_EQ(v[3], 1);   // odd
    EXPECT_EQ(v[9], 1);   // CTS monitored
    EXPECT_EQ(v[11], 0);  // no modem lines: DTR not asserted
    EXPECT_EQ(v[17], 2);  // handshake
    EXPECT_EQ(v[25], 500);
    EXPECT_EQ(v[27], 0);
}

}  // namespace
}  // namespace fc
