// The profile is a text file the user (or anything else) may have edited:
// loading random INI contents must give a record, never a crash.
#include <cstdint>
#include <string>

#include "modbus/comm_settings.h"
#include "platform/profile.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fc::fuzz::Scratch().Write("fcloader.conf", data, size);
    fc::Profile profile = fc::Profile::AtPath(path);
    fc::CommSettings settings;
    fc::LoadSettings(settings, profile);
    (void)fc::BaudFromIndex(settings.BaudRate);
    return 0;
}
