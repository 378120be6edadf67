#include "rtl/codepages.h"

#include <array>

namespace rtl {
namespace {

#include "rtl/codepage_tables.inc"

const CodePage kPages[] = {
    {437, kUpper437, true, 1252},    {850, kUpper850, true, 1252},
    {852, kUpper852, true, 1250},    {865, kUpper865, true, 1252},
    {866, kUpper866, true, 1251},    {1250, kUpper1250, false, 1250},
    {1251, kUpper1251, false, 1251}, {1252, kUpper1252, false, 1252},
    {1253, kUpper1253, false, 1253}, {1254, kUpper1254, false, 1254},
    {1257, kUpper1257, false, 1257},
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The character at s[*at] (advancing *at past it), or nullopt for a malformed sequence.
std::optional<char32_t> NextUtf8(std::string_view s, size_t* at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b = byte(*at);
    int extra = b < 0x80             ? 0
                : (b & 0xE0) == 0xC0 ? 1
                : (b & 0xF0) == 0xE0 ? 2
                : (b & 0xF8) == 0xF0 ? 3
                                     : -1;
    if (extra < 0) return std::nullopt;
    char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int i = 1; i <= extra; ++i) {
        size_t k = *at + size_t(i);
        if (k >= s.size() || (byte(k) & 0xC0) != 0x80) return std::nullopt;
        c = c << 6 | (byte(k) & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    *at += size_t(extra) + 1;
    return c;
}

}  // namespace

int CodePage::FromUnicode(char32_t c) const {
    if (c < 0x80) return int(c);
    for (int i = 0; i < 128; ++i) {
        if (upper_[i] == c) return 0x80 + i;
    }
    return -1;
}

const CodePage* FindCodePage(int number) {
    for (const CodePage& page : kPages) {
        if (page.Number() == number) return &page;
    }
    return nullptr;
}

const CodePage& DefaultCodePage() { return *FindCodePage(1252); }

const CodePage& CodePageOfDbfMark(uint8_t mark) {
    int number = 1252;
    switch (mark) {
        case 0x01:
            number = 437;
            break;
        case 0x02:
            number = 850;
            break;
        case 0x64:
            number = 852;
            break;
        case 0x65:
            number = 866;
            break;
        case 0x66:
            number = 865;
            break;
        case 0xC8:
            number = 1250;
            break;
        case 0xC9:
            number = 1251;
            break;
        case 0xCA:
            number = 1254;
            break;
        case 0xCB:
            number = 1253;
            break;
        case 0xCC:
            number = 1257;
            break;
        default:
            break;  // 0x03, 0x57, 0x58, 0 and unknown marks
    }
    return *FindCodePage(number);
}

std::string ToUtf8(const CodePage& page, std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes) AppendUtf8(out, page.ToUnicode(static_cast<uint8_t>(b)));
    return out;
}

std::optional<std::string> FromUtf8(const CodePage& page, std::string_view utf8, size_t* bad) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        size_t start = at;
        std::optional<char32_t> c = NextUtf8(utf8, &at);
        int byte = c ? page.FromUnicode(*c) : -1;
        if (byte < 0) {
            if (bad) *bad = start;
            return std::nullopt;
        }
        out += char(byte);
    }
    return out;
}

std::string FromUtf8Replacing(const CodePage& page, std::string_view utf8, char replacement) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        std::optional<char32_t> c = NextUtf8(utf8, &at);
        if (!c) {
            ++at;
            out += replacement;
            continue;
        }
        int byte = page.FromUnicode(*c);
        out += byte < 0 ? replacement : char(byte);
    }
    return out;
}

bool IsUtf8(std::string_view s) {
    for (size_t at = 0; at < s.size();) {
        if (!NextUtf8(s, &at)) return false;
    }
    return true;
}

std::optional<std::string> Translate(const CodePage& from, const CodePage& to,
                                     std::string_view bytes, size_t* bad) {
    if (&from == &to) return std::string(bytes);
    std::string out(bytes.size(), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        int byte = to.FromUnicode(from.ToUnicode(static_cast<uint8_t>(bytes[i])));
        if (byte < 0) {
            if (bad) *bad = i;
            return std::nullopt;
        }
        out[i] = char(byte);
    }
    return out;
}

std::string TranslateReplacing(const CodePage& from, const CodePage& to, std::string_view bytes,
                               char replacement) {
    std::string out(bytes.size(), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        int byte = to.FromUnicode(from.ToUnicode(static_cast<uint8_t>(bytes[i])));
        out[i] = byte < 0 ? replacement : char(byte);
    }
    return out;
}

}  // namespace rtl
