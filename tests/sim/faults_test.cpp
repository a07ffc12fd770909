#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "modbus/frame_codec.h"
#include "sim/simulator.h"
#include "tests/sim/sim_peer.h"

namespace fc::sim::test {
namespace {

using namespace std::chrono_literals;

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        SimulatorOptions options;
        options.pty = true;
        options.tcp_port = 0;
        options.registers = {{100, 0x0102}};
        options.unit.reset_ms = 100;
        sim_ = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        peer_ = std::make_unique<SerialPeer>(sim_->PtyPath(), 9600);
    }
    void Add(const std::string& text) {
        std::string error;
        ASSERT_TRUE(sim_->AddFault(text, &error)) << error;
    }
    Bytes Read100(size_t expect = 7) { return peer_->Transact(ReadRequest(1, 100, 1), expect); }

    const Bytes good_ = WithCrc({1, 3, 2, 1, 2});
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<SerialPeer> peer_;
};

TEST_F(Faults, ReplyFaultsSpoilOnlyTheRequestsTheyMatch) {
    Add("no-reply");
    EXPECT_TRUE(Read100().empty());
    EXPECT_EQ(Read100(), good_);  // "once" is spent

    Add("bad-crc,fn=3");
    Bytes bad = Read100();
    ASSERT_EQ(bad.size(), 7u);
    EXPECT_NE(Crc16(bad), 0);
    bad.back() ^= 0x01;
    EXPECT_EQ(bad, good_);

    Add("exception=2,addr=100");
    EXPECT_EQ(peer_->Transact(ReadRequest(1, 200, 1), 7).size(), 7u);  // another address
    EXPECT_EQ(Read100(), WithCrc({1, 0x83, 2}));

    Add("stray=0x55");
    Bytes stray = good_;
    stray.insert(stray.begin(), 0x55);
    EXPECT_EQ(Read100(8), stray);

    Add("surplus=3");
    Bytes surplus = good_;
    surplus.insert(surplus.end(), 3, 0);
    EXPECT_EQ(Read100(10), surplus);

    const auto log = sim_->Requests();
    EXPECT_EQ(log.front().faults, std::vector<std::string>{"no-reply"});
}

TEST_F(Faults, DelayAndSplitSpreadTheReplyOverTime) {
    Add("delay=400");
    peer_->Send(WithCrc(ReadRequest(1, 100, 1)));
    EXPECT_TRUE(peer_->Receive(7, 200ms).empty());
    EXPECT_EQ(peer_->Receive(7, 500ms), good_);

    Add("split=2:300");
    peer_->Send(WithCrc(ReadRequest(1, 100, 1)));
    EXPECT_EQ(peer_->Receive(7, 50ms).size(), 2u);  // the first chunk, then a gap
    EXPECT_EQ(peer_->Receive(5, 700ms).size(), 5u);
}

TEST_F(Faults, EveryAndRateTriggers) {
    Add("no-reply,every=3");
    std::vector<bool> answered;
    for (int i = 0; i < 6; ++i)
        answered.push_back(!Read100().empty());
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false}));
    sim_->ClearFaults();

    // The same seed gives the same pattern on a fresh table.
    const auto pattern = [&] {
        sim_->ClearFaults();
        Add("bad-crc,rate=0.5,seed=42");
        std::vector<bool> bad;
        for (int i = 0; i < 8; ++i)
            bad.push_back(Crc16(Read100()) != 0);
        return bad;
    };
    const auto first = pattern();
    EXPECT_EQ(pattern(), first);
    EXPECT_NE(std::count(first.begin(), first.end(), true), 0);
    EXPECT_NE(std::count(first.begin(), first.end(), false), 0);
}

TEST_F(Faults, DropConnectionClosesTheTcpConnection) {
    Add("drop-connection");
    TcpPeer tcp(sim_->ModbusTcpPort());
    tcp.Send({0, 7, 0, 0, 0, 6, 1, 3, 0, 100, 0, 1});
    EXPECT_TRUE(tcp.Closed());
    TcpPeer again(sim_->ModbusTcpPort());
    again.Send({0, 8, 0, 0, 0, 6, 1, 3, 0, 100, 0, 1});
    EXPECT_EQ(again.Receive(11), (Bytes{0, 8, 0, 0, 0, 5, 1, 3, 2, 1, 2}));
}

TEST_F(Faults, ClosePtyHangsUpAndOffersANewOne) {
    Add("close-pty,addr=20000");
    EXPECT_EQ(Read100(), good_);
    peer_->Send(WithCrc(WriteRequest(1, 20000, {1})));
    EXPECT_TRUE(peer_->Receive(8).empty());
    std::string path;
    for (int i = 0; i < 50 && path.empty(); ++i) {
        std::this_thread::sleep_for(20ms);
        path = sim_->PtyPath();
    }
    ASSERT_FALSE(path.empty());
    SerialPeer fresh(path, 9600);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(fresh.Transact(ReadRequest(1, 100, 1), 7), good_);
}

TEST(FaultParsing, RejectsWhatItCannotRead) {
    std::string error;
    EXPECT_FALSE(ParseFault("explode", &error));
    EXPECT_NE(error.find("explode"), std::string::npos);
    EXPECT_FALSE(ParseFault("delay=abc", &error));
    EXPECT_FALSE(ParseFault("stray=256", &error));
    EXPECT_FALSE(ParseFault("no-reply,every=0", &error));
    EXPECT_FALSE(ParseFault("no-reply,rate=1.5", &error));
    EXPECT_FALSE(ParseFault("no-reply,color=red", &error));
    EXPECT_FALSE(ParseFault("", &error));
    const auto rule = ParseFault("split=4:20,every=2,fn=16,addr=20000", &error);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->kind, FaultKind::Split);
    EXPECT_EQ(rule->param, 4);
    EXPECT_EQ(rule->param2, 20);
    EXPECT_EQ(rule->trigger, TriggerKind::Every);
    EXPECT_EQ(rule->n, 2);
    EXPECT_EQ(rule->function, 16);
    EXPECT_EQ(rule->address, 20000);
}

}  // namespace
}  // namespace fc::sim::test
