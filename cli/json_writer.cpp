#include "cli/json_writer.h"

#include <cmath>
#include <cstdio>

namespace fc {

std::string JsonObject::Quote(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void JsonObject::Add(const std::string& key, const std::string& text) {
    AddRaw(key, Quote(text));
}

void JsonObject::Add(const std::string& key, long long number) {
    AddRaw(key, std::to_string(number));
}

void JsonObject::Add(const std::string& key, double number) {
    if (!std::isfinite(number)) {
        AddRaw(key, "null");  // JSON has no infinities
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", number);
    AddRaw(key, text);
}

void JsonObject::Add(const std::string& key, bool value) {
    AddRaw(key, value ? "true" : "false");
}

void JsonObject::Add(const std::string& key, const std::vector<std::string>& texts) {
    std::string list = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        list += (i ? "," : "") + Quote(texts[i]);
    AddRaw(key, list + "]");
}

void JsonObject::AddRaw(const std::string& key, const std::string& json) {
    fields_.emplace_back(key, json);
}

std::string JsonObject::Text() const {
    std::string text = "{";
    for (size_t i = 0; i < fields_.size(); ++i) {
        text += (i ? "," : "") + Quote(fields_[i].first) + ":" + fields_[i].second;
    }
    return text + "}";
}

}  // namespace fc
