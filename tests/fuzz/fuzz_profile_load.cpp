// The profile is a text file the user (or anything else) may have edited:
// loading random INI contents must give a record, never a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "modbus/comm_settings.h"
#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path =
        "/tmp/fcloader-fuzz-profile-" + std::to_string(getpid()) + ".conf";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    fc::Profile profile = fc::Profile::AtPath(path);
    fc::CommSettings settings;
    fc::LoadSettings(settings, profile);
    (void)fc::BaudFromIndex(settings.BaudRate);
    return 0;
}
