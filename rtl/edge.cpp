#include "rtl/edge.h"

#include <cstdio>

namespace rtl {
namespace {

bool Ascii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// The text with each byte that does not start or continue a UTF-8 character shown as \xNN.
std::string Shown(std::string_view utf8) {
    std::string out;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = 1;
        while (length <= 4 && at + length <= utf8.size() && !IsUtf8(utf8.substr(at, length)))
            ++length;
        if (length <= 4 && at + length <= utf8.size()) {
            out += utf8.substr(at, length);
            at += length;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(utf8[at]));
            out += hex;
            ++at;
        }
    }
    return out;
}

}  // namespace

const CodePage& AnsiCodePage() { return DefaultCodePage(); }

std::string ToOperatorText(std::string_view ansi) {
    if (Ascii(ansi)) return std::string(ansi);
    return ToUtf8(AnsiCodePage(), ansi);
}

std::optional<std::string> FromOperatorText(std::string_view utf8, size_t* bad) {
    if (Ascii(utf8)) return std::string(utf8);
    return FromUtf8(AnsiCodePage(), utf8, bad);
}

std::string RefusalText(std::string_view what, std::string_view utf8) {
    size_t bad = 0;
    std::string prefix = what.empty() ? std::string() : std::string(what) + " ";
    if (FromOperatorText(utf8, &bad)) return prefix + "'" + std::string(utf8) + "'";
    std::string shown = Shown(utf8);
    // The character at the offset, when it is one.
    size_t length = 1;
    while (length <= 4 && bad + length <= utf8.size() && !IsUtf8(utf8.substr(bad, length)))
        ++length;
    if (length > 4 || bad + length > utf8.size())
        return prefix + "'" + shown + "' is not UTF-8 text";
    return prefix + "'" + shown + "' holds '" + std::string(utf8.substr(bad, length)) +
           "', which the ANSI code page (Windows-" + std::to_string(AnsiCodePage().Number()) +
           ") cannot hold";
}

}  // namespace rtl
