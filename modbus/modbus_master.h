#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "modbus/byte_link.h"
#include "modbus/comm_settings.h"
#include "modbus/driver_socket.h"
#include "modbus/frame_codec.h"
#include "modbus/link_flags.h"
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

// " %02X" per byte: the traffic texts shown by the register pages.
std::string TrafficText(std::span<const uint8_t> bytes);

// The one driver object: it is the serial port, holds the pending request and
// the frame buffers, and runs the transactions over the transport that the
// live settings select.
class ModbusMaster : public SerialPort {
  public:
    ModbusMaster(CommSettings& settings, LinkFlags& links, UserInterface& ui,
                 PortResolver resolver = {});
    ~ModbusMaster() override;

    // Also drops OpenState and LinkOpen: a closed port carries no link.
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
    void AttachLink(ByteLink* link) { attached_ = link; }
    ByteLink& SerialLink() { return attached_ ? *attached_ : static_cast<SerialPort&>(*this); }
    ByteLink& TcpLink() { return attached_ ? *attached_ : static_cast<ByteLink&>(Socket); }

    // The moment the Timeout setting ends a wait that starts now on `link`.
    LinkInstant DeadlineFrom(ByteLink& link) const;
    // The one wait of every transaction: until `link` has input or `deadline`
    // has come. The window gets its turn at least every 100 ms meanwhile.
    bool AwaitInput(ByteLink& link, LinkInstant deadline);
    // One byte by the deadline.
    bool ReceiveByte(uint8_t& byte, LinkInstant deadline);
    // Collects ":" ... CR LF into AsciiRxBuffer by the deadline; a text that
    // has begun may finish at the line rate for `frameCharacters` more.
    // `stored` is the number of characters kept.
    bool CollectAsciiText(size_t& stored, LinkInstant deadline, int frameCharacters);

    // While the request is raised, every wait of a transaction ends at its
    // next slice and the attempts end without asking: the transaction
    // returns 0. nullptr (the start) stops nothing.
    void SetStopRequest(const StopRequest* stop) { stop_ = stop; }
    // Whether the last transaction ended so.
    bool StoppedByRequest() const { return stopped_; }

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
    int32_t OpenState = 0;
    std::string RxText;
    std::string TxText;
    // The code of the exception reply that ended the last transaction; 0
    // when none did.
    int ExceptionCode = 0;
    // Tell every frame as it went out and every reply (or what came of one)
    // as it was taken, whole and on the wire's framing: the trace, captures
    // and the traffic window watch here.
    TrafficObservers OnTraffic;
    // Hands bytes to OnTraffic; also for exchanges run beside the
    // transactions (the auto-detect probe), so a trace misses none.
    void Observe(TrafficDirection direction, const void* bytes, int count) const;

  private:
    enum class Attempt { Answered, Failed, Exception };

    PendingRequest Pending() const;
    uint8_t Unit() const { return static_cast<uint8_t>(settings_.UnitId); }
    // Runs attempts until one succeeds or the series ends (see the .cpp).
    int RunAttempts(const std::function<Attempt()>& attempt);
    // Clears the traffic texts and the exception of the previous transaction.
    void BeginTransaction();
    // A read sent to unit 0 over RTU would be a broadcast no unit answers.
    bool RefuseBroadcastRead();
    Attempt RtuAttempt();
    // Collects a reply of the framing into RxBuffer: `header` bytes (MBAP),
    // then unit, function and the rest, by the deadline, or a frame time
    // later once the reply has begun. `skipNoise` drops bytes in front of
    // the unit address. 0 when nothing whole came.
    int CollectReply(ByteLink& link, Framing framing, LinkInstant deadline, bool skipNoise);
    // True when another byte comes within the silence that ends a frame.
    bool LineContinues(ByteLink& link);
    // How long `characters` take on the link, with the frame gap behind.
    std::chrono::microseconds FrameTime(ByteLink& link, int characters) const;
    // Checks a reply whose check bytes passed; adopts the answering unit where
    // 0 was asked, and tells the user about an exception.
    Attempt Judge(std::span<const uint8_t> reply);
    Attempt AsciiAttempt();
    Attempt TcpAttempt();
    void GiveWindowTurn(ByteLink& link);

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
    bool StopRaised();
    const StopRequest* stop_ = nullptr;
    bool stopped_ = false;
};

}  // namespace fc
