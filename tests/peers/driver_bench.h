#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "modbus/byte_link.h"
#include "modbus/comm_settings.h"
#include "modbus/link_flags.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"

namespace fc::test {

// One driver as the tests build it: the settings of a fast test (one-second
// time-outs, no retries), the link flags, a user (scripted unless a case
// needs another, such as the window's relay) and the ModbusMaster, reached
// over a pty (COM 1 names `devices`), loopback TCP or a line in memory. Each
// Open gates the link open as connection management would; the cases set the
// rest.
template <typename Ui = ScriptedUserInterface>
struct BasicDriverBench {
    BasicDriverBench() {
        settings.Timeout = 1;
        settings.Retry = 0;
    }
    BasicDriverBench(const BasicDriverBench&) = delete;
    BasicDriverBench& operator=(const BasicDriverBench&) = delete;

    // Opens COM 1 at `baud`, 8N1, with the 20 ms read time-outs.
    bool OpenSerial(int baud = 9600) {
        if (!master.Open(1, baud, 8, 0, 0) || !master.SetTimeouts(20))
            return false;
        links.LinkOpen = 1;
        return true;
    }
    // Modbus TCP (protocol 0) or RTU frames over TCP to 127.0.0.1:port.
    bool OpenTcp(int port, int protocol = 0) {
        settings.UseIP = true;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(port);
        settings.IPProtocol = static_cast<int16_t>(protocol);
        if (!master.ConnectSocket())
            return false;
        links.LinkState = kLinkUp;
        return true;
    }
    // Every transaction goes over `line`; `tcp` frames it as the TCP link.
    void OpenMemory(ByteLink& line, bool tcp = false, int protocol = 0) {
        settings.UseIP = tcp;
        settings.IPProtocol = static_cast<int16_t>(protocol);
        links.LinkOpen = 1;
        links.LinkState = kLinkUp;
        master.AttachLink(&line);
    }

    std::vector<std::string> devices;
    // What a port number names: `devices`, unless a case follows a unit
    // whose line moves to a new path.
    std::function<std::vector<std::string>(int)> resolve = [this](int) { return devices; };
    CommSettings settings;
    LinkFlags links;
    Ui ui;
    ModbusMaster master{settings, links, ui, [this](int port) { return resolve(port); }};
};

using DriverBench = BasicDriverBench<>;

}  // namespace fc::test
