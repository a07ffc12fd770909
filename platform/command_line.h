#pragma once

#include <string>
#include <string_view>

namespace fc {

// The habits the three programs share on their command lines: the version
// line, help rows that fit a terminal, and choices taken in any case.

// Help lines end by this column, so an 80-column terminal never wraps them.
inline constexpr size_t kHelpWidth = 80;

// "-h" and "-V" stand for "--help" and "--version"; any other text is its own.
std::string_view LongOptionName(std::string_view argument);

// How an option heads its help row: "-h, --help", "--port N".
std::string OptionHead(std::string_view name, std::string_view argument);

// The first line --version prints: "fcloader-cli (fcloader) 2.0.0", or
// "fcloader 2.0.0" for the program that gives the package its name.
std::string VersionLine(std::string_view program);

// "  HEAD   help..." with the help from `column` on, its words wrapped within
// kHelpWidth and the follow-on lines indented to `column`. A head too wide
// for the column puts the help on the next line.
std::string HelpRow(std::string_view head, std::string_view help, size_t column);

// Text wrapped within kHelpWidth, every line indented by `indent` blanks.
std::string WrappedText(std::string_view text, size_t indent = 0);

// A choice as the user typed it: "ODD", "Odd" and "odd" are one choice.
bool SameChoice(std::string_view typed, std::string_view choice);

}  // namespace fc
