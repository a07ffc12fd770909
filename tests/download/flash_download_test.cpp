#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "download/flash_download.h"
#include "download/messages.h"
#include "download/unit_contact.h"
#include "modbus/messages.h"
#include "modbus/modbus_master.h"
#include "platform/stop_request.h"
#include "tests/download/download_sim_support.h"
#include "tests/peers/driver_bench.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

namespace m = download_messages;
using test::Route;

// One register request as the unit saw it.
struct Seen {
    int function;
    int address;
    int count;
    std::vector<uint32_t> values;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    out << "fn " << seen.function << " @" << seen.address << " x" << seen.count << " [";
    for (size_t i = 0; i < seen.values.size() && i < 4; ++i)
        out << (i ? " " : "") << seen.values[i];
    return out << (seen.values.size() > 4 ? " ...]" : "]");
}

// Raises its stop once stop_when holds, looked at as the run shows a status
// text and as it pumps the window, which every wait does.
struct StoppingUi : ScriptedUserInterface {
    void SetStatusText(std::string_view text) override {
        ScriptedUserInterface::SetStatusText(text);
        PumpPaintMessages();
    }
    void PumpPaintMessages() override {
        if (stop_when && stop_when())
            stop.Raise(SIGINT);
    }
    StopRequest stop;
    std::function<bool()> stop_when;
};

// The driver, the unit and the image of one run; Start() opens the link as
// the download page does before it hands over to the run.
class DownloadRun : public ::testing::Test, public test::BasicDriverBench<StoppingUi> {
  protected:
    void StartUnit(Route route, int loader_version) {
        sim_ = std::make_unique<sim::Simulator>(test::UnitOn(route, loader_version));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        resolve = [this](int) { return std::vector<std::string>{sim_->PtyPath()}; };
        settings.Timeout = test::kTimeout;
        settings.UnitId = 5;
        settings.BaudRate = 4;  // 19200
        settings.UseIP = route != Route::RtuPty;
        settings.IPAddress = "127.0.0.1";
        settings.IPPort = static_cast<uint16_t>(route == Route::ModbusTcp ? sim_->ModbusTcpPort()
                                                                           : sim_->RtuTcpPort());
        settings.IPProtocol = route == Route::RtuOverTcp ? 1 : 0;
    }

    void OpenLink() {
        ASSERT_TRUE(Connect(master));
        links.LinkState = kLinkDownloading;
        int value = -1;
        ASSERT_TRUE(master.ReadRegister16(kProbeRegister, value));
        sim_->ClearRequests();
    }

    bool Run(const std::string& path) { return Run(LoadImage(path).bytes); }
    bool Run(ImageBytes image) {
        hooks_.wait = [this](std::chrono::milliseconds ms) { waits_.push_back(ms.count()); };
        FlashDownload download(master, std::move(image), hooks_);
        const bool result = download.RunDownload();
        left_in_ = download.LeftUnitIn();
        ClosePort(master);
        Disconnect(master);
        return result;
    }

    void Fault(const std::string& text) {
        std::string error;
        ASSERT_TRUE(sim_->AddFault(text, &error)) << error;
    }

    std::string Image(const std::vector<uint8_t>& bytes) {
        return test::WriteFile(dir_.File("image.img"), bytes);
    }

    std::vector<Seen> SeenRequests() const {
        std::vector<Seen> seen;
        for (const auto& request : sim_->Requests())
            seen.push_back({request.info.function, request.info.address, request.info.count,
                            request.info.values});
        return seen;
    }

    int CountRequests(int function, int address) const {
        int count = 0;
        for (const auto& seen : SeenRequests())
            count += seen.function == function && seen.address == address;
        return count;
    }

    test::TempDir dir_;
    std::unique_ptr<sim::Simulator> sim_;
    DownloadHooks hooks_;
    std::vector<long long> waits_;
    UnitMode left_in_ = UnitMode::Application;
};

