// The reply cases of every framing over the in-memory line: what the far end
// sends, when, and what the transaction makes of it. The line's clock is
// virtual, so the time each case takes is exact and costs nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "connection/auto_detect.h"
#include "modbus/frame_trace.h"
#include "modbus/memory_link.h"
#include "modbus/messages.h"
#include "modbus/modbus_master.h"
#include "platform/stop_request.h"
#include "platform/scripted_user_interface.h"
#include "tests/peers/driver_bench.h"
#include "tests/peers/serial_bench.h"

namespace fc {
namespace {

using namespace std::chrono_literals;
using test::AsciiText;
using test::Bytes;
using test::WithCrc;

enum class Wire { Rtu, Ascii, Mbap, RtuOverTcp };

Bytes Mbap(Bytes frame, uint16_t transaction = 0, int length = -1, uint16_t protocol = 0) {
    const int n = length < 0 ? static_cast<int>(frame.size()) : length;
    Bytes header = {uint8_t(transaction >> 8), uint8_t(transaction), uint8_t(protocol >> 8),
                    uint8_t(protocol),         uint8_t(n >> 8),      uint8_t(n)};
    header.insert(header.end(), frame.begin(), frame.end());
    return header;
}

// A driver over the in-memory line at 19200 baud: Timeout 2, Retry 1, and
// every frame it tells of kept by direction.
struct Bench : test::DriverBench {
    explicit Bench(Wire wire) {
        settings.Timeout = 2;
        settings.Retry = 1;
        settings.ModbusType = wire == Wire::Ascii ? kModbusAscii : kModbusRtu;
        line.Character = 521us;  // 19200 baud
        OpenMemory(line, wire == Wire::Mbap || wire == Wire::RtuOverTcp,
                   wire == Wire::RtuOverTcp ? 1 : 0);
    }
    int Dropped() const {
        return static_cast<int>(std::count(seen.begin(), seen.end(), TrafficDirection::Dropped));
    }
    MemoryLink line;
    std::vector<TrafficDirection> seen;
    TrafficObservers::Watch watch =
        master.OnTraffic.Add([this](const TrafficFrame& frame) { seen.push_back(frame.direction); });
};

const Bytes kValue = {0x01, 0x03, 0x02, 0x12, 0x34};
const Bytes kWriteEcho = {0x01, 0x10, 0x00, 0x64, 0x00, 0x01};
const Bytes kIllegalAddress = {0x01, 0x83, 0x02};

struct ReplyCase {
    const char* name;
    Wire wire;
    bool write;                 // WriteRegister16(100, 5), else ReadRegister16(100)
    std::vector<Bytes> pieces;  // 300 ms apart
    int result;
    int exception;
    size_t writes;  // attempts that went out
};

// Timeout 2, Retry 1: a reply that is not one costs two attempts.
// clang-format off
const ReplyCase kCases[] = {
    {"RtuValue", Wire::Rtu, false, {WithCrc(kValue)}, 1, 0, 1},
    {"RtuExceptionEndsAtOnce", Wire::Rtu, false, {WithCrc(kIllegalAddress)}, 0, 2, 1},
    {"RtuExceptionPaddedToLength", Wire::Rtu, false, {WithCrc({1, 0x83, 2, 0})}, 0, 0, 2},
    {"RtuWrongFunction", Wire::Rtu, false, {WithCrc({1, 4, 2, 0x12, 0x34})}, 0, 0, 2},
    {"RtuOtherUnit", Wire::Rtu, false, {WithCrc({9, 3, 2, 0x12, 0x34})}, 0, 0, 2},
    {"RtuByteCountDisagrees", Wire::Rtu, false, {WithCrc({1, 3, 4, 0x12, 0x34})}, 0, 0, 2},
    {"RtuRandomBytes", Wire::Rtu, false, {{1, 0x5A, 0xC3, 0x11, 8, 0x7E, 2}}, 0, 0, 2},
    {"RtuEchoOfAnotherAddress", Wire::Rtu, true, {WithCrc({1, 16, 0, 0x65, 0, 1})}, 0, 0, 2},
    {"RtuNoiseThenReply", Wire::Rtu, false, {{0x55, 0x55}, WithCrc(kValue)}, 1, 0, 1},
    {"AsciiValue", Wire::Ascii, false, {AsciiText(kValue)}, 1, 0, 1},
    {"AsciiException", Wire::Ascii, false, {AsciiText(kIllegalAddress)}, 0, 2, 1},
    {"AsciiOtherUnit", Wire::Ascii, false, {AsciiText({9, 3, 2, 0x12, 0x34})}, 0, 0, 2},
    {"AsciiWrongWriteEcho", Wire::Ascii, true, {AsciiText({1, 16, 0, 0x64, 0, 2})}, 0, 0, 2},
    {"MbapValue", Wire::Mbap, false, {Mbap(kValue)}, 1, 0, 1},
    {"MbapException", Wire::Mbap, false, {Mbap(kIllegalAddress)}, 0, 2, 1},
    {"MbapWrongTransaction", Wire::Mbap, false, {Mbap(kValue, 7)}, 0, 0, 2},
    {"MbapWrongProtocol", Wire::Mbap, false, {{0, 0, 0, 1, 0, 5, 1, 3, 2, 0x12, 0x34}}, 0, 0, 2},
    {"MbapLengthFFFF", Wire::Mbap, false, {Mbap(kValue, 0, 0xFFFF)}, 0, 0, 2},
    {"MbapInPieces", Wire::Mbap, false, {{0, 0, 0}, {0, 0, 5, 1, 3}, {2, 0x12, 0x34}}, 1, 0, 1},
    {"RtuOverTcpValue", Wire::RtuOverTcp, false, {WithCrc(kValue)}, 1, 0, 1},
    {"RtuOverTcpException", Wire::RtuOverTcp, false, {WithCrc(kIllegalAddress)}, 0, 2, 1},
};
// clang-format on

class Replies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, AreTakenOnlyForWhatTheyAre) {
    const ReplyCase& c = GetParam();
    Bench bench(c.wire);
    for (size_t i = 0; i < c.pieces.size(); ++i) {
        if (i > 0)
            bench.line.Gap(300ms);
        bench.line.Send(c.pieces[i]);
    }
    int value = 0;
    const int result =
        c.write ? bench.master.WriteRegister16(100, 5) : bench.master.ReadRegister16(100, value);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(bench.master.ExceptionCode, c.exception);
    EXPECT_EQ(static_cast<size_t>(bench.line.Writes()), c.writes);
    if (result && !c.write) {
        EXPECT_EQ(value, 0x1234);
    }
    // Every failure ends in the box, an exception's at once.
    EXPECT_EQ(bench.ui.messages.size(), result ? 0u : 1u);
    if (c.exception) {
        EXPECT_NE(bench.master.RxText.find("Exception 2: Illegal data address"), std::string::npos)
            << bench.master.RxText;
        EXPECT_EQ(bench.ui.status_history.back(), "Exception 2: Illegal data address");
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFraming, Replies, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct LineCase {
    const char* name;
    Wire wire;
    Bytes piece;  // sent again and again
    std::chrono::milliseconds every;
};

// A line that never stops carrying bytes that are not a reply must not keep
// an attempt from ending: (Retry + 1) x Timeout and a frame time at most.
const LineCase kEndlessLines[] = {
    {"RtuJunkEveryHalfSecond", Wire::Rtu, {0x55}, 500ms},
    {"RtuStreamWithoutTheUnit", Wire::Rtu, {0x02, 0x03, 0x04}, 2ms},
    {"RtuUnitByteEveryHalfSecond", Wire::Rtu, {0x01}, 500ms},
    {"AsciiStreamWithoutColon", Wire::Ascii, {'0', '1'}, 2ms},
    {"AsciiColonEveryHalfSecond", Wire::Ascii, {':', '0'}, 500ms},
    {"MbapTrickle", Wire::Mbap, {0x00}, 500ms},
    {"RtuOverTcpTrickle", Wire::RtuOverTcp, {0x01}, 500ms},
};

class EndlessLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(EndlessLines, EndEachAttemptOnTime) {
    const LineCase& c = GetParam();
    Bench bench(c.wire);
    for (int i = 0; i < 20'000; ++i)
        bench.line.Send(c.piece).Gap(c.every);
    const LinkInstant start = bench.line.Now();
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(100, value), 0);
    EXPECT_LE(bench.line.Now() - start, 2 * 2s + 400ms);
    EXPECT_EQ(bench.ui.messages.size(), 1u);
    // The window had its turn throughout.
    EXPECT_GE(bench.ui.paint_pumps, 4 * 10);
}

INSTANTIATE_TEST_SUITE_P(EveryFraming, EndlessLines, ::testing::ValuesIn(kEndlessLines),
                         [](const auto& info) { return std::string(info.param.name); });

// A reply that has begun by the time-out may finish at the line rate.
TEST(ReplyTiming, AReplyBegunBeforeTheTimeOutFinishes) {
    Bench bench(Wire::Rtu);
    const Bytes reply = WithCrc(kValue);
    bench.line.Gap(1990ms).Send(Bytes(reply.begin(), reply.begin() + 3));
    bench.line.Gap(15ms).Send(Bytes(reply.begin() + 3, reply.end()));
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(100, value), 1);
    EXPECT_EQ(value, 0x1234);
}

TEST(ReplyTiming, AWaitIsNeverShorterThanTheTimeOut) {
    Bench bench(Wire::Rtu);
    bench.settings.Retry = -1;
    bench.line.Gap(1999ms).Send(WithCrc(kValue));
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(100, value), 1);
}

// A far end that answers each read of register n with n x 10, in the ways
// real lines do; two reads in a row must each get their own register's value
// or fail, never the other's.
enum class Far { Late, Twice, CloseAfterReply, Echo, WrongEcho, Glitch, Pieces, BusyOnce, Busy };

struct TalkCase {
    const char* name;
    Wire wire;
    Far far;
    std::chrono::milliseconds delay;
    int timeout, retry;
    bool removeEcho;
    std::vector<int> values;  // of reads 100 and 200; -1: failed
    bool dropped;             // something was shown as dropped
};

// clang-format off
const TalkCase kTalks[] = {
    {"RtuLateReplies", Wire::Rtu, Far::Late, 1300ms, 1, 1, false, {1000, 2000}, true},
    {"AsciiLateReplies", Wire::Ascii, Far::Late, 1300ms, 1, 1, false, {1000, 2000}, true},
    {"RtuLateRepliesRetry3", Wire::Rtu, Far::Late, 1700ms, 1, 3, false, {1000, 2000}, true},
    {"RtuRepeatedReplies", Wire::Rtu, Far::Twice, 3ms, 1, 1, false, {1000, 2000}, true},
    {"MbapRepeatedReplies", Wire::Mbap, Far::Twice, 10ms, 1, 1, false, {1000, 2000}, true},
    {"RtuOverTcpRepeatedReplies", Wire::RtuOverTcp, Far::Twice, 10ms, 1, 1, false, {1000, 2000}, true},
    {"MbapClosedAfterEachReply", Wire::Mbap, Far::CloseAfterReply, 0ms, 3, 0, false, {1000, 2000}, false},
    {"RtuOverTcpClosedAfterEachReply", Wire::RtuOverTcp, Far::CloseAfterReply, 0ms, 3, 0, false, {1000, 2000}, false},
    {"RtuGlitchByteBehindTheReply", Wire::Rtu, Far::Glitch, 0ms, 1, 0, false, {1000, 2000}, true},
    {"RtuPiecesAcrossTheDeadline", Wire::Rtu, Far::Pieces, 16ms, 1, 0, false, {1000, 2000}, false},
    {"AsciiPiecesAcrossTheDeadline", Wire::Ascii, Far::Pieces, 8ms, 1, 0, false, {1000, 2000}, false},
    {"RtuEchoRemoved", Wire::Rtu, Far::Echo, 0ms, 1, 1, true, {1000, 2000}, true},
    {"AsciiEchoRemoved", Wire::Ascii, Far::Echo, 0ms, 1, 1, true, {1000, 2000}, true},
    // An echo nobody said would come is no frame of the unit's: it is dropped
    // and the reply behind it taken.
    {"RtuEchoNotRemoved", Wire::Rtu, Far::Echo, 0ms, 1, 0, false, {1000, 2000}, true},
    {"RtuEchoThatDiffers", Wire::Rtu, Far::WrongEcho, 0ms, 1, 1, true, {-1, -1}, true},
    {"RtuEchoExpectedButNone", Wire::Rtu, Far::Glitch, 0ms, 1, 0, true, {-1, -1}, true},
    {"RtuBusyOnce", Wire::Rtu, Far::BusyOnce, 0ms, 1, 3, false, {1000, 2000}, false},
    {"MbapBusyOnce", Wire::Mbap, Far::BusyOnce, 0ms, 1, 3, false, {1000, 2000}, false},
    {"RtuAlwaysBusy", Wire::Rtu, Far::Busy, 0ms, 1, 3, false, {-1, -1}, false},
};
// clang-format on

int AddressOf(Wire wire, std::span<const uint8_t> request) {
    if (wire == Wire::Ascii)
        return std::stoi(std::string(request.begin() + 5, request.begin() + 9), nullptr, 16);
    const size_t at = wire == Wire::Mbap ? 8 : 2;
    return request[at] << 8 | request[at + 1];
}

Bytes Framed(Wire wire, const Bytes& frame) {
    switch (wire) {
        case Wire::Ascii:
            return AsciiText(frame);
        case Wire::Mbap:
            return Mbap(frame);
        default:
            return WithCrc(frame);
    }
}

class Talks : public ::testing::TestWithParam<TalkCase> {};

TEST_P(Talks, EachReadGetsItsOwnValueOrFails) {
    const TalkCase& c = GetParam();
    Bench bench(c.wire);
    bench.settings.Timeout = static_cast<int16_t>(c.timeout);
    bench.settings.Retry = static_cast<int16_t>(c.retry);
    bench.settings.RemoveEcho = c.removeEcho;
    LinkInstant scripted{};
    const auto at = [&](LinkInstant due, const Bytes& bytes) {
        const LinkInstant from = std::max(bench.line.Now(), scripted);
        bench.line.Gap(std::chrono::duration_cast<std::chrono::microseconds>(due - from)).Send(bytes);
        scripted = due;
    };
    int requests = 0;
    bench.line.OnRequest = [&](std::span<const uint8_t> request) {
        const int value = AddressOf(c.wire, request) * 10;
        const Bytes reply = Framed(c.wire, {1, 3, 2, uint8_t(value >> 8), uint8_t(value)});
        const LinkInstant now = bench.line.Now();
        ++requests;
        switch (c.far) {
            case Far::Late:
                return at(now + c.delay, reply);
            case Far::Twice:
                at(now, reply);
                return at(now + c.delay, reply);
            case Far::CloseAfterReply:
                at(now, reply);
                bench.line.Hangup();
                return;
            case Far::Echo:
            case Far::WrongEcho: {
                Bytes echo(request.begin(), request.end());
                echo.back() ^= c.far == Far::WrongEcho ? 0x40 : 0;
                at(now, echo);
                return at(now + 5ms, reply);
            }
            case Far::Glitch: {
                Bytes glitched = reply;
                glitched.push_back(0x00);
                return at(now, glitched);
            }
            case Far::Pieces:
                for (size_t i = 0; i < reply.size(); i += 2) {
                    at(now + std::chrono::seconds(c.timeout) - 20ms + c.delay * static_cast<int>(i / 2),
                       Bytes(reply.begin() + i, reply.begin() + std::min(i + 2, reply.size())));
                }
                return;
            case Far::BusyOnce:
            case Far::Busy:
                return at(now, c.far == Far::Busy || requests % 2 == 1
                                   ? Framed(c.wire, {1, 0x83, 6})
                                   : reply);
        }
    };
    std::vector<int> values;
    for (int address : {100, 200}) {
        int value = 0;
        values.push_back(bench.master.ReadRegister16(address, value) ? value : -1);
    }
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(bench.Dropped() > 0, c.dropped);
    if (c.far == Far::CloseAfterReply) {
        EXPECT_EQ(bench.line.Connections(), 1);
        EXPECT_LT(bench.line.Now() - LinkInstant{}, 1s);  // no Timeout waited
    }
    // Only an exception that ended the request is the request's outcome.
    EXPECT_EQ(bench.master.EndedByException, c.far == Far::Busy);
    if (c.far == Far::Busy) {
        EXPECT_EQ(requests, 2 * (c.retry + 1));
        EXPECT_EQ(bench.master.ExceptionCode, 6);
    }
    if (c.far == Far::WrongEcho || (c.removeEcho && c.far == Far::Glitch)) {
        EXPECT_EQ(bench.ui.status_history.back(), modbus_messages::kEchoMismatch);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFraming, Talks, ::testing::ValuesIn(kTalks),
                         [](const auto& info) { return std::string(info.param.name); });

// A unit that tags each value with its register (register n reads n x 10 +
// the word's place), answers `latency` after a request and, in the ways
// lines misbehave, once more `lag` after that; one transmitter, so a reply
// waits for the one before it. Every read of every driver on the line must
// get its own registers' values: no other register's, and no refusal of a
// unit that answered.
enum class Misbehaves { Repeats, ZeroIds, GatewayGivesUp, BackToBack, SameValues };

struct RepeatCase {
    Wire wire;
    Misbehaves way;
    std::chrono::milliseconds latency, lag;
};

struct TaggedUnit {
    TaggedUnit(Bench& bench, const RepeatCase& c) : bench_(bench), c_(c) {
        bench.line.OnRequest = [this](std::span<const uint8_t> request) { Answer(request); };
    }
    void Answer(std::span<const uint8_t> request) {
        const Wire wire = c_.wire;
        const uint16_t id = wire == Wire::Mbap && c_.way != Misbehaves::ZeroIds
                                ? uint16_t(request[0] << 8 | request[1]) : 0;
        const int address = AddressOf(wire, request);
        Bytes pdu = {1, 3, 4};
        for (int i = 0; i < 2; ++i) {
            const int value = c_.way == Misbehaves::SameValues ? 7 + i : address * 10 + i;
            pdu.push_back(uint8_t(value >> 8));
            pdu.push_back(uint8_t(value));
        }
        const auto framed = [&](const Bytes& frame) {
            return wire == Wire::Mbap ? Mbap(frame, id) : Framed(wire, frame);
        };
        const LinkInstant now = bench_.line.Now();
        switch (c_.way) {
            case Misbehaves::Repeats:
            case Misbehaves::ZeroIds:
                At(now + c_.latency, framed(pdu));
                return At(now + c_.latency + c_.lag, framed(pdu));
            case Misbehaves::GatewayGivesUp:
                At(now + 400ms, framed({1, 0x83, 11}));
                return At(now + 600ms, framed(pdu));
            case Misbehaves::BackToBack: {
                // Every other reply has a stranger's frame right behind it.
                At(now + c_.latency, framed(pdu));
                if (++answers_ % 2 == 1)
                    At(now + c_.latency, framed({1, 3, 4, 0x7F, 0x7F, 0x7F, 0x7F}));
                return;
            }
            case Misbehaves::SameValues:
                // Every reply is byte for byte another request's, and one
                // request is answered slowly, as a flash commit is.
                return At(now + (address == 4203 ? 1500ms : c_.latency), framed(pdu));
        }
    }
    void At(LinkInstant due, const Bytes& bytes) {
        const LinkInstant from = std::max(bench_.line.Now(), scripted_);
        bench_.line.Gap(std::chrono::duration_cast<std::chrono::microseconds>(due - from)).Send(bytes);
        scripted_ = std::max(due, from);
    }
    Bench& bench_;
    RepeatCase c_;
    LinkInstant scripted_{};
    int answers_ = 0;
};

// The registers' values, or -1 for a read that failed.
std::vector<int> ReadEach(ModbusMaster& master, const std::vector<int>& addresses) {
    std::vector<int> values;
    for (int address : addresses) {
        int value = 0;
        values.push_back(master.ReadRegister32(address, value) ? value : -1);
    }
    return values;
}

std::vector<int> Expected(const std::vector<int>& addresses) {
    std::vector<int> values;
    for (int address : addresses)
        values.push_back((address * 10) << 16 | (address * 10 + 1));
    return values;
}

class Repeats : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(Repeats, NeverStandInForAnotherRequestsAnswer) {
    const RepeatCase& c = GetParam();
    Bench bench(c.wire);
    bench.settings.Retry = 3;
    TaggedUnit unit(bench, c);
    const auto Expected = [&](const std::vector<int>& addresses) {
        return c.way == Misbehaves::SameValues ? std::vector<int>(addresses.size(), 7 << 16 | 8)
                                               : fc::Expected(addresses);
    };
    // Different requests of one shape, the way the clock reads time and date.
    const std::vector<int> sequence = {4203, 4201, 100, 200, 300, 100};
    EXPECT_EQ(ReadEach(bench.master, sequence), Expected(sequence));
    // A poll: the same requests again and again.
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ(ReadEach(bench.master, {500, 600, 700}), Expected({500, 600, 700})) << poll;
    const bool serial = c.wire == Wire::Rtu || c.wire == Wire::Ascii;
    if (!serial)
        return;  // a new connection carries nothing of the old one
    // The next run on the same line, then one after a run stopped while its
    // reply was owed.
    bench.master.Close();
    test::DriverBench next;
    next.settings = bench.settings;
    next.OpenMemory(bench.line);
    EXPECT_EQ(ReadEach(next.master, {800, 900}), Expected({800, 900}));
    StopRequest stop;
    bench.line.OnRequest = [&](std::span<const uint8_t> request) {
        unit.Answer(request);
        stop.Raise(SIGINT);
    };
    {
        const ModbusMaster::StopScope stoppable(next.master, &stop);
        EXPECT_EQ(ReadEach(next.master, {1000}), std::vector<int>{-1});
    }
    next.master.Close();
    bench.line.OnRequest = [&](std::span<const uint8_t> request) { unit.Answer(request); };
    test::DriverBench after;
    after.settings = bench.settings;
    after.OpenMemory(bench.line);
    EXPECT_EQ(ReadEach(after.master, {1100, 1200}), Expected({1100, 1200}));
}

std::vector<RepeatCase> RepeatCases() {
    std::vector<RepeatCase> cases;
    for (Wire wire : {Wire::Rtu, Wire::Ascii, Wire::Mbap, Wire::RtuOverTcp})
        for (auto latency : {5ms, 50ms, 200ms})
            for (auto lag : {5ms, 25ms, 40ms, 80ms, 200ms, 600ms})
                cases.push_back({wire, Misbehaves::Repeats, latency, lag});
    for (auto lag : {5ms, 30ms, 200ms})
        cases.push_back({Wire::Mbap, Misbehaves::ZeroIds, 50ms, lag});
    for (Wire wire : {Wire::Mbap, Wire::RtuOverTcp})
        cases.push_back({wire, Misbehaves::GatewayGivesUp, 0ms, 0ms});
    for (Wire wire : {Wire::Rtu, Wire::Ascii, Wire::RtuOverTcp})
        cases.push_back({wire, Misbehaves::BackToBack, 20ms, 0ms});
    for (Wire wire : {Wire::Rtu, Wire::Ascii, Wire::RtuOverTcp})
        cases.push_back({wire, Misbehaves::SameValues, 5ms, 0ms});
    return cases;
}

std::string RepeatCaseName(const ::testing::TestParamInfo<RepeatCase>& info) {
    const RepeatCase& c = info.param;
    static const char* kWires[] = {"Rtu", "Ascii", "Mbap", "RtuOverTcp"};
    static const char* kWays[] = {"Repeats", "ZeroIds", "GatewayGivesUp", "BackToBack",
                                  "SameValues"};
    return std::string(kWires[int(c.wire)]) + kWays[int(c.way)] +
           std::to_string(c.latency.count()) + "ms" + std::to_string(c.lag.count()) + "ms";
}

INSTANTIATE_TEST_SUITE_P(EveryFraming, Repeats, ::testing::ValuesIn(RepeatCases()), RepeatCaseName);

// Unit 0 over RTU is a broadcast: a write may go, a read cannot be answered.
TEST(Broadcast, AReadIsRefusedBeforeAnythingIsSent) {
    Bench bench(Wire::Rtu);
    bench.settings.UnitId = 0;
    bench.line.Send(WithCrc(kValue));
    int value = 7;
    EXPECT_EQ(bench.master.ReadRegister16(100, value), 0);
    EXPECT_EQ(bench.line.Writes(), 0);
    EXPECT_EQ(bench.master.RxText, modbus_messages::kBroadcastReadRefused);
    EXPECT_EQ(bench.master.WriteRegister16(100, 5), 1);
    EXPECT_EQ(bench.master.RxText, modbus_messages::kBroadcastNotice);
    EXPECT_EQ(bench.line.Writes(), 1);
}

// Receive Message shows this transaction's bytes, and nothing when none came.
TEST(ReceivedText, IsEmptyWhenNothingCame) {
    for (Wire wire : {Wire::Rtu, Wire::Ascii, Wire::Mbap, Wire::RtuOverTcp}) {
        Bench bench(wire);
        bench.settings.Retry = -1;
        bench.master.RxText = " 01 03 02 BE EF";
        int value = 0;
        EXPECT_EQ(bench.master.ReadRegister16(100, value), 0);
        EXPECT_EQ(bench.master.RxText, "") << static_cast<int>(wire);
    }
}

// With "Use Internet Protocol" ticked the IP transport carries the request,
// whatever the RTU/ASCII choice the dialog greys out says.
TEST(AsciiWithIp, GoesOverTcp) {
    Bench bench(Wire::Mbap);
    bench.settings.ModbusType = kModbusAscii;
    bench.line.Send(Mbap(kValue));
    int value = 0;
    EXPECT_EQ(bench.master.ReadRegister16(100, value), 1);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(bench.line.Written().size(), 12u);
}

// A line that only echoes (a loopback plug, an adapter's local echo) sends
// our probe back from address 0: that is no unit.
TEST(AutoDetectProbe, AnEchoFromAddressZeroIsNoUnit) {
    for (bool ascii : {false, true}) {
        Bench bench(ascii ? Wire::Ascii : Wire::Rtu);
        bench.settings.UnitId = 0;
        bench.line.OnRequest = [&](std::span<const uint8_t> request) { bench.line.Send(request); };
        EXPECT_FALSE((ascii ? ProbeAscii : ProbeRtu)(bench.master)) << ascii;
        EXPECT_EQ(bench.line.Writes(), 1);
    }
}

}  // namespace
}  // namespace fc
