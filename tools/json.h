// A small JSON reader and writer for kdstool's JSON lines: objects keep their key order, numbers
// keep the text they were written with (so that a value reaches the engine exactly as given).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tools {

struct JsonMember;

struct JsonValue {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool boolean = false;
    std::string text;  // a number's literal, or a string's bytes (UTF-8)
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;  // in the order written

    const JsonValue* Member(std::string_view key) const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// Parses one JSON text; on failure answers nullopt and sets *error (with the column).
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

// Appends the JSON form of a string (quoted, escaped; bytes >= 0x80 are copied as they are).
void AppendJsonString(std::string& out, std::string_view s);

// Whether s is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view s);

}  // namespace tools