// The four ways to the unit, each writing the image byte for byte.
struct EndToEndCase {
    const char* name;
    Route route;
    int loader_version;
};

void PrintTo(const EndToEndCase& c, std::ostream* out) {
    *out << c.name;
}

class EndToEnd : public DownloadRun, public ::testing::WithParamInterface<EndToEndCase> {};

TEST_P(EndToEnd, ImageArrivesInFlash) {
    const auto& param = GetParam();
    StartUnit(param.route, param.loader_version);
    OpenLink();
    const auto image = test::TestImage(4);
    std::vector<int> loader_bauds;
    hooks_.clock = [&] {
        loader_bauds.push_back(sim_->Line().baud);
        return int64_t{0};
    };
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{m::kDownloadCompleted});
    EXPECT_EQ(sim_->FlashImage(), image);
    EXPECT_FALSE(sim_->InDownloadMode());
    EXPECT_EQ(waits_, std::vector<long long>{5000});
    const char* found = param.loader_version == 2 ? m::kLoaderV2Found : m::kLoaderV1Found;
    EXPECT_EQ(ui.status_history,
              (std::vector<std::string>{m::kSettingDownloadMode, found, m::kBeingReset, ""}));
    // The loader's settings stay in force; only the unit id and framing of the
    // user's own are gone from memory.
    EXPECT_EQ(settings.UnitId, 1);
    EXPECT_EQ(settings.BaudRate, kLoaderSlowBaudIndex);
    // Version 2 sends the sectors at 38400 and comes back to 9600 before it
    // leaves download mode.
    const int transfer_baud = param.loader_version == 2 ? 38400 : 9600;
    EXPECT_EQ(loader_bauds, std::vector<int>(5, transfer_baud));
    EXPECT_EQ(CountRequests(16, kLoaderSpeedRegister), param.loader_version == 2 ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Routes, EndToEnd,
                         ::testing::Values(EndToEndCase{"RtuPtyLoader1", Route::RtuPty, 1},
                                           EndToEndCase{"RtuPtyLoader2", Route::RtuPty, 2},
                                           EndToEndCase{"ModbusTcp", Route::ModbusTcp, 2},
                                           EndToEndCase{"RtuOverTcp", Route::RtuOverTcp, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The requests of a two-sector image, row by row as the loader expects them.
std::vector<Seen> ExpectedSequence(const std::vector<uint8_t>& image, int version) {
    const auto words = [&](size_t first_byte, int count) {
        std::vector<uint32_t> values;
        for (int i = 0; i < count; ++i)
            values.push_back(image[first_byte + 2 * i] << 8 | image[first_byte + 2 * i + 1]);
        return values;
    };
    std::vector<Seen> expected = {
        {3, 2649, 1, {}},    // the unit answers
        {16, 2649, 1, {1}},  // enter download mode
        {3, 2649, 1, {}},    // the loader's version
    };
    if (version == 2)
        expected.push_back({16, 2563, 1, {5}});
    for (uint16_t sector = 0; sector < 2; ++sector) {
        if (sector == 0)
            expected.push_back({16, 2650, 1, {2}});
        const size_t base = sector * 1024u;
        if (version == 2) {
            for (int k = 0; k < 4; ++k)
                expected.push_back({16, 20000 + 112 * k, 112, words(base + 224 * k, 112)});
            expected.push_back({16, 20448, 64, words(base + 896, 64)});
            expected.push_back({16, 2650, 2, {1, sector}});
        } else {
            for (int k = 0; k < 8; ++k)
                expected.push_back({16, 20000 + 64 * k, 64, words(base + 128 * k, 64)});
            expected.push_back({16, 2651, 1, {sector}});
            expected.push_back({16, 2650, 1, {1}});
        }
        expected.push_back({3, 2650, 1, {}});
    }
    if (version == 2)
        expected.push_back({16, 2563, 1, {3}});
    expected.push_back({16, 2649, 1, {0}});  // leave download mode
    return expected;
}

TEST_F(DownloadRun, RequestSequenceOfLoaderVersion1) {
    StartUnit(Route::RtuPty, 1);
    OpenLink();
    const auto image = test::TestImage(2);
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(SeenRequests(), ExpectedSequence(image, 1));
}

TEST_F(DownloadRun, RequestSequenceOfLoaderVersion2) {
    StartUnit(Route::RtuPty, 2);
    OpenLink();
    const auto image = test::TestImage(2);
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(SeenRequests(), ExpectedSequence(image, 2));
}

TEST_F(DownloadRun, ProgressCountsTheSectorsBeforeTheOneWritten) {
    StartUnit(Route::ModbusTcp, 2);
    OpenLink();
    int64_t now = 100;
    hooks_.clock = [&] { return now += 3; };  // start 103, then 3 s per sector
    EXPECT_TRUE(Run(Image(test::TestImage(3))));
    EXPECT_EQ(ui.progress_lower, 0);
    EXPECT_EQ(ui.progress_upper, 3);
    EXPECT_EQ(ui.progress_position, 2);
    EXPECT_EQ(ui.progress_texts[kElapsedTimeText], "00:09");
    EXPECT_EQ(ui.progress_texts[kTransferRateText], "227 Bytes/Sec");
    EXPECT_EQ(ui.progress_texts[kBytesSentText], "2 of 3 KBytes (66%)");
    EXPECT_EQ(ui.progress_texts[kTimeLeftText], "00:04");  // 9 / 2 * 1, truncated
}

TEST_F(DownloadRun, NoTextChangesWhileNoSecondHasPassed) {
    StartUnit(Route::ModbusTcp, 2);
    OpenLink();
    hooks_.clock = [] { return int64_t{7}; };
    EXPECT_TRUE(Run(Image(test::TestImage(2))));
    EXPECT_TRUE(ui.progress_texts.empty());
}

// Every image the transfer would refuse is refused on the bytes read (a file
// of /sys says 4096 and gives 4); a FIFO without a writer does not hold it.
TEST_F(DownloadRun, ImageIsJudgedBeforeTheUnitIsTouched) {
    StartUnit(Route::RtuPty, 1);
    OpenLink();
    const std::string fifo = dir_.File("fifo.img");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = test::WriteFile(dir_.File("huge.img"), {});
    // Sparse: 65536 sectors without the disk space.
    ASSERT_EQ(::truncate(huge.c_str(), off_t{65536} * 1024), 0);
    const struct {
        std::string path;
        const char* message;
    } cases[] = {{test::WriteFile(dir_.File("empty.img"), {}), m::kImageEmpty},
                 {Image(std::vector<uint8_t>(1025, 0x5A)), m::kNotTheRightSize},
                 {dir_.File("missing.img"), m::kUnableToOpenImage},
                 {dir_.path(), m::kUnableToOpenImage},
                 {fifo, m::kUnableToOpenImage},
                 {huge, m::kImageTooLarge},
                 {"/sys/devices/system/cpu/online", m::kNotTheRightSize}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const LoadedImage image = LoadImage(c.path);
        EXPECT_EQ(ImageVerdictText(image.verdict, m::kUnableToOpenImage), std::string(c.message));
        EXPECT_FALSE(image.bytes);
    }
}

// The bytes read once are what the unit gets: what the file holds later
// changes nothing of a run that has them.
TEST_F(DownloadRun, ImageChangedAfterItWasReadChangesNothing) {
    StartUnit(Route::ModbusTcp, 2);
    OpenLink();
    const auto image = test::TestImage(2);
    const std::string path = Image(image);
    const ImageBytes bytes = LoadImage(path).bytes;
    test::WriteFile(path, test::TestImage(3));
    EXPECT_TRUE(Run(bytes));
    EXPECT_EQ(sim_->FlashImage(), image);
}

TEST_F(DownloadRun, SharedBytesOfAnImageBeyondTheSectorNumberAreRefusedAlike) {
    StartUnit(Route::RtuPty, 1);
    OpenLink();
    EXPECT_FALSE(Run(std::make_shared<const std::vector<uint8_t>>(kMaxImageLength + kSectorSize)));
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{m::kImageTooLarge});
    EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(DownloadRun, LoaderAnsweringVersion0StopsTheRun) {
    StartUnit(Route::RtuPty, 0);
    OpenLink();
    EXPECT_FALSE(Run(Image(test::TestImage(1))));
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{m::kUnableToPlaceInDownloadMode});
    EXPECT_EQ(CountRequests(16, kFlashCommandRegister), 0);
}

TEST_F(DownloadRun, LoaderThatNeverAnswersCannotBePlaced) {
    StartUnit(Route::RtuPty, 1);
    OpenLink();
    Fault("no-reply,fn=3,addr=2649,once=2");
    EXPECT_FALSE(Run(Image(test::TestImage(1))));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{modbus_messages::kUnableToConnect,
                                                            m::kUnableToPlaceInDownloadMode}));
}

