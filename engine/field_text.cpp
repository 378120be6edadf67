#include "engine/field_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/dates.h"
#include "engine/decimal.h"
#include "engine/settings.h"
#include "engine/status.h"
#include "engine/text.h"

namespace kce {
namespace {

std::string ShortestDouble(double v) {
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, p);
}

// A date from text: the engine's date format, YYYYMMDD or YYYY-MM-DD. 0 for blank text.
bool ParseDateText(std::string_view text, int64_t* julian) {
    text = TrimBlanks(text);
    if (text.empty()) {
        *julian = 0;
        return true;
    }
    if (ParseIsoDate(text, julian)) return true;
    if (text.size() == 8 && text.find_first_not_of("0123456789") == std::string_view::npos) {
        auto day = JulianFromEightDigits(text, 0);
        if (!day) return false;
        *julian = *day;
        return true;
    }
    auto parsed = CurrentDateFormat().ParseDate(text);
    if (!parsed) return false;
    *julian = *parsed;
    return true;
}

// A date in the engine's date format; days of year 0 (before 0001-01-01), which the date format
// cannot write, as YYYY-MM-DD, which FromText reads back.
std::string FormatDateText(int64_t julian) {
    if (julian > 0 && julian < kJulianOfDayOne) return FormatIsoDate(julian);
    return CurrentDateFormat().Format(julian);
}

}  // namespace

KCESTATUS InvalidValue(const FieldDesc& f, const std::string& why) {
    return Fail(KCE_INVALID_FIELD_VALUE,
                "field '" + f.name + "' (" + FieldTypeName(f.type) + "): " + why);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

bool ParseDouble(std::string_view s, double* out) {
    s = TrimBlanks(s);
    if (s.empty()) return false;
    if (s.front() == '+') s.remove_prefix(1);
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && p == s.data() + s.size() && std::isfinite(*out);
}

bool ParseInt64(std::string_view s, int64_t* out) {
    s = TrimBlanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && p == s.data() + s.size();
}

namespace {

// Writes v as exactly `width` decimal digits.
void PutDigits(char* out, unsigned v, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + v % 10);
        v /= 10;
    }
}

// Reads exactly `width` decimal digits; false when one is not a digit.
bool GetDigits(std::string_view t, size_t at, int width, int* v) {
    if (at + size_t(width) > t.size()) return false;
    int r = 0;
    for (int i = 0; i < width; ++i) {
        char c = t[at + size_t(i)];
        if (c < '0' || c > '9') return false;
        r = r * 10 + (c - '0');
    }
    *v = r;
    return true;
}

}  // namespace

std::string FormatTimeOfDay(uint32_t ms) {
    char buf[13] = "00:00:00.000";
    PutDigits(buf, ms / 3600000 % 100, 2);
    PutDigits(buf + 3, ms / 60000 % 60, 2);
    PutDigits(buf + 6, ms / 1000 % 60, 2);
    PutDigits(buf + 9, ms % 1000, 3);
    return std::string(buf, 12);
}

bool ParseTimeOfDay(std::string_view t, uint32_t* ms) {
    unsigned h = 0, m = 0, s = 0, frac = 0;
    auto two = [&](size_t at, unsigned* v) {
        if (at + 2 > t.size() || !std::isdigit((unsigned char)t[at]) ||
            !std::isdigit((unsigned char)t[at + 1]))
            return false;
        *v = unsigned(t[at] - '0') * 10 + unsigned(t[at + 1] - '0');
        return true;
    };
    if (!two(0, &h) || t.size() < 5 || t[2] != ':' || !two(3, &m)) return false;
    size_t pos = 5;
    if (pos < t.size()) {
        if (t[pos] != ':' || !two(pos + 1, &s)) return false;
        pos += 3;
        if (pos < t.size()) {
            if (t[pos] != '.') return false;
            size_t digits = 0;
            for (++pos; pos < t.size(); ++pos, ++digits) {
                if (!std::isdigit((unsigned char)t[pos]) || digits >= 3) return false;
                frac = frac * 10 + unsigned(t[pos] - '0');
            }
            if (digits == 0) return false;
            for (; digits < 3; ++digits) frac *= 10;
        }
    }
    if (h > 23 || m > 59 || s > 59) return false;
    *ms = ((h * 60 + m) * 60 + s) * 1000 + frac;
    return true;
}

