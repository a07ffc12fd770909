#pragma once

#include <array>
#include <string>

#include "modbus/serial_port.h"

namespace fc {

// The thirty rows of the serial port report, in the order they are printed.
inline constexpr int kPortReportRows = 30;
inline constexpr int kPortReportControlRows = 25;

struct PortReportRow {
    const char* name;
    const char* description;
};
extern const std::array<PortReportRow, kPortReportRows> kPortReportLayout;

using PortReportValues = std::array<int, kPortReportRows>;

// Which termios value stands behind each row (a Linux port has no device
// control block). Rows without a Linux counterpart print 0:
//   Port              the port number asked for
//   BaudRate          cfgetospeed, as bits per second
//   ByteSize          CSIZE (5..8)
//   Parity            PARENB/PARODD: 0 none, 1 odd, 2 even; with CMSPAR 3 mark, 4 space
//   StopBits          CSTOPB: 2 (two) or 0 (one)
//   fOutX / fInX      IXON / IXOFF
//   fBinary           1 when the line passes bytes unchanged (no ICANON, no OPOST,
//                     no CR/NL translation, no ISTRIP)
//   fParity           INPCK
//   fOutxCtsFlow      CRTSCTS
//   fOutxDsrFlow      no counterpart (0)
//   fDtrControl       1 while DTR is asserted (TIOCMGET), else 0
//   fDsrSensitivity   no counterpart (0)
//   fTXContinueOnXoff no counterpart (0)
//   fErrorChar        PARMRK (bytes with parity errors are marked)
//   fAbortOnError     no counterpart (0)
//   fNull             no counterpart (0)
//   fRtsControl       2 with CRTSCTS (handshake), else 1 while RTS is asserted, else 0
//   XonLim / XoffLim  no counterpart (0): the line discipline throttles on its own
//   XonChar, XoffChar VSTART, VSTOP
//   ErrorChar         no counterpart (0)
//   EofChar, EvtChar  VEOF, VEOL
//   ReadIntervalTimeout         VTIME x 100 ms while VMIN > 0; with VMIN and VTIME
//                               both 0 a read returns at once: all ones (-1)
//   ReadTotalTimeoutConstant    VTIME x 100 ms while VMIN is 0
//   the multipliers and WriteTotalTimeoutConstant: no counterpart (0)
PortReportValues PortReportFromDriver(int port_number, const SerialDriverState& state);

// The report text: header, the 25 control rows, the time header and the five
// time rows, each row " %-27s: %5d  %s".
std::string FormatPortReport(const PortReportValues& values);

}  // namespace fc
