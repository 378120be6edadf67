#include "tools/base64.h"

namespace tools {
namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = unsigned(uint8_t(bytes[i])) << 16 | unsigned(uint8_t(bytes[i + 1])) << 8 |
                     uint8_t(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest) {
        unsigned v = unsigned(uint8_t(bytes[i])) << 16 |
                     (rest == 2 ? unsigned(uint8_t(bytes[i + 1])) << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        int d[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                d[k] = 0;
                ++pad;
            } else {
                if (pad) return std::nullopt;
                d[k] = Digit(c);
                if (d[k] < 0) return std::nullopt;
            }
        }
        unsigned v =
            unsigned(d[0]) << 18 | unsigned(d[1]) << 12 | unsigned(d[2]) << 6 | unsigned(d[3]);
        out += char(v >> 16);
        if (pad < 2) out += char(v >> 8 & 0xFF);
        if (pad < 1) out += char(v & 0xFF);
    }
    return out;
}

}  // namespace tools