// A flash write that ends badly, with the status behind it.
struct FlashFaultCase {
    const char* name;
    const char* fault;
    const char* message;
};

void PrintTo(const FlashFaultCase& c, std::ostream* out) {
    *out << c.name;
}

class FlashFault : public DownloadRun, public ::testing::WithParamInterface<FlashFaultCase> {};

TEST_P(FlashFault, StopsTheRunWithItsMessage) {
    StartUnit(Route::RtuPty, 1);
    OpenLink();
    Fault(std::string(GetParam().fault) + ",once=2");  // the second sector's flash write
    EXPECT_FALSE(Run(Image(test::TestImage(3))));
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{GetParam().message});
    EXPECT_TRUE(sim_->InDownloadMode());
    const auto seen = SeenRequests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (Seen{3, 2650, 1, {}}));
    // Nothing of the third sector went out.
    EXPECT_EQ(CountRequests(16, kSectorNumberRegister), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, FlashFault,
    ::testing::Values(FlashFaultCase{"Failed", "flash-failed", m::kFlashWriteFailed},
                      FlashFaultCase{"Invalid", "flash-invalid", m::kInvalidSector},
                      FlashFaultCase{"Other", "flash-unexpected", m::kUnexpectedFlashResponse},
                      FlashFaultCase{"StaysBusy", "flash-stuck", m::kFlashWriteTimedOut}),
    [](const auto& info) { return std::string(info.param.name); });

