#include "modbus/modbus_master.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "modbus/messages.h"
#include "platform/user_interface.h"
#include "platform/wall_clock.h"

namespace fc {

namespace {
// One 20 ms read may bring at most this much of an RTU reply.
constexpr int kRtuChunk = 256;
// Modbus fixes the end-of-frame silence at 1.75 ms above 19200 baud.
constexpr std::chrono::microseconds kMinimumFrameGap{1750};
// Bytes that reach a pseudo-terminal in one write, or a USB adapter in one
// packet, are handed over together; the margin covers the wake-up jitter of
// the writer and of this thread on top of the gap.
constexpr std::chrono::microseconds kDeliveryMargin{250};
}  // namespace

std::string TrafficText(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text += hex;
    }
    return text;
}

ModbusMaster::ModbusMaster(CommSettings& settings, LinkFlags& links, UserInterface& ui,
                           PortResolver resolver)
    : SerialPort(std::move(resolver)), settings_(settings), links_(links), ui_(ui) {
    AsciiTxBuffer[0] = ':';
}

ModbusMaster::~ModbusMaster() = default;

void ModbusMaster::Close() {
    SerialPort::Close();
    OpenState = 0;
    links_.LinkOpen = 0;
}

void ModbusMaster::Observe(TrafficDirection direction, const void* bytes, int count) const {
    if (OnTraffic && count > 0)
        OnTraffic(direction, std::span(static_cast<const uint8_t*>(bytes), count));
}

PendingRequest ModbusMaster::Pending() const {
    return {FunctionCode, StartAddress, RegisterCount, ByteCount, Data};
}

int ModbusMaster::Transact() {
    return settings_.UseIP ? TransactTcp() : TransactRtu();
}

// Attempt index k runs from 0; after a failure at k == Retry the user is asked.
// Retry there starts a new series of Retry attempts (indexes 1..Retry); a
// negative Retry gives one attempt and never asks.
//
// A Retry beyond what the Comm Settings dialog accepts (a profile edited by
// hand, say 30000) counts as the dialog's largest, 100: otherwise a silent
// unit would keep the user from the box, and from Cancel, for hours.
int ModbusMaster::RunAttempts(const std::function<bool()>& attempt) {
    const int retry = std::min<int>(settings_.Retry, kMaxRetry);
    int index = 0;
    for (;;) {
        const bool succeeded = attempt();
        bool retry_chosen = false;
        if (!succeeded && index == retry) {
            const MessageBox box{modbus_messages::kUnableToConnect, "", MessageButtons::RetryCancel,
                                 MessageIcon::Stop};
            if (ui_.ShowMessage(box) == MessageAnswer::Retry) {
                retry_chosen = true;
                index = 0;
            }
        }
        const int k = index++;
        if (succeeded)
            return 1;
        // With Retry 0 a new series would be empty and the button would do
        // nothing; it gives one more attempt instead, then asks again.
        if (retry_chosen && retry == 0) {
            index = 0;
            continue;
        }
        if (k >= retry)
            return 0;
    }
}

int ModbusMaster::TransactRtu() {
    TxText.clear();
    RxText.clear();
    if (links_.LinkOpen == 0)
        return 0;
    if (BuildRequest(Pending(), Unit(), TxBuffer) <= 0)
        return 0;  // refused by the codec: nothing that could be sent
    return RunAttempts([this] { return RtuAttempt(); });
}

bool ModbusMaster::RtuAttempt() {
    const int n = BuildRequest(Pending(), Unit(), TxBuffer);
    const int total = static_cast<int>(AppendCrc16(TxBuffer, static_cast<size_t>(n)));
    const bool written = Write(TxBuffer, total);
    if (written) {
        Observe(TrafficDirection::Sent, TxBuffer, total);
        // Long block writes would flood the page's field; their head is enough.
        TxText = TrafficText(std::span<const uint8_t>(TxBuffer, total > 20 ? 7 : total));
    }
    RxBuffer[0] = 0;
    RxLength = 0;
    const int expected = ExpectedReplyLength(Framing::Rtu, FunctionCode, ByteCount);
    if (Unit() == 0) {
        RxText = modbus_messages::kBroadcastNotice;
        return true;
    }
    if (!written)
        return false;
    return CollectRtuReply(expected);
}

