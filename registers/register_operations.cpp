#include "registers/register_operations.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <limits>

#include "connection/connection.h"
#include "modbus/link_flags.h"

namespace fc {

namespace {

RegisterOutcome Outcome(const ModbusMaster& master, bool success,
                        std::optional<std::string> data = std::nullopt) {
    return {success, std::move(data), master.TxText, master.RxText};
}

int ReadAsInteger(ModbusMaster& master, int address, RegisterType type, int& value) {
    return type == RegisterType::Int32 ? master.ReadRegister32(address, value)
                                       : master.ReadRegister16(address, value);
}

// The filler is read by the block write only; a block whose bytes would run
// beyond it is refused here, before the driver sees it, whatever the driver's
// own limit is.
bool FitsScratch(int address, int count) {
    const long long bytes = static_cast<long long>(count) * BlockRegisterWidth(address);
    return bytes <= kBlockScratchBytes;
}

}  // namespace

RegisterType SelectRegisterType(const RegisterTypeChoice& choice, const RegisterTypeRanges& ranges,
                                int address) {
    if (choice.Auto)
        return TypeForAddress(ranges, address);
    if (choice.Float)
        return RegisterType::Float;
    if (choice.Int32)
        return RegisterType::Int32;
    return RegisterType::Int16;
}

bool WithRegisterConnection(ModbusMaster& master, const std::function<bool()>& requests) {
    const bool kept = master.Links().Kept > 0;
    if (!kept || !LinkCarriesRequests(master))
        NoteUnitAnswered(master, Connect(master));
    const bool result = requests();
    if (!kept)
        Disconnect(master);
    return result;
}

KeptRegisterConnection::KeptRegisterConnection(ModbusMaster& master) : master_(master) {
    ++master_.Links().Kept;
}

KeptRegisterConnection::~KeptRegisterConnection() {
    if (--master_.Links().Kept == 0 && LinkCarriesRequests(master_))
        Disconnect(master_);
}

RegisterOutcome ReadValue(ModbusMaster& master, int address, RegisterType type,
                          FloatLayout layout) {
    std::optional<std::string> data;
    const bool ok = WithRegisterConnection(master, [&] {
        if (type == RegisterType::Float) {
            double value = 0;
            if (!master.ReadRegisterFloat(address, value, layout))
                return false;
            data = DoubleToText(value);
            return true;
        }
        int value = 0;
        if (!ReadAsInteger(master, address, type, value))
            return false;
        data = IntToText(value);
        return true;
    });
    return Outcome(master, ok, std::move(data));
}

std::optional<RegisterValue> ValueFromText(std::string_view text, RegisterType type) {
    if (type != RegisterType::Float) {
        const std::optional<int> whole = TextToInt(text);
        return whole ? std::optional(RegisterValue{0, *whole}) : std::nullopt;
    }
    const std::optional<double> value = TextToDouble(text);
    if (!value || !(std::fabs(*value) <= std::numeric_limits<float>::max()))
        return std::nullopt;
    return RegisterValue{*value, 0};
}

RegisterOutcome WriteValue(ModbusMaster& master, int address, RegisterType type,
                           const RegisterValue& value, FloatLayout layout) {
    const bool ok = WithRegisterConnection(master, [&] {
        switch (type) {
            case RegisterType::Float:
                return master.WriteRegisterFloat(address, value.Float, layout) != 0;
            case RegisterType::Int32:
                return master.WriteRegister32(
                           address, static_cast<int>(static_cast<uint32_t>(value.Whole))) != 0;
            case RegisterType::Int16:
                break;
        }
        return master.WriteRegister16(address, static_cast<int>(value.Whole)) != 0;
    });
    return Outcome(master, ok);
}

RegisterOutcome ReadBlock(ModbusMaster& master, int address, int count) {
    std::array<uint8_t, kBlockScratchBytes> scratch{};
    const bool ok = WithRegisterConnection(master, [&] {
        return FitsScratch(address, count) &&
               master.ReadRegisterBlock(address, scratch.data(), count) != 0;
    });
    return Outcome(master, ok);
}

RegisterOutcome WriteBlock(ModbusMaster& master, int address, int count) {
    static const auto filler = [] {
        std::array<uint8_t, kBlockScratchBytes> bytes;
        bytes.fill(kBlockFillerByte);
        return bytes;
    }();
    const bool ok = WithRegisterConnection(master, [&] {
        return FitsScratch(address, count) &&
               master.WriteRegisterBlock(address, filler.data(), count) != 0;
    });
    return Outcome(master, ok);
}

bool UpdateClock(ModbusMaster& master, const ClockSettings& clock,
                 const std::function<void(const ClockReading&)>& show) {
    return WithRegisterConnection(master, [&] {
        ClockReading reading;
        if (!master.ReadRegister32(clock.ClockRegister, reading.Clock) ||
            !master.ReadRegister32(clock.DateRegister, reading.Date))
            return false;
        show(reading);
        master.WriteRegister32(clock.ClockRegister,
                               ClockBeforeBoundary(reading.Clock, clock.Increase));
        return true;
    });
}

std::optional<std::string> NextLoopData(std::string_view data, float increment, double upper,
                                        double lower) {
    const std::optional<double> value = TextToDouble(data);
    if (!value)
        return std::nullopt;
    return DoubleToText(WriteLoopStep(*value, increment, upper, lower));
}

int TimerPeriodMs(int seconds) {
    const long long ms = static_cast<long long>(seconds) * 1000;
    if (ms < 0)
        return INT_MAX;
    return static_cast<int>(std::clamp<long long>(ms, kShortestTimerPeriodMs, INT_MAX));
}

}  // namespace fc
