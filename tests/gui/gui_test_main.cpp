#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/test_environment.h"

// The GUI tests need a QApplication for their whole run. This main takes the
// place of the shared one: an object of the test itself defines main, so the
// linker never pulls the support library's.
int main(int argc, char** argv) {
    fc::test::IsolateTestEnvironment();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
