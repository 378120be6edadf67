#include "engine/expr/value.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/byte_order.h"
#include "engine/dates.h"
#include "engine/field_types.h"
#include "engine/text.h"

namespace kce {

const char* ValueTypeName(ValueType type) {
    switch (type) {
        case ValueType::kCharacter:
            return "character";
        case ValueType::kNumeric:
            return "numeric";
        case ValueType::kDate:
            return "date";
        case ValueType::kLogical:
            return "logical";
        case ValueType::kDateTime:
            return "datetime";
    }
    return "unknown";
}

namespace {

bool AllBytes(const uint8_t* p, int n, uint8_t b) {
    for (int i = 0; i < n; ++i)
        if (p[i] != b) return false;
    return true;
}

}  // namespace

int ExprSchema::Find(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (SameText(fields_[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

bool ValueTypeOfField(int engineType, ValueType* out) {
    const FieldType* type =
        engineType > 0 && engineType <= 0xFFFF ? FindFieldType(UNSIGNED16(engineType)) : nullptr;
    if (!type) return false;
    switch (type->kind) {
        case FieldKind::kLogical:
            *out = ValueType::kLogical;
            return true;
        case FieldKind::kNumber:
            *out = ValueType::kNumeric;
            return true;
        case FieldKind::kDate:
            *out = ValueType::kDate;
            return true;
        case FieldKind::kText:
        case FieldKind::kBlob:
        case FieldKind::kRaw:
            *out = ValueType::kCharacter;
            return true;
        case FieldKind::kTime:
        case FieldKind::kTimestamp:
            *out = ValueType::kDateTime;
            return true;
    }
    return false;
}

Value DecodeField(const ExprField& field, const uint8_t* p) {
    const int n = field.length;
    switch (field.type) {
        case KCE_LOGICAL:
            return Value::Logical(n > 0 && std::strchr("1TtYy", p[0]) && p[0] != 0);
        case KCE_NUMERIC: {
            std::string_view text(reinterpret_cast<const char*>(p), n);
            return Value::Numeric(ParseLeadingNumber(text));
        }
        case KCE_DATE:
            if (n == 4) return Value::Date(LoadU32(p));
            if (n >= 8) return Value::Date(JulianFromEightDigits(p).value_or(0));
            return Value::Date(0);
        case KCE_COMPACTDATE: {
            if (n < 3 || AllBytes(p, 3, 0)) return Value::Date(0);
            unsigned w = unsigned(p[0]) << 8 | p[1];
            CivilDate d{int(w >> 1), int((w & 1) << 3 | p[2] >> 5), int(p[2] & 0x1F)};
            return Value::Date(IsValidCivil(d) ? JulianFromCivil(d) : 0);
        }
        case KCE_STRING:
        case KCE_RAW: {
            std::string s(reinterpret_cast<const char*>(p), n);
            // Null characters are the empty image; they read as the blanks a field is padded with.
            if (field.type == KCE_STRING) {
                for (char& c : s)
                    if (c == 0) c = ' ';
            }
            return Value::Character(std::move(s));
        }
        case KCE_DOUBLE:
        case KCE_CURDOUBLE: {
            static const uint8_t kNull[8] = {0x20, 0, 0, 0, 0, 0, 0, 0x80};
            if (n < 8 || std::memcmp(p, kNull, 8) == 0) return Value::Numeric(0);
            if (field.type == KCE_CURDOUBLE) {
                // Money: a signed 64-bit count of ten-thousandths.
                uint64_t u = 0;
                for (int k = 7; k >= 0; --k) u = u << 8 | p[k];
                return Value::Numeric(double(int64_t(u)) / 10000.0);
            }
            double d;
            std::memcpy(&d, p, 8);
            return Value::Numeric(std::isnan(d) ? 0 : d);
        }
        case KCE_INTEGER:
        case KCE_AUTOINC: {
            if (n < 4) return Value::Numeric(0);
            uint32_t u = LoadU32(p);
            if ((field.type == KCE_INTEGER && u == 0x80000000u) ||
                (field.type == KCE_AUTOINC && u == 0xFFFFFFFFu))
                return Value::Numeric(0);
            return Value::Numeric(static_cast<int32_t>(u));
        }
        case KCE_SHORTINT: {
            if (n < 2) return Value::Numeric(0);
            uint16_t u = uint16_t(p[0] | p[1] << 8);
            return Value::Numeric(u == 0x8000 ? 0 : static_cast<int16_t>(u));
        }
        case KCE_TIME: {
            if (n < 4) return Value::DateTime(0, 0);
            uint32_t u = LoadU32(p);
            return Value::DateTime(0, u == 0xFFFFFFFFu ? 0 : u);
        }
        case KCE_TIMESTAMP: {
            if (n < 8) return Value::DateTime(0, 0);
            uint32_t day = LoadU32(p), ms = LoadU32(p + 4);
            if (day == 0) return Value::DateTime(0, 0);
            return Value::DateTime(day, ms == 0xFFFFFFFFu ? 0 : ms);
        }
    }
    return Value::Character(std::string());
}

Value ImageRecord::FieldValue(int index) const {
    const ExprField& f = schema_.Fields()[index];
    if (IsBlobType(UNSIGNED16(f.type))) {
        return Value::Character(blobReader_ ? blobReader_(blobContext_, index) : std::string());
    }
    if (f.offset < 0 || f.length < 0 || size_t(f.offset) + size_t(f.length) > length_) {
        ValueType t = ValueType::kCharacter;
        ValueTypeOfField(f.type, &t);
        Value v;
        v.type = t;
        return v;
    }
    return DecodeField(f, image_ + f.offset);
}

std::string RightTrim(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') --n;
    return std::string(s.substr(0, n));
}

double ReadNumberText(std::string_view s, size_t* used) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    // The digits go to the library's correctly rounded conversion in a plain form it always
    // takes: no sign, an explicit point, at most one exponent.
    std::string plain;
    size_t intDigits = 0, fracDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        plain += s[i++];
        ++intDigits;
    }
    if (i < s.size() && s[i] == '.') {
        size_t j = i + 1;
        std::string fraction;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) fraction += s[j++];
        if (intDigits > 0 || !fraction.empty()) {
            plain += '.';
            plain += fraction;
            fracDigits = fraction.size();
            i = j;
        }
    }
    if (intDigits + fracDigits == 0) {
        if (used) *used = 0;
        return 0;
    }
    if (plain.front() == '.') {
        plain.insert(plain.begin(), '0');
        ++intDigits;
    }
    if (plain.back() == '.') plain.push_back('0');
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) expNegative = s[j++] == '-';
        bool expDigits = false;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            if (exponent < 100000) exponent = exponent * 10 + (s[j] - '0');
            ++j;
            expDigits = true;
        }
        if (expDigits) {
            if (expNegative) exponent = -exponent;
            plain += 'e';
            plain += std::to_string(exponent);
            i = j;
        }
    }
    if (used) *used = i;
    double value = 0;
    auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: the position of the first significant digit
        // tells which; a value of zero digits never lands here.
        size_t lead = plain.find_first_of("123456789");
        long magnitude =
            exponent + (lead < intDigits ? long(intDigits - lead) : -long(lead - intDigits - 1));
        value = magnitude > 0 ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

