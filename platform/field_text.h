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
// Below a prompt: the field it is about (%1) and what it holds (%2).
inline constexpr const char* kFieldHolds = "%1 holds \"%2\".";
}  // namespace field_messages

// The range prompt with its bounds filled in.
std::string IntegerRangePrompt(int lower, int upper);

// An integer field: an optional sign directly followed by decimal digits, with
// only blanks or tabs around it. Anything else (an empty field, 4.5, 12abc,
// "- 5") is refused, and so is a number that does not fit a 32-bit int, which
// would otherwise come back as some other number than the one typed.
std::optional<int> ParseIntegerField(std::string_view text);

// A number field: an optionally signed decimal number with an optional
// fraction and exponent, blanks or tabs around it. The decimal point is '.'
// whatever the locale says, so a value the window wrote back reads again the
// same; a text without a '.' may use one ',' instead, as a technician with a
// German keyboard types it ("12,5" is 12.5). Anything that is not wholly such
// a number is refused ("12abc", "1,2,5", "1.234,5"), and so are words such as
// "inf" or "nan", hexadecimal forms and a magnitude beyond a double.
std::optional<double> ParseNumberField(std::string_view text);
// The same for a single-precision field: a magnitude beyond a float is
// refused rather than stored as infinity.
std::optional<float> ParseFloatField(std::string_view text);

// Field texts: integers in decimal, floats with 6 significant digits, doubles
// with 15 (the shortest of fixed or exponent form, as printf's %g gives).
std::string FormatIntegerField(int value);
std::string FormatFloatField(float value);
std::string FormatDoubleField(double value);

}  // namespace fc
