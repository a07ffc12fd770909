#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "modbus/byte_link.h"

namespace fc {

// Where the "Ports" section maps port numbers to device paths.
namespace port_keys {
inline constexpr const char* kSection = "Ports";
inline constexpr const char* kKeyPrefix = "COM";
}  // namespace port_keys

// Port number n to the device paths tried in turn when opening COM n.
using PortResolver = std::function<std::vector<std::string>(int port)>;

// "/dev/ttyS<n-1>", the device COM n means when the profile names none.
std::string DefaultDevicePath(int port);

// Looks COM n up in the "Ports" section of the given application's profile.
// A mapped port opens only its mapped device: falling back to /dev/ttyS<n-1>
// when, say, the USB adapter is busy would silently talk to another line.
PortResolver ProfilePortResolver(const std::string& application_title);

// The line settings for (baud, data bits, parity code, stop-bits code), built
// on the settings the driver reported so every other field keeps its value.
// Raw mode, receiver on, modem status ignored, no flow control of any kind,
// no parity checking. Parity codes 0 none, 1 odd, 2 even; stop-bits codes
// 0 one, 1 one and a half, 2 two. Empty for a baud rate, data-bit count or
// code the line cannot take.
std::optional<termios> BuildLineSettings(const termios& reported, int baud, uint8_t dataBits,
                                         uint8_t parity, uint8_t stopBits);
// speed_t for a rate in bits per second, or B0 when the line has none.
speed_t SpeedFromBaud(int baud);

// The read and write time-outs in the driver's model: a read returns when its
// count has arrived, when the interval passes after a byte without another
// one, or when the total (constant + multiplier x count) has passed.
struct SerialTimeouts {
    int ReadIntervalTimeout = 20;
    int ReadTotalTimeoutMultiplier = 0;
    int ReadTotalTimeoutConstant = 20;
    int WriteTotalTimeoutMultiplier = 0;
    int WriteTotalTimeoutConstant = 0;
};

// What the driver holds for an open port, read back for the port report.
struct SerialDriverState {
    std::string device;
    termios line{};
    SerialTimeouts timeouts;
    std::optional<int> modemLines;  // TIOCM_* bits; none where the device has no modem lines
};

// Why the last open of a port failed: the device it tried and the system's
// error number (errno), so the user is told more than that it did not open.
struct PortOpenFailure {
    std::string device;  // empty when no device was named for the port
    int error = 0;
};

// One serial port, opened by number and used synchronously: every read is a
// short poll bounded by the time-outs, so the transactions measure their own
// waits around it.
class SerialPort : public ByteLink {
  public:
    // The resolver names the devices of a port number; the caller that knows
    // the profile hands it in (a fleet's thread must never read it). Without
    // one, no port number names a device.
    explicit SerialPort(PortResolver resolver = {});
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    virtual bool Open(int port, int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits);
    virtual void Close();
    // Opens only the first device the resolver names for the port and leaves
    // its settings as the driver holds them, so they can be read back as they
    // are (the port report). No fallback: the report must describe the device
    // the number names, not whichever one happened to open.
    bool OpenAsIs(int port);

    bool SetTimeouts(int ms);
    bool Write(const uint8_t* bytes, int count, int* written = nullptr) override;
    int Read(int count, uint8_t* buffer) override;
    // Throws away (or hands back, 0-terminated) whatever waits, `maximum` at a
    // time; the buffer must hold maximum + 1 bytes. True when anything came.
    bool Drain(uint8_t* buffer = nullptr, int maximum = 255) override;
    int BytesWaiting() override;
    // Opens the port of the last Open again, with the same line.
    bool Reconnect() override;
    bool Gone() override;
    // A file per device (its device number, whatever path named it) in the
    // user's runtime folder, which a later run that opens the device reads.
    std::string LoadLineRecord() override;
    void SaveLineRecord(const std::string& record) override;

    bool IsOpen() const { return fd_ >= 0; }
    // Set by every Open or OpenAsIs that fails; cleared by one that succeeds.
    const PortOpenFailure& LastOpenFailure() const { return openFailure_; }
    // The device paths COM n reaches, tried in turn by Open.
    std::vector<std::string> DevicesFor(int port) const;
    // Blocks until the port is readable or `ms` have passed.
    bool WaitReadable(int ms);
    // The same, to the microsecond, for waits shorter than a millisecond
    // tick would measure honestly.
    bool WaitReadable(std::chrono::microseconds wait) override;
    // How long one character takes on the line as last opened: start bit,
    // data bits, parity bit and stop bits at the remembered baud rate.
    std::chrono::microseconds CharacterTime() const override;
    std::optional<SerialDriverState> ReadDriverState() const;

  protected:
    void CloseHandle();

  private:
    std::string LineRecordPath() const;
    std::string NodeStamp() const;
    int OpenFirstAvailable(int port);
    int OpenDevice(const std::string& path);
    bool Configure(int baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits);
    void NoteOpenFailure(std::string device, int error);
    // An error other than "nothing yet" means the device has gone.
    void NoteLineError(int error);

    PortResolver resolver_;
    int fd_ = -1;
    int portNumber_ = 0;
    int baudRate_ = 0;
    uint8_t dataBits_ = 8;
    uint8_t parity_ = 0;
    uint8_t stopBits_ = 0;
    // Set by an error of the line; cleared when the handle closes.
    bool gone_ = false;
    std::string device_;
    PortOpenFailure openFailure_;
    // Kept across Close: a port re-opened by Write reads with the same
    // time-outs, so no read after it can stall a transaction.
    SerialTimeouts timeouts_;
};

}  // namespace fc
