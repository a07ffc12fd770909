#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

// Every test binary keeps its profile in a folder of its own, so no test reads
// or writes the real user's settings.
int main(int argc, char** argv) {
    fc::test::IsolateTestEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
