// A watch list is a text file the user wrote or was sent. Any text gives rows
// or a refusal; rows read back from their own lines are the same rows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "watch/watch_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto rows = fc::ParseWatchList(text, error);
    if (!rows) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (rows->size() > static_cast<size_t>(fc::kMaxWatchRows))
        std::abort();
    const auto again = fc::ParseWatchList(fc::WatchListText(*rows), error);
    if (!again || *again != *rows)
        std::abort();
    return 0;
}