// The unit loses power at a point of the second sector's exchange and comes
// back in its loader without its buffer and registers, while the run retries:
// the run writes nothing over holes, and flashes the image whole.
struct RebootCase {
    const char* name;
    Route route;
    int loader_version;
    const char* fault;
};

void PrintTo(const RebootCase& c, std::ostream* out) {
    *out << c.name;
}

class Reboot : public DownloadRun, public ::testing::WithParamInterface<RebootCase> {};

TEST_P(Reboot, MidSectorNeverEndsInASuccessOverHoles) {
    StartUnit(GetParam().route, GetParam().loader_version);
    OpenLink();
    Fault(std::string("reboot=300,") + GetParam().fault);
    const auto image = test::TestImage(3);
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(sim_->FlashImage(), image);
    EXPECT_EQ(ui.MessageTexts().back(), m::kDownloadCompleted);
}

INSTANTIATE_TEST_SUITE_P(
    Points, Reboot,
    ::testing::Values(RebootCase{"Buffer1", Route::RtuPty, 1, "fn=16,addr=20128,once=2"},
                      RebootCase{"Number1", Route::RtuPty, 1, "fn=16,addr=2651,once=2"},
                      RebootCase{"Commit1", Route::RtuPty, 1, "fn=16,addr=2650,once=3"},
                      RebootCase{"Poll1", Route::RtuPty, 1, "fn=3,addr=2650,once=2"},
                      RebootCase{"Buffer2", Route::ModbusTcp, 2, "fn=16,addr=20128,once=2"},
                      RebootCase{"Number2", Route::RtuOverTcp, 2, "fn=16,addr=2651,once=2"},
                      RebootCase{"Commit2", Route::ModbusTcp, 2, "fn=16,addr=2650,once=3"},
                      RebootCase{"Poll2", Route::ModbusTcp, 2, "fn=3,addr=2650,once=2"}),
    [](const auto& info) { return std::string(info.param.name); });

