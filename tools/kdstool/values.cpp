#include "tools/kdstool/values.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>

#include "rtl/codepages.h"
#include "tools/base64.h"
#include "tools/json.h"

namespace kdstool {

namespace {

// The JSON number of a decimal text as a table file may spell it (".50", "5.", "+5", "007"):
// every digit kept, never through a double. nullopt when the text is not a number.
std::optional<std::string> JsonNumber(std::string_view t) {
    size_t i = 0;
    std::string out;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
        if (t[i] == '-') out += '-';
        ++i;
    }
    size_t intStart = i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    std::string_view whole = t.substr(intStart, i - intStart);
    std::string_view fraction;
    if (i < t.size() && t[i] == '.') {
        size_t fracStart = ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        fraction = t.substr(fracStart, i - fracStart);
    }
    if (whole.empty() && fraction.empty()) return std::nullopt;
    std::string_view exponent;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t expStart = i++;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
        size_t digits = i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        if (i == digits) return std::nullopt;
        exponent = t.substr(expStart, i - expStart);
    }
    if (i != t.size()) return std::nullopt;
    while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
    out += whole.empty() ? std::string_view("0") : whole;
    if (!fraction.empty()) out += "." + std::string(fraction);
    out += exponent;
    return out;
}

// Whether text is "YYYY-MM-DD" naming a day.
bool IsIsoDate(std::string_view t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    int year = std::stoi(std::string(t.substr(0, 4)));
    int month = std::stoi(std::string(t.substr(5, 2)));
    int day = std::stoi(std::string(t.substr(8, 2)));
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return !(month == 2 && day == 29 && !leap);
}

// Whether text is "HH:MM:SS.mmm" within the day.
bool IsTimeOfDay(std::string_view t) {
    if (t.size() != 12 || t[2] != ':' || t[5] != ':' || t[8] != '.') return false;
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11}) {
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    return (t[0] - '0') * 10 + (t[1] - '0') < 24 && t[3] < '6' && t[6] < '6';
}

uint32_t LoadU32(const UNSIGNED8* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::string Visible(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string ValueJson(const Table& table, const Table::Field& f, UNSIGNED16 ordinal,
                      const std::vector<UNSIGNED8>& image) {
    KDSHANDLE t = table.Handle();
    UNSIGNED16 empty = 0;
    Check(KdsIsEmpty(t, KCE_FIELD_ORDINAL(ordinal), &empty), "field '" + f.name + "'");
    if (empty) return "null";
    std::vector<UNSIGNED8> buf(f.length + 64);
    UNSIGNED32 len = UNSIGNED32(buf.size());
    KCESTATUS s = KdsGetField(t, KCE_FIELD_ORDINAL(ordinal), buf.data(), &len, 0);
    if (s == KCE_INSUFFICIENT_BUFFER) {
        buf.resize(len + 1);
        len = UNSIGNED32(buf.size());
        s = KdsGetField(t, KCE_FIELD_ORDINAL(ordinal), buf.data(), &len, 0);
    }
    Check(s, "field '" + f.name + "'");
    std::string text(reinterpret_cast<char*>(buf.data()), len);
    const UNSIGNED8* raw = f.offset + f.length <= image.size() ? image.data() + f.offset : nullptr;
    auto unreadable = [&]() {
        return Unreadable{raw ? std::string(reinterpret_cast<const char*>(raw), f.length) : text};
    };
    std::string out;
    if (IsText(f.type)) {
        tools::AppendJsonString(out, rtl::ToUtf8(table.Page(), text));
    } else if (IsBytes(f.type)) {
        out = "{\"base64\": \"" + tools::Base64Encode(text) + "\"}";
    } else if (f.type == KCE_LOGICAL) {
        // The engine reads any byte it does not know as false; export says what it found.
        if (raw && !std::strchr("TtYyFfNn", raw[0])) throw unreadable();
        out = text == "T" ? "true" : "false";
    } else if (IsNumber(f.type)) {
        if (text == "inf") text = "1e999";
        if (text == "-inf") text = "-1e999";
        std::optional<std::string> number = JsonNumber(text);
        if (!number) throw unreadable();
        out = *number;
    } else if (f.type == KCE_TIME || f.type == KCE_TIMESTAMP) {
        // The milliseconds of the day lie in the last four bytes of both images.
        if (raw && LoadU32(raw + f.length - 4) >= 86400000u) throw unreadable();
        if (f.type == KCE_TIMESTAMP) {
            if (text.size() != 23 || !IsIsoDate(std::string_view(text).substr(0, 10)) ||
                text[10] != ' ' || !IsTimeOfDay(std::string_view(text).substr(11))) {
                throw unreadable();
            }
            text[10] = 'T';
        } else if (!IsTimeOfDay(text)) {
            throw unreadable();
        }
        tools::AppendJsonString(out, text);
    } else {
        if (!IsIsoDate(text)) throw unreadable();
        tools::AppendJsonString(out, text);
    }
    return out;
}

}  // namespace kdstool
