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

// How a row's value reads. Plain is the register page's form (a 16-bit
// register 0 to 65535, a 32-bit one signed); hex and bits show the register's
// bits as they are, so an alarm word reads bit by bit.
enum class WatchShow { Plain, Signed, Unsigned, Hex, Bits };

inline constexpr int kMaxWatchBits = 32;

// What a row's number means: its form, the engineering value as
// raw * Scale + Offset in the unit of measure `Unit`, and names for the bits
// of an alarm word. Scale and offset leave hex and bits untouched: those
// show the register itself.
struct RowForm {
    WatchShow Show = WatchShow::Plain;
    double Scale = 1;
    double Offset = 0;
    std::string Unit{};
    std::vector<std::string> BitNames{};  // index = bit number; empty: unnamed
    bool operator==(const RowForm&) const = default;
};

struct WatchRow {
    int Address = 0;
    WatchType Type = WatchType::Auto;
    std::string Name;  // may be empty: the address names the row then
    int UnitId = 0;    // 0: the unit address of the settings
    RowForm Form{};
    bool operator==(const WatchRow&) const = default;
};

inline constexpr int kMaxRowUnitId = 247;

inline constexpr int kMaxWatchRows = 1000;

// "auto", "int16", "int32", "float", "float-lohi".
const char* WatchTypeWord(WatchType type);
// "plain", "signed", "unsigned", "hex", "bits".
const char* WatchShowWord(WatchShow show);
// The row's name, or its address when it has none.
std::string RowTitle(const WatchRow& row);
// The title with the unit of measure: "flow (m3/h)".
std::string RowTitleWithUnit(const WatchRow& row);

// One row a line, "ADDRESS [TYPE] [OPTION...] [NAME...]"; '#' starts a
// comment, blank lines are skipped. The options, each KEY=VALUE without
// blanks: unit=N (the unit address, 1 to 247), show=signed|unsigned|hex|bits,
// scale=X, offset=X, eu=TEXT (the unit of measure), bitN=NAME (N 0 to 31).
// The first word that is no option starts the name, so a line without
// options reads as it always did. Empty with `error` saying which line is
// wrong and why.
std::optional<std::vector<WatchRow>> ParseWatchList(std::string_view text, std::string& error);
// The line of a row, as the parser reads it back.
std::string WatchLine(const WatchRow& row);
// The options of the row's form, as its line holds them ("show=hex eu=bar").
std::string FormWords(const RowForm& form);
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
