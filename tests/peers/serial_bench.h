#pragma once

#include <memory>

#include "tests/peers/driver_bench.h"
#include "tests/peers/pty_peer.h"

namespace fc::test {

// A driver whose COM 1 is the slave end of a fresh pty pair, and the scripted
// unit on its master end.
struct SerialBench : DriverBench {
    SerialBench() { devices = {pty.path}; }
    bool OpenLink() { return OpenSerial(); }
    void StartPeer(FramePeer::Framing framing, Responder responder) {
        peer = std::make_unique<FramePeer>(pty.master, framing, std::move(responder));
    }
    std::vector<Bytes> StopPeer() {
        peer->Stop();
        return peer->Requests();
    }

    PtyPair pty;
    std::unique_ptr<FramePeer> peer;
};

}  // namespace fc::test
