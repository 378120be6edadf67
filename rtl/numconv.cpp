#include "rtl/numconv.h"

#include <locale.h>
#include <stdlib.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace rtl {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The powers of ten a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The magnitude (a positive double) as n / 10^k with n below 10^15, when that decimal reads back
// as exactly this double (a division of two exact doubles is correctly rounded). Rounding the
// double to 15 or fewer significant digits gives that decimal: a normal double lies closer to a
// decimal that reads back as it than half a unit of the decimal's 15th digit.
bool ShortDecimal(double magnitude, uint64_t& n, int& k) {
    if (!(magnitude >= std::numeric_limits<double>::min())) return false;
    for (k = 0; k <= 15; ++k) {
        double scaled = magnitude * kExactPowersOfTen[k];
        if (!(scaled < 1e15)) return false;
        double whole = std::nearbyint(scaled);
        if (whole != 0 && whole / kExactPowersOfTen[k] == magnitude) {
            n = static_cast<uint64_t>(whole);
            return true;
        }
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses into a value of `bits` width (32 or 64).
bool ParseInteger(const std::string& text, int bits, int64_t& result) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == n) return false;
    const uint64_t limit =
        hex ? (bits == 32 ? 0xFFFFFFFFull : ~0ull)
            : (bits == 32 ? (negative ? 0x80000000ull : 0x7FFFFFFFull)
                          : (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull));
    const unsigned base = hex ? 16 : 10;
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        int d = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0) return false;
        if (magnitude > (limit - d) / base) return false;
        magnitude = magnitude * base + d;
    }
    uint64_t bitsValue = negative ? (0 - magnitude) : magnitude;
    result = bits == 32
                 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(bitsValue)))
                 : static_cast<int64_t>(bitsValue);
    return true;
}

locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

bool EqualsNoCase(const std::string& a, size_t from, size_t to, const char* word) {
    size_t k = 0;
    for (size_t i = from; i < to; ++i, ++k) {
        if (!word[k]) return false;
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(a[i])));
        if (c != word[k]) return false;
    }
    return word[k] == 0;
}

}  // namespace

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value & 15]);
        value >>= 4;
    } while (value);
    if (static_cast<int>(out.size()) < digits) out.insert(0, digits - out.size(), '0');
    return out;
}

