#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "modbus/serial_port.h"

namespace fc {

class ModbusMaster;
class UserInterface;

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

// Opens COM n as it is (only the device the number names, no fallback),
// reads what its driver holds, and closes it again; nothing is configured.
// Empty when the port does not open.
std::optional<SerialDriverState> ReadPortState(ModbusMaster& master, int port);

// Creates the file (or replaces one of the user's own, see CreateOwnFile) and
// writes the text; false with the reason when the file cannot be created or
// written in full.
bool WritePortReport(const std::string& path, const std::string& text, std::string& reason);

// Starts a program with its arguments, without a shell and without waiting;
// true when it started.
using ProgramLauncher = std::function<bool(const std::vector<std::string>& argv)>;
bool StartDetached(const std::vector<std::string>& argv);

// The editor the user named in $VISUAL, else $EDITOR (its words split at
// blanks, so "gedit -s" works), with the path as one more argument; empty
// when neither names one.
std::vector<std::string> EditorCommandLine(const std::string& path);

// How a written report reaches the user's eyes. The desktop's handler for
// text files comes first; where there is none (no desktop session), the
// editor of $VISUAL/$EDITOR. The path always travels as one argument, so
// blanks in it and its length need no care.
struct ReportOpeners {
    std::function<bool(const std::string& path)> desktop;
    ProgramLauncher launch = StartDetached;
};
// True when the desktop or an editor took the report.
bool OpenInEditor(const std::string& path, const ReportOpeners& openers);
// Opens the report; when nothing can, tells the user where the file is, so
// that a report written on a machine without a desktop is not lost from view.
void OpenReportOrSayWhere(UserInterface& ui, const std::string& path, const ReportOpeners& openers);

// What the report's run needs from the window: the save dialog (empty when
// cancelled) and the opener.
struct PortReportHooks {
    std::function<std::optional<std::string>()> choosePath;
    std::function<void(const std::string& path)> open;
};

// "Generate Full Port Report": reads COM n's driver state, asks where to save,
// writes the report and opens it. A port that does not open gets a warning
// instead of a report (there would be nothing true to print), and a file
// that cannot be created gets a message; both end the run.
void GenerateFullPortReport(ModbusMaster& master, int port, const PortReportHooks& hooks);

}  // namespace fc
