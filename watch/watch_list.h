#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fc {

class Profile;

// The value type a watched row asks for. Auto takes it from the Auto ranges
// when the list is polled; a float can have its low word first ("(LO/HI)").
enum class WatchType { Auto, Int16, Int32, Float, FloatLoHi };

struct WatchRow {
    int Address = 0;
    WatchType Type = WatchType::Auto;
    std::string Name;  // may be empty: the address names the row then
    bool operator==(const WatchRow&) const = default;
};

inline constexpr int kMaxWatchRows = 1000;

// "auto", "int16", "int32", "float", "float-lohi".
const char* WatchTypeWord(WatchType type);
// The row's name, or its address when it has none.
std::string RowTitle(const WatchRow& row);

// One row a line, "ADDRESS [TYPE] [NAME...]"; '#' starts a comment, blank
// lines are skipped. Empty with `error` saying which line is wrong and why.
std::optional<std::vector<WatchRow>> ParseWatchList(std::string_view text, std::string& error);
// The line of a row, as the parser reads it back.
std::string WatchLine(const WatchRow& row);
std::string WatchListText(const std::vector<WatchRow>& rows);

// The list file; empty with `error` (the file's or a line's fault).
std::optional<std::vector<WatchRow>> ReadWatchFile(const std::string& path, std::string& error);
bool WriteWatchFile(const std::string& path, const std::vector<WatchRow>& rows,
                    std::string& error);

// Profile section "Watch": the rows as list lines, the poll interval and the
// chart's span, so a watch is there again at the next start.
namespace watch_keys {
inline constexpr const char* kSection = "Watch";
inline constexpr const char* kRows = "Rows";
inline constexpr const char* kRowPrefix = "Row";  // Row1, Row2, ...
inline constexpr const char* kIntervalMs = "IntervalMs";
inline constexpr const char* kSpanSeconds = "SpanSeconds";
}  // namespace watch_keys

struct WatchSetup {
    std::vector<WatchRow> Rows;
    int IntervalMs = 1000;
    int SpanSeconds = 300;
};

inline constexpr int kMinIntervalMs = 100;
inline constexpr int kMaxIntervalMs = 3600 * 1000;
inline constexpr int kMinSpanSeconds = 60;
inline constexpr int kMaxSpanSeconds = 24 * 3600;

// Rows that no longer parse are left out; numbers out of range are held in it.
WatchSetup LoadWatchSetup(const Profile& profile);
void SaveWatchSetup(const WatchSetup& setup, Profile& profile);

}  // namespace fc
