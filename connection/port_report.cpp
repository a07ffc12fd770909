#include "connection/port_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "connection/connection.h"
#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "modbus/modbus_master.h"
#include "platform/regular_file.h"
#include "platform/user_interface.h"

namespace fc {

const std::array<PortReportRow, kPortReportRows> kPortReportLayout = {{
    {"Port", "(Serial Port Number)"},
    {"BaudRate", "(Speed at which the communication device operates)"},
    {"ByteSize", "(Number of bits in Tx and Rx bytes)"},
    {"Parity", "(Parity scheme to be used)"},
    {"StopBits", "(Number of stop bits to be used)"},
    {"fOutX", "(If XON/XOFF flow control is used during Tx)"},
    {"fInX", "(If XON/XOFF flow control is used during Rx)"},
    {"fBinary", "(If binary mode is enabled)"},
    {"fParity", "(If parity checking is enabled)"},
    {"fOutxCtsFlow", "(If the CTS signal is monitored)"},
    {"fOutxDsrFlow", "(If the DSR signal is monitored)"},
    {"fDtrControl", "(DTR (data-terminal-ready) flow control)"},
    {"fDsrSensitivity", "(If the comm. driver is sensitive to DSR signal)"},
    {"fTXContinueOnXoff", "(If Tx stops when the input buffer is full)"},
    {"fErrorChar", "(If bytes received with parity errors are replaced with error char)"},
    {"fAbortOnError", "(If read and write operations are ended if an error occurs)"},
    {"fNull", "(If null bytes are discarded)"},
    {"fRtsControl", "(RTS (request-to-send) flow control)"},
    {"XonLim", "(Min. # of bytes accepted in input buffer before XON char is sent.)"},
    {"XoffLim", "(Max. # of bytes accepted in input buffer before XOFF char is sent)"},
    {"XonChar", "(Value of the XON character)"},
    {"XoffChar", "(Value of the XOFF char for both Tx and Rx)"},
    {"ErrorChar", "(Value of the char used for Rx bytes with parity errors)"},
    {"EofChar", "(Value of the char used to signal end of data)"},
    {"EvtChar", "(Value of the char used to signal an event)"},
    {"ReadIntervalTimeout", "(mS) Maximum time to elapse between the arrival of two chars."},
    {"ReadTotalTimeoutMultiplier", "(mS) Multiplier to calculate total time-out for Rx"},
    {"ReadTotalTimeoutConstant",
     "(mS) Number added to (ReadMultiplier) X (# of bytes) for Rx time-out"},
    {"WriteTotalTimeoutMultiplier",
     "(mS) Multiplier to calculate total time-out for Tx operations"},
    {"WriteTotalTimeoutConstant",
     "(mS) Constant to calculate the total time-out for Tx operations"},
}};

namespace {

int BaudOf(speed_t speed) {
    struct Entry {
        speed_t code;
        int baud;
    };
    static constexpr Entry kSpeeds[] = {
        {B0, 0},          {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},      {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400},  {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
        {B921600, 921600}};
    for (const Entry& entry : kSpeeds) {
        if (entry.code == speed)
            return entry.baud;
    }
    return 0;
}

int ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

int ParityOf(tcflag_t cflag) {
    if (!(cflag & PARENB))
        return 0;
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? 3 : 4;
    return (cflag & PARODD) ? 1 : 2;
}

bool PassesBytesUnchanged(const termios& t) {
    return !(t.c_lflag & ICANON) && !(t.c_oflag & OPOST) &&
           !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
}

// A character code printed as a signed byte, so 0x93 shows as -109.
int SignedChar(cc_t c) {
    return static_cast<int8_t>(c);
}

int Flag(bool on) {
    return on ? 1 : 0;
}

}  // namespace

PortReportValues PortReportFromDriver(int port_number, const SerialDriverState& state) {
    const termios& t = state.line;
    const int modem = state.modemLines.value_or(0);
    const int vmin = t.c_cc[VMIN];
    const int vtime_ms = t.c_cc[VTIME] * 100;
    const bool returns_at_once = vmin == 0 && vtime_ms == 0;
    int rts_control = Flag(modem & TIOCM_RTS);
    if (t.c_cflag & CRTSCTS)
        rts_control = 2;
    return {
        port_number,
        BaudOf(cfgetospeed(&t)),
        ByteSizeOf(t.c_cflag),
        ParityOf(t.c_cflag),
        (t.c_cflag & CSTOPB) ? 2 : 0,
        Flag(t.c_iflag & IXON),
        Flag(t.c_iflag & IXOFF),
        Flag(PassesBytesUnchanged(t)),
        Flag(t.c_iflag & INPCK),
        Flag(t.c_cflag & CRTSCTS),
        0,
        Flag(modem & TIOCM_DTR),
        0,
        0,
        Flag(t.c_iflag & PARMRK),
        0,
        0,
        rts_control,
        0,
        0,
        SignedChar(t.c_cc[VSTART]),
        SignedChar(t.c_cc[VSTOP]),
        0,
        SignedChar(t.c_cc[VEOF]),
        SignedChar(t.c_cc[VEOL]),
        returns_at_once ? -1 : (vmin > 0 ? vtime_ms : 0),
        0,
        vmin == 0 ? vtime_ms : 0,
        0,
        0,
    };
}

std::string FormatPortReport(const PortReportValues& values) {
    std::string text =
        "----------------------------\n"
        "      SERIAL PORT REPORT\n"
        "----------------------------\n\n"
        " CONTROL SETTINGS\n\n";
    char line[256];
    for (int row = 0; row < kPortReportRows; ++row) {
        if (row == kPortReportControlRows)
            text += "\n TIME SETTINGS\n\n";
        std::snprintf(line, sizeof line, " %-27s: %5d  %s\n", kPortReportLayout[row].name,
                      values[row], kPortReportLayout[row].description);
        text += line;
    }
    return text;
}

std::optional<SerialDriverState> ReadPortState(ModbusMaster& master, int port) {
    std::optional<SerialDriverState> state;
    if (master.OpenAsIs(port))
        state = master.ReadDriverState();
    ClosePort(master);
    return state;
}

bool WritePortReport(const std::string& path, const std::string& text, std::string& reason) {
    OwnFile file;
    if (!file.Create(path, reason))
        return false;
    if (file.Write(text) && file.Close())
        return true;
    reason = file.Failure();
    return false;
}

bool StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty())
        return false;
    QStringList arguments;
    for (size_t i = 1; i < argv.size(); ++i)
        arguments << QString::fromStdString(argv[i]);
    return QProcess::startDetached(QString::fromStdString(argv.front()), arguments);
}

