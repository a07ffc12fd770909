// A master whose transactions run over an in-memory line that answers its
// request with the fuzzer's bytes, in pieces and with gaps the input picks.
// The line's clock is virtual, so a run that waits out its time-out costs
// nothing, and the reply paths run exactly as they do on a port or a socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "modbus/memory_link.h"
#include "modbus/modbus_master.h"
#include "platform/scripted_user_interface.h"

namespace fc::fuzz {

// 19200 baud, 8N1.
inline constexpr std::chrono::microseconds kCharacterTime{521};
// What an attempt may take beyond its time-out: the pause before a TCP
// attempt, a reply begun in time finishing at the line rate (the longest
// frame, ASCII, is 517 characters), the frame gap behind it.
inline constexpr std::chrono::milliseconds kAttemptSlack{25 + 300 + 10};

// The first input byte: bits 0-2 pick the request, bits 3-6 how the reply is
// cut (0: all at once; n: pieces of n x n bytes, n x 70 ms apart), bit 7 is the
// target's own. The second byte is a block's register count (0 and counts
// whose reply cannot fit any buffer included on purpose).
struct RequestChoice {
    uint8_t kind = 0;
    uint8_t count = 0;
    int Request() const { return kind & 7; }
    int Pieces() const { return (kind >> 3) & 15; }
};

// Scripts `reply` onto the line as the choice cuts it.
inline void ScriptReply(MemoryLink& line, RequestChoice choice, std::span<const uint8_t> reply) {
    const size_t piece =
        choice.Pieces() == 0 ? reply.size() : size_t(choice.Pieces()) * size_t(choice.Pieces());
    for (size_t at = 0; at < reply.size(); at += piece) {
        if (at > 0)
            line.Gap(std::chrono::milliseconds(70 * choice.Pieces()));
        line.Send(reply.subspan(at, std::min(piece, reply.size() - at)));
    }
}

// Runs the chosen request; returns its result.
inline int RunRequest(ModbusMaster& master, RequestChoice choice) {
    int value = 0;
    double real = 0;
    // Exactly as large as the request asks for, so a write past the end shows.
    std::vector<uint8_t> block(static_cast<size_t>(choice.count) * 4 + 1);
    switch (choice.Request()) {
        case 0:
            return master.ReadRegister16(100, value);
        case 1:
            return master.ReadRegister32(7000, value);
        case 2:
            return master.ReadRegisterFloat(7002, real);
        case 3:
            return master.WriteRegister16(100, 5);
        case 4:
            return master.ReadRegisterBlock(100, block.data() + 1, choice.count);
        case 5:
            return master.ReadRegisterBlock(7000, block.data() + 1, choice.count);
        default:
            return master.WriteRegisterBlock(100, block.data(), choice.count / 2);
    }
}

// One master on a fresh in-memory line per run, asking unit 1 with Timeout 1
// and no retry.
class MemoryBench {
  public:
    explicit MemoryBench(bool tcp, int ipProtocol = 0, bool ascii = false, bool echo = false) {
        settings_.RemoveEcho = echo;
        settings_.Timeout = 1;
        settings_.Retry = -1;
        settings_.UnitId = 1;
        settings_.UseIP = tcp;
        settings_.IPProtocol = static_cast<decltype(settings_.IPProtocol)>(ipProtocol);
        settings_.ModbusType = ascii ? kModbusAscii : kModbusRtu;
        links_.LinkOpen = 1;
        links_.LinkState = kLinkUp;
        line_.Character = kCharacterTime;
        master_.AttachLink(&line_);
    }

    // Runs the request against the reply and checks what every run must
    // hold: a success is a whole reply to this request, and the attempt ended
    // on time whatever the line carried.
    void Run(RequestChoice choice, std::span<const uint8_t> reply) {
        ScriptReply(line_, choice, reply);
        RunScripted(choice);
    }

    // The same with the line's answers scripted already (or by OnRequest).
    void RunScripted(RequestChoice choice) {
        const LinkInstant start = line_.Now();
        const int ok = RunRequest(master_, choice);
        if (line_.Now() - start > std::chrono::seconds(settings_.Timeout) + kAttemptSlack)
            std::abort();
        if (!ok)
            return;
        if (master_.RxLength < 3 || master_.RxLength > kRxBufferSize ||
            master_.RxBuffer[0] != settings_.UnitId || master_.RxBuffer[1] != master_.FunctionCode)
            std::abort();
        if (master_.FunctionCode == kReadHoldingRegisters &&
            master_.RxBuffer[2] != master_.ByteCount)
            std::abort();
    }

    ModbusMaster& Master() { return master_; }
    MemoryLink& Line() { return line_; }

  private:
    CommSettings settings_;
    LinkFlags links_;
    ScriptedUserInterface ui_;
    MemoryLink line_;
    ModbusMaster master_{settings_, links_, ui_};
};

}  // namespace fc::fuzz
