#include "modbus/modbus_master.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "modbus/frame_trace.h"
#include "modbus/link_failure.h"
#include "modbus/messages.h"
#include "platform/stop_request.h"
#include "platform/user_interface.h"

namespace fc {

namespace {
// A reply is collected a piece at a time; surplus bytes are read this many
// at a time so they can be shown.
constexpr int kRtuChunk = 256;
// The window must hear from us at least every 100 ms; waits are cut this short.
constexpr std::chrono::milliseconds kWindowTurn{50};
// Modbus fixes the end-of-frame silence at 1.75 ms above 19200 baud.
constexpr std::chrono::microseconds kMinimumFrameGap{1750};
// Bytes that reach a pseudo-terminal in one write, or a USB adapter in one
// packet, are handed over together; the margin covers the wake-up jitter of
// the writer and of this thread on top of the gap.
constexpr std::chrono::microseconds kDeliveryMargin{250};
// USB serial adapters hand over what they received every 16 ms or so; a
// reply that has begun may go on arriving in pieces up to twice that apart.
constexpr std::chrono::milliseconds kPieceGap{32};
// The longest a line that repeats its replies is given to finish one before
// the next request goes out.
constexpr std::chrono::milliseconds kMaxRepeatLag{100};
// How long the line is listened to after the first reply on a port just
// opened (the connect probe's, as a rule), to learn whether it repeats.
constexpr std::chrono::milliseconds kFirstListen{20};
// A line that never falls quiet still gets its request after this many
// characters have been dropped in front of it.
constexpr int kMaxDroppedChunks = 16;
// While the port's device is away it is looked for this often.
constexpr std::chrono::milliseconds kLinkLookup{100};

// Busy, acknowledge (the unit is still at it) and the gateway's two: the next
// attempt may well be answered.
bool IsTransientException(int code) {
    return code == 5 || code == 6 || code == 10 || code == 11;
}
}  // namespace

ModbusMaster::ModbusMaster(CommSettings& settings, LinkFlags& links, UserInterface& ui,
                           PortResolver resolver)
    : SerialPort(std::move(resolver)), settings_(settings), links_(links), ui_(ui) {
    AsciiTxBuffer[0] = ':';
    Socket.OnWaiting = [this] { ui_.PumpPaintMessages(); };
}

// A reply still owed when the driver goes would reach whoever opens the port
// next: the next run of the command line, say. A run the user stopped ends
// when asked instead; the next run's open drops whatever has come by then.
ModbusMaster::~ModbusMaster() {
    if (attached_ == nullptr && !settings_.UseIP && !endedOnStop_)
        std::this_thread::sleep_until(owedUntil_);
}

// Whether a line repeats its replies is a matter of the unit and the adapter:
// it is learned again only on another port or at another speed, not each
// time the same port opens (the watch opens it for every poll).
bool ModbusMaster::Open(int port, int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    lastReply_ = {};
    // At another speed a late reply is no frame: clearing the line drops it.
    if (port != heardPort_ || baud != heardBaud_) {
        owedUntil_ = {};
        lineHeard_ = false;
        repeatLag_ = {};
        heardPort_ = port;
        heardBaud_ = baud;
    }
    const bool opened = SerialPort::Open(port, baud, dataBits, parity, stopBits);
    // The repetition of a reply taken just before the open (by an earlier run
    // of the command line, say) comes after the flush that opening does; on
    // a line not known to be clean the first request waits for it.
    const bool mayRepeat = !lineHeard_ || repeatLag_ > std::chrono::microseconds::zero();
    openedAt_ = opened && mayRepeat ? SerialLink().Now() : LinkInstant{};
    return opened;
}

void ModbusMaster::Close() {
    SerialPort::Close();
}

void ModbusMaster::Observe(TrafficDirection direction, const void* bytes, int count) const {
    if (OnTraffic.Empty() || count <= 0)
        return;
    const auto wire = std::span(static_cast<const uint8_t*>(bytes), count);
    OnTraffic.Notify(ObservedFrame(settings_, Socket.Handle(), direction, wire));
}

PendingRequest ModbusMaster::Pending() const {
    return {FunctionCode, StartAddress, RegisterCount, ByteCount, Data};
}

int ModbusMaster::Transact() {
    return settings_.UseIP ? TransactTcp() : TransactRtu();
}

LinkInstant ModbusMaster::DeadlineFrom(ByteLink& link) const {
    return link.Now() + std::chrono::seconds(std::max<int>(settings_.Timeout, 0));
}

void ModbusMaster::GiveWindowTurn(ByteLink& link) {
    const LinkInstant now = link.Now();
    if (now - lastWindowTurn_ < kWindowTurn)
        return;
    lastWindowTurn_ = now;
    ui_.PumpPaintMessages();
}

bool ModbusMaster::StopRaised() const {
    return stop_ != nullptr && stop_->Raised();
}

bool ModbusMaster::AwaitInput(ByteLink& link, LinkInstant deadline) {
    for (;;) {
        GiveWindowTurn(link);
        if (link.BytesWaiting() > 0)
            return true;
        const LinkInstant now = link.Now();
        if (now >= deadline || StopRaised())
            return false;
        // A unit that closed its connection is reached again at once; a
        // serial device that vanished is waited for until the deadline.
        if (link.Gone()) {
            if (!settings_.UseIP)
                WaitForLink(link, deadline);
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
        link.WaitReadable(std::min<std::chrono::microseconds>(left, kWindowTurn));
    }
}

// Attempt index k runs from 0; after a failure at k == Retry the user is asked.
// Retry there starts a new series of Retry attempts (indexes 1..Retry); a
// negative Retry gives one attempt and never asks. An exception reply is the
// unit's final word on the request, except the transient ones (busy,
// acknowledge, gateway): the series ends with it and the user is asked at
// once. A raised stop ends the series without asking.
//
// A Retry beyond what the Comm Settings dialog accepts (a profile edited by
// hand, say 30000) counts as the dialog's largest, 100: otherwise a silent
// unit would keep the user from the box, and from Cancel, for hours.
int ModbusMaster::RunAttempts(const std::function<Attempt()>& attempt) {
    const int retry = std::min<int>(settings_.Retry, kMaxRetry);
    if (owedUntil_ != LinkInstant{} && RequestFrame() != owedFrame_)
        SettleOwedReplies(TransactionLink());
    int index = 0;
    bool failedBefore = false;
    for (;;) {
        const Attempt result = StopRaised() ? Attempt::Failed : attempt();
        const bool succeeded = result == Attempt::Answered;
        // An exception is the unit's reply: an attempt that got one owes none.
        const bool unanswered = result == Attempt::Failed;
        NoteOwedReply(unanswered || failedBefore);
        failedBefore = failedBefore || unanswered;
        if (StopRaised()) {
            stopped_ = true;
            return 0;
        }
        if (succeeded) {
            ExceptionCode = 0;
            EndedByException = false;
            return 1;
        }
        EndedByException = exceptionSeen_;
        if (result == Attempt::Exception && retry >= 0)
            index = retry;
        bool retry_chosen = false;
        if (index == retry) {
            const MessageBox box{UnableToConnectText(), "", MessageButtons::RetryCancel,
                                 MessageIcon::Stop};
            if (ui_.ShowMessage(box) == MessageAnswer::Retry && !StopRaised()) {
                retry_chosen = true;
                index = 0;
            }
        }
        const int k = index++;
        if (unanswered && k < retry && OnAttemptFailed)
            OnAttemptFailed(k + 1, retry + 1);
        // With Retry 0 a new series would be empty and the button would do
        // nothing; it gives one more attempt instead, then asks again.
        if (retry_chosen && retry == 0) {
            index = 0;
            continue;
        }
        if (k >= retry) {
            stopped_ = StopRaised();
            return 0;
        }
    }
}

std::string ModbusMaster::UnableToConnectText() {
    ByteLink& link = TransactionLink();
    if (attached_ != nullptr || !link.Gone())
        return modbus_messages::kUnableToConnect;
    const std::string reason =
        settings_.UseIP ? SocketFailureReason(settings_.IPAddress, settings_.IPPort, Socket)
                        : PortFailureReason(LastOpenFailure());
    return WithReason(modbus_messages::kUnableToConnect, reason);
}

// A reply owed to an attempt that failed may come as late as one more
// Timeout after that attempt's own, as libmodbus also assumes when it waits
// a response time-out after an error before flushing the line. A later
// reply to the same request may answer the attempt after it, which asked
// the same; a new request waits until nothing is owed. Over TCP a failed
// attempt takes its connection with it, so nothing is owed there.
void ModbusMaster::NoteOwedReply(bool owed) {
    if (!owed || settings_.UseIP || Unit() == 0)
        return;
    const auto twice = std::chrono::seconds(2 * std::max<int>(settings_.Timeout, 0));
    owedUntil_ = std::max(owedUntil_, sentAt_ + twice);
    owedFrame_ = RequestFrame();
}

// The request as the unit reads it, without check bytes: a late reply to the
// same frame answers it as well as its own would.
std::vector<uint8_t> ModbusMaster::RequestFrame() const {
    std::vector<uint8_t> frame(kTxBufferSize);
    frame.resize(static_cast<size_t>(std::max(BuildRequest(Pending(), Unit(), frame), 0)));
    return frame;
}

void ModbusMaster::SettleOwedReplies(ByteLink& link) {
    // A use that ended on the user's stop ends when asked; the next request
    // waits out what is still owed then.
    while (!settings_.UseIP && !StopRaised() && !endedOnStop_ && link.Now() < owedUntil_) {
        // A closed port has nothing to drop; it is not opened again for this.
        if (link.Gone()) {
            GiveWindowTurn(link);
            link.Pause(std::min<std::chrono::microseconds>(
                std::chrono::duration_cast<std::chrono::microseconds>(owedUntil_ - link.Now()),
                kWindowTurn));
        } else if (AwaitInput(link, owedUntil_)) {
            DropWaiting(link);
        }
    }
    if (link.Now() >= owedUntil_) {
        owedUntil_ = {};
        owedFrame_.clear();
    }
}

void ModbusMaster::DropWaiting(ByteLink& link) {
    uint8_t dropped[kRtuChunk];
    for (int i = 0; i < kMaxDroppedChunks && link.BytesWaiting() > 0; ++i) {
        const int got = link.Read(std::min(link.BytesWaiting(), kRtuChunk), dropped);
        if (got <= 0)
            break;
        Observe(TrafficDirection::Dropped, dropped, got);
    }
}

bool ModbusMaster::PrepareLink(ByteLink& link) {
    const LinkInstant deadline = DeadlineFrom(link);
    DropWaiting(link);
    if (link.Gone() && !link.Reconnect()) {
        WaitForLink(link, deadline);
        return false;
    }
    if (!settings_.UseIP)
        AwaitQuietLine(link);
    return true;
}

void ModbusMaster::WaitForLink(ByteLink& link, LinkInstant deadline) {
    while (!StopRaised() && link.Now() < deadline) {
        GiveWindowTurn(link);
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - link.Now());
        link.Pause(std::min<std::chrono::microseconds>(left, kLinkLookup));
        // A connect is slow to fail; the serial device is simply looked for.
        if (!settings_.UseIP && link.Reconnect())
            return;
    }
}

// Modbus wants 3.5 characters of silence between frames; a request sent
// while the unit's previous reply, or a repetition of it, is still coming
// would have that taken for its answer. A line seen repeating a reply is
// given the time it took, twice over, from then on; to see it, the line is
// listened to a little longer once, after the first reply on the port, and
// after the open of a port whose line is not known to be clean.
void ModbusMaster::AwaitQuietLine(ByteLink& link) {
    const std::chrono::microseconds listen = lineHeard_ ? repeatLag_ : kFirstListen;
    const auto quiet = std::max<std::chrono::microseconds>(FrameTime(link, 0), listen);
    const bool replied = lastReply_ != LinkInstant{};
    lineHeard_ = lineHeard_ || replied;
    const LinkInstant limit = DeadlineFrom(link);
    LinkInstant quietSince = replied ? lastReply_ : std::exchange(openedAt_, LinkInstant{});
    while (link.Now() < limit && AwaitInput(link, std::min(quietSince + quiet, limit))) {
        // What comes before this port's first reply tells no lag.
        if (replied) {
            const auto lag =
                std::chrono::duration_cast<std::chrono::microseconds>(link.Now() - lastReply_);
            repeatLag_ = std::clamp<std::chrono::microseconds>(2 * lag, repeatLag_, kMaxRepeatLag);
        }
        DropWaiting(link);
        quietSince = link.Now();
    }
}

void ModbusMaster::BeginTransaction() {
    TxText.clear();
    RxText.clear();
    ExceptionCode = 0;
    EndedByException = false;
    exceptionSeen_ = false;
    stopped_ = false;
    endedOnStop_ = false;
}

bool ModbusMaster::RefuseBroadcastRead() {
    if (Unit() != 0 || FunctionCode == kWriteMultipleRegisters)
        return false;
    RxText = modbus_messages::kBroadcastReadRefused;
    ui_.SetStatusText(modbus_messages::kBroadcastReadRefused);
    return true;
}

int ModbusMaster::TransactRtu() {
    BeginTransaction();
    if (links_.LinkOpen == 0)
        return 0;
    if (BuildRequest(Pending(), Unit(), TxBuffer) <= 0)
        return 0;  // refused by the codec: nothing that could be sent
    if (RefuseBroadcastRead())
        return 0;
    return RunAttempts([this] { return RtuAttempt(); });
}

ModbusMaster::Attempt ModbusMaster::RtuAttempt() {
    ByteLink& link = SerialLink();
    if (!PrepareLink(link))
        return Attempt::Failed;
    const int n = BuildRequest(Pending(), Unit(), TxBuffer);
    const int total = static_cast<int>(AppendCrc16(TxBuffer, static_cast<size_t>(n)));
    const bool written = link.Write(TxBuffer, total);
    const LinkInstant deadline = DeadlineFrom(link);
    sentAt_ = link.Now();
    if (written) {
        Observe(TrafficDirection::Sent, TxBuffer, total);
        // Long block writes would flood the page's field; their head is enough.
        TxText = TrafficText(std::span<const uint8_t>(TxBuffer, total > 20 ? 7 : total));
    }
    RxBuffer[0] = 0;
    RxLength = 0;
    if (Unit() == 0) {
        RxText = modbus_messages::kBroadcastNotice;
        return Attempt::Answered;
    }
    if (!written || !TakeEcho(link, TxBuffer, total, deadline))
        return Attempt::Failed;
    const int collected = CollectReply(link, Framing::Rtu, deadline, true);
    if (collected <= 0 || Crc16(std::span<const uint8_t>(RxBuffer, collected)) != 0)
        return Attempt::Failed;
    return Judge(std::span<const uint8_t>(RxBuffer, collected - 2));
}

std::chrono::microseconds ModbusMaster::FrameTime(ByteLink& link, int characters) const {
    const auto character = link.CharacterTime();
    return character * characters + std::max(character * 7 / 2, kMinimumFrameGap) + kDeliveryMargin;
}

// Bytes are read as they come, each read asking only for what is still
// missing, so a reply is taken the moment its last byte is in; whatever
// follows it (a transmitter's glitch as it lets go of the line, a repeated
// reply) is dropped before the next request. The wait ends at the deadline
// the request set, whatever comes meanwhile; a reply that has begun by then
// may finish at the line rate, or as long as its pieces keep coming.
int ModbusMaster::CollectReply(ByteLink& link, Framing framing, LinkInstant deadline,
                               bool skipNoise) {
    const int header = framing == Framing::ModbusTcp ? kMbapHeaderLength : 0;
    const PendingRequest request = Pending();
    int expected = ExpectedReplyLength(framing, FunctionCode, ByteCount);
    if (expected <= header || expected > static_cast<int>(kRxBufferSize))
        return 0;
    int collected = 0;
    LinkInstant lastPiece{};
    bool whole = false;
    while (!whole &&
           AwaitInput(link, collected > 0 ? ReplyFinish(link, deadline, expected, lastPiece)
                                          : deadline)) {
        collected += link.Read(expected - collected, RxBuffer + collected);
        lastPiece = link.Now();
        if (skipNoise) {
            const auto start = std::find(RxBuffer, RxBuffer + collected, Unit());
            collected =
                static_cast<int>(std::copy(start, RxBuffer + collected, RxBuffer) - RxBuffer);
        }
        if (header > 0 && collected >= header && !MbapHeaderMatches(RxBuffer, expected - header) &&
            !MbapHeaderMatches(RxBuffer, ExceptionReplyLength(framing) - header))
            break;
        if (collected > header + 1)
            expected = std::min(expected, ReplyLengthFor(framing, request, RxBuffer[header + 1]));
        whole = collected >= expected;
    }
    Observe(TrafficDirection::Received, RxBuffer, collected);
    const int shown = collected > header ? header : 0;
    RxText = TrafficText(std::span<const uint8_t>(RxBuffer + shown, collected - shown));
    RxLength = static_cast<uint16_t>(collected - shown);
    // An exception padded to a read's length is no reply either.
    if (!whole || collected != expected)
        return 0;
    lastReply_ = link.Now();
    if (header > 0)
        std::memmove(RxBuffer, RxBuffer + header, collected - header);
    return collected - header;
}

LinkInstant ModbusMaster::ReplyFinish(ByteLink& link, LinkInstant deadline, int expected,
                                      LinkInstant lastPiece) const {
    return std::max(deadline + FrameTime(link, expected), lastPiece + kPieceGap);
}

ModbusMaster::Attempt ModbusMaster::Judge(std::span<const uint8_t> reply) {
    const ReplyCheck check = CheckReply(Pending(), Unit(), reply);
    if (check.verdict == ReplyVerdict::Mismatch)
        return Attempt::Failed;
    // A unit asked as 0 tells us its own address with its first reply.
    if (settings_.UnitId == 0 && reply[0] != 0)
        settings_.UnitId = reply[0];
    if (check.verdict == ReplyVerdict::Valid)
        return Attempt::Answered;
    ExceptionCode = check.exceptionCode;
    exceptionSeen_ = true;
    const std::string told = ExceptionText(ExceptionCode);
    RxText += "  " + told;
    ui_.SetStatusText(told);
    return IsTransientException(ExceptionCode) ? Attempt::Busy : Attempt::Exception;
}

int ModbusMaster::TransactAscii() {
    BeginTransaction();
    if (links_.LinkOpen == 0)
        return 0;
    if (BuildRequest(Pending(), Unit(), TxBuffer) <= 0)
        return 0;
    return RunAttempts([this] { return AsciiAttempt(); });
}

ModbusMaster::Attempt ModbusMaster::AsciiAttempt() {
    ByteLink& link = SerialLink();
    if (!PrepareLink(link))
        return Attempt::Failed;
    const int n = BuildRequest(Pending(), Unit(), TxBuffer);
    TxBuffer[n] = Lrc(std::span<const uint8_t>(TxBuffer, n));
    const int characters =
        EncodeAscii(std::span<const uint8_t>(TxBuffer, n + 1), std::span<char>(AsciiTxBuffer));
    const auto* text = reinterpret_cast<const uint8_t*>(AsciiTxBuffer);
    if (characters < 0 || !link.Write(text, characters))
        return Attempt::Failed;
    const LinkInstant deadline = DeadlineFrom(link);
    sentAt_ = link.Now();
    Observe(TrafficDirection::Sent, AsciiTxBuffer, characters);
    if (!TakeEcho(link, text, characters, deadline))
        return Attempt::Failed;
    TxText = TrafficText(std::span<const uint8_t>(TxBuffer, n + 1 > 20 ? 7 : n + 1));

    AsciiRxBuffer[0] = 0;
    RxLength = 0;
    size_t stored = 0;
    const int expected = ExpectedReplyLength(Framing::Ascii, FunctionCode, ByteCount);
    if (!CollectAsciiText(stored, deadline, 2 * expected + 3))
        return Attempt::Failed;
    Observe(TrafficDirection::Received, AsciiRxBuffer, static_cast<int>(stored));

    const AsciiDecodeResult decoded =
        DecodeAscii(std::span<const char>(AsciiRxBuffer, stored), std::span<uint8_t>(RxBuffer));
    if (decoded.odd)
        return Attempt::Failed;
    RxLength = static_cast<uint16_t>(decoded.count);
    RxText = TrafficText(std::span<const uint8_t>(RxBuffer, decoded.count));
    const int length =
        decoded.count > 1 ? ReplyLengthFor(Framing::Ascii, Pending(), RxBuffer[1]) : expected;
    if (decoded.invalid || ByteSum(std::span<const uint8_t>(RxBuffer, decoded.count)) != 0 ||
        static_cast<int>(decoded.count) != length)
        return Attempt::Failed;
    return Judge(std::span<const uint8_t>(RxBuffer, decoded.count - 1));
}

// Collects ":" ... CR LF into AsciiRxBuffer; a colon always starts over. The
// deadline holds whatever the line carries; once a colon has come, the text
// may take one frame time more.
bool ModbusMaster::CollectAsciiText(size_t& stored, LinkInstant deadline, int frameCharacters) {
    ByteLink& link = SerialLink();
    size_t p = 0;
    LinkInstant lastPiece{};
    for (;;) {
        uint8_t character = 0;
        const bool begun = AsciiRxBuffer[0] == ':';
        if (!ReceiveByte(character,
                         begun ? ReplyFinish(link, deadline, frameCharacters, lastPiece) : deadline))
            return false;
        lastPiece = link.Now();
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

bool ModbusMaster::TakeEcho(ByteLink& link, const uint8_t* sent, int count,
                            LinkInstant deadline) {
    if (!settings_.RemoveEcho || settings_.UseIP)
        return true;
    std::vector<uint8_t> echo(static_cast<size_t>(count));
    int got = 0;
    while (got < count && AwaitInput(link, got > 0 ? ReplyFinish(link, deadline, count, {}) : deadline))
        got += link.Read(count - got, echo.data() + got);
    Observe(TrafficDirection::Dropped, echo.data(), got);
    if (got == count && std::equal(echo.begin(), echo.end(), sent))
        return true;
    RxText = modbus_messages::kEchoMismatch;
    ui_.SetStatusText(modbus_messages::kEchoMismatch);
    return false;
}

bool ModbusMaster::ReceiveByte(uint8_t& character, LinkInstant deadline) {
    ByteLink& link = SerialLink();
    while (AwaitInput(link, deadline)) {
        if (link.Read(1, &character) == 1)
            return true;
    }
    return false;
}

}  // namespace fc
