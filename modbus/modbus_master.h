#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "modbus/byte_link.h"
#include "modbus/comm_settings.h"
#include "modbus/driver_socket.h"
#include "modbus/frame_codec.h"
#include "modbus/line_guard.h"
#include "modbus/link_flags.h"
#include "modbus/messages.h"
#include "modbus/serial_port.h"
#include "modbus/traffic_frame.h"

namespace fc {

class StopRequest;
class UserInterface;

// The register window whose registers are 4 bytes wide for the block requests.
inline constexpr int kWideWindowFirst = 7000;
inline constexpr int kWideWindowLast = 7999;
// Block requests take a count in 1..kMaxBlockCount.
inline constexpr int kMaxBlockCount = 32766;
// The most repeated attempts a transaction makes, whatever the settings say:
// the Comm Settings dialog's own upper bound.
inline constexpr int kMaxRetry = 100;
// A read reply carries its data length in one byte.
inline constexpr int kMaxReadByteCount = 255;

// How a float sits in the unit's registers. The default is one 4-byte
// register, most significant byte first. Units that keep floats in two
// ordinary 2-byte registers take TwoRegisters (register count 2 for the same
// four bytes); units that store the low word first take LowWordFirst, which
// swaps the two 16-bit halves on the wire. Both apply alike to reads and
// writes, so a value written reads back the same.
struct FloatLayout {
    bool TwoRegisters = false;
    bool LowWordFirst = false;
};

// A float value travels as its IEEE 754 single-precision bytes, most
// significant first, unless the layout puts the low word first. Each
// direction is one function so that the wire form lives in one place.
void FloatToWire(double value, uint8_t wire[4], FloatLayout layout = {});
double FloatFromWire(const uint8_t wire[4], FloatLayout layout = {});

// The width of each register of a block that starts at start: 4 bytes inside
// the window, 2 elsewhere.
int BlockRegisterWidth(int start);

// The one driver object: it is the serial port, holds the pending request and
// the frame buffers, and runs the transactions over the transport that the
// live settings select.
class ModbusMaster : public SerialPort {
  public:
    ModbusMaster(CommSettings& settings, LinkFlags& links, UserInterface& ui,
                 PortResolver resolver = {});
    ~ModbusMaster() override;

    // A port opened takes in what the last driver on its line left there
    // (replies still owed, replies that may come again); a port closed
    // leaves this driver's for the next.
    bool Open(int port, int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits) override;
    void Close() override;

    // RTU over the serial line, or TCP when UseIP is on. 1 on a valid reply
    // (or a broadcast sent), 0 otherwise.
    int Transact();
    int TransactRtu();
    int TransactAscii();
    // Modbus TCP (IPProtocol 0) or RTU frames over TCP (any other value).
    int TransactTcp();

    // Connects Socket to IPAddress:IPPort; see ConnectBoundSeconds.
    bool ConnectSocket();
    bool CloseSocket();
    int ConnectBoundSeconds() const;

    // Register requests; each runs one transaction, nonzero for success.
    int ReadRegister16(int address, int& value);
    int ReadRegister32(int address, int& value);
    int ReadRegisterFloat(int address, double& value, FloatLayout layout = {});
    int WriteRegister16(int address, int value);
    int WriteRegister32(int address, int value);
    int WriteRegisterFloat(int address, double value, FloatLayout layout = {});
    int ReadRegisterBlock(int start, uint8_t* buffer, int count);
    int ReadRegisterBytes(int start, uint8_t* buffer, int count, int byteCount);
    int WriteRegisterBlock(int start, const uint8_t* data, int count);

    // Hands every transaction a link of the caller's instead of the port
    // and the socket (an in-memory line); nullptr goes back to them.
    void AttachLink(ByteLink* link);
    ByteLink& SerialLink() { return attached_ ? *attached_ : static_cast<SerialPort&>(*this); }
    ByteLink& TcpLink() { return attached_ ? *attached_ : static_cast<ByteLink&>(Socket); }

    // The moment the Timeout setting ends a wait that starts now on `link`.
    LinkInstant DeadlineFrom(ByteLink& link) const;
    // The one wait of every transaction: until `link` has input or `deadline`
    // has come. The window gets its turn at least every 100 ms meanwhile.
    bool AwaitInput(ByteLink& link, LinkInstant deadline);
    // Before a new request on the serial line: waits out the replies that
    // attempts which failed may still be owed, dropping whatever comes.
    void SettleOwedReplies(ByteLink& link);
    // The auto-detect probe: the diagnostics request with `data` to every
    // unit, one attempt in `framing` on the serial line as it is open, no
    // box. 1 when a unit answered; its address is then in RxBuffer[0].
    int Probe(Framing framing, std::span<const uint8_t> data);

