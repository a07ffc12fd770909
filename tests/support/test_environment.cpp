#include "tests/support/test_environment.h"

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace fc::test {

void IsolateTestEnvironment() {
    static TempDir config_home("fcloader-test-config");
    setenv("XDG_CONFIG_HOME", config_home.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

}  // namespace fc::test
