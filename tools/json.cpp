#include "tools/json.h"

#include <cctype>
#include <cstdio>

namespace tools {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
  public:
    Parser(std::string_view text, std::string* error) : s_(text), error_(error) {}

    std::optional<JsonValue> Document() {
        JsonValue v;
        SkipSpace();
        if (!Value(&v, 0)) return std::nullopt;
        SkipSpace();
        if (pos_ != s_.size()) return Fail("unexpected text after the value");
        return v;
    }

  private:
    std::nullopt_t Fail(const std::string& what) {
        if (error_->empty()) *error_ = what + " at column " + std::to_string(pos_ + 1);
        return std::nullopt;
    }
    bool Bad(const std::string& what) {
        Fail(what);
        return false;
    }
    void SkipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return Bad("unknown literal");
        pos_ += word.size();
        return true;
    }
    bool Value(JsonValue* v, int depth) {
        if (depth > kMaxDepth) return Bad("nesting too deep");
        if (pos_ >= s_.size()) return Bad("a value is missing");
        char c = s_[pos_];
        switch (c) {
            case '{':
                return Object(v, depth);
            case '[':
                return Array(v, depth);
            case '"':
                v->kind = JsonValue::kString;
                return String(&v->text);
            case 't':
                v->kind = JsonValue::kBool;
                v->boolean = true;
                return Literal("true");
            case 'f':
                v->kind = JsonValue::kBool;
                v->boolean = false;
                return Literal("false");
            case 'n':
                v->kind = JsonValue::kNull;
                return Literal("null");
            default:
                if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return Number(v);
                return Bad(std::string("unexpected character '") + c + "'");
        }
    }
    bool Number(JsonValue* v) {
        size_t start = pos_;
        auto digits = [&]() {
            size_t from = pos_;
            while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
            return pos_ > from;
        };
        if (s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0') {
            ++pos_;
        } else if (!digits()) {
            return Bad("a number needs digits");
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (!digits()) return Bad("a number needs digits after the point");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (!digits()) return Bad("a number needs digits in its exponent");
        }
        v->kind = JsonValue::kNumber;
        v->text = std::string(s_.substr(start, pos_ - start));
        return true;
    }
    bool Hex4(unsigned* out) {
        if (pos_ + 4 > s_.size()) return Bad("a \\u escape needs four hex digits");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= unsigned(c - 'A' + 10);
            else
                return Bad("a \\u escape needs four hex digits");
        }
        *out = v;
        return true;
    }
    static void AppendUtf8(std::string* out, unsigned cp) {
        if (cp < 0x80) {
            *out += char(cp);
        } else if (cp < 0x800) {
            *out += char(0xC0 | cp >> 6);
            *out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += char(0xE0 | cp >> 12);
            *out += char(0x80 | (cp >> 6 & 0x3F));
            *out += char(0x80 | (cp & 0x3F));
        } else {
            *out += char(0xF0 | cp >> 18);
            *out += char(0x80 | (cp >> 12 & 0x3F));
            *out += char(0x80 | (cp >> 6 & 0x3F));
            *out += char(0x80 | (cp & 0x3F));
        }
    }
    bool String(std::string* out) {
        ++pos_;  // the quote
        out->clear();
        while (pos_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return Bad("a control character inside a string");
            if (c != '\\') {
                *out += char(c);
                continue;
            }
            if (pos_ >= s_.size()) break;
            char e = s_[pos_++];
            switch (e) {
                case '"':
                    *out += '"';
                    break;
                case '\\':
                    *out += '\\';
                    break;
                case '/':
                    *out += '/';
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    unsigned cp = 0;
                    if (!Hex4(&cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00) {
                        unsigned low = 0;
                        if (s_.substr(pos_, 2) != "\\u") return Bad("a lone surrogate");
                        pos_ += 2;
                        if (!Hex4(&low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return Bad("a lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp < 0xE000) {
                        return Bad("a lone surrogate");
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default:
                    return Bad(std::string("unknown escape \\") + e);
            }
        }
        return Bad("a string is not closed");
    }
    bool Array(JsonValue* v, int depth) {
        v->kind = JsonValue::kArray;
        ++pos_;
        SkipSpace();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue item;
            SkipSpace();
            if (!Value(&item, depth + 1)) return false;
            v->items.push_back(std::move(item));
            SkipSpace();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return Bad("expected ',' or ']'");
        }
    }
    bool Object(JsonValue* v, int depth) {
        v->kind = JsonValue::kObject;
        ++pos_;
        SkipSpace();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (pos_ >= s_.size() || s_[pos_] != '"') return Bad("expected a key");
            std::string key;
            if (!String(&key)) return false;
            SkipSpace();
            if (pos_ >= s_.size() || s_[pos_] != ':') return Bad("expected ':'");
            ++pos_;
            SkipSpace();
            JsonValue item;
            if (!Value(&item, depth + 1)) return false;
            v->members.push_back(JsonMember{std::move(key), std::move(item)});
            SkipSpace();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return Bad("expected ',' or '}'");
        }
    }

    std::string_view s_;
    std::string* error_;
    size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Member(std::string_view key) const {
    for (const auto& [k, v] : members) {
        if (k == key) return &v;
    }
    return nullptr;
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
    error->clear();
    return Parser(text, error).Document();
}

void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
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
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

}  // namespace tools
