// Bad input from the disk: a profile with values out of range or of the
// wrong type for every key, and image files of every awkward shape. Each gets
// the behaviour the tool gives it or a clear message, never a crash or a hang.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

#include "connection/connection.h"
#include "download/image_file.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/profile.h"
#include "platform/scripted_user_interface.h"
#include "tests/peers/serial_bench.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

namespace k = settings_keys;

class BadProfile : public ::testing::Test, public test::SerialBench {
  protected:
    void Load(const std::string& key, const std::string& value) {
        Profile profile = Profile::AtPath(dir.File("profile.conf"));
        profile.WriteString(k::kSection, key, value);
        profile.Sync();
        LoadSettings(settings, profile);
    }

    test::TempDir dir;
};

// Out of range and wrong-typed values load as numbers without a crash; a
// Connect with them either works or shows its box, and a request against a
// silent unit ends.
TEST_F(BadProfile, EveryKeyWithAnAwkwardValueLoadsAndConnectEnds) {
    const std::array<std::pair<const char*, std::string>, 11> cases = {{
        {k::kComPort, "-5"},
        {k::kBaudRate, "99"},
        {k::kTimeout, "-1"},
        {k::kIPPort, "70000"},
        {k::kIPAddress, std::string(500, '\xff')},
        {k::kDataBits, "3"},
        {k::kUnitId, "abc"},
        {k::kParity, "7"},
        {k::kStopBits, "-9"},
        {k::kModbusType, "1e9"},
        {k::kIPProtocol, "99999999999999999999999999999999999999999999999999"},
    }};
    for (const auto& [key, value] : cases) {
        SCOPED_TRACE(key);
        settings = CommSettings{};
        settings.Timeout = 0;
        settings.Retry = 0;
        Load(key, value);
        EXPECT_GT(BaudFromIndex(settings.BaudRate), 0);
        if (settings.Timeout > 1)
            settings.Timeout = 0;  // keeps a silent unit from costing seconds
        ui.messages.clear();
        const bool connected = Connect(master);
        if (!connected) {
            EXPECT_FALSE(ui.messages.empty());
        }
        int value_read = 0;
        EXPECT_FALSE(master.ReadRegister16(100, value_read));
        Disconnect(master);
    }
}

// A negative Retry gives one attempt and never asks; a negative Timeout
// counts as an expired wait: a silent unit costs one short attempt.
TEST_F(BadProfile, NegativeTimeoutAndRetryEndAtOnce) {
    Load(k::kTimeout, "-1");
    Load(k::kRetry, "-3");
    ASSERT_TRUE(Connect(master));
    const auto start = std::chrono::steady_clock::now();
    int value = 0;
    EXPECT_FALSE(master.ReadRegister16(100, value));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(ui.messages.empty());
    Disconnect(master);
}

class BadImage : public ::testing::Test {
  protected:
    std::string Sized(const std::string& name, off_t length) {
        const std::string path = dir.File(name);
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, length), 0);  // sparse: no blocks written
        ::close(fd);
        return path;
    }

    test::TempDir dir;
    std::array<uint8_t, kSectorSize> sector{};
};

TEST_F(BadImage, LengthsAroundTheSectorAndTheLoaderLimit) {
    for (const off_t length : {off_t{0}, off_t{1}, off_t{1025}, off_t{kMaxImageLength},
                               off_t{kMaxImageLength} + kSectorSize}) {
        SCOPED_TRACE(length);
        ImageFile image;
        ASSERT_TRUE(image.Open(Sized("image.img", length)));
        EXPECT_EQ(image.Length(), length);
        int whole = 0;
        while (whole < 2 && image.ReadSector(sector))
            ++whole;
        EXPECT_EQ(whole, static_cast<int>(std::min<off_t>(length / kSectorSize, 2)));
    }
}

TEST_F(BadImage, FolderAndMissingFileDoNotOpen) {
    EXPECT_FALSE(ImageFileOpens(dir.File("")));
    EXPECT_FALSE(ImageFileOpens(dir.File("missing.img")));
    EXPECT_FALSE(ImageFileOpens(""));
    EXPECT_FALSE(ImageFileOpens("/dev/null"));
}

TEST_F(BadImage, UnreadableFileDoesNotOpen) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads a file whatever its permissions";
    const std::string path = Sized("locked.img", kSectorSize);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    EXPECT_FALSE(ImageFileOpens(path));
}

// The file shrinks under the reader (another program rewrites it): the
// sector that is no longer whole is refused, never padded or read past.
TEST_F(BadImage, ShrinkingWhileBeingReadStopsAtTheLastWholeSector) {
    const std::string path = Sized("shrinking.img", 3 * kSectorSize);
    ImageFile image;
    ASSERT_TRUE(image.Open(path));
    ASSERT_TRUE(image.ReadSector(sector));
    ASSERT_EQ(::truncate(path.c_str(), kSectorSize + kSectorSize / 2), 0);
    EXPECT_FALSE(image.ReadSector(sector));
    EXPECT_FALSE(image.ReadSector(sector));
    EXPECT_EQ(image.Length(), 3 * kSectorSize);  // what it was when opened
}

}  // namespace
}  // namespace fc
