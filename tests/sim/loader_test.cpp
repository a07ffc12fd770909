#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "sim/simulator.h"
#include "tests/sim/sim_peer.h"

// The loader protocol driven by hand, frame by frame, as the download sends it.
namespace fc::sim::test {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kLoaderUnit = 1;

Bytes Image(int sectors) {
    Bytes image(static_cast<size_t>(sectors) * 1024);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + i / 1024);
    return image;
}

std::vector<uint16_t> Words(const Bytes& image, size_t first_byte, size_t count) {
    std::vector<uint16_t> words;
    for (size_t i = 0; i < count; ++i)
        words.push_back(
            static_cast<uint16_t>(image[first_byte + 2 * i] << 8 | image[first_byte + 2 * i + 1]));
    return words;
}

Bytes WriteAck(uint16_t address, uint16_t count) {
    return WithCrc({kLoaderUnit, 16, static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address), 0, static_cast<uint8_t>(count)});
}

uint16_t ReadOne(SerialPeer& peer, uint8_t unit, uint16_t address) {
    const Bytes reply = peer.Transact(ReadRequest(unit, address, 1), 7);
    return reply.size() == 7 ? Values16(reply).at(0) : 0xDEAD;
}

// Polls the flash status as the download does: at most five reads while busy.
std::vector<uint16_t> PollStatus(SerialPeer& peer) {
    std::vector<uint16_t> statuses;
    do {
        statuses.push_back(ReadOne(peer, kLoaderUnit, 2650));
    } while (statuses.back() == 1 && statuses.size() < 5);
    return statuses;
}

class LoaderByHand : public ::testing::Test {
  protected:
    void StartUnit(int version, int busy_polls) {
        SimulatorOptions options;
        options.pty = true;
        options.unit.line = {SerialMode::Rtu, 19200, Parity::None, 5};
        options.unit.loader_version = version;
        options.unit.busy_polls = busy_polls;
        options.unit.reset_ms = 300;
        sim_ = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        peer_ = std::make_unique<SerialPeer>(sim_->PtyPath(), 19200);
    }

    void EnterDownloadMode(uint16_t expected_version) {
        EXPECT_EQ(ReadOne(*peer_, 5, 2649), 0);
        const Bytes enter{5, 0x10, 0x0A, 0x59, 0x00, 0x01, 0x02, 0x00, 0x01};
        EXPECT_EQ(peer_->Transact(enter, 8), WithCrc({5, 16, 0x0A, 0x59, 0, 1}));
        // The loader listens at 9600 as unit 1, whatever the unit's settings.
        EXPECT_EQ(ReadOne(*peer_, 1, 2649), 0xDEAD);
        peer_->SetLine(9600);
        EXPECT_EQ(ReadOne(*peer_, 5, 2649), 0xDEAD);
        EXPECT_EQ(ReadOne(*peer_, kLoaderUnit, 2649), expected_version);
        EXPECT_TRUE(sim_->InDownloadMode());
    }

    void LeaveDownloadMode() {
        EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2649, {0}), 8), WriteAck(2649, 1));
        EXPECT_FALSE(sim_->InDownloadMode());
        // Resetting: silent, then back at the unit's own settings.
        peer_->SetLine(19200);
        EXPECT_EQ(ReadOne(*peer_, 5, 2649), 0xDEAD);
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(ReadOne(*peer_, 5, 2649), 0);
    }

    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<SerialPeer> peer_;
};

TEST_F(LoaderByHand, VersionOneWritesSectorsWithBusyPolls) {
    StartUnit(1, 2);
    EnterDownloadMode(1);
    const Bytes image = Image(2);
    for (uint16_t sector = 0; sector < 2; ++sector) {
        if (sector == 0) {
            EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2650, {2}), 8), WriteAck(2650, 1));
        }
        for (uint16_t k = 0; k < 8; ++k) {
            const uint16_t address = static_cast<uint16_t>(20000 + 64 * k);
            const auto words = Words(image, sector * 1024u + 128u * k, 64);
            EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, address, words), 8),
                      WriteAck(address, 64));
        }
        EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2651, {sector}), 8), WriteAck(2651, 1));
        EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2650, {1}), 8), WriteAck(2650, 1));
        EXPECT_EQ(PollStatus(*peer_), (std::vector<uint16_t>{1, 1, 2}));
    }
    LeaveDownloadMode();
    EXPECT_EQ(sim_->FlashImage(), image);
}

TEST_F(LoaderByHand, VersionTwoSwitchesSpeedAndCommitsWithOneWrite) {
    StartUnit(2, 0);
    EnterDownloadMode(2);
    EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2563, {5}), 8), WriteAck(2563, 1));
    EXPECT_EQ(ReadOne(*peer_, kLoaderUnit, 2649), 0xDEAD);
    peer_->SetLine(38400);
    const Bytes image = Image(3);
    for (uint16_t sector = 0; sector < 3; ++sector) {
        if (sector == 0)
            peer_->Transact(WriteRequest(kLoaderUnit, 2650, {2}), 8);
        for (uint16_t k = 0; k < 5; ++k) {
            const uint16_t address = static_cast<uint16_t>(20000 + 112 * k);
            const uint16_t count = k < 4 ? 112 : 64;
            const auto words = Words(image, sector * 1024u + 224u * k, count);
            EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, address, words), 8),
                      WriteAck(address, count));
        }
        EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2650, {1, sector}), 8),
                  WriteAck(2650, 2));
        EXPECT_EQ(PollStatus(*peer_), (std::vector<uint16_t>{2}));
    }
    EXPECT_EQ(peer_->Transact(WriteRequest(kLoaderUnit, 2563, {3}), 8), WriteAck(2563, 1));
    peer_->SetLine(9600);
    LeaveDownloadMode();
    EXPECT_EQ(sim_->FlashImage(), image);
    // The request log shows the exact sequence: the flash write of sector 2.
    const auto log = sim_->Requests();
    const auto commit = std::find_if(log.rbegin(), log.rend(), [](const LoggedRequest& r) {
        return r.info.function == 16 && r.info.address == 2650 && r.info.count == 2;
    });
    ASSERT_NE(commit, log.rend());
    EXPECT_EQ(commit->info.values, (std::vector<uint32_t>{1, 2}));
}

TEST_F(LoaderByHand, FlashFaultsGiveTheirStatus) {
    StartUnit(1, 0);
    EnterDownloadMode(1);
    std::string error;
    ASSERT_TRUE(sim_->AddFault("flash-failed", &error)) << error;
    ASSERT_TRUE(sim_->AddFault("flash-invalid,once=2", &error)) << error;
    ASSERT_TRUE(sim_->AddFault("flash-stuck,once=3", &error)) << error;
    const auto commit = [&] {
        peer_->Transact(WriteRequest(kLoaderUnit, 2650, {1}), 8);
        return PollStatus(*peer_);
    };
    EXPECT_EQ(commit(), (std::vector<uint16_t>{3}));
    EXPECT_EQ(commit(), (std::vector<uint16_t>{4}));
    EXPECT_EQ(commit(), (std::vector<uint16_t>{1, 1, 1, 1, 1}));
    EXPECT_EQ(commit(), (std::vector<uint16_t>{2}));
    EXPECT_EQ(sim_->FlashImage().size(), 1024u);  // only the last one was written
}

}  // namespace
}  // namespace fc::sim::test
