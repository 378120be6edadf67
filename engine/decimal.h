// Decimal numbers as text, exactly: numeric fields and money never pass their digits through a
// double on the way between a text and the field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kce {

// value = (negative ? -1 : 1) * digits * 10^exponent; digits has no leading zeros ("" for zero).
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Reads [+-]digits[.digits][(e|E)[+-]digits] (also ".5" and "5."), nothing else around it.
std::optional<Decimal> ParseDecimal(std::string_view text);

// The value rounded to `decimals` places (halves to even), as fixed-point text: a '-' for a
// negative non-zero value, at least one integer digit, and exactly `decimals` digits after the
// point (no point when decimals is 0). nullopt when it needs more than maxDigits digits in all.
std::optional<std::string> FormatFixed(const Decimal& value, int decimals, size_t maxDigits);

// The value rounded to `decimals` places as a count of 10^-decimals units; nullopt on overflow.
std::optional<int64_t> ToScaled(const Decimal& value, int decimals);

// The text of a count of 10^-decimals units, without trailing fraction zeros ("1234.5", "-3").
std::string ScaledToText(int64_t units, int decimals);

}  // namespace kce
