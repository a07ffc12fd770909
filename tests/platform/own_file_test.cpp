#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "platform/messages.h"
#include "platform/regular_file.h"
#include "tests/support/small_disk.h"
#include "tests/support/temp_dir.h"

// What another user, or a careless choice of name, may have put where the
// tool writes: each is refused with its reason, at once, and the file a link
// points to is never touched.
namespace fc::test {
namespace {

namespace m = platform_messages;

// Only root can give a file to another user.
bool GiveAway(const std::string& path, mode_t mode) {
    const passwd* nobody = ::getpwnam("nobody");
    return ::geteuid() == 0 && nobody && ::chown(path.c_str(), nobody->pw_uid, 0) == 0 &&
           ::chmod(path.c_str(), mode) == 0;
}

struct Place {
    const char* name;
    // Readies the path to write in the folder; false when this runner cannot.
    std::function<bool(std::string& path, const std::string& folder, const std::string& victim)>
        ready;
    const char* reason;  // none: the file is taken
    friend void PrintTo(const Place& p, std::ostream* out) { *out << p.name; }
};

class OwnFilePlaces : public ::testing::TestWithParam<Place> {
  protected:
    TempDir dir_;
};

TEST_P(OwnFilePlaces, TakenOrRefusedWithTheReason) {
    const std::string folder = dir_.File("logs");
    const std::string victim = dir_.File("victim.txt");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    std::ofstream(victim) << "keep";
    std::string path = folder + "/u1.log";
    if (!GetParam().ready(path, folder, victim))
        GTEST_SKIP() << "needs root to act as another user";
    std::string reason;
    EXPECT_EQ(OwnFileAllowed(path, reason), GetParam().reason == nullptr) << reason;
    const int fd = CreateOwnFile(path, reason);
    struct stat info {};
    if (GetParam().reason == nullptr) {
        ASSERT_GE(fd, 0) << reason;
        EXPECT_TRUE(::fstat(fd, &info) == 0 && info.st_size == 0);
    } else {
        EXPECT_LT(fd, 0);
        EXPECT_EQ(reason, GetParam().reason);
    }
    if (fd >= 0)
        ::close(fd);
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
}

using S = const std::string&;
INSTANTIATE_TEST_SUITE_P(
    Places, OwnFilePlaces,
    ::testing::Values(
        Place{"New", [](std::string&, S, S) { return true; }, nullptr},
        Place{"OwnFileEmptied", [](std::string& p, S, S) { return !!(std::ofstream(p) << "x"); },
              nullptr},
        Place{"Link", [](std::string& p, S, S v) { return ::symlink(v.c_str(), p.c_str()) == 0; },
              m::kIsLink},
        Place{"HardLink", [](std::string& p, S, S v) { return ::link(v.c_str(), p.c_str()) == 0; },
              m::kHardLinked},
        Place{"Fifo", [](std::string& p, S, S) { return ::mkfifo(p.c_str(), 0600) == 0; },
              m::kIsFifo},
        Place{"Folder", [](std::string& p, S, S) { return ::mkdir(p.c_str(), 0700) == 0; },
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
    const std::string nested = dir.File("a/b/c");
    ASSERT_TRUE(MakeOwnFolder(nested, reason)) << reason;
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("a/b").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(MakeOwnFolder(nested, reason));  // already there
    std::ofstream(dir.File("file")) << "x";
    EXPECT_FALSE(MakeOwnFolder(dir.File("file"), reason));
    EXPECT_EQ(reason, m::kNotFolder);
    if (GiveAway(nested, 0777)) {
        EXPECT_FALSE(MakeOwnFolder(nested, reason));
        EXPECT_EQ(reason, m::kFolderIsForeign);
    }
}

// Every write after the disk filled fails, and so does the close.
TEST(OwnFile, AFullDiskFailsTheWriteAndTheClose) {
    TempDir dir;
    if (!MountSmallDisk(dir.path()))
        GTEST_SKIP() << "the runner may not mount a small disk";
    OwnFile file;
    std::string reason;
    ASSERT_TRUE(file.Create(dir.File("full.csv"), reason)) << reason;
    const std::string line(1000, 'x');
    for (int i = 0; i < 200 && file.Write(line); ++i) {
    }
    EXPECT_EQ(file.Failure(), std::strerror(ENOSPC));
    EXPECT_FALSE(file.Write("\n"));
    EXPECT_FALSE(file.Close());
    ::umount(dir.path().c_str());
}

}  // namespace
}  // namespace fc::test
