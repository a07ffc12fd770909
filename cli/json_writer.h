#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fc {

// A flat JSON object built field by field, for --json results.
class JsonObject {
  public:
    void Add(const std::string& key, const std::string& text);
    void Add(const std::string& key, const char* text) { Add(key, std::string(text)); }
    void Add(const std::string& key, long long number);
    void Add(const std::string& key, int number) { Add(key, static_cast<long long>(number)); }
    void Add(const std::string& key, double number);
    void Add(const std::string& key, bool value);
    void Add(const std::string& key, const std::vector<std::string>& texts);
    void AddRaw(const std::string& key, const std::string& json);
    std::string Text() const;

    static std::string Quote(const std::string& text);

  private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace fc