// The reply to the leave request is lost and the unit resets: it answers as
// its application at the user's settings, and the run has succeeded.
TEST_F(DownloadRun, LostReplyToLeavingIsAskedAfterAndSucceeds) {
    StartUnit(Route::ModbusTcp, 1);
    OpenLink();
    hooks_.application = settings;
    Fault("no-reply,fn=16,addr=2649,once=2");
    EXPECT_TRUE(Run(Image(test::TestImage(1))));
    EXPECT_EQ(left_in_, UnitMode::Flashed);
    EXPECT_FALSE(sim_->InDownloadMode());
}

TEST_F(DownloadRun, BusyStatusIsReadExactlyFiveTimes) {
    StartUnit(Route::ModbusTcp, 2);
    OpenLink();
    Fault("flash-stuck,once=1");
    EXPECT_FALSE(Run(Image(test::TestImage(2))));
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{m::kFlashWriteTimedOut});
    EXPECT_EQ(CountRequests(3, kFlashCommandRegister), 5);
}

TEST_F(DownloadRun, SlowFlashWriteWithinFivePollsSucceeds) {
    sim::SimulatorOptions options = test::UnitOn(Route::ModbusTcp, 1);
    options.unit.busy_polls = 4;  // busy four times, written at the fifth read
    sim_ = std::make_unique<sim::Simulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    settings = {};
    settings.UseIP = true;
    settings.IPAddress = "127.0.0.1";
    settings.IPPort = static_cast<uint16_t>(sim_->ModbusTcpPort());
    settings.UnitId = 5;
    settings.Timeout = test::kTimeout;
    settings.Retry = 0;
    OpenLink();
    const auto image = test::TestImage(2);
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(CountRequests(3, kFlashCommandRegister), 10);
    EXPECT_EQ(sim_->FlashImage(), image);
}

TEST_F(DownloadRun, FailedBlockWriteEndsAVersion2SectorAtOnce) {
    StartUnit(Route::RtuPty, 2);
    OpenLink();
    // The third block of the second sector is refused.
    Fault("exception=4,fn=16,addr=20224,once=2");
    EXPECT_FALSE(Run(Image(test::TestImage(3))));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{modbus_messages::kUnableToConnect,
                                                            m::kErrorWritingSectorData}));
    const auto seen = SeenRequests();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().address, 20224);
    EXPECT_EQ(CountRequests(16, kFlashCommandRegister), 2);  // start of image, sector 0
    EXPECT_TRUE(sim_->InDownloadMode());
    EXPECT_EQ(settings.BaudRate, kLoaderFastBaudIndex);
}

TEST_F(DownloadRun, ExitRefusedIsReported) {
    StartUnit(Route::ModbusTcp, 1);
    OpenLink();
    Fault("exception=4,fn=16,addr=2649,once=2");
    EXPECT_FALSE(Run(Image(test::TestImage(1))));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{modbus_messages::kUnableToConnect,
                                                            m::kUnableToExitDownloadMode}));
    EXPECT_EQ(left_in_, UnitMode::InLoader);  // it answered: it is there
    EXPECT_TRUE(waits_.empty());
}

