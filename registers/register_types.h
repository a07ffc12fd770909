#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fc {

class Profile;

enum class RegisterType { Int16 = 0, Int32 = 1, Float = 2 };

// Profile section and keys of the Auto rule's address ranges.
namespace autotype_keys {
inline constexpr const char* kSection = "AutoType";
inline constexpr const char* k16BitLo = "16BitLo";
inline constexpr const char* k16BitHi = "16BitHi";
inline constexpr const char* k32BitLo = "32BitLo";
inline constexpr const char* k32BitHi = "32BitHi";
inline constexpr const char* kFloatLo = "FloatLo";
inline constexpr const char* kFloatHi = "FloatHi";
}  // namespace autotype_keys

// The six bounds of the Auto rule, each range inclusive at both ends. A range
// whose "from" exceeds its "to" is empty; overlaps are resolved by the order
// of the tests in TypeForAddress.
struct RegisterTypeRanges {
    int32_t Int16Lo = 0;
    int32_t Int16Hi = 0;
    int32_t Int32Lo = 0;
    int32_t Int32Hi = 0;
    int32_t FloatLo = 0;
    int32_t FloatHi = 0;

    // The bounds in the order of their keys and of the dialog's edits.
    static constexpr int kCount = 6;
    int32_t& Bound(int index);
    int32_t Bound(int index) const;
    static const char* Key(int index);
    static int32_t Default(int index);
};

// 16-bit range first, then float, then 32-bit; anything else is 16-bit.
RegisterType TypeForAddress(const RegisterTypeRanges& ranges, int address);

// Reads the six bounds (missing ones get their defaults); writes nothing.
void LoadRegisterTypeRanges(RegisterTypeRanges& ranges, const Profile& profile);
void SaveRegisterTypeRanges(const RegisterTypeRanges& ranges, Profile& profile);

// The text conversions of the register page, by the number fields' rule
// (ParseNumberField): a decimal comma reads as the point, and a text that is
// not wholly a number is refused (none). An integer is the number's whole
// part ("12.7" is 12), and one beyond the int range saturates at its end.
// Numbers are read and shown in the C locale, whatever the user's is.
std::optional<int> TextToInt(std::string_view text);
std::optional<double> TextToDouble(std::string_view text);

// Values as the "Data" edit shows them: decimal for the integer types
// (a 16-bit read is never negative), "%f" for floats.
std::string IntToText(int value);
std::string DoubleToText(double value);

}  // namespace fc
