#include "platform/whole_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace fc {

std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high) {
    // strtoll would skip leading blanks; an argument with blanks is not a number.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    const size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const bool hex = text.size() > digits + 1 && text[digits] == '0' &&
                     (text[digits + 1] == 'x' || text[digits + 1] == 'X');
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || errno != 0 || value < low || value > high)
        return std::nullopt;
    return value;
}

}  // namespace fc
