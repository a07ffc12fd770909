#include <bit>
#include <cstring>

#include "modbus/modbus_master.h"

namespace fc {

namespace {

bool BlockCountAccepted(int count) {
    return count > 0 && count <= kMaxBlockCount;
}

// Reply data byte i stands behind unit, function and byte count.
constexpr int kReplyData = 3;

uint32_t BigEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
}

void StoreBigEndian32(uint32_t value, uint8_t* bytes) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

uint32_t SwapWords(uint32_t value) {
    return value << 16 | value >> 16;
}

int FloatRegisterCount(FloatLayout layout) {
    return layout.TwoRegisters ? 2 : 1;
}

}  // namespace

void FloatToWire(double value, uint8_t wire[4], FloatLayout layout) {
    const uint32_t bits = std::bit_cast<uint32_t>(static_cast<float>(value));
    StoreBigEndian32(layout.LowWordFirst ? SwapWords(bits) : bits, wire);
}

double FloatFromWire(const uint8_t wire[4], FloatLayout layout) {
    const uint32_t bits = BigEndian32(wire);
    return std::bit_cast<float>(layout.LowWordFirst ? SwapWords(bits) : bits);
}

int BlockRegisterWidth(int start) {
    return start >= kWideWindowFirst && start <= kWideWindowLast ? 4 : 2;
}

void ModbusMaster::SetRequest(int function, int start, int count, int byteCount,
                              const uint8_t* data) {
    StartAddress = start;
    FunctionCode = function;
    RegisterCount = count;
    ByteCount = byteCount;
    if (function == kWriteMultipleRegisters)
        Data = data;
}

// UseIP wins over the ASCII setting: that is what the Comm Settings dialog
// shows, where the RTU/ASCII choice is disabled while IP is ticked.
int ModbusMaster::RunRequest(bool refused) {
    if (refused)
        return 0;
    if (!settings_.UseIP && settings_.ModbusType == kModbusAscii)
        return TransactAscii();
    return Transact();
}

int ModbusMaster::ReadRegister16(int address, int& value) {
    value = 0;
    SetRequest(kReadHoldingRegisters, address, 1, 2, nullptr);
    const int result = RunRequest();
    if (result)
        value = RxBuffer[kReplyData] << 8 | RxBuffer[kReplyData + 1];
    return result;
}

int ModbusMaster::ReadRegister32(int address, int& value) {
    SetRequest(kReadHoldingRegisters, address, 2, 4, nullptr);
    const int result = RunRequest();
    if (result)
        value = static_cast<int32_t>(BigEndian32(RxBuffer + kReplyData));
    return result;
}

int ModbusMaster::ReadRegisterFloat(int address, double& value, FloatLayout layout) {
    SetRequest(kReadHoldingRegisters, address, FloatRegisterCount(layout), 4, nullptr);
    const int result = RunRequest();
    value = result ? FloatFromWire(RxBuffer + kReplyData, layout) : 0.0;
    return result;
}

int ModbusMaster::WriteRegister16(int address, int value) {
    ValueImage[0] = static_cast<uint8_t>(value >> 8);
    ValueImage[1] = static_cast<uint8_t>(value);
    SetRequest(kWriteMultipleRegisters, address, 1, 2, ValueImage);
    return RunRequest();
}

int ModbusMaster::WriteRegister32(int address, int value) {
    StoreBigEndian32(static_cast<uint32_t>(value), ValueImage);
    SetRequest(kWriteMultipleRegisters, address, 2, 4, ValueImage);
    return RunRequest();
}

int ModbusMaster::WriteRegisterFloat(int address, double value, FloatLayout layout) {
    FloatToWire(value, ValueImage, layout);
    SetRequest(kWriteMultipleRegisters, address, FloatRegisterCount(layout), 4, ValueImage);
    return RunRequest();
}

int ModbusMaster::ReadRegisterBlock(int start, uint8_t* buffer, int count) {
    if (!BlockCountAccepted(count))
        return 0;
    return ReadRegisterBytes(start, buffer, count, count * BlockRegisterWidth(start));
}

int ModbusMaster::ReadRegisterBytes(int start, uint8_t* buffer, int count, int byteCount) {
    SetRequest(kReadHoldingRegisters, start, count, byteCount, nullptr);
    // The reply states its data length in one byte.
    const bool fits = byteCount >= 0 && byteCount <= kMaxReadByteCount;
    const int result = RunRequest(!fits);
    if (result && buffer != nullptr)
        std::memcpy(buffer, RxBuffer + kReplyData, byteCount);
    return result;
}

// A write's data must fit the request frame's one-byte byte count and length;
// a larger block is refused before anything is set or sent, so its data is
// never read at all.
int ModbusMaster::WriteRegisterBlock(int start, const uint8_t* data, int count) {
    if (!BlockCountAccepted(count))
        return 0;
    const int byteCount = count * BlockRegisterWidth(start);
    if (byteCount > kMaxWriteByteCount || data == nullptr)
        return 0;
    SetRequest(kWriteMultipleRegisters, start, count, byteCount, data);
    return RunRequest();
}

}  // namespace fc