    CommSettings& Settings() { return settings_; }
    LinkFlags& Links() { return links_; }
    UserInterface& Ui() { return ui_; }

    uint8_t RxBuffer[kRxBufferSize] = {};
    uint8_t TxBuffer[kTxBufferSize] = {};
    char AsciiRxBuffer[kAsciiRxBufferSize] = {};
    char AsciiTxBuffer[kAsciiTxBufferSize] = {};
    int32_t StartAddress = 0;
    int32_t RegisterCount = 0;
    int32_t ByteCount = 0;
    int32_t FunctionCode = 0;
    const uint8_t* Data = nullptr;
    uint16_t RxLength = 0;
    DriverSocket Socket;
    // Written only by connection management (connection/connection.h).
    int32_t OpenState = 0;
    std::string RxText;
    std::string TxText;
    // The code of the last exception reply of the last transaction, and
    // whether an exception ended it: a refusal at once, or a transient one
    // (busy, acknowledge, gateway) that no later attempt got past.
    int ExceptionCode = 0;
    bool EndedByException = false;
    // What the user is told when an echo the settings expect did not come
    // back as sent; each front end names its own setting.
    const char* EchoMismatchText = modbus_messages::kEchoMismatch;

    // For the life of a StopScope, while its request is raised, every wait
    // of a transaction ends at its next slice and the attempts end without
    // asking the user: the transaction returns 0 and StoppedByRequest() tells
    // why. The request before comes back when the scope ends.
    class StopScope {
      public:
        StopScope(ModbusMaster& master, const StopRequest* stop)
            : master_(master), kept_(master.stop_) {
            master_.stop_ = stop;
        }
        ~StopScope() {
            master_.endedOnStop_ = master_.endedOnStop_ || master_.StopRaised();
            master_.stop_ = kept_;
        }
        StopScope(const StopScope&) = delete;
        StopScope& operator=(const StopScope&) = delete;

      private:
        ModbusMaster& master_;
        const StopRequest* kept_;
    };
    bool StoppedByRequest() const { return stopped_; }
    bool StopRaised() const;
    // Tell every frame as it went out and every reply (or what came of one)
    // as it was taken, whole and on the wire's framing: the trace, captures
    // and the traffic window watch here.
    TrafficObservers OnTraffic;
    // Told after an attempt that went unanswered when another follows: the
    // number of the attempt that failed (from 1) and how many the series
    // holds, so a long operation can say that its unit has gone quiet.
    std::function<void(int failed, int attempts)> OnAttemptFailed;
    // Hands bytes to OnTraffic; also for exchanges run beside the
    // transactions (the auto-detect probe), so a trace misses none.
    void Observe(TrafficDirection direction, const void* bytes, int count) const;

  private:
    // Busy: a transient exception (the unit is busy, or its gateway could
    // not reach it); the next attempt may be answered. Ambiguous: two
    // different frames came back to back, and neither can be told for the
    // answer.
    enum class Attempt { Answered, Failed, Ambiguous, Busy, Exception };
    // A whole frame that came for the attempt under way, and what the
    // request makes of it.
    struct Candidate;

