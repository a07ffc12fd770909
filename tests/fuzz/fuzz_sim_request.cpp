// The simulator's request side: whatever a client sends is cut into requests
// and handed to the unit model, which must answer or drop it, never crash.
// The first byte picks the transport and the size of the pieces the stream
// arrives in; pieces are a character time apart, so RTU frames of unknown
// length end by silence as on a line.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sim/unit_model.h"
#include "sim/wire_framing.h"

namespace {

using fc::sim::RequestParser;
using fc::sim::Transport;

constexpr Transport kTransports[] = {Transport::SerialRtu, Transport::SerialAscii,
                                     Transport::ModbusTcp, Transport::RtuOverTcp};

void Serve(fc::sim::UnitModel& unit, RequestParser& parser, Transport transport,
           RequestParser::Clock::time_point now) {
    while (auto frame = parser.Next(now)) {
        (void)unit.Inspect(frame->request);
        const fc::sim::ModelReply reply =
            unit.Handle(frame->request, fc::sim::FlashOutcome::Written, now);
        if (!reply.silent)
            (void)fc::sim::BuildReply(transport, frame->request.unit, frame->transaction, reply.pdu,
                                      false);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const Transport transport = kTransports[data[0] & 3];
    const size_t piece = 1 + (data[0] >> 2);  // 1..64 bytes per arrival
    fc::sim::UnitConfig config;
    config.loader_version = 2;
    fc::sim::UnitModel unit(config);
    RequestParser parser(transport);
    auto now = RequestParser::Clock::now();
    for (size_t at = 1; at < size; at += piece) {
        const size_t n = std::min(piece, size - at);
        parser.Feed(std::span(data + at, n), now);
        Serve(unit, parser, transport, now);
        now += std::chrono::microseconds(1042) * 4;
    }
    // The line falls silent: a frame still pending ends now.
    now += std::chrono::milliseconds(50);
    Serve(unit, parser, transport, now);
    return 0;
}
