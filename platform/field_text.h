#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fc {

// The prompts of the dialogs' field exchange, as users of the tool know them.
namespace field_messages {
inline constexpr const char* kEnterInteger = "Please enter an integer.";
inline constexpr const char* kEnterNumber = "Please enter a number.";
// %1 and %2 are the bounds, in decimal.
inline constexpr const char* kEnterIntegerBetween = "Please enter an integer between %1 and %2.";
}  // namespace field_messages

// The range prompt with its bounds filled in.
std::string IntegerRangePrompt(int lower, int upper);

// An integer field: an optional sign directly followed by decimal digits, with
// only blanks or tabs around it. Anything else (an empty field, 4.5, 12abc,
// "- 5") is refused, and so is a number that does not fit a 32-bit int, which
// would otherwise come back as some other number than the one typed.
std::optional<int> ParseIntegerField(std::string_view text);

// A number field: an optionally signed decimal number with an optional
// fraction and exponent, blanks or tabs around it. Always read with '.' as the
// decimal point whatever the locale says, so a value the window wrote back
// reads again the same. Words such as "inf" or "nan" and hexadecimal forms are
// refused, as is a magnitude beyond a double.
std::optional<double> ParseNumberField(std::string_view text);
// The same for a single-precision field: a magnitude beyond a float is
// refused rather than stored as infinity.
std::optional<float> ParseFloatField(std::string_view text);

// A number as atof reads it, by the same decimal grammar only: leading white
// space, then the longest decimal number there is; 0 when there is none. So
// "12.5abc" is 12.5, while "nan", "inf" and "0x10" (forms today's atof would
// also take) all read as 0. Always '.' as the decimal point, whatever the
// locale. A magnitude beyond a double gives infinity, for the caller to refuse.
double LeadingNumber(std::string_view text);

// Field texts: integers in decimal, floats with 6 significant digits, doubles
// with 15 (the shortest of fixed or exponent form, as printf's %g gives).
std::string FormatIntegerField(int value);
std::string FormatFloatField(float value);
std::string FormatDoubleField(double value);

}  // namespace fc
