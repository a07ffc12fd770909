#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "modbus/modbus_master.h"
#include "platform/wall_clock.h"

namespace fc {

namespace {
// A pause before each attempt, which units behind serial gateways expect.
constexpr auto kAttemptPause = std::chrono::milliseconds(25);
// A connect to an address that does not answer gives up after Timeout
// seconds, but never sooner than this: a unit across a slow network must
// still get a fair chance, and never later than the cap, so that the window
// does not hang for the kernel's minutes of retries.
constexpr int kMinConnectSeconds = 5;
constexpr int kMaxConnectSeconds = 60;
constexpr int kMbapHeader = 6;
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
    if (RequestFrameLength(Pending()) <= 0)
        return 0;  // refused by the codec: nothing that could be sent
    return RunAttempts([this] { return TcpAttempt(); });
}

bool ModbusMaster::TcpAttempt() {
    std::this_thread::sleep_for(kAttemptPause);
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
    const bool sent = Socket.Send(TxBuffer, total);
    if (sent) {
        Observe(TrafficDirection::Sent, TxBuffer, total);
        TxText = TrafficText(std::span<const uint8_t>(TxBuffer, total));
    }
    const int expected = ExpectedReplyLength(mbap ? Framing::ModbusTcp : Framing::Encapsulated,
                                             FunctionCode, ByteCount);
    const int header = mbap ? kMbapHeader : 0;
    if (sent && AwaitTcpReply(expected, header))
        return true;
    // Whatever is late or surplus goes with the old connection.
    CloseSocket();
    ConnectSocket();
    return false;
}

// Takes the reply only when exactly its length is readable, so a late answer
// to an earlier attempt sitting in front of it is never mistaken for it.
bool ModbusMaster::AwaitTcpReply(int expected, int header) {
    if (expected <= header || expected > static_cast<int>(kRxBufferSize))
        return false;
    SecondsWait wait(settings_.Timeout);
    for (;;) {
        if (Socket.BytesAvailable(expected) == expected) {
            const int got = Socket.Receive(RxBuffer, expected);
            if (got > 0) {
                Observe(TrafficDirection::Received, RxBuffer, got);
                if (got > header && settings_.UnitId == 0 && RxBuffer[header] != 0)
                    settings_.UnitId = RxBuffer[header];
                if (got == expected)
                    return CheckTcpReply(expected, header);
                wait.Restart();
            }
        }
        if (wait.Expired())
            return false;
    }
}

bool ModbusMaster::CheckTcpReply(int expected, int header) {
    if (header > 0)
        std::memmove(RxBuffer, RxBuffer + header, expected - header);
    RxLength = static_cast<uint16_t>(expected - header);
    RxText = TrafficText(std::span<const uint8_t>(RxBuffer, RxLength));
    return header > 0 || Crc16(std::span<const uint8_t>(RxBuffer, RxLength)) == 0;
}

}  // namespace fc
