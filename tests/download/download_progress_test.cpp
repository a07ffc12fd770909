#include <gtest/gtest.h>

#include "download/download_progress.h"

namespace fc {
namespace {

TEST(DownloadProgress, NothingChangesWhileNoSecondHasPassed) {
    EXPECT_FALSE(ComputeProgressTexts(0, 3, 10, 10 * 1024).has_value());
}

TEST(DownloadProgress, TextsAfterASector) {
    const auto texts = ComputeProgressTexts(75, 30, 64, 64 * 1024);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->elapsed, "01:15");
    EXPECT_EQ(texts->rate, "409 Bytes/Sec");  // 30 * 1024 / 75
    EXPECT_EQ(texts->sent, "30 of 64 KBytes (46%)");
    ASSERT_TRUE(texts->left);
    EXPECT_EQ(*texts->left, "01:25");  // 75 / 30 * 34 = 85 s
}

TEST(DownloadProgress, FirstSectorLeavesTimeLeftAndLastShowsNMinusOne) {
    const auto first = ComputeProgressTexts(2, 0, 4, 4 * 1024);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->left.has_value());
    EXPECT_EQ(first->sent, "0 of 4 KBytes (0%)");
    EXPECT_EQ(first->rate, "0 Bytes/Sec");

    const auto last = ComputeProgressTexts(8, 3, 4, 4 * 1024);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->sent, "3 of 4 KBytes (75%)");
    EXPECT_EQ(*last->left, "00:02");
}

TEST(DownloadProgress, LongRunsShowMinutesBeyondAnHour) {
    const auto texts = ComputeProgressTexts(3725, 1, 2, 2048);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->elapsed, "62:05");
}

TEST(PathDisplay, ShortenedAroundTheFilePart) {
    const std::string forty = "/home/tech/images/unit-a/firmware-2.1.img";
    ASSERT_EQ(forty.size(), 41u);
    // 41 characters whose file part with its "/" is 17: 23 + "..." + 17.
    EXPECT_EQ(ShortenPathForDisplay(forty), "/home/tech/images/unit-.../firmware-2.1.img");
    EXPECT_EQ(ShortenPathForDisplay(forty).size(), 43u);

    const std::string exact = forty.substr(1);
    EXPECT_EQ(ShortenPathForDisplay(exact), exact);

    const std::string long_name = "/x/" + std::string(45, 'n') + ".img";
    EXPECT_EQ(ShortenPathForDisplay(long_name), "..." + long_name.substr(2));

    const std::string no_slash(50, 'f');
    EXPECT_EQ(ShortenPathForDisplay(no_slash), "..." + no_slash);
}

TEST(PathDisplay, FolderKeepsItsTrailingSeparator) {
    EXPECT_EQ(FolderOfPath("/home/tech/images/a.img"), "/home/tech/images/");
    EXPECT_EQ(FolderOfPath("a.img"), "");
    EXPECT_EQ(FolderOfPath("/a.img"), "/");
}

}  // namespace
}  // namespace fc