    PendingRequest Pending() const;
    // The probe goes to every unit; any other request to the unit the
    // settings name.
    uint8_t Unit() const;
    // The transaction in `framing`: gates, refusals, then the attempts.
    int RunTransaction(Framing framing);
    // Runs attempts until one succeeds or the series ends (see the .cpp).
    int RunAttempts();
    // Clears the traffic texts and the exception of the previous transaction.
    void BeginTransaction();
    // A read sent to unit 0 over RTU would be a broadcast no unit answers.
    bool RefuseBroadcastRead();
    bool IsBroadcast(Framing framing) const;
    // One attempt of the pending request in the framing the settings select:
    // the frame out, then the reply in, judged by the framing's row.
    Attempt RunAttempt();
    Attempt AwaitReply(ByteLink& link, Framing framing, uint16_t transaction,
                       LinkInstant deadline);
    // Whether a whole frame answers the request under way; dropped (and
    // shown so) when it does not.
    bool Answers(Framing framing, std::span<const uint8_t> frame, uint16_t transaction,
                 std::vector<uint8_t>& reply);
    // The quiet guard behind a frame taken: a repeat of it is dropped, any
    // other frame that begins within it makes the exchange ambiguous.
    bool QuietBehind(ByteLink& link, Framing framing, std::span<const uint8_t> frame,
                     std::vector<uint8_t>& behind);
    void ShowUnanswered(Framing framing, std::span<const uint8_t> seen);
    Attempt Take(Framing framing, std::span<const uint8_t> frame, std::span<const uint8_t> reply,
                 LinkInstant firstByte);
    // How long the quiet behind a frame lasts on `link`: 3.5 characters (at
    // least the Modbus gap where a gateway's line lies behind a socket).
    std::chrono::microseconds Guard(ByteLink& link) const;
    // Reads what waits into `stream`, noting when the line was last heard.
    int ReadWaiting(ByteLink& link, std::vector<uint8_t>& stream);
    // Before each attempt: makes the link again when its far end has gone or
    // an attempt before failed on TCP, clears the line of what answers no
    // request of ours. False when the link is not there; the attempt has
    // then waited its time out.
    bool PrepareLink(ByteLink& link, LinkInstant deadline);
    // Waits until `deadline` on a link that is not there, trying to make it
    // again; ends early when it is back or a stop is raised.
    void WaitForLink(ByteLink& link, LinkInstant deadline);
    bool Remake(ByteLink& link, LinkInstant deadline);
    // Reads what waits on the link and shows it as dropped.
    void DropWaiting(ByteLink& link, const char* reason);
    int RememberOwedReplies(std::span<const uint8_t> burst);
    void Drop(std::span<const uint8_t> bytes, const char* reason) const;
    // Serial: the line quiet for the guard before a request goes out.
    void AwaitQuietLine(ByteLink& link, LinkInstant deadline);
    // After an attempt: what it may still be owed, for SettleOwedReplies.
    void NoteOwedReply(Attempt result);
    std::vector<uint8_t> RequestFrame() const;
    // The box's text when the attempts are used up: why the link is not
    // there, where it has gone.
    std::string UnableToConnectText();
    ByteLink& TransactionLink() { return settings_.UseIP ? TcpLink() : SerialLink(); }
    // How long `characters` take on the link, with the frame gap behind.
    std::chrono::microseconds FrameTime(ByteLink& link, int characters) const;
    // Checks a reply whose check bytes passed; adopts the answering unit where
    // 0 was asked, and tells the user about an exception.
    Attempt Judge(std::span<const uint8_t> reply);
    // Reads back the echo of `count` bytes just sent, when the settings say
    // the adapter echoes; false (and the user told) when it did not come back
    // as sent. True at once when Remove echo is off.
    bool TakeEcho(ByteLink& link, const uint8_t* sent, int count, LinkInstant deadline);
    void GiveWindowTurn(ByteLink& link);
    uint16_t NextTransaction();
    // The line's speed as the record of a serial line tells it.
    int LineSpeed() const;
    void KeepLineRecord();

    void SetRequest(int function, int start, int count, int byteCount, const uint8_t* data);
    // Drains the serial input, then runs the transaction the settings select
    // unless the request was refused.
    int RunRequest(bool refused = false);

    CommSettings& settings_;
    LinkFlags& links_;
    UserInterface& ui_;
    // The big-endian image of a single-value write; lives as long as the
    // object, so it outlasts every transaction that points at it.
    uint8_t ValueImage[4] = {};
    ByteLink* attached_ = nullptr;
    LinkInstant lastWindowTurn_{};
    const StopRequest* stop_ = nullptr;
    bool stopped_ = false;
    // Whether the driver's last use ended on a stop the user asked for; no
    // transaction has begun since.
    bool endedOnStop_ = false;
    bool exceptionSeen_ = false;
    // When the request of the last attempt went out.
    LinkInstant sentAt_{};
    // When a byte last came from the line.
    LinkInstant lastHeard_{};
    LineGuard guard_;
    // The framing of the transaction under way.
    Framing framing_ = Framing::Rtu;
    // Modbus TCP: the id of the last request; 0 is never sent, so a server
    // that answers every request with 0 shows itself.
    uint16_t transaction_ = 0;
    // This connection's server answers with id 0 whatever was asked: its
    // replies are judged by the line's evidence, as frames without ids.
    bool idsIgnored_ = false;
    // The request frame of the attempt under way, without check bytes.
    std::vector<uint8_t> request_;
    // The ids the attempts of the request under way went out with.
    std::vector<uint16_t> seriesIds_;
    // A reply this series set aside as a likely repeat. A line repeats a
    // reply once: the same bytes again, for a retry of the same request,
    // are the unit's answer.
    std::vector<uint8_t> suspectedBefore_;
    // TCP: the last attempt failed, so the next one makes a new connection
    // (a late answer goes with the old one).
    bool reconnectDue_ = false;
    // An attempt of this series failed, so an answer to a later one settles
    // what the failed one is owed.
    bool failedBefore_ = false;
};

}  // namespace fc
