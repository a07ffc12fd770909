#include "watch/watch_list.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/field_text.h"
#include "platform/profile.h"
#include "platform/whole_number.h"

namespace fc {

namespace {

constexpr WatchType kTypes[] = {WatchType::Auto, WatchType::Int16, WatchType::Int32,
                                WatchType::Float, WatchType::FloatLoHi};
// A list file is a few hundred short lines; anything far larger is not one.
constexpr std::streamsize kMaxFileBytes = 1 << 20;

std::optional<WatchType> TypeFromWord(std::string word) {
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const WatchType type : kTypes)
        if (word == WatchTypeWord(type))
            return type;
    return std::nullopt;
}

constexpr WatchShow kShows[] = {WatchShow::Plain, WatchShow::Signed, WatchShow::Unsigned,
                                WatchShow::Hex, WatchShow::Bits};

std::optional<WatchShow> ShowFromWord(const std::string& word) {
    for (const WatchShow show : kShows)
        if (word == WatchShowWord(show))
            return show;
    return std::nullopt;
}

// The shortest text that reads back as the same double.
std::string ShortestNumber(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

enum class Option { None, Taken, Wrong };

// One KEY=VALUE word of a line; None for a word that is no option, so that
// the name starts there; Wrong with `what` for an option with a bad value.
Option TakeOption(const std::string& word, WatchRow& row, std::string& what) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos)
        return Option::None;
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    RowForm& form = row.Form;
    const auto wrong = [&](const std::string& why) {
        what = "\"" + word + "\": " + why;
        return Option::Wrong;
    };
    if (key == "unit") {
        return ParseWholeNumber(value, 1, kMaxRowUnitId, &row.UnitId)
                   ? Option::Taken
                   : wrong("a unit address is 1 to " + std::to_string(kMaxRowUnitId));
    }
    if (key == "show") {
        const auto show = ShowFromWord(value);
        if (!show)
            return wrong("show is signed, unsigned, hex or bits");
        form.Show = *show;
        return Option::Taken;
    }
    if (key == "scale" || key == "offset") {
        const std::optional<double> number = ParseNumberField(value);
        if (!number || (key == "scale" && *number == 0))
            return wrong(key == "scale" ? "not a number other than 0" : "not a number");
        (key == "scale" ? form.Scale : form.Offset) = *number;
        return Option::Taken;
    }
    if (key == "eu") {
        if (value.empty())
            return wrong("no unit of measure");
        form.Unit = value;
        return Option::Taken;
    }
    int bit = 0;
    if (key.rfind("bit", 0) == 0 && key.size() > 3 &&
        key.find_first_not_of("0123456789", 3) == std::string::npos) {
        if (!ParseWholeNumber(key.substr(3), 0, kMaxWatchBits - 1, &bit) || value.empty())
            return wrong("a bit is named bit0 to bit" + std::to_string(kMaxWatchBits - 1) +
                         "=NAME");
        if (form.BitNames.size() <= static_cast<size_t>(bit))
            form.BitNames.resize(static_cast<size_t>(bit) + 1);
        form.BitNames[static_cast<size_t>(bit)] = value;
        return Option::Taken;
    }
    return Option::None;
}

std::vector<std::string> Words(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// A name goes on a terminal and into CSV cells: control characters would
// drive the one and break the other. Tabs separate words; a CR ends the
// lines of a file written on Windows.
bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) {
        return (c < 0x20 && c != '\t' && c != '\r') || c == 0x7f;
    });
}

std::string LineError(int number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

// Empty `error` and no row for a line without one.
std::optional<WatchRow> ParseLine(std::string_view line, int number, std::string& error) {
    line = line.substr(0, line.find('#'));
    if (HasControlCharacter(line)) {
        error = LineError(number, "a control character in the line");
        return std::nullopt;
    }
    const std::vector<std::string> words = Words(line);
    if (words.empty())
        return std::nullopt;
    WatchRow row;
    if (!ParseWholeNumber(words[0], 0, 65535, &row.Address)) {
        error = LineError(number, "\"" + words[0] + "\" is not a register address (0 to 65535)");
        return std::nullopt;
    }
    size_t name_from = 1;
    if (words.size() > 1) {
        if (const auto type = TypeFromWord(words[1])) {
            row.Type = *type;
            name_from = 2;
        }
    }
    for (std::string what; name_from < words.size(); ++name_from) {
        const Option option = TakeOption(words[name_from], row, what);
        if (option == Option::Wrong) {
            error = LineError(number, what);
            return std::nullopt;
        }
        if (option == Option::None)
            break;
    }
    for (size_t i = name_from; i < words.size(); ++i)
        row.Name += (row.Name.empty() ? "" : " ") + words[i];
    return row;
}

}  // namespace

const char* WatchTypeWord(WatchType type) {
    switch (type) {
        case WatchType::Int16:
            return "int16";
        case WatchType::Int32:
            return "int32";
        case WatchType::Float:
            return "float";
        case WatchType::FloatLoHi:
            return "float-lohi";
        case WatchType::Auto:
            break;
    }
    return "auto";
}

