#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim/wire_framing.h"
#include "tests/sim/sim_peer.h"

namespace fc::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(RequestParser, RtuFrameInPiecesAndAfterABrokenOne) {
    RequestParser parser(Transport::SerialRtu);
    const auto t0 = Clock::now();
    const Bytes frame = WithCrc(WriteRequest(1, 100, {0x1234}));
    parser.Feed(std::span(frame).first(5), t0);
    EXPECT_FALSE(parser.Next(t0));
    parser.Feed(std::span(frame).subspan(5), t0 + 1ms);
    const auto request = parser.Next(t0 + 1ms);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->request.function, 16);
    EXPECT_EQ(request->request.body, (Bytes{0, 100, 0, 1, 2, 0x12, 0x34}));
    EXPECT_EQ(request->wire_bytes, frame.size());

    // Half a frame, then silence: the next frame starts afresh.
    parser.Feed(std::span(frame).first(4), t0 + 10ms);
    parser.Feed(WithCrc(ReadRequest(1, 5, 1)), t0 + 500ms);
    const auto after = parser.Next(t0 + 500ms);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->request.function, 3);
}

TEST(RequestParser, AsciiAcceptsLowerCaseAndDropsBadLrc) {
    RequestParser parser(Transport::SerialAscii);
    const std::string good = ":01030064000197\r\n";
    std::string lower = AsciiText(ReadRequest(1, 0xAB, 1));
    for (char& c : lower)
        c = static_cast<char>(std::tolower(c));
    const std::string text = "junk:0103006400019\r\n" + good + lower;
    parser.Feed(Bytes(text.begin(), text.end()), Clock::now());
    const auto first = parser.Next(Clock::now());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->request.body, (Bytes{0, 100, 0, 1}));
    const auto second = parser.Next(Clock::now());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->request.body, (Bytes{0, 0xAB, 0, 1}));
    EXPECT_FALSE(parser.Next(Clock::now()));
}

TEST(RequestParser, MbapKeepsTheTransactionAndRefusesOtherProtocols) {
    RequestParser parser(Transport::ModbusTcp);
    parser.Feed(Bytes{0xAB, 0xCD, 0, 0, 0, 6, 1, 3, 0, 1, 0, 1}, Clock::now());
    const auto frame = parser.Next(Clock::now());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->transaction, 0xABCD);
    parser.Feed(Bytes{0, 1, 0, 9, 0, 6, 1, 3, 0, 1, 0, 1}, Clock::now());
    EXPECT_FALSE(parser.Next(Clock::now()));
    EXPECT_EQ(parser.Pending(), 0u);
    EXPECT_EQ(BuildReply(Transport::ModbusTcp, 1, 0xABCD, Bytes{3, 2, 0, 5}, false),
              (Bytes{0xAB, 0xCD, 0, 0, 0, 5, 1, 3, 2, 0, 5}));
}

}  // namespace
}  // namespace fc::sim::test