bool TryStrToInt(const std::string& text, int32_t& value) {
    int64_t v;
    if (!ParseInteger(text, 32, v)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool TryStrToInt64(const std::string& text, int64_t& value) {
    return ParseInteger(text, 64, value);
}

int32_t StrToInt(const std::string& text) {
    int32_t v;
    if (!TryStrToInt(text, v))
        throw EConvertError(Format("'%s' is not a valid integer value", {text}));
    return v;
}

int64_t StrToInt64(const std::string& text) {
    int64_t v;
    if (!TryStrToInt64(text, v))
        throw EConvertError(Format("'%s' is not a valid integer value", {text}));
    return v;
}

int32_t StrToIntDef(const std::string& text, int32_t fallback) {
    int32_t v;
    return TryStrToInt(text, v) ? v : fallback;
}

std::string FloatToStrGeneral(double value, int precision, char decimalSeparator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;
    // The digits of the value rounded to `precision` significant digits, and its exponent.
    // to_chars with a precision writes what printf's %.*e writes: correctly rounded (to nearest,
    // ties to even on the exact binary value). Up to 15 digits a shortest text that needs no
    // more digits than that is the same number: a normal double lies closer to its shortest text
    // than half a unit of the 15th digit (subnormals have fewer digits of their own and are
    // left to the rounding). The shortest text is much cheaper to find.
    char buf[64];
    char* end = nullptr;
    char digits[24];
    size_t count = 0;
    int exponent = 0;
    auto split = [&](char* last) {
        end = last;
        count = 0;
        const char* p = buf;
        if (*p == '-') ++p;
        for (; p < end && *p != 'e'; ++p) {
            if (*p >= '0' && *p <= '9' && count < sizeof digits) digits[count++] = *p;
        }
        exponent = 0;
        if (p < end && *p == 'e') {
            ++p;
            bool negativeExponent = p < end && *p == '-';
            if (p < end && (*p == '-' || *p == '+')) ++p;
            for (; p < end && *p >= '0' && *p <= '9'; ++p) exponent = exponent * 10 + (*p - '0');
            if (negativeExponent) exponent = -exponent;
        }
    };
    bool done = false;
    uint64_t n = 0;
    int k = 0;
    if (precision <= 15 && ShortDecimal(std::fabs(value), n, k)) {
        // The decimal digits of n, then the point moved k places to the left.
        auto [last, ec] = std::to_chars(digits, digits + sizeof digits, n);
        count = static_cast<size_t>(last - digits);
        exponent = static_cast<int>(count) - 1 - k;
        while (count > 1 && digits[count - 1] == '0') --count;
        done = static_cast<int>(count) <= precision;
    }
    if (!done && precision <= 15 && std::fabs(value) >= std::numeric_limits<double>::min()) {
        const auto [last, ec] =
            std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
        if (ec == std::errc()) {
            split(last);
            done = static_cast<int>(count) <= precision;
        }
    }
    if (!done) {
        const auto [last, ec] = std::to_chars(buf, buf + sizeof buf, value,
                                              std::chars_format::scientific, precision - 1);
        if (ec != std::errc()) return "0";
        split(last);
    }
    bool negative = value < 0;
    while (count > 1 && digits[count - 1] == '0') --count;
    const std::string_view all(digits, count);

    std::string out;
    out.reserve(count + 8);
    if (negative) out += '-';
    if (exponent >= -5 && exponent < precision) {
        if (exponent >= 0) {
            size_t intLen = static_cast<size_t>(exponent) + 1;
            if (count <= intLen) {
                out += all;
                out.append(intLen - count, '0');
            } else {
                out += all.substr(0, intLen);
                out += decimalSeparator;
                out += all.substr(intLen);
            }
        } else {
            out += '0';
            out += decimalSeparator;
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += all;
        }
    } else {
        out += all[0];
        if (count > 1) {
            out += decimalSeparator;
            out += all.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
    }
    return out;
}

std::string FloatToStr(double value, const TFormatSettings& settings) {
    return FloatToStrGeneral(value, 15, settings.DecimalSeparator);
}

std::string FloatToStr(double value) { return FloatToStrGeneral(value, 15, DecimalSeparator()); }

bool TryStrToFloat(const std::string& text, double& value, const TFormatSettings& settings) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    size_t i = begin;
    const bool negative = i < end && text[i] == '-';
    const bool signed_ = i < end && (text[i] == '+' || text[i] == '-');
    if (signed_) ++i;
    // "inf" and "nan", in any letter case; a text that starts with a digit is neither.
    const bool digitFirst = i < end && text[i] >= '0' && text[i] <= '9';
    if (!digitFirst && EqualsNoCase(text, i, end, "inf")) {
        value = negative ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (!digitFirst && EqualsNoCase(text, i, end, "nan")) {
        value = std::nan("");
        return true;
    }
    // One pass checks the form and gathers up to 15 digits; the text the C parser reads is
    // written only when those digits do not settle the value.
    const size_t digitsBegin = i;
    size_t digitCount = 0;
    size_t fractionDigits = 0;
    uint64_t mantissa = 0;
    bool separatorSeen = false;
    for (; i < end; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            ++digitCount;
            if (separatorSeen) ++fractionDigits;
            if (digitCount <= 15) mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        } else if (c == settings.DecimalSeparator && !separatorSeen) {
            separatorSeen = true;
        } else {
            break;
        }
    }
    if (digitCount == 0) return false;
    const size_t digitsEnd = i;
    bool exponentSeen = false;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        exponentSeen = true;
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
        size_t expDigits = 0;
        for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != end) return false;
    if (!exponentSeen && digitCount <= 15) {
        // At most 15 digits and no exponent: the digits and the power of ten are exact doubles,
        // and one correctly rounded division gives what strtod gives.
        double v = static_cast<double>(mantissa) / kExactPowersOfTen[fractionDigits];
        value = negative ? -v : v;
        return true;
    }
    std::string norm;
    if (signed_) norm += text[begin];
    for (size_t k = digitsBegin; k < digitsEnd; ++k) {
        norm += text[k] == settings.DecimalSeparator ? '.' : text[k];
    }
    if (exponentSeen) {
        norm += 'e';
        norm.append(text, digitsEnd + 1, end - digitsEnd - 1);
    }
    // from_chars reads the usual texts exactly as strtod does (correctly rounded) at a fraction
    // of its cost; what it refuses (a "+" sign, a value out of range) goes to strtod as before.
    double v = 0;
    const auto [parsedEnd, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), v);
    if (ec != std::errc() || parsedEnd != norm.data() + norm.size()) {
        v = strtod_l(norm.c_str(), nullptr, CLocale());
    }
    if (std::isinf(v)) {
        // The largest double written with 15 digits ("1.79769313486232E308") lies just above
        // it; such a text stands for the largest double. Anything larger does not fit.
        long double wide = strtold_l(norm.c_str(), nullptr, CLocale());
        if (!(std::fabs(wide) <= 1.79769313486232e308L)) return false;
        v = std::copysign(std::numeric_limits<double>::max(), static_cast<double>(wide));
    }
    value = v;
    return true;
}

bool TryStrToFloat(const std::string& text, double& value) {
    return TryStrToFloat(text, value, CurrentFormatSettings());
}

double StrToFloat(const std::string& text, const TFormatSettings& settings) {
    double v;
    if (!TryStrToFloat(text, v, settings))
        throw EConvertError(Format("'%s' is not a valid floating point value", {text}));
    return v;
}

double StrToFloat(const std::string& text) { return StrToFloat(text, CurrentFormatSettings()); }

int64_t Round(double value) {
    // nearbyint rounds under the current mode, which is to nearest with ties to even unless a
    // caller changed it; this library never does.
    double r = std::nearbyint(value);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
        throw EInvalidCast(Format("%s cannot be rounded to an integer", {FloatToStr(value)}));
    return static_cast<int64_t>(r);
}

Currency DoubleToCurrency(double value) {
    double scaled = value * 10000.0;
    if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
        throw EInvalidCast(Format("%s is out of the currency range", {FloatToStr(value)}));
    return Currency{Round(scaled)};
}

double CurrencyToDouble(Currency value) { return static_cast<double>(value.Units) / 10000.0; }

std::string CurrToStr(Currency value, const TFormatSettings& settings) {
    uint64_t magnitude = value.Units < 0 ? 0 - static_cast<uint64_t>(value.Units)
                                         : static_cast<uint64_t>(value.Units);
    std::string out = value.Units < 0 ? "-" : "";
    out += std::to_string(magnitude / 10000);
    unsigned frac = static_cast<unsigned>(magnitude % 10000);
    if (frac) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", frac);
        std::string f = buf;
        while (f.back() == '0') f.pop_back();
        out += settings.DecimalSeparator;
        out += f;
    }
    return out;
}

std::string CurrToStr(Currency value) { return CurrToStr(value, CurrentFormatSettings()); }

Currency StrToCurr(const std::string& text) { return DoubleToCurrency(StrToFloat(text)); }

}  // namespace rtl