std::string FormatIsoDate(int64_t julian) {
    CivilDate d = CivilFromJulian(julian);
    char buf[10] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0'};
    PutDigits(buf, unsigned(d.year) % 10000, 4);
    PutDigits(buf + 5, unsigned(d.month), 2);
    PutDigits(buf + 8, unsigned(d.day), 2);
    return std::string(buf, 10);
}

bool ParseIsoDate(std::string_view t, int64_t* julian) {
    int y = 0, m = 0, d = 0;
    if (t.size() != 10 || t[4] != '-' || t[7] != '-' || !GetDigits(t, 0, 4, &y) ||
        !GetDigits(t, 5, 2, &m) || !GetDigits(t, 8, 2, &d))
        return false;
    if (!IsValidCivil({y, m, d}, 0)) return false;
    *julian = JulianFromCivil({y, m, d});
    return true;
}

KCESTATUS ValueFromText(const FieldDesc& f, std::string_view text, uint8_t* image) {
    uint8_t* p = image + f.offset;
    std::string_view t = TrimBlanks(text);
    if (f.type != KCE_STRING && f.type != KCE_RAW && t.empty()) {
        WriteNativeNull(f, image);
        return KCE_SUCCESS;
    }
    auto quoted = [&]() { return "'" + std::string(text.substr(0, 60)) + "'"; };
    switch (f.type) {
        case KCE_LOGICAL: {
            std::string u = Upper(t);
            if (u == "T" || u == "Y" || u == "1" || u == "TRUE" || u == ".T.") {
                p[0] = 'T';
            } else if (u == "F" || u == "N" || u == "0" || u == "FALSE" || u == ".F.") {
                p[0] = 'F';
            } else {
                return InvalidValue(f, quoted() + " is not a logical value");
            }
            return KCE_SUCCESS;
        }
        case KCE_NUMERIC: {
            // Digit by digit, rounded to the field's decimals: no double in between.
            auto d = ParseDecimal(t);
            if (!d) return InvalidValue(f, quoted() + " is not a number");
            auto s = FormatFixed(*d, f.decimals, f.length);
            if (!s || s->size() > f.length)
                return InvalidValue(f, quoted() + " does not fit the field");
            std::memset(p, ' ', f.length);
            std::memcpy(p + f.length - s->size(), s->data(), s->size());
            return KCE_SUCCESS;
        }
        case KCE_DATE:
        case KCE_COMPACTDATE: {
            int64_t j = 0;
            if (!ParseDateText(t, &j)) return InvalidValue(f, quoted() + " is not a date");
            if (j == 0) {
                WriteNativeNull(f, image);
            } else if (f.type == KCE_DATE) {
                StoreU32(p, uint32_t(j));
            } else {
                CompactFromJulian(j, p);
            }
            return KCE_SUCCESS;
        }
        case KCE_STRING:
            if (text.empty()) {
                WriteNativeNull(f, image);
                return KCE_SUCCESS;
            }
            std::memset(p, ' ', f.length);
            std::memcpy(p, text.data(), std::min<size_t>(text.size(), f.length));
            return KCE_SUCCESS;
        case KCE_RAW:
            std::memset(p, 0, f.length);
            std::memcpy(p, text.data(), std::min<size_t>(text.size(), f.length));
            return KCE_SUCCESS;
        case KCE_DOUBLE: {
            double v = 0;
            if (!ParseDouble(t, &v)) return InvalidValue(f, quoted() + " is not a number");
            StoreDouble(p, v);
            return KCE_SUCCESS;
        }
        case KCE_CURDOUBLE: {
            auto d = ParseDecimal(t);
            if (!d) return InvalidValue(f, quoted() + " is not a number");
            auto count = ToScaled(*d, 4);
            if (!count || *count == kMoneyNullCount) {
                return InvalidValue(f, quoted() +
                                           " is outside the money range "
                                           "(+-922337203685477.5807)");
            }
            StoreI64(p, *count);
            return KCE_SUCCESS;
        }
        case KCE_INTEGER:
        case KCE_SHORTINT:
        case KCE_AUTOINC: {
            int64_t v = 0;
            if (!ParseInt64(t, &v)) return InvalidValue(f, quoted() + " is not a whole number");
            bool fits = f.type == KCE_SHORTINT  ? v > -32768 && v <= 32767
                        : f.type == KCE_INTEGER ? v > INT32_MIN && v <= INT32_MAX
                                                : v >= 0 && v < 0xFFFFFFFFLL;
            if (!fits) return InvalidValue(f, quoted() + " is out of range");
            if (f.type == KCE_SHORTINT) {
                StoreU16(p, uint16_t(v));
            } else {
                StoreU32(p, uint32_t(v));
            }
            return KCE_SUCCESS;
        }
        case KCE_TIME: {
            uint32_t ms = 0;
            if (!ParseTimeOfDay(t, &ms)) return InvalidValue(f, quoted() + " is not a time of day");
            StoreU32(p, ms);
            return KCE_SUCCESS;
        }
        case KCE_TIMESTAMP: {
            size_t split = t.find_first_of(" T");
            std::string_view datePart = split == t.npos ? t : t.substr(0, split);
            int64_t j = 0;
            uint32_t ms = 0;
            if (!ParseDateText(datePart, &j) || j == 0 ||
                (split != t.npos && !ParseTimeOfDay(TrimBlanks(t.substr(split + 1)), &ms)))
                return InvalidValue(f, quoted() + " is not a date and time");
            StoreU32(p, uint32_t(j));
            StoreU32(p + 4, ms);
            return KCE_SUCCESS;
        }
    }
    return InvalidValue(f, "cannot be set from text");
}

