#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "modbus/modbus_master.h"

namespace fc {

namespace {
// A pause before each attempt, which units behind serial gateways expect.
// It is also what a peer that sends a reply twice is given: the drain that
// follows drops the repeat. With the transaction id at 0 nothing else tells
// a repeat that comes later from the answer to a request of the same shape.
constexpr auto kAttemptPause = std::chrono::milliseconds(25);
// A connect to an address that does not answer gives up after Timeout
// seconds, but never sooner than this: a unit across a slow network must
// still get a fair chance, and never later than the cap, so that the window
// does not hang for the kernel's minutes of retries.
constexpr int kMinConnectSeconds = 5;
constexpr int kMaxConnectSeconds = 60;
}  // namespace

int ModbusMaster::ConnectBoundSeconds() const {
    return std::clamp<int>(settings_.Timeout, kMinConnectSeconds, kMaxConnectSeconds);
}

bool ModbusMaster::ConnectSocket() {
    return Socket.Connect(settings_.IPAddress, settings_.IPPort, ConnectBoundSeconds());
}

bool ModbusMaster::CloseSocket() {
    Socket.Close();
    return true;
}

int ModbusMaster::TransactTcp() {
    if (links_.LinkState == kLinkDown)
        return 0;
    BeginTransaction();
    if (RequestFrameLength(Pending()) <= 0)
        return 0;  // refused by the codec: nothing that could be sent
    return RunAttempts([this] { return TcpAttempt(); });
}

ModbusMaster::Attempt ModbusMaster::TcpAttempt() {
    ByteLink& link = TcpLink();
    link.Pause(kAttemptPause);
    if (!PrepareLink(link))
        return Attempt::Failed;
    const bool mbap = settings_.IPProtocol == 0;
    int total = 0;
    if (mbap) {
        total = BuildMbapRequest(Pending(), Unit(), TxBuffer);
    } else {
        const int n = BuildRequest(Pending(), Unit(), TxBuffer);
        total = static_cast<int>(AppendCrc16(TxBuffer, static_cast<size_t>(n)));
    }
    RxBuffer[0] = 0;
    RxLength = 0;
    const bool sent = link.Write(TxBuffer, total);
    const LinkInstant deadline = DeadlineFrom(link);
    sentAt_ = link.Now();
    Attempt result = Attempt::Failed;
    if (sent) {
        Observe(TrafficDirection::Sent, TxBuffer, total);
        TxText = TrafficText(std::span<const uint8_t>(TxBuffer, total));
        const Framing framing = mbap ? Framing::ModbusTcp : Framing::Encapsulated;
        const int collected = CollectReply(link, framing, deadline, false);
        const int checked = mbap ? collected : collected - 2;
        if (collected > 0 && (mbap || Crc16(std::span<const uint8_t>(RxBuffer, collected)) == 0))
            result = Judge(std::span<const uint8_t>(RxBuffer, checked));
    }
    // Whatever is late goes with the old connection; a unit that closed its
    // side is reached again at once, not after the Timeout.
    if (result == Attempt::Failed)
        link.Reconnect();
    return result;
}

}  // namespace fc