double ParseLeadingNumber(std::string_view s) { return ReadNumberText(s, nullptr); }

int64_t ParseTimeOfDay(std::string_view s) {
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < s.size() && s[i] == ' ') ++i;
    };
    auto number = [&](int maxDigits, int* out) {
        int digits = 0, v = 0;
        while (i < s.size() && digits < maxDigits &&
               std::isdigit(static_cast<unsigned char>(s[i]))) {
            v = v * 10 + (s[i++] - '0');
            ++digits;
        }
        *out = v;
        return digits > 0;
    };
    skipBlanks();
    int h = 0, m = 0, sec = 0, ms = 0;
    if (!number(2, &h) || i >= s.size() || s[i] != ':') return -1;
    ++i;
    if (!number(2, &m)) return -1;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!number(2, &sec)) return -1;
        if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
            ++i;
            size_t start = i;
            if (!number(3, &ms)) return -1;
            for (size_t k = i - start; k < 3; ++k) ms *= 10;
        }
    }
    skipBlanks();
    if (i < s.size()) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
        if ((c == 'A' || c == 'P') && i + 1 < s.size() &&
            std::toupper(static_cast<unsigned char>(s[i + 1])) == 'M') {
            if (h < 1 || h > 12) return -1;
            if (c == 'A' && h == 12) h = 0;
            if (c == 'P' && h != 12) h += 12;
            i += 2;
            skipBlanks();
        }
    }
    if (i != s.size() || h > 23 || m > 59 || sec > 59) return -1;
    return ((int64_t(h) * 60 + m) * 60 + sec) * 1000 + ms;
}

}  // namespace kce
