#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

// Every test binary keeps its profile in a folder of its own, so no test reads
// or writes the real user's settings.
int main(int argc, char** argv) {
    static fc::test::TempDir config_home("fcloader-test-config");
    setenv("XDG_CONFIG_HOME", config_home.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