// Each read asks only for the bytes still missing, so it returns the moment
// the reply's last byte is in instead of sitting out the 20 ms interval. A
// reply that goes on past its length must still fail, so a complete count is
// taken only after the line has stayed quiet for the gap that ends a frame:
// 3.5 character times, never less than the 1.75 ms that Modbus fixes for
// fast lines, plus a margin for the burst delivery of pseudo-terminals and
// USB adapters. Bytes the unit sends later than that belong to no reply of
// ours; the drain before the next request throws them away.
bool ModbusMaster::CollectRtuReply(int expected) {
    if (expected <= 0 || expected > static_cast<int>(kRxBufferSize))
        return false;
    uint8_t chunk[kRtuChunk];
    SecondsWait wait(settings_.Timeout);
    int collected = 0;
    for (;;) {
        // What was collected so far is dropped with the next chunk when it
        // does not start with our unit, so that chunk may be a whole reply.
        const bool restarts = RxBuffer[0] != Unit();
        const int missing = restarts ? expected : expected - collected;
        const int got = Read(std::min(missing, kRtuChunk), chunk);
        if (got == 0) {
            if (wait.Expired()) {
                Observe(TrafficDirection::Received, RxBuffer, collected);
                return false;
            }
            continue;
        }
        if (restarts)
            collected = 0;
        std::memcpy(RxBuffer + collected, chunk, got);
        collected += got;
        if (collected == expected)
            break;
        wait.Restart();  // the time-out counts from the last chunk
    }
    if (LineContinues()) {
        const int got = Read(kRtuChunk, chunk);
        Observe(TrafficDirection::Received, RxBuffer, collected);
        Observe(TrafficDirection::Received, chunk, got);
        return false;
    }
    Observe(TrafficDirection::Received, RxBuffer, collected);
    RxText = TrafficText(std::span<const uint8_t>(RxBuffer, collected));
    RxLength = static_cast<uint16_t>(collected);
    return Crc16(std::span<const uint8_t>(RxBuffer, collected)) == 0;
}

bool ModbusMaster::LineContinues() {
    const auto frame_gap = std::max(CharacterTime() * 7 / 2, kMinimumFrameGap);
    return WaitReadable(frame_gap + kDeliveryMargin);
}

int ModbusMaster::TransactAscii() {
    if (links_.LinkOpen == 0)
        return 0;
    if (BuildRequest(Pending(), Unit(), TxBuffer) <= 0)
        return 0;
    return RunAttempts([this] { return AsciiAttempt(); });
}

bool ModbusMaster::AsciiAttempt() {
    const int n = BuildRequest(Pending(), Unit(), TxBuffer);
    TxBuffer[n] = Lrc(std::span<const uint8_t>(TxBuffer, n));
    const int characters =
        EncodeAscii(std::span<const uint8_t>(TxBuffer, n + 1), std::span<char>(AsciiTxBuffer));
    Drain();
    if (characters < 0 || !Write(reinterpret_cast<const uint8_t*>(AsciiTxBuffer), characters))
        return false;
    Observe(TrafficDirection::Sent, AsciiTxBuffer, characters);

    AsciiRxBuffer[0] = 0;
    RxLength = 0;
    size_t stored = 0;
    if (!CollectAsciiText(stored))
        return false;
    Observe(TrafficDirection::Received, AsciiRxBuffer, static_cast<int>(stored));

    const AsciiDecodeResult decoded =
        DecodeAscii(std::span<const char>(AsciiRxBuffer, stored), std::span<uint8_t>(RxBuffer));
    if (decoded.odd)
        return false;
    // A unit asked as 0 tells us its own address with its first reply.
    if (decoded.count > 0 && settings_.UnitId == 0 && RxBuffer[0] != 0)
        settings_.UnitId = RxBuffer[0];
    RxLength = static_cast<uint16_t>(decoded.count);
    const int expected = ExpectedReplyLength(Framing::Ascii, FunctionCode, ByteCount);
    return !decoded.invalid && ByteSum(std::span<const uint8_t>(RxBuffer, decoded.count)) == 0 &&
           static_cast<int>(decoded.count) == expected;
}

// Collects ":" ... CR LF into AsciiRxBuffer; a colon always starts over.
bool ModbusMaster::CollectAsciiText(size_t& stored) {
    size_t p = 0;
    for (;;) {
        uint8_t character = 0;
        if (!ReceiveByte(character))
            return false;
        if (AsciiRxBuffer[0] != ':')
            p = 0;
        if (p + 1 >= kAsciiRxBufferSize)
            return false;
        if (character == ':')
            p = 0;
        AsciiRxBuffer[p++] = static_cast<char>(character);
        if (AsciiRxBuffer[0] == ':' && p >= 2 && AsciiRxBuffer[p - 2] == '\r' &&
            AsciiRxBuffer[p - 1] == '\n') {
            stored = p;
            return true;
        }
    }
}

// Each character has a whole-second wait of its own. Between checks the wait
// sleeps in poll() until input arrives, so a silent line costs no CPU.
bool ModbusMaster::ReceiveByte(uint8_t& character) {
    SecondsWait wait(settings_.Timeout);
    for (;;) {
        if (BytesWaiting() > 0 && Read(1, &character) == 1)
            return true;
        if (wait.Expired())
            return false;
        // At least 1 ms: the coarse clock behind time() can lag the deadline.
        WaitReadable(std::max(wait.MillisecondsLeft(), 1));
    }
}

}  // namespace fc
