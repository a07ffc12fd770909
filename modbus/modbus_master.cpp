#include "modbus/modbus_master.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "modbus/frame_trace.h"
#include "modbus/framing.h"
#include "modbus/link_failure.h"
#include "modbus/messages.h"
#include "platform/stop_request.h"
#include "platform/user_interface.h"

namespace fc {

namespace {
using std::chrono::microseconds;

// The window must hear from us at least every 100 ms; waits are cut this short.
constexpr std::chrono::milliseconds kWindowTurn{50};
// Modbus fixes the end-of-frame silence at 1.75 ms above 19200 baud; a
// gateway's line behind a socket has at least that between two frames.
constexpr microseconds kMinimumFrameGap{1750};
// The wake-up jitter of the writer and of this thread on top of a gap.
constexpr microseconds kDeliveryMargin{100};
// USB serial adapters hand over what they received every 16 ms or so: a
// reply that has begun by the deadline may go on while its pieces come that
// far apart, for its time at the line rate and two such periods at most.
constexpr std::chrono::milliseconds kPieceGap{32};
// A line that never falls quiet still gets its request after this many
// pieces have been dropped in front of it.
constexpr int kMaxDroppedChunks = 16;
// While the link's far end is away it is looked for this often.
constexpr std::chrono::milliseconds kLinkLookup{100};
// After a failed attempt over TCP, before the new connection: a gateway
// that has just given up on its unit is given a moment.
constexpr std::chrono::milliseconds kReconnectBackOff{25};
// The most one read takes off the link.
constexpr int kChunk = 256;

// Why bytes were dropped, as the trace tells it.
constexpr const char* kNoFrame = "no frame";
constexpr const char* kCorrupt = "check bytes do not hold";
constexpr const char* kOtherRequest = "answers another request";
constexpr const char* kRepeat = "a repeat of an earlier reply";
constexpr const char* kAmbiguous = "ambiguous: two different frames back to back";
constexpr const char* kUndecided = "the same as a reply to another request; asked again";
constexpr const char* kOtherTransaction = "another transaction id";
constexpr const char* kOwed = "owed to an earlier attempt";
constexpr const char* kBeforeRequest = "came before the request";
constexpr const char* kEcho = "the adapter's echo";
constexpr const char* kUnfinished = "an unfinished frame";

// Busy, acknowledge (the unit is still at it) and the gateway's two: the next
// attempt may well be answered.
bool IsTransientException(int code) {
    return code == 5 || code == 6 || code == 10 || code == 11;
}

// A gateway that gave up on its unit may still pass the unit's answer on.
bool LeavesReplyOwed(int code) {
    return code == 10 || code == 11;
}

bool IsTcp(Framing framing) {
    return framing == Framing::ModbusTcp || framing == Framing::Encapsulated;
}
}  // namespace

ModbusMaster::ModbusMaster(CommSettings& settings, LinkFlags& links, UserInterface& ui,
                           PortResolver resolver)
    : SerialPort(std::move(resolver)), settings_(settings), links_(links), ui_(ui) {
    AsciiTxBuffer[0] = ':';
    Socket.OnWaiting = [this] { ui_.PumpPaintMessages(); };
}

// Whatever the line may still carry when the driver goes (a reply owed to
// a run the user stopped, replies that may come again) is left beside it for
// the next run that opens the device, which waits it out; this one ends now.
ModbusMaster::~ModbusMaster() {
    if (attached_ == nullptr && IsOpen())
        KeepLineRecord();
}

// At another speed a late reply is no frame: the line's evidence is learned
// again on another port or at another speed, not each time the same port
// opens (the watch opens it for every poll).
bool ModbusMaster::Open(int port, int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    const bool opened = SerialPort::Open(port, baud, dataBits, parity, stopBits);
    if (opened && attached_ == nullptr)
        guard_.Restore(LoadLineRecord(), Now(), LineSpeed());
    return opened;
}

void ModbusMaster::Close() {
    if (attached_ != nullptr || IsOpen())
        KeepLineRecord();
    SerialPort::Close();
}

void ModbusMaster::AttachLink(ByteLink* link) {
    attached_ = link;
    if (link != nullptr)
        guard_.Restore(link->LoadLineRecord(), link->Now(), LineSpeed());
}

int ModbusMaster::LineSpeed() const {
    const ByteLink& link =
        attached_ ? *attached_ : static_cast<const ByteLink&>(static_cast<const SerialPort&>(*this));
    return static_cast<int>(link.CharacterTime().count());
}

void ModbusMaster::KeepLineRecord() {
    if (settings_.UseIP)
        return;
    ByteLink& link = SerialLink();
    link.SaveLineRecord(guard_.Record(link.Now(), LineSpeed()));
}

void ModbusMaster::Observe(TrafficDirection direction, const void* bytes, int count) const {
    if (OnTraffic.Empty() || count <= 0)
        return;
    const auto wire = std::span(static_cast<const uint8_t*>(bytes), count);
    OnTraffic.Notify(ObservedFrame(settings_, Socket.Handle(), direction, wire));
}

void ModbusMaster::Drop(std::span<const uint8_t> bytes, const char* reason) const {
    if (OnTraffic.Empty() || bytes.empty())
        return;
    TrafficFrame frame = ObservedFrame(settings_, Socket.Handle(), TrafficDirection::Dropped, bytes);
    frame.reason = reason;
    OnTraffic.Notify(frame);
}

PendingRequest ModbusMaster::Pending() const {
    return {FunctionCode, StartAddress, RegisterCount, ByteCount, Data};
}

uint8_t ModbusMaster::Unit() const {
    return FunctionCode == kDiagnostics ? 0 : static_cast<uint8_t>(settings_.UnitId);
}

int ModbusMaster::Transact() {
    return settings_.UseIP ? TransactTcp() : TransactRtu();
}

int ModbusMaster::TransactRtu() {
    return RunTransaction(Framing::Rtu);
}

int ModbusMaster::TransactAscii() {
    return RunTransaction(Framing::Ascii);
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

// A far end that has gone (a unit that closed its connection, a serial
// device unplugged) is made again while the wait lasts: the attempt takes
// its time, as the settings promise, and a request sent before is not
// answered on the new link.
bool ModbusMaster::AwaitInput(ByteLink& link, LinkInstant deadline) {
    for (;;) {
        GiveWindowTurn(link);
        if (link.BytesWaiting() > 0)
            return true;
        const LinkInstant now = link.Now();
        if (now >= deadline || StopRaised())
            return false;
        if (link.Gone()) {
            WaitForLink(link, deadline);
            continue;
        }
        const auto left = std::chrono::duration_cast<microseconds>(deadline - now);
        link.WaitReadable(std::min<microseconds>(left, kWindowTurn));
    }
}

int ModbusMaster::ReadWaiting(ByteLink& link, std::vector<uint8_t>& stream) {
    uint8_t chunk[kChunk];
    const int got = link.Read(std::clamp(link.BytesWaiting(), 1, kChunk), chunk);
    if (got > 0) {
        stream.insert(stream.end(), chunk, chunk + got);
        lastHeard_ = link.Now();
    }
    return got;
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
int ModbusMaster::RunAttempts() {
    const int retry = std::min<int>(settings_.Retry, kMaxRetry);
    request_ = RequestFrame();
    if (guard_.OwedUntil(request_) != LinkInstant{})
        SettleOwedReplies(TransactionLink());
    failedBefore_ = false;
    seriesIds_.clear();
    suspectedBefore_.clear();
    int index = 0;
    for (;;) {
        const Attempt result = StopRaised() ? Attempt::Failed : RunAttempt();
        NoteOwedReply(result);
        const bool unanswered = result == Attempt::Failed || result == Attempt::Ambiguous;
        failedBefore_ = failedBefore_ || unanswered || result == Attempt::Busy;
        if (StopRaised()) {
            stopped_ = true;
            return 0;
        }
        if (result == Attempt::Answered) {
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

// An attempt that went unanswered (or whose gateway gave up on the unit)
// may still get its reply; a different request waits for it first. Over
// TCP a failed attempt takes its connection with it; a broadcast is owed
// nothing. In ASCII unit 0 is asked like any other, and answers.
void ModbusMaster::NoteOwedReply(Attempt result) {
    const bool owed = result == Attempt::Failed || result == Attempt::Ambiguous ||
                      (result == Attempt::Busy && LeavesReplyOwed(ExceptionCode));
    const bool identified = framing_ == Framing::ModbusTcp && !idsIgnored_;
    if (!owed || IsBroadcast(framing_) || identified ||
        (IsTcp(framing_) && result != Attempt::Busy))
        return;
    guard_.NoteOwed(request_, sentAt_, std::chrono::seconds(std::max<int>(settings_.Timeout, 0)),
                    result == Attempt::Busy);
}

// The request as the unit reads it, without check bytes: a late reply to the
// same frame answers it as well as its own would.
std::vector<uint8_t> ModbusMaster::RequestFrame() const {
    std::vector<uint8_t> frame(kTxBufferSize);
    frame.resize(static_cast<size_t>(std::max(BuildRequest(Pending(), Unit(), frame), 0)));
    return frame;
}

// Each burst that comes and falls quiet is taken for one of the replies
// owed; once all have come, or the time they could take is over, the line
// is clear. A use that ended on the user's stop ends when asked; the next
// request (or the next run, through the line's record) waits then.
void ModbusMaster::SettleOwedReplies(ByteLink& link) {
    while (!StopRaised() && !endedOnStop_ && guard_.Owes() &&
           link.Now() < guard_.OwedUntil({})) {
        const LinkInstant until = guard_.OwedUntil({});
        // A closed port has nothing to drop; it is not opened again for this.
        if (link.Gone()) {
            GiveWindowTurn(link);
            link.Pause(std::min<microseconds>(
                std::chrono::duration_cast<microseconds>(until - link.Now()), kWindowTurn));
            continue;
        }
        if (!AwaitInput(link, until))
            continue;
        std::vector<uint8_t> burst;
        do {
            ReadWaiting(link, burst);
        } while (burst.size() < kRxBufferSize &&
                 AwaitInput(link, std::min(until, lastHeard_ + Guard(link))));
        const int owedReplies = RememberOwedReplies(burst);
        Drop(burst, kOwed);
        for (int i = 0; i < owedReplies && guard_.Owes(); ++i)
            guard_.NoteOwedReplyCame();
    }
    if (guard_.Owes() && link.Now() >= guard_.OwedUntil({}))
        guard_.ClearOwed();
}

// The frames of a burst that are replies to the request owed, and not the
// repeat of a reply that answered another: each is one reply owed that has
// come. It may come again (a line that repeats its replies), so it is
// remembered as the answer it was, and its repeat is known for one.
int ModbusMaster::RememberOwedReplies(std::span<const uint8_t> burst) {
    const std::vector<uint8_t> request = guard_.OwedRequest();
    int found = 0;
    if (request.size() < 2)
        return found;
    const FramingRow& row = FramingRowOf(FramingOf(settings_));
    const PendingRequest shape{request[1], 0, 0, 0, nullptr};
    std::vector<uint8_t> rest(burst.begin(), burst.end());
    for (int i = 0; i < kMaxDroppedChunks && !rest.empty(); ++i) {
        const FrameScan scan = row.scan(rest, shape, request[0]);
        if (scan.kind == FrameScan::Kind::More)
            break;
        std::vector<uint8_t> reply;
        const LinkInstant now = SerialLink().Now();
        if (scan.kind == FrameScan::Kind::Frame &&
            row.unwrap(std::span(rest).first(scan.length), reply) &&
            !guard_.LooksRepeated(request, reply, now)) {
            guard_.NoteAnswer(request, reply, now, {});
            ++found;
        }
        rest.erase(rest.begin(), rest.begin() + scan.length);
    }
    return found;
}

void ModbusMaster::DropWaiting(ByteLink& link, const char* reason) {
    std::vector<uint8_t> dropped;
    for (int i = 0; i < kMaxDroppedChunks && link.BytesWaiting() > 0; ++i) {
        dropped.clear();
        if (ReadWaiting(link, dropped) <= 0)
            break;
        Drop(dropped, reason);
    }
}

bool ModbusMaster::Remake(ByteLink& link, LinkInstant deadline) {
    const bool made = link.ReconnectBy(deadline);
    if (settings_.UseIP) {
        idsIgnored_ = false;
        guard_.Forget();
    }
    return made;
}

bool ModbusMaster::PrepareLink(ByteLink& link, LinkInstant deadline) {
    if (settings_.UseIP && std::exchange(reconnectDue_, false)) {
        GiveWindowTurn(link);
        link.Pause(std::min<microseconds>(
            kReconnectBackOff,
            std::max(std::chrono::duration_cast<microseconds>(deadline - link.Now()), microseconds{})));
        if (!Remake(link, deadline)) {
            WaitForLink(link, deadline);
            return false;
        }
    }
    DropWaiting(link, kBeforeRequest);
    if (link.Gone() && !Remake(link, deadline)) {
        WaitForLink(link, deadline);
        return false;
    }
    if (!settings_.UseIP)
        AwaitQuietLine(link, deadline);
    return true;
}

void ModbusMaster::WaitForLink(ByteLink& link, LinkInstant deadline) {
    while (!StopRaised() && link.Now() < deadline) {
        GiveWindowTurn(link);
        const auto left = std::chrono::duration_cast<microseconds>(deadline - link.Now());
        link.Pause(std::min<microseconds>(left, kLinkLookup));
        if (Remake(link, deadline) && !link.Gone())
            return;
    }
}

// Modbus wants 3.5 characters of silence between frames; a request sent
// while a frame is still coming would have its tail taken for the answer's
// head. A line last heard longer ago than that costs nothing.
void ModbusMaster::AwaitQuietLine(ByteLink& link, LinkInstant deadline) {
    for (int i = 0; i < kMaxDroppedChunks; ++i) {
        if (!AwaitInput(link, std::min(lastHeard_ + Guard(link), deadline)))
            return;
        DropWaiting(link, kBeforeRequest);
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

bool ModbusMaster::IsBroadcast(Framing framing) const {
    return framing == Framing::Rtu && Unit() == 0 && FunctionCode != kDiagnostics;
}

bool ModbusMaster::RefuseBroadcastRead() {
    if (!IsBroadcast(framing_) || FunctionCode == kWriteMultipleRegisters)
        return false;
    RxText = modbus_messages::kBroadcastReadRefused;
    ui_.SetStatusText(modbus_messages::kBroadcastReadRefused);
    return true;
}

// A request refused at the transport's gate reports nothing of the
// previous transaction's outcome.
int ModbusMaster::RunTransaction(Framing framing) {
    framing_ = framing;
    // A TCP request refused at its gate leaves the traffic texts as they
    // were, the page's fields showing the last exchange there was.
    if (IsTcp(framing) && links_.LinkState == kLinkDown) {
        ExceptionCode = 0;
        EndedByException = false;
        return 0;
    }
    BeginTransaction();
    if (!IsTcp(framing) && links_.LinkOpen == 0)
        return 0;
    if (RequestFrameLength(Pending()) <= 0)
        return 0;  // refused by the codec: nothing that could be sent
    if (RefuseBroadcastRead())
        return 0;
    return RunAttempts();
}

int ModbusMaster::Probe(Framing framing, std::span<const uint8_t> data) {
    BeginTransaction();
    FunctionCode = kDiagnostics;
    StartAddress = 0;
    RegisterCount = 0;
    ByteCount = static_cast<int32_t>(data.size());
    Data = data.data();
    framing_ = framing;
    seriesIds_.clear();
    suspectedBefore_.clear();
    const Attempt result = RunAttempt();
    Data = nullptr;
    return result == Attempt::Answered ? 1 : 0;
}

uint16_t ModbusMaster::NextTransaction() {
    if (++transaction_ == 0)
        ++transaction_;
    seriesIds_.push_back(transaction_);
    return transaction_;
}

ModbusMaster::Attempt ModbusMaster::RunAttempt() {
    ByteLink& link = TransactionLink();
    const FramingRow& row = FramingRowOf(framing_);
    if (!PrepareLink(link, DeadlineFrom(link)))
        return Attempt::Failed;
    // Built each attempt: a unit asked as 0 may have told its address.
    request_ = RequestFrame();
    const std::vector<uint8_t>& frame = request_;
    const uint16_t transaction = row.identified ? NextTransaction() : 0;
    uint8_t wire[kAsciiTxBufferSize];
    const int total = row.wrap(frame, transaction, std::span<uint8_t>(wire));
    if (total <= 0)
        return Attempt::Failed;
    const bool written = link.Write(wire, total);
    const LinkInstant deadline = DeadlineFrom(link);
    sentAt_ = link.Now();
    // The page's fields show the request's bytes; long block writes over the
    // serial line only their head, an ASCII request its bytes, not its text.
    if (framing_ == Framing::Ascii) {
        std::copy(frame.begin(), frame.end(), TxBuffer);
        TxBuffer[frame.size()] = Lrc(frame);
        std::memcpy(AsciiTxBuffer, wire, static_cast<size_t>(total));
    } else {
        std::memcpy(TxBuffer, wire, static_cast<size_t>(total));
    }
    if (written) {
        Observe(TrafficDirection::Sent, wire, total);
        const int shown = framing_ == Framing::Ascii ? static_cast<int>(frame.size()) + 1 : total;
        const bool serial = !IsTcp(framing_);
        TxText = TrafficText(std::span<const uint8_t>(TxBuffer, serial && shown > 20 ? 7 : shown));
    }
    RxBuffer[0] = 0;
    RxLength = 0;
    if (IsBroadcast(framing_)) {
        RxText = modbus_messages::kBroadcastNotice;
        return Attempt::Answered;
    }
    Attempt result = Attempt::Failed;
    if (written && TakeEcho(link, wire, total, deadline))
        result = AwaitReply(link, framing_, transaction, deadline);
    // Whatever is late goes with the old connection.
    reconnectDue_ = settings_.UseIP && (result == Attempt::Failed || result == Attempt::Ambiguous);
    return result;
}

microseconds ModbusMaster::FrameTime(ByteLink& link, int characters) const {
    const auto character = link.CharacterTime();
    return character * characters + std::max(character * 7 / 2, kMinimumFrameGap) + kDeliveryMargin;
}

microseconds ModbusMaster::Guard(ByteLink& link) const {
    const auto gap = link.CharacterTime() * 7 / 2;
    return (settings_.UseIP ? std::max(gap, kMinimumFrameGap) : gap) + kDeliveryMargin;
}

// Bytes are read as they come and cut into frames by the framing's own
// lengths, so a reply is whole the moment its last byte is in; frames that
// answer something else are dropped and the wait goes on. The wait ends at
// the deadline the request set; a frame that has begun by then may finish
// at the line rate.
ModbusMaster::Attempt ModbusMaster::AwaitReply(ByteLink& link, Framing framing,
                                               uint16_t transaction, LinkInstant deadline) {
    const FramingRow& row = FramingRowOf(framing);
    const PendingRequest request = Pending();
    const bool evidence = !row.identified;
    const int expected = ExpectedReplyLength(framing, FunctionCode, ByteCount);
    const int characters = framing == Framing::Ascii ? 2 * expected + 3 : expected;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> seen;
    LinkInstant begun{};
    // A frame that looks like a reply this line gave to another request is
    // held while the answer may still come behind it.
    std::vector<uint8_t> held, heldReply;
    LinkInstant heldFirst{}, holdUntil{};
    for (;;) {
        const FrameScan scan = row.scan(stream, request, Unit());
        if (scan.kind != FrameScan::Kind::More) {
            const std::vector<uint8_t> front(stream.begin(), stream.begin() + scan.length);
            stream.erase(stream.begin(), stream.begin() + scan.length);
            const LinkInstant first = begun;
            begun = stream.empty() ? LinkInstant{} : link.Now();
            std::vector<uint8_t> reply;
            if (scan.kind == FrameScan::Kind::Noise) {
                Drop(front, kNoFrame);
                continue;
            }
            if (!Answers(framing, front, transaction, reply))
                continue;
            const bool judged = evidence || idsIgnored_;
            const LinkInstant now = link.Now();
            const bool suspectBefore = std::ranges::equal(reply, suspectedBefore_);
            if (judged && !suspectBefore && guard_.LooksRepeated(request_, reply, now)) {
                // Later than the unit answers this request, or behind another
                // such frame, it is not the answer.
                holdUntil = guard_.HoldUntil(request_, sentAt_, deadline);
                if (!held.empty() || now >= holdUntil) {
                    suspectedBefore_ = reply;
                    Drop(front, kRepeat);
                    continue;
                }
                held = front;
                heldReply = reply;
                heldFirst = first;
                continue;
            }
            Drop(held, kRepeat);
            if (judged && !QuietBehind(link, framing, front, stream)) {
                Drop(front, kAmbiguous);
                Drop(stream, kAmbiguous);
                AwaitQuietLine(link, deadline + FrameTime(link, characters));
                return Attempt::Ambiguous;
            }
            const Attempt taken = Take(framing, front, reply, first);
            // Behind the answer, copies of it are repeats; the rest answers
            // nothing asked.
            while (stream.size() >= front.size() &&
                   std::equal(front.begin(), front.end(), stream.begin())) {
                Drop(std::span(stream).first(front.size()), kRepeat);
                stream.erase(stream.begin(), stream.begin() + front.size());
            }
            Drop(stream, kOtherRequest);
            return taken;
        }
        LinkInstant until = deadline;
        if (!stream.empty() && begun <= deadline)
            until = std::max(deadline, std::min(lastHeard_ + kPieceGap,
                                                deadline + FrameTime(link, characters) + 2 * kPieceGap));
        if (!held.empty() && stream.empty())
            until = std::min(until, holdUntil);
        if (!AwaitInput(link, until)) {
            if (!held.empty() && !StopRaised()) {
                if (link.Now() >= deadline) {
                    // Held to the end: the unit's answer may be this very frame.
                    suspectedBefore_ = heldReply;
                    Drop(held, kUndecided);
                    return Attempt::Ambiguous;
                }
                if (QuietBehind(link, framing, held, stream))
                    return Take(framing, held, heldReply, heldFirst);
                Drop(held, kAmbiguous);
                return Attempt::Ambiguous;
            }
            Drop(held, kRepeat);
            Drop(stream, kUnfinished);
            ShowUnanswered(framing, seen);
            return Attempt::Failed;
        }
        if (stream.empty())
            begun = link.Now();
        const size_t before = stream.size();
        ReadWaiting(link, stream);
        if (seen.size() < kRxBufferSize)
            seen.insert(seen.end(), stream.begin() + before,
                        stream.begin() + before +
                            std::min(stream.size() - before, kRxBufferSize - seen.size()));
    }
}

// What came for an attempt that took nothing, as the Receive Message field
// shows a reply: bytes from the unit address on, an ASCII text decoded as far
// as it is hex.
void ModbusMaster::ShowUnanswered(Framing framing, std::span<const uint8_t> seen) {
    std::vector<uint8_t> shown;
    if (framing == Framing::Ascii) {
        const auto colon = std::find(seen.begin(), seen.end(), uint8_t{':'});
        const size_t from = colon == seen.end() ? seen.size() : size_t(colon - seen.begin()) + 1;
        for (size_t i = from; i + 1 < seen.size() && shown.size() < kRxBufferSize; i += 2) {
            char pair[3] = {char(seen[i]), char(seen[i + 1]), 0};
            const long value = std::isxdigit(seen[i]) && std::isxdigit(seen[i + 1])
                                   ? std::strtol(pair, nullptr, 16) : -1;
            if (value < 0)
                break;
            shown.push_back(static_cast<uint8_t>(value));
        }
    } else {
        const size_t header = static_cast<size_t>(FramingRowOf(framing).header);
        const auto body = seen.size() > header ? seen.subspan(header) : seen;
        shown.assign(body.begin(), body.begin() + std::min(body.size(), kRxBufferSize));
    }
    std::copy(shown.begin(), shown.end(), RxBuffer);
    RxLength = static_cast<uint16_t>(shown.size());
    RxText = TrafficText(shown);
}

bool ModbusMaster::Answers(Framing framing, std::span<const uint8_t> frame, uint16_t transaction,
                           std::vector<uint8_t>& reply) {
    const FramingRow& row = FramingRowOf(framing);
    if (!row.unwrap(frame, reply)) {
        Drop(frame, kCorrupt);
        return false;
    }
    const ReplyCheck check = CheckReply(Pending(), Unit(), reply);
    const uint16_t id = MbapTransaction(frame);
    // An answer to an earlier attempt of the same request (a gateway that
    // gave up on its unit, then passed the unit's reply on) answers it too.
    const bool ours = id == transaction ||
                      std::find(seriesIds_.begin(), seriesIds_.end(), id) != seriesIds_.end();
    if (row.identified && !ours) {
        // We never send id 0: a server that answers with it ignores ids,
        // and its replies are judged as frames without them.
        const bool ignoresIds = id == 0 && check.verdict != ReplyVerdict::Mismatch;
        idsIgnored_ = idsIgnored_ || ignoresIds;
        if (!ignoresIds) {
            Drop(frame, kOtherTransaction);
            return false;
        }
    }
    if (check.verdict == ReplyVerdict::Mismatch) {
        Drop(frame, kOtherRequest);
        return false;
    }
    return true;
}

// Behind a frame the line must stay quiet for the guard. Noise there is
// dropped, and the frame itself again is a repeat; any other frame beginning
// within the guard leaves two candidates, and neither is taken.
bool ModbusMaster::QuietBehind(ByteLink& link, Framing framing, std::span<const uint8_t> frame,
                               std::vector<uint8_t>& behind) {
    const FramingRow& row = FramingRowOf(framing);
    const PendingRequest request = Pending();
    const int expected = ExpectedReplyLength(framing, FunctionCode, ByteCount);
    for (int round = 0; round < kMaxDroppedChunks; ++round) {
        // A far end that has closed its connection sends nothing more.
        if (behind.empty() && link.Gone())
            return true;
        FrameScan scan = row.scan(behind, request, Unit());
        while (scan.kind != FrameScan::Kind::More) {
            const auto front = std::span(behind).first(scan.length);
            const bool same = std::equal(front.begin(), front.end(), frame.begin(), frame.end());
            if (scan.kind == FrameScan::Kind::Frame && !same)
                return false;
            Drop(front, same ? kRepeat : kNoFrame);
            behind.erase(behind.begin(), behind.begin() + scan.length);
            scan = row.scan(behind, request, Unit());
        }
        if (!behind.empty()) {
            // A frame has begun behind: it finishes at the line rate, or was
            // none.
            if (!AwaitInput(link, lastHeard_ + FrameTime(link, expected))) {
                Drop(behind, kNoFrame);
                behind.clear();
            } else {
                ReadWaiting(link, behind);
            }
            continue;
        }
        if (!AwaitInput(link, lastHeard_ + Guard(link)))
            return true;
        ReadWaiting(link, behind);
    }
    return false;
}

ModbusMaster::Attempt ModbusMaster::Take(Framing framing, std::span<const uint8_t> frame,
                                         std::span<const uint8_t> reply, LinkInstant firstByte) {
    ByteLink& link = TransactionLink();
    const FramingRow& row = FramingRowOf(framing);
    if (framing == Framing::Ascii) {
        std::copy(reply.begin(), reply.end(), RxBuffer);
        RxBuffer[reply.size()] = Lrc(reply);
        RxLength = static_cast<uint16_t>(reply.size() + 1);
        const size_t text = std::min(frame.size(), kAsciiRxBufferSize - 1);
        std::memcpy(AsciiRxBuffer, frame.data(), text);
        AsciiRxBuffer[text] = 0;
    } else {
        const auto body = frame.subspan(static_cast<size_t>(row.header));
        std::copy(body.begin(), body.end(), RxBuffer);
        RxLength = static_cast<uint16_t>(body.size());
    }
    RxText = TrafficText(std::span<const uint8_t>(RxBuffer, RxLength));
    Observe(TrafficDirection::Received, frame.data(), static_cast<int>(frame.size()));
    const LinkInstant now = link.Now();
    const auto answerTime = std::chrono::duration_cast<microseconds>(
        (firstByte == LinkInstant{} ? now : firstByte) - sentAt_);
    guard_.NoteAnswer(request_, reply, now, std::max(answerTime, microseconds{}));
    if (failedBefore_)
        guard_.NoteRetryAnswered(request_);
    return Judge(reply);
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

bool ModbusMaster::TakeEcho(ByteLink& link, const uint8_t* sent, int count,
                            LinkInstant deadline) {
    if (!settings_.RemoveEcho || settings_.UseIP)
        return true;
    std::vector<uint8_t> echo;
    while (static_cast<int>(echo.size()) < count &&
           AwaitInput(link, echo.empty() ? deadline : deadline + FrameTime(link, count))) {
        uint8_t chunk[kChunk];
        const int want = std::min(count - static_cast<int>(echo.size()), kChunk);
        const int got = link.Read(std::min(std::max(link.BytesWaiting(), 1), want), chunk);
        echo.insert(echo.end(), chunk, chunk + std::max(got, 0));
        lastHeard_ = link.Now();
    }
    Drop(echo, kEcho);
    if (static_cast<int>(echo.size()) == count && std::equal(echo.begin(), echo.end(), sent))
        return true;
    // The traffic texts keep bytes: what came back stands where a reply would.
    RxText = TrafficText(echo);
    ui_.SetStatusText(EchoMismatchText);
    return false;
}

}  // namespace fc
