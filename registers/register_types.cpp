#include "registers/register_types.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "platform/field_text.h"
#include "platform/profile.h"

namespace fc {

namespace {
constexpr const char* kKeys[RegisterTypeRanges::kCount] = {
    autotype_keys::k16BitLo, autotype_keys::k16BitHi, autotype_keys::k32BitLo,
    autotype_keys::k32BitHi, autotype_keys::kFloatLo, autotype_keys::kFloatHi};
constexpr int32_t kDefaults[RegisterTypeRanges::kCount] = {0, 3130, 3131, 15000, 7000, 7999};

bool InRange(int address, int32_t lo, int32_t hi) {
    return lo <= address && address <= hi;
}
}  // namespace

int32_t& RegisterTypeRanges::Bound(int index) {
    int32_t* bounds[kCount] = {&Int16Lo, &Int16Hi, &Int32Lo, &Int32Hi, &FloatLo, &FloatHi};
    return *bounds[index];
}

int32_t RegisterTypeRanges::Bound(int index) const {
    return const_cast<RegisterTypeRanges&>(*this).Bound(index);
}

const char* RegisterTypeRanges::Key(int index) {
    return kKeys[index];
}

int32_t RegisterTypeRanges::Default(int index) {
    return kDefaults[index];
}

RegisterType TypeForAddress(const RegisterTypeRanges& r, int address) {
    if (InRange(address, r.Int16Lo, r.Int16Hi))
        return RegisterType::Int16;
    if (InRange(address, r.FloatLo, r.FloatHi))
        return RegisterType::Float;
    if (InRange(address, r.Int32Lo, r.Int32Hi))
        return RegisterType::Int32;
    return RegisterType::Int16;
}

void LoadRegisterTypeRanges(RegisterTypeRanges& ranges, const Profile& profile) {
    for (int i = 0; i < RegisterTypeRanges::kCount; ++i) {
        ranges.Bound(i) = profile.GetInt(autotype_keys::kSection, kKeys[i], kDefaults[i]);
    }
}

void SaveRegisterTypeRanges(const RegisterTypeRanges& ranges, Profile& profile) {
    for (int i = 0; i < RegisterTypeRanges::kCount; ++i) {
        profile.WriteInt(autotype_keys::kSection, kKeys[i], ranges.Bound(i));
    }
}

std::optional<int> TextToInt(std::string_view text) {
    const std::optional<double> number = ParseNumberField(text);
    if (!number)
        return std::nullopt;
    return static_cast<int>(std::clamp<double>(std::trunc(*number), INT_MIN, INT_MAX));
}

std::optional<double> TextToDouble(std::string_view text) {
    return ParseNumberField(text);
}

std::string IntToText(int value) {
    return std::to_string(value);
}

// to_chars rather than snprintf: "%f" would write the locale's decimal
// comma, which the unit's values must never carry.
std::string DoubleToText(double value) {
    char buffer[512];  // "%f" of the largest double has 316 characters
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

}  // namespace fc
