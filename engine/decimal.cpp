#include "engine/decimal.h"

#include <cctype>
#include <climits>

namespace kce {

std::optional<Decimal> ParseDecimal(std::string_view t) {
    Decimal d;
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) d.negative = t[i++] == '-';
    bool any = false;
    bool point = false;
    int fraction = 0;
    for (; i < t.size(); ++i) {
        char c = t[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            any = true;
            if (!(d.digits.empty() && c == '0')) d.digits += c;
            if (point) ++fraction;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return std::nullopt;
    long exponent = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
        size_t start = i;
        for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
            if (exponent < 100000) exponent = exponent * 10 + (t[i] - '0');
        }
        if (i == start) return std::nullopt;
        if (negative) exponent = -exponent;
    }
    if (i != t.size()) return std::nullopt;
    d.exponent = int(exponent) - fraction;
    if (d.digits.empty()) {
        d.negative = false;
        d.exponent = 0;
    }
    return d;
}

namespace {

// The digits of the value rounded to `decimals` places, as an integer count of units (no
// leading zeros, "" for zero); nullopt when that count has more than limit digits.
std::optional<std::string> ScaledDigits(const Decimal& v, int decimals, size_t limit) {
    if (v.digits.empty()) return std::string();
    long shift = long(v.exponent) + decimals;  // places to move the digits left
    std::string out;
    if (shift >= 0) {
        if (v.digits.size() + size_t(shift) > limit) return std::nullopt;
        out = v.digits + std::string(size_t(shift), '0');
        return out;
    }
    size_t drop = size_t(-shift);
    if (drop > v.digits.size() + 1) return std::string();  // far below half a unit
    std::string kept = drop >= v.digits.size() ? "" : v.digits.substr(0, v.digits.size() - drop);
    std::string gone = drop > v.digits.size() ? "0" + v.digits : v.digits.substr(kept.size());
    // Halves to even: round up when above half, or at exactly half with an odd last digit.
    int first = gone[0] - '0';
    bool rest = gone.find_first_not_of('0', 1) != std::string::npos;
    bool odd = !kept.empty() && (kept.back() - '0') % 2 == 1;
    if (first > 5 || (first == 5 && (rest || odd))) {
        int k = int(kept.size()) - 1;
        while (k >= 0 && kept[size_t(k)] == '9') kept[size_t(k--)] = '0';
        if (k < 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[size_t(k)];
    }
    size_t nz = kept.find_first_not_of('0');
    kept = nz == std::string::npos ? "" : kept.substr(nz);
    if (kept.size() > limit) return std::nullopt;
    return kept;
}

}  // namespace

std::optional<std::string> FormatFixed(const Decimal& value, int decimals, size_t maxDigits) {
    auto digits = ScaledDigits(value, decimals, maxDigits + 1);
    if (!digits) return std::nullopt;
    std::string d = *digits;
    if (d.size() < size_t(decimals) + 1) d.insert(0, size_t(decimals) + 1 - d.size(), '0');
    if (d.size() > maxDigits) return std::nullopt;
    std::string out = value.negative && !digits->empty() ? "-" : "";
    out += d.substr(0, d.size() - size_t(decimals));
    if (decimals > 0) out += "." + d.substr(d.size() - size_t(decimals));
    return out;
}

std::optional<int64_t> ToScaled(const Decimal& value, int decimals) {
    auto digits = ScaledDigits(value, decimals, 19);
    if (!digits) return std::nullopt;
    uint64_t magnitude = 0;
    for (char c : *digits) {
        uint64_t d = uint64_t(c - '0');
        if (magnitude > (uint64_t(INT64_MAX) - d) / 10) return std::nullopt;
        magnitude = magnitude * 10 + d;
    }
    return value.negative ? -int64_t(magnitude) : int64_t(magnitude);
}

std::string ScaledToText(int64_t units, int decimals) {
    bool negative = units < 0;
    uint64_t magnitude = negative ? 0 - uint64_t(units) : uint64_t(units);
    std::string d = std::to_string(magnitude);
    if (d.size() < size_t(decimals) + 1) d.insert(0, size_t(decimals) + 1 - d.size(), '0');
    std::string whole = d.substr(0, d.size() - size_t(decimals));
    std::string fraction = d.substr(d.size() - size_t(decimals));
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

}  // namespace kce
