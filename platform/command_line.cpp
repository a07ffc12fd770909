#include "platform/command_line.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "platform/package_version.h"

namespace fc {

namespace {

std::vector<std::string> Words(std::string_view text) {
    std::istringstream stream{std::string(text)};
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// Lines of at most `width` characters; a single word wider than that keeps a
// line of its own rather than being cut.
std::vector<std::string> WrapWords(std::string_view text, size_t width) {
    std::vector<std::string> lines;
    std::string line;
    for (const std::string& word : Words(text)) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string Indented(const std::vector<std::string>& lines, size_t first_indent, size_t indent) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i)
        text += std::string(i == 0 ? first_indent : indent, ' ') + lines[i] + "\n";
    return text;
}

}  // namespace

std::string_view LongOptionName(std::string_view argument) {
    if (argument == "-h")
        return "--help";
    if (argument == "-V")
        return "--version";
    return argument;
}

std::string OptionHead(std::string_view name, std::string_view argument) {
    std::string head(name);
    if (name == "--help")
        head = "-h, " + head;
    if (name == "--version")
        head = "-V, " + head;
    if (!argument.empty())
        head += " " + std::string(argument);
    return head;
}

std::string VersionLine(std::string_view program) {
    const std::string package = kPackageName;
    const std::string owner = program == package ? "" : " (" + package + ")";
    return std::string(program) + owner + " " + kPackageVersion;
}

std::string HelpRow(std::string_view head, std::string_view help, size_t column) {
    std::string row = "  " + std::string(head);
    size_t first_indent = 0;
    if (row.size() + 1 > column) {
        row += "\n";
        first_indent = column;
    } else {
        row.append(column - row.size(), ' ');
    }
    const size_t width = kHelpWidth > column ? kHelpWidth - column : 1;
    return row + Indented(WrapWords(help, width), first_indent, column);
}

std::string WrappedText(std::string_view text, size_t indent) {
    const size_t width = kHelpWidth > indent ? kHelpWidth - indent : 1;
    return Indented(WrapWords(text, width), indent, indent);
}

bool SameChoice(std::string_view typed, std::string_view choice) {
    return std::equal(typed.begin(), typed.end(), choice.begin(), choice.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace fc
