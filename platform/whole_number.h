#pragma once

#include <optional>
#include <string>

namespace fc {

// A whole number as a program's argument or a control command gives it:
// decimal, or hex after 0x (never octal: "010" is ten), with nothing before
// or after it, within [low, high]. Empty when the text is anything else.
std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high);

// The same into an integer of the caller's; false (out untouched) when the
// text is no such number.
template <typename Integer>
bool ParseWholeNumber(const std::string& text, long long low, long long high, Integer* out) {
    const std::optional<long long> value = ParseWholeNumber(text, low, high);
    if (value)
        *out = static_cast<Integer>(*value);
    return value.has_value();
}

}  // namespace fc
