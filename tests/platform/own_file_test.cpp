#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "platform/messages.h"
#include "platform/regular_file.h"
#include "tests/support/temp_dir.h"

// What another user put where the tool writes is refused with the reason.
namespace fc::test {
namespace {

namespace m = platform_messages;
using S = const std::string&;

bool GiveAway(S path, mode_t mode) {
    const passwd* nobody = ::getpwnam("nobody");
    return ::geteuid() == 0 && nobody && ::chown(path.c_str(), nobody->pw_uid, 0) == 0 &&
           ::chmod(path.c_str(), mode) == 0;
}

struct Place {
    const char* name;
    std::function<bool(std::string& path, S folder, S victim)> ready;  // false: cannot here
    const char* reason;                                                // none: taken
};

using OwnFilePlaces = ::testing::TestWithParam<Place>;

TEST_P(OwnFilePlaces, TakenOrRefusedWithTheReason) {
    TempDir dir;
    const std::string folder = dir.File("logs"), victim = dir.File("victim");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    std::ofstream(victim) << "keep";
    std::string path = folder + "/u1.log", reason;
    if (!GetParam().ready(path, folder, victim))
        GTEST_SKIP() << "needs root to act as another user";
    EXPECT_EQ(OwnFileAllowed(path, reason), GetParam().reason == nullptr) << reason;
    const int fd = CreateOwnFile(path, reason);
    struct stat info {};
    EXPECT_EQ(fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size == 0, !GetParam().reason);
    EXPECT_EQ(fd >= 0 ? "" : reason, GetParam().reason ? GetParam().reason : "");
    ::close(fd);
    EXPECT_EQ(std::ifstream(victim).get(), 'k');
}

INSTANTIATE_TEST_SUITE_P(
    Places, OwnFilePlaces,
    ::testing::Values(
        Place{"Own", [](std::string& p, S, S) { return !!(std::ofstream(p) << "x"); }, nullptr},
        Place{"Link", [](std::string& p, S, S v) { return !::symlink(v.c_str(), p.c_str()); },
              m::kIsLink},
        Place{"HardLink", [](std::string& p, S, S v) { return !::link(v.c_str(), p.c_str()); },
              m::kHardLinked},
        Place{"Fifo", [](std::string& p, S, S) { return !::mkfifo(p.c_str(), 0600); }, m::kIsFifo},
        Place{"Folder", [](std::string& p, S, S) { return !::mkdir(p.c_str(), 0700); },
              m::kIsFolder},
        Place{"Device", [](std::string& p, S, S) { return !(p = "/dev/full").empty(); },
              m::kIsDevice},
        Place{"OthersFile",
              [](std::string& p, S, S) { return std::ofstream(p) && GiveAway(p, 0666); },
              m::kOtherOwner},
        Place{"OthersFolder", [](std::string&, S f, S) { return GiveAway(f, 0777); },
              m::kForeignFolder},
        Place{"OthersStickyFolder", [](std::string&, S f, S) { return GiveAway(f, 01777); },
              nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MakeOwnFolder, MakesWhatIsMissingForTheUserAloneAndRefusesAnothersFolder) {
    TempDir dir;
    std::string reason;
    ASSERT_TRUE(MakeOwnFolder(dir.File("a/b"), reason)) << reason;
    struct stat info {};
    EXPECT_TRUE(::stat(dir.File("a").c_str(), &info) == 0 && (info.st_mode & 0777) == 0700);
    EXPECT_FALSE(MakeOwnFolder("/dev/null", reason) || reason != m::kNotFolder);
    if (GiveAway(dir.File("a/b"), 0777))
        EXPECT_FALSE(MakeOwnFolder(dir.File("a/b"), reason) || reason != m::kFolderIsForeign);
}

}  // namespace
}  // namespace fc::test
