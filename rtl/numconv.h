// Text conversion of integers, floating-point numbers and currency values.
//
// The float text form is the general format: the value correctly rounded to 15 significant
// digits, trailing zeros and a trailing separator removed, plain notation when
// 0.00001 <= |v| < 1E15, otherwise mantissa "E" exponent with no "+" and no leading zeros
// ("1E15", "1.5E20", "9.9E-6"). StrToFloat reads every text FloatToStr writes.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/formatsettings.h"

namespace rtl {

std::string IntToStr(int64_t value);
// Upper-case hexadecimal, at least `digits` digits.
std::string IntToHex(uint64_t value, int digits);

// Integer parser: leading blanks, an optional sign, then decimal digits, or hexadecimal digits
// introduced by "$", "x" or "0x" (either case); nothing may follow. Decimal values must fit the
// type's range; hexadecimal ones must fit its width and are taken as a bit pattern ("$FFFFFFFF"
// is -1 as a 32-bit integer). Failure raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);
bool TryStrToInt(const std::string& text, int32_t& value);
bool TryStrToInt64(const std::string& text, int64_t& value);
int32_t StrToIntDef(const std::string& text, int32_t fallback);

// The general format with `precision` significant digits (1 to 17); plain notation when the
// decimal exponent of the rounded value is in [-5, precision). NaN and infinities are written
// "NAN", "INF", "-INF".
std::string FloatToStrGeneral(double value, int precision, char decimalSeparator);
std::string FloatToStr(double value);
std::string FloatToStr(double value, const TFormatSettings& settings);

// Float parser: optional blanks around, an optional sign, digits with at most one decimal
// separator (the settings' one) and at least one digit, an optional exponent ("E" or "e", an
// optional sign, digits); also "INF", "NAN" in any case. A value too large for a double fails.
// Failure raises EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string& text);
double StrToFloat(const std::string& text, const TFormatSettings& settings);
bool TryStrToFloat(const std::string& text, double& value);
bool TryStrToFloat(const std::string& text, double& value, const TFormatSettings& settings);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// NaN, infinities and values outside the 64-bit range raise EInvalidCast.
int64_t Round(double value);

// A fixed-point amount with four decimals, held as a count of ten-thousandths.
struct Currency {
    int64_t Units = 0;
    friend bool operator==(Currency a, Currency b) { return a.Units == b.Units; }
};

// value * 10000 rounded halves to even; out of range raises EInvalidCast.
Currency DoubleToCurrency(double value);
double CurrencyToDouble(Currency value);
// Shortest exact text of the amount: "1234.5", "-0.0001", "0".
std::string CurrToStr(Currency value);
std::string CurrToStr(Currency value, const TFormatSettings& settings);
// Reads as StrToFloat, then rounds to four decimals.
Currency StrToCurr(const std::string& text);

}  // namespace rtl
