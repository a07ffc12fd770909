#include "cli/json_writer.h"

#include <cmath>
#include <cstdio>

namespace fc {

namespace {

// The length of the well-formed UTF-8 sequence that starts text[at], or 0
// when none does (a stray continuation byte, an overlong form, a surrogate,
// a code point beyond U+10FFFF, a sequence cut short).
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

void AppendEscapedAscii(std::string& out, unsigned char c) {
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

}  // namespace

// Texts may hold bytes that are not UTF-8 (a file name from a Latin-1 disk,
// say), which JSON cannot carry. Each byte that starts no well-formed
// sequence becomes U+FFFD, written \ufffd: the standard mark of a lost
// character, which every parser reads. Writing the byte as \u00XX instead
// would keep its value but claim a different character (0xE9 would read as
// "é", the same as a real "é"), so a script would find the wrong file.
std::string JsonObject::Quote(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const size_t length = Utf8SequenceLength(text, at);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
        } else if (length == 1) {
            AppendEscapedAscii(out, static_cast<unsigned char>(text[at++]));
        } else {
            out.append(text, at, length);
            at += length;
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
