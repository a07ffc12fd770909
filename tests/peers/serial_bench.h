#pragma once

#include <memory>

#include "modbus/comm_settings.h"
#include "modbus/link_flags.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"
#include "tests/peers/pty_peer.h"

namespace fc::test {

// One ModbusMaster whose COM 1 is the slave end of a fresh pty pair, with the
// settings of a fast test: one-second time-outs, no retries.
struct SerialBench {
    SerialBench() {
        settings.Timeout = 1;
        settings.Retry = 0;
    }
    // Opens COM 1 as connection management would and opens the serial link.
    bool OpenLink() {
        if (!master.Open(1, 9600, 8, 0, 0) || !master.SetTimeouts(20))
            return false;
        links.LinkOpen = 1;
        return true;
    }
    void StartPeer(FramePeer::Framing framing, Responder responder) {
        peer = std::make_unique<FramePeer>(pty.master, framing, std::move(responder));
    }
    std::vector<Bytes> StopPeer() {
        peer->Stop();
        return peer->Requests();
    }

    PtyPair pty;
    CommSettings settings;
    LinkFlags links;
    ScriptedUserInterface ui;
    ModbusMaster master{settings, links, ui,
                        [this](int) { return std::vector<std::string>{pty.path}; }};
    std::unique_ptr<FramePeer> peer;
};

}  // namespace fc::test
