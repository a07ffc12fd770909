#include "platform/field_text.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>

namespace fc {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Consumes a run of digits and returns how many there were.
size_t SkipDigits(std::string_view text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && IsDigit(text[pos]))
        ++pos;
    return pos - start;
}

// The length of the decimal number at the start of the text (sign, digits,
// point, exponent), 0 when the text does not start with one. An exponent
// without digits is not part of the number, as strtod would leave it.
size_t DecimalNumberLength(std::string_view text) {
    size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        ++pos;
    size_t digits = SkipDigits(text, pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        digits += SkipDigits(text, pos);
    }
    if (digits == 0)
        return 0;
    size_t exponent = pos;
    if (exponent < text.size() && (text[exponent] == 'e' || text[exponent] == 'E')) {
        ++exponent;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        if (SkipDigits(text, exponent) > 0)
            pos = exponent;
    }
    return pos;
}

bool IsDecimalNumber(std::string_view text) {
    const size_t length = DecimalNumberLength(text);
    return length > 0 && length == text.size();
}

// strtod in the C locale rather than from_chars: it tells an overflow
// (HUGE_VAL, with ERANGE) from an underflow (a tiny value), and the decimal
// point must not follow the user's locale. The text is a decimal number.
double DecimalToDouble(std::string_view number, bool* overflow) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string copy(number);
    errno = 0;
    const double value =
        c_locale ? strtod_l(copy.c_str(), nullptr, c_locale) : std::strtod(copy.c_str(), nullptr);
    *overflow = !std::isfinite(value) || (errno == ERANGE && std::fabs(value) >= 1.0);
    return value;
}

template <typename T>
std::string FormatGeneral(T value, int significant_digits) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::general, significant_digits);
    return std::string(buffer, result.ptr);
}

}  // namespace

std::string IntegerRangePrompt(int lower, int upper) {
    std::string prompt = field_messages::kEnterIntegerBetween;
    prompt.replace(prompt.find("%1"), 2, std::to_string(lower));
    prompt.replace(prompt.find("%2"), 2, std::to_string(upper));
    return prompt;
}

std::optional<int> ParseIntegerField(std::string_view text) {
    text = TrimBlanks(text);
    const bool has_sign = !text.empty() && (text.front() == '+' || text.front() == '-');
    size_t pos = has_sign ? 1 : 0;
    if (SkipDigits(text, pos) == 0 || pos != text.size())
        return std::nullopt;
    // from_chars reads a minus sign but not a plus sign.
    if (text.front() == '+')
        text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> ParseNumberField(std::string_view text) {
    std::string number(TrimBlanks(text));
    if (number.find('.') == std::string::npos)
        if (const size_t comma = number.find(','); comma != std::string::npos)
            number[comma] = '.';
    if (!IsDecimalNumber(number))
        return std::nullopt;
    bool overflow = false;
    const double value = DecimalToDouble(number, &overflow);
    if (overflow)
        return std::nullopt;
    return value;
}

std::optional<float> ParseFloatField(std::string_view text) {
    const std::optional<double> value = ParseNumberField(text);
    if (!value || std::fabs(*value) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*value);
}

std::string FormatIntegerField(int value) {
    return std::to_string(value);
}

std::string FormatFloatField(float value) {
    return FormatGeneral(value, 6);
}

std::string FormatDoubleField(double value) {
    return FormatGeneral(value, 15);
}

}  // namespace fc
