#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace fc {

class UserInterface;

// What the user is told when the settings did not reach the file: %1 is the
// file's path, %2 the reason as the system words it.
inline constexpr const char* kProfileNotSaved = "Unable to save the settings to %1:\n%2";

// The per-user profile store: integer and string values by section and key,
// kept by QSettings under the company key and the application title
// (~/.config/Quenta/<title>.conf, an INI file). Tests point XDG_CONFIG_HOME at
// a temporary folder, or hand a file path of their own.
class Profile {
  public:
    static constexpr const char* kCompany = "Quenta";

    // The per-user store of the given application title.
    explicit Profile(const std::string& application_title);
    // A store kept in the given INI file (tests, a demo kept apart).
    static Profile AtPath(const std::string& ini_path);
    ~Profile();
    Profile(Profile&&) noexcept;
    Profile& operator=(Profile&&) noexcept;

    // A string keeps its text as the file has it, commas and all (QSettings
    // alone would read an unquoted comma as a list and give nothing).
    // A missing value, or one that does not read as a whole decimal number,
    // gives the default. The result is the value's low 32 bits, as a profile
    // integer is a 32-bit word; callers narrow it further to their field.
    int32_t GetInt(const std::string& section, const std::string& key, int32_t fallback) const;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    bool Contains(const std::string& section, const std::string& key) const;

    void WriteInt(const std::string& section, const std::string& key, int32_t value);
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Writes what is pending to the file and checks that it got there. Empty
    // when it did; otherwise why not (the file, the folder, or the write).
    std::optional<std::string> Sync();
    std::string FilePath() const;

  private:
    Profile() = default;
    std::string RawText(const std::string& section, const std::string& key) const;
    std::unique_ptr<QSettings> settings_;
    bool failed_before_ = false;
};

// Sync, and when the save failed tell the user which file and why. False
// then: the values live on in memory but not on disk.
bool SyncAndReport(Profile& profile, UserInterface& ui);

}  // namespace fc