// The request that met the closed line fails; the link comes back, the
// loader is found holding the run's state, and the sector is written again.
TEST_F(DownloadRun, PtyClosedMidDownloadGivesAMessageAndTheLinkComesBack) {
    StartUnit(Route::RtuPty, 1);
    OpenLink();
    Fault("close-pty,fn=16,addr=20128,once=2");
    const auto image = test::TestImage(3);
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{modbus_messages::kUnableToConnect,
                                                            m::kDownloadCompleted}));
    EXPECT_EQ(sim_->FlashImage(), image);
}

TEST_F(DownloadRun, TcpDroppedMidDownloadGivesAMessageAndTheLinkComesBack) {
    StartUnit(Route::RtuOverTcp, 2);
    OpenLink();
    Fault("drop-connection,fn=16,addr=20000,once=2");
    const auto image = test::TestImage(3);
    EXPECT_TRUE(Run(Image(image)));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{modbus_messages::kUnableToConnect,
                                                            m::kDownloadCompleted}));
    EXPECT_EQ(sim_->FlashImage(), image);
}

// A run stopped after its first sector leaves the unit in its loader without
// a failure message; the next contact at the user's settings finds the loader
// where it listens, or the unit's application when none was left.
struct ContactCase {
    const char* name;
    Route route;
    int loader_version;  // 0: no interrupted run before the contact
    UnitFound found;
    int16_t unit;
    int32_t baud_index;
};

void PrintTo(const ContactCase& c, std::ostream* out) {
    *out << c.name;
}

class Contact : public DownloadRun, public ::testing::WithParamInterface<ContactCase> {};

