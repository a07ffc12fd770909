#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "modbus/modbus_master.h"
#include "registers/clock_registers.h"
#include "registers/register_types.h"

namespace fc {

// The "Register Type" group as the buttons stand at the moment of an
// operation. Nothing else records the choice.
struct RegisterTypeChoice {
    bool Int16 = false;
    bool Int32 = false;
    bool Float = false;
    bool Auto = false;
};

// "Auto" asks the ranges; otherwise "Float", then "32-Bit"; anything else
// (also no button checked) is 16-bit.
RegisterType SelectRegisterType(const RegisterTypeChoice& choice, const RegisterTypeRanges& ranges,
                                int address);

// What one operation of the register page leaves for the page to show.
struct RegisterOutcome {
    bool Success = false;
    // The value read, as the "Data" edit shows it; none when nothing was read.
    std::optional<std::string> Data;
    // The traffic texts of the driver once the operation has ended, shown
    // whether or not the request succeeded.
    std::string TxText;
    std::string RxText;
};

// Connect, the requests, Disconnect. The connection's result is not checked:
// the requests run anyway and fail in the transaction without a link. The
// link state records whether the connection was made, as every operation of
// the register pages does. Returns the requests' result.
bool WithRegisterConnection(ModbusMaster& master, const std::function<bool()>& requests);

// While one lives, the register operations keep their link between them:
// the first connects and probes the unit, the rest find the link made, and
// the last one's end closes it. A poll loop so pays one connect, not one a
// poll.
class KeptRegisterConnection {
  public:
    explicit KeptRegisterConnection(ModbusMaster& master);
    ~KeptRegisterConnection();
    KeptRegisterConnection(const KeptRegisterConnection&) = delete;
    KeptRegisterConnection& operator=(const KeptRegisterConnection&) = delete;

  private:
    ModbusMaster& master_;
};

// A value ready for the unit: the number for a float register, the whole
// number (its low 16 or 32 bits) for the integer ones.
struct RegisterValue {
    double Float = 0;
    long long Whole = 0;
};

// The "Data" text as "&Write" takes it: as a number for a float and as an
// integer otherwise (so 3.9 writes 3). None for a text that is no number,
// and for a float beyond the single-precision range, which would reach the
// unit as infinity.
std::optional<RegisterValue> ValueFromText(std::string_view text, RegisterType type);

// One value by hand ("&Read", "&Write").
RegisterOutcome ReadValue(ModbusMaster& master, int address, RegisterType type,
                          FloatLayout layout = {});
RegisterOutcome WriteValue(ModbusMaster& master, int address, RegisterType type,
                           const RegisterValue& value, FloatLayout layout = {});

// The block buttons. A read lands in scratch storage (the reply text is where
// the user sees it); a write sends the filler, every byte 0x01.
inline constexpr int kBlockScratchBytes = 2048;
inline constexpr uint8_t kBlockFillerByte = 0x01;
RegisterOutcome ReadBlock(ModbusMaster& master, int address, int count);
RegisterOutcome WriteBlock(ModbusMaster& master, int address, int count);

// The clock and date registers and the boundary the clock is moved to.
struct ClockSettings {
    int ClockRegister = kDefaultClockRegister;
    int DateRegister = kDefaultDateRegister;
    ClockIncrease Increase = ClockIncrease::Hour;
};

struct ClockReading {
    int Clock = 0;
    int Date = 0;
};

// One clock update inside its own connection: reads the clock and the date,
// hands both to show, then writes the clock two seconds before the next
// boundary (that write's result is not checked). False when either read
// failed; nothing is shown or written then.
bool UpdateClock(ModbusMaster& master, const ClockSettings& clock,
                 const std::function<void(const ClockReading&)>& show);

// The write loop's next "Data" text: the text as a number plus the
// increment, kept between the limits (see WriteLoopStep), in "%f". None when
// the text is no number.
std::optional<std::string> NextLoopData(std::string_view data, float increment, double upper,
                                        double lower);

// The period of the clock and loop timers for a number of seconds. A window
// timer has a shortest period, which 0 asks for; a number of seconds beyond
// what the timer holds in milliseconds (about 24 days) is held at that
// longest period rather than wrapping into a short one. So is a negative
// number, as the window timer always took it (its period is unsigned): a
// period the user got wrong must never hammer the unit at the shortest one.
inline constexpr int kShortestTimerPeriodMs = 10;
int TimerPeriodMs(int seconds);

}  // namespace fc
