#include "engine/keys/raw_key.h"

#include <cctype>
#include <cstring>

#include "engine/dates.h"
#include "engine/settings.h"
#include "engine/text.h"

namespace kce {

namespace {

void AppendBigEndian32(uint32_t v, std::string* key) {
    key->push_back(char(v >> 24));
    key->push_back(char(v >> 16));
    key->push_back(char(v >> 8));
    key->push_back(char(v));
}

uint32_t Clamp32(int64_t v) {
    if (v < 0) return 0;
    if (v > 0xFFFFFFFFll) return 0xFFFFFFFFu;
    return uint32_t(v);
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return std::string(s.substr(b, e - b));
}

bool ParseNumber(const std::string& t, double* out) {
    if (t.empty()) return false;
    size_t used = 0;
    *out = ReadNumberText(t, &used);
    return used == t.size();
}

// A date text in the engine's date format or as YYYYMMDD / YYYY-MM-DD.
bool ParseDate(const std::string& t, int64_t* day) {
    if (t.empty()) {
        *day = 0;
        return true;
    }
    if (auto d = CurrentDateFormat().ParseDate(t)) {
        *day = *d;
        return true;
    }
    std::string digits;
    for (char c : t) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (c != '-') {
            return false;
        }
    }
    auto parsed = JulianFromEightDigits(digits);
    if (!parsed) return false;
    *day = *parsed;
    return true;
}

}  // namespace

size_t KeyWidth(ValueType type, size_t charWidth) {
    switch (type) {
        case ValueType::kCharacter:
            return charWidth;
        case ValueType::kNumeric:
        case ValueType::kDateTime:
            return 8;
        case ValueType::kDate:
            return 4;
        case ValueType::kLogical:
            return 1;
    }
    return 0;
}

void AppendKeyValue(const Value& v, size_t width, std::string* key) {
    switch (v.type) {
        case ValueType::kCharacter: {
            size_t n = std::min(width, v.text.size());
            key->append(v.text, 0, n);
            key->append(width - n, ' ');
            break;
        }
        case ValueType::kNumeric: {
            double d = v.number == 0 ? 0.0 : v.number;
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            bits = (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
            for (int i = 7; i >= 0; --i) key->push_back(char(bits >> (8 * i)));
            break;
        }
        case ValueType::kDate:
            AppendBigEndian32(Clamp32(v.day), key);
            break;
        case ValueType::kLogical:
            key->push_back(v.logical ? 'T' : 'F');
            break;
        case ValueType::kDateTime:
            AppendBigEndian32(Clamp32(v.day), key);
            AppendBigEndian32(Clamp32(v.ms), key);
            break;
    }
}

bool DecodeKeyValue(std::string_view key, ValueType type, Value* out) {
    auto be32 = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = v << 8 | uint8_t(key[at + i]);
        return v;
    };
    switch (type) {
        case ValueType::kCharacter:
            *out = Value::Character(std::string(key));
            return true;
        case ValueType::kNumeric: {
            if (key.size() != 8) return false;
            uint64_t bits = uint64_t(be32(0)) << 32 | be32(4);
            bits = (bits & 0x8000000000000000ull) ? bits & ~0x8000000000000000ull : ~bits;
            double d;
            std::memcpy(&d, &bits, 8);
            *out = Value::Numeric(d);
            return true;
        }
        case ValueType::kDate:
            if (key.size() != 4) return false;
            *out = Value::Date(be32(0));
            return true;
        case ValueType::kLogical:
            if (key.size() != 1) return false;
            *out = Value::Logical(key[0] == 'T');
            return true;
        case ValueType::kDateTime:
            if (key.size() != 8) return false;
            *out = Value::DateTime(be32(0), be32(4));
            return true;
    }
    return false;
}

void ComplementKey(std::string* key) {
    for (char& c : *key) c = char(~static_cast<unsigned char>(c));
}

bool EncodeTextKey(std::string_view text, ValueType type, std::string* key) {
    switch (type) {
        case ValueType::kCharacter:
            key->append(text);
            return true;
        case ValueType::kNumeric: {
            double d;
            if (!ParseNumber(Trim(text), &d)) return false;
            AppendKeyValue(Value::Numeric(d), 8, key);
            return true;
        }
        case ValueType::kDate: {
            int64_t day;
            if (!ParseDate(Trim(text), &day)) return false;
            AppendKeyValue(Value::Date(day), 4, key);
            return true;
        }
        case ValueType::kLogical: {
            std::string t = Upper(Trim(text));
            if (t == "T" || t == ".T." || t == "TRUE" || t == "Y" || t == "1") {
                key->push_back('T');
            } else if (t == "F" || t == ".F." || t == "FALSE" || t == "N" || t == "0") {
                key->push_back('F');
            } else {
                return false;
            }
            return true;
        }
        case ValueType::kDateTime: {
            std::string t = Trim(text);
            size_t cut = t.find_first_of(" T");
            int64_t day;
            if (!ParseDate(t.substr(0, cut), &day)) return false;
            int64_t ms = 0;
            if (cut != std::string::npos) {
                ms = ParseTimeOfDay(Trim(t.substr(cut + 1)));
                if (ms < 0) return false;
            }
            AppendKeyValue(Value::DateTime(day, ms), 8, key);
            return true;
        }
    }
    return false;
}

}  // namespace kce