const char* WatchShowWord(WatchShow show) {
    switch (show) {
        case WatchShow::Signed:
            return "signed";
        case WatchShow::Unsigned:
            return "unsigned";
        case WatchShow::Hex:
            return "hex";
        case WatchShow::Bits:
            return "bits";
        case WatchShow::Plain:
            break;
    }
    return "plain";
}

std::string RowTitle(const WatchRow& row) {
    return row.Name.empty() ? std::to_string(row.Address) : row.Name;
}

std::string RowTitleWithUnit(const WatchRow& row) {
    return RowTitle(row) + (row.Form.Unit.empty() ? "" : " (" + row.Form.Unit + ")");
}

std::string FormWords(const RowForm& form) {
    std::vector<std::string> words;
    if (form.Show != WatchShow::Plain)
        words.push_back(std::string("show=") + WatchShowWord(form.Show));
    if (form.Scale != 1)
        words.push_back("scale=" + ShortestNumber(form.Scale));
    if (form.Offset != 0)
        words.push_back("offset=" + ShortestNumber(form.Offset));
    if (!form.Unit.empty())
        words.push_back("eu=" + form.Unit);
    for (size_t bit = 0; bit < form.BitNames.size(); ++bit)
        if (!form.BitNames[bit].empty())
            words.push_back("bit" + std::to_string(bit) + "=" + form.BitNames[bit]);
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

std::optional<std::vector<WatchRow>> ParseWatchList(std::string_view text, std::string& error) {
    std::vector<WatchRow> rows;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        error.clear();
        const std::optional<WatchRow> row = ParseLine(line, number, error);
        if (!error.empty())
            return std::nullopt;
        if (!row)
            continue;
        if (rows.size() == static_cast<size_t>(kMaxWatchRows)) {
            error = LineError(number, "more than " + std::to_string(kMaxWatchRows) + " rows");
            return std::nullopt;
        }
        rows.push_back(*row);
    }
    if (rows.empty()) {
        error = "no rows to watch";
        return std::nullopt;
    }
    return rows;
}

std::string WatchLine(const WatchRow& row) {
    std::string line = std::to_string(row.Address) + " " + WatchTypeWord(row.Type);
    if (row.UnitId != 0)
        line += " unit=" + std::to_string(row.UnitId);
    if (const std::string form = FormWords(row.Form); !form.empty())
        line += " " + form;
    if (!row.Name.empty())
        line += " " + row.Name;
    return line;
}

std::string WatchListText(const std::vector<WatchRow>& rows) {
    std::string text =
        "# ADDRESS [TYPE] [OPTION...] [NAME...]; TYPE auto, int16, int32, float or float-lohi;\n"
        "# OPTION unit=N, show=signed|unsigned|hex|bits, scale=X, offset=X, eu=TEXT, bitN=NAME\n";
    for (const WatchRow& row : rows)
        text += WatchLine(row) + "\n";
    return text;
}

std::optional<std::vector<WatchRow>> ReadWatchFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(kMaxFileBytes) + 1, '\0');
    in.read(text.data(), kMaxFileBytes + 1);
    if (in.bad()) {
        error = path + ": unreadable";
        return std::nullopt;
    }
    if (in.gcount() > kMaxFileBytes) {
        error = path + ": too large for a watch list";
        return std::nullopt;
    }
    text.resize(static_cast<size_t>(in.gcount()));
    auto rows = ParseWatchList(text, error);
    if (!rows)
        error = path + ": " + error;
    return rows;
}

bool WriteWatchFile(const std::string& path, const std::vector<WatchRow>& rows,
                    std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << WatchListText(rows);
    out.close();
    if (!out) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

WatchSetup LoadWatchSetup(const Profile& profile) {
    using namespace watch_keys;
    WatchSetup setup;
    const int count = std::clamp(profile.GetInt(kSection, kRows, 0), 0, kMaxWatchRows);
    for (int i = 1; i <= count; ++i) {
        std::string error;
        const std::string line = profile.GetString(kSection, kRowPrefix + std::to_string(i), "");
        if (auto row = ParseLine(line, i, error))
            setup.Rows.push_back(*row);
    }
    setup.IntervalMs =
        std::clamp(profile.GetInt(kSection, kIntervalMs, setup.IntervalMs), kMinIntervalMs,
                   kMaxIntervalMs);
    setup.SpanSeconds =
        std::clamp(profile.GetInt(kSection, kSpanSeconds, setup.SpanSeconds), kMinSpanSeconds,
                   kMaxSpanSeconds);
    return setup;
}

void SaveWatchSetup(const WatchSetup& setup, Profile& profile) {
    using namespace watch_keys;
    profile.WriteInt(kSection, kRows, static_cast<int>(setup.Rows.size()));
    for (size_t i = 0; i < setup.Rows.size(); ++i)
        profile.WriteString(kSection, kRowPrefix + std::to_string(i + 1), WatchLine(setup.Rows[i]));
    profile.WriteInt(kSection, kIntervalMs, setup.IntervalMs);
    profile.WriteInt(kSection, kSpanSeconds, setup.SpanSeconds);
}

}  // namespace fc