namespace {

std::vector<std::string> Words(const char* text) {
    std::vector<std::string> words;
    std::istringstream in(text == nullptr ? "" : text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

}  // namespace

std::vector<std::string> EditorCommandLine(const std::string& path) {
    std::vector<std::string> command = Words(std::getenv("VISUAL"));
    if (command.empty())
        command = Words(std::getenv("EDITOR"));
    if (!command.empty())
        command.push_back(path);
    return command;
}

bool OpenInEditor(const std::string& path, const ReportOpeners& openers) {
    if (openers.desktop && openers.desktop(path))
        return true;
    const std::vector<std::string> command = EditorCommandLine(path);
    return !command.empty() && openers.launch && openers.launch(command);
}

void OpenReportOrSayWhere(UserInterface& ui, const std::string& path,
                          const ReportOpeners& openers) {
    if (OpenInEditor(path, openers))
        return;
    ui.ShowMessage({std::string(connection_messages::kReportNotOpened) + "\n" + path, "",
                    MessageButtons::Ok, MessageIcon::Information});
}

void GenerateFullPortReport(ModbusMaster& master, int port, const PortReportHooks& hooks) {
    UserInterface& ui = master.Ui();
    const std::optional<SerialDriverState> state = ReadPortState(master, port);
    if (!state) {
        ui.ShowMessage({WithReason(connection_messages::kUnableToReadPort,
                                   PortFailureReason(master.LastOpenFailure())),
                        "", MessageButtons::Ok, MessageIcon::Warning});
        return;
    }
    const std::optional<std::string> path = hooks.choosePath ? hooks.choosePath() : std::nullopt;
    if (!path)
        return;
    std::string reason;
    if (!WritePortReport(*path, FormatPortReport(PortReportFromDriver(port, *state)), reason)) {
        ui.ShowMessage(
            {std::string(connection_messages::kUnableToCreateReport) + "\n" + *path + "\n" + reason,
             "", MessageButtons::Ok, MessageIcon::Warning});
        return;
    }
    if (hooks.open)
        hooks.open(*path);
}

}  // namespace fc
