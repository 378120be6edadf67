#include "rtl/textutils.h"

#include <algorithm>

namespace rtl {
namespace {

unsigned char Lower(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + 32) : u;
}

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

int CompareText(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (Lower(a[i]) != Lower(b[i])) return Lower(a[i]) < Lower(b[i]) ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(Lower(c));
    return text;
}

std::string TrimLeft(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsTrimmed(text[i])) ++i;
    return text.substr(i);
}

std::string TrimRight(const std::string& text) {
    size_t n = text.size();
    while (n > 0 && IsTrimmed(text[n - 1])) --n;
    return text.substr(0, n);
}

std::string Trim(const std::string& text) { return TrimRight(TrimLeft(text)); }

}  // namespace rtl