TEST_P(Contact, FindsTheUnitOrTheLoaderAnInterruptedRunLeft) {
    const ContactCase& c = GetParam();
    StartUnit(c.route, std::max(c.loader_version, 1));
    const CommSettings user = settings;
    if (c.loader_version != 0) {
        OpenLink();
        StopRequest stop;
        int clock_reads = 0;
        hooks_.stop = &stop;
        hooks_.clock = [&] {
            if (++clock_reads == 2)
                stop.Raise(SIGINT);
            return int64_t{0};
        };
        FlashDownload download(master, LoadImage(Image(test::TestImage(3))).bytes, hooks_);
        EXPECT_FALSE(download.RunDownload());
        EXPECT_TRUE(download.Stopped());
        EXPECT_EQ(download.LeftUnitIn(), UnitMode::InLoader);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(CountRequests(3, kFlashCommandRegister), 1);  // sector 0's status only
        Disconnect(master);
        settings = user;
    }
    // Only the link, as a download opens it: the contact asks the unit.
    ASSERT_TRUE(Connect(master, [](ModbusMaster&) { return true; }));
    links.LinkState = kLinkDownloading;
    const UnitContact contact = ContactUnit(master);
    EXPECT_EQ(contact.found, c.found);
    EXPECT_EQ(contact.loader_version, c.found == UnitFound::Loader ? c.loader_version : 0);
    EXPECT_EQ(settings.UnitId, c.unit);
    EXPECT_EQ(settings.BaudRate, c.baud_index);
    EXPECT_TRUE(ui.messages.empty());
    Disconnect(master);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, Contact,
    ::testing::Values(
        ContactCase{"PtyApplication", Route::RtuPty, 0, UnitFound::Application, 5, 4},
        ContactCase{"PtyLoader1", Route::RtuPty, 1, UnitFound::Loader, 1, kLoaderSlowBaudIndex},
        ContactCase{"PtyLoader2", Route::RtuPty, 2, UnitFound::Loader, 1, kLoaderFastBaudIndex},
        ContactCase{"TcpLoader2", Route::ModbusTcp, 2, UnitFound::Loader, 1, kLoaderSlowBaudIndex}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop at the start, with a status text or while a request goes unanswered
// ends the run within the wait under way, asks nobody, fails nothing, and
// tells what is known of the unit: never "runs as before" if it may not.
TEST_F(DownloadRun, AStopEndsTheRunWithWhatItKnowsOfTheUnit) {
    const struct {
        bool left_in_loader;  // by an earlier run
        std::string fault, status;
        UnitMode told;
        bool in_download_mode;
    } cases[] = {{true, "", "", UnitMode::MaybeInLoader, true},
                 {true, "", m::kLookingForLoader, UnitMode::MaybeInLoader, true},
                 {false, "", m::kSettingDownloadMode, UnitMode::Application, false},
                 {false, "no-reply,fn=16,addr=20000,every=1", "", UnitMode::InLoader, true},
                 {false, "no-reply,fn=16,addr=2649,once=2", "", UnitMode::MaybeInLoader, false},
                 {false, "", m::kBeingReset, UnitMode::Flashed, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault + c.status);
        StartUnit(Route::RtuPty, 1);
        if (c.left_in_loader) {
            ASSERT_TRUE(Connect(master));
            master.WriteRegister16(kLoaderVersionRegister, kEnterDownloadMode);
            Disconnect(master);
        }
        if (!c.fault.empty())
            Fault(c.fault);
        ui.messages.clear();
        ui.status_history.clear();
        ui.stop.Clear();
        ui.stop_when = [&] {
            const auto seen = sim_->Requests();
            return c.fault.empty() ? c.status.empty() || (!ui.status_history.empty() &&
                                                          ui.status_history.back() == c.status)
                                   : std::any_of(seen.begin(), seen.end(),
                                                 [](auto& r) { return !r.faults.empty(); });
        };
        hooks_.stop = &ui.stop;
        const DownloadOutcome outcome =
            RunDownloadSession(master, LoadImage(Image(test::TestImage(2))).bytes, hooks_);
        EXPECT_EQ(outcome.result, DownloadResult::Interrupted);
        EXPECT_EQ(outcome.signal, SIGINT);
        EXPECT_EQ(outcome.unit, c.told);
        EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{});
        EXPECT_EQ(sim_->InDownloadMode(), c.in_download_mode);
    }
}

// Nothing answers, neither the unit nor a loader: the question comes once per
// contact, and Retry runs the whole contact again.
TEST_F(DownloadRun, ContactWithNoAnswerAsksOnceAndRetryAsksAgain) {
    StartUnit(Route::ModbusTcp, 1);
    settings.UnitId = 9;
    ASSERT_TRUE(Connect(master, [](ModbusMaster&) { return true; }));
    links.LinkState = kLinkDownloading;
    ui.QueueAnswer(MessageAnswer::Retry);
    EXPECT_EQ(ContactUnit(master).found, UnitFound::Nothing);
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>(2, modbus_messages::kUnableToConnect));
    EXPECT_EQ(settings.UnitId, 9);
    Disconnect(master);
}

TEST(LoaderSettings, SetTheLoaderLineAndKeepPortTimingAndIp) {
    CommSettings settings;
    settings.BaudRate = 7;
    settings.ModbusType = kModbusAscii;
    settings.Parity = 2;
    settings.DataBits = 7;
    settings.StopBits = 2;
    settings.UnitId = 9;
    settings.ComPort = 4;
    settings.Timeout = 3;
    settings.Retry = 6;
    settings.IPAddress = "10.0.0.2";
    ApplyLoaderSettings(settings);
    EXPECT_EQ(settings.BaudRate, 3);
    EXPECT_EQ(settings.ModbusType, kModbusRtu);
    EXPECT_EQ(settings.Parity, 0);
    EXPECT_EQ(settings.DataBits, 8);
    EXPECT_EQ(settings.StopBits, 0);
    EXPECT_EQ(settings.UnitId, 1);
    EXPECT_EQ(settings.ComPort, 4);
    EXPECT_EQ(settings.Timeout, 3);
    EXPECT_EQ(settings.Retry, 6);
    EXPECT_EQ(settings.IPAddress, "10.0.0.2");
}

}  // namespace
}  // namespace fc