KCESTATUS ValueToText(const FieldDesc& f, const uint8_t* image, std::string* out) {
    out->clear();
    if (IsNativeNull(f, image)) return KCE_SUCCESS;
    const uint8_t* p = image + f.offset;
    switch (f.type) {
        case KCE_LOGICAL:
            *out = std::string(1, char(p[0]) == 'T' || p[0] == 't' ? 'T' : 'F');
            break;
        case KCE_NUMERIC:
            *out = std::string(TrimBlanks({reinterpret_cast<const char*>(p), f.length}));
            break;
        case KCE_DATE:
            *out = FormatDateText(int32_t(LoadU32(p)));
            break;
        case KCE_COMPACTDATE: {
            int64_t j = JulianFromCompact(p);
            if (j > 0) *out = FormatDateText(j);
            break;
        }
        case KCE_STRING: {
            std::string_view s(reinterpret_cast<const char*>(p), f.length);
            size_t zero = s.find('\0');
            if (zero != s.npos) s = s.substr(0, zero);
            while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
            *out = std::string(s);
            break;
        }
        case KCE_RAW:
            out->assign(reinterpret_cast<const char*>(p), f.length);
            break;
        case KCE_DOUBLE:
            *out = ShortestDouble(LoadDouble(p));
            break;
        case KCE_CURDOUBLE:
            *out = ScaledToText(LoadI64(p), 4);
            break;
        case KCE_INTEGER:
            *out = std::to_string(int32_t(LoadU32(p)));
            break;
        case KCE_SHORTINT:
            *out = std::to_string(int16_t(LoadU16(p)));
            break;
        case KCE_AUTOINC:
            *out = std::to_string(LoadU32(p));
            break;
        case KCE_TIME:
            *out = FormatTimeOfDay(LoadU32(p) % kMsPerDay);
            break;
        case KCE_TIMESTAMP:
            *out = FormatDateText(int32_t(LoadU32(p))) + " " +
                   FormatTimeOfDay(LoadU32(p + 4) % kMsPerDay);
            break;
        default:
            break;
    }
    return KCE_SUCCESS;
}

}  // namespace kce
