#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QSettings;

namespace fc {

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

    // A missing value, or one that does not read as a whole decimal number,
    // gives the default. The result is the value's low 32 bits, as a profile
    // integer is a 32-bit word; callers narrow it further to their field.
    int32_t GetInt(const std::string& section, const std::string& key, int32_t fallback) const;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    bool Contains(const std::string& section, const std::string& key) const;

    void WriteInt(const std::string& section, const std::string& key, int32_t value);
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Writes what is pending to the file (QSettings also does it on destruction).
    void Sync();
    std::string FilePath() const;

  private:
    Profile() = default;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace fc
