// Variant: a small tagged value for the places where a value's kind is known only at run time
// (a field's VariantValue, statement parameters, lookups).
//
// Conversions (As...) follow the text and number rules of numconv.h and datetime.h:
//   - Empty reads as 0, 0.0, false, "", date 0 and no bytes.
//   - Null converts to nothing: every As... raises.
//   - Booleans read as 1 / 0 and "True" / "False"; numbers and dates as booleans: non-zero.
//   - Doubles, currency and dates read as integers rounded half to even.
//   - Strings are parsed: StrToInt64, StrToFloat, StrToDateTime, "True"/"False" (any case) or a
//     number for booleans; a string and a byte array read as each other's bytes.
// A failed conversion raises EVariantError "Could not convert variant of type (%s) into type
// (%s)"; a number outside the target's range "Arithmetic overflow converting variant of type (%s)
// into type (%s)". The type names are those of VarTypeName.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "rtl/datetime.h"
#include "rtl/numconv.h"

namespace rtl {

enum TVarType {
    varEmpty,
    varNull,
    varBoolean,
    varInteger,  // 32-bit
    varInt64,
    varDouble,
    varCurrency,
    varDate,
    varString,
    varBytes,  // an array of bytes
};

// "Empty", "Null", "Boolean", "Integer", "Int64", "Double", "Currency", "Date", "String",
// "Array of Byte".
const char* VarTypeName(TVarType type);

class Variant {
  public:
    Variant() = default;
    Variant(bool value) : type_(varBoolean), integer_(value ? 1 : 0) {}
    // Integers of up to 32 bits (unsigned: up to 16) are varInteger, larger ones varInt64.
    template <typename T,
              std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Variant(T value)
        : type_(sizeof(T) < 4 || (sizeof(T) == 4 && std::is_signed_v<T>) ? varInteger : varInt64),
          integer_(static_cast<int64_t>(value)) {}
    Variant(double value) : type_(varDouble), double_(value) {}
    Variant(Currency value) : type_(varCurrency), integer_(value.Units) {}
    Variant(std::string value) : type_(varString), text_(std::move(value)) {}
    Variant(const char* value) : type_(varString), text_(value ? value : "") {}
    Variant(const std::vector<uint8_t>& bytes)
        : type_(varBytes), text_(bytes.begin(), bytes.end()) {}

    static Variant Null();
    static Variant FromDateTime(TDateTime value);

    TVarType VarType() const { return type_; }
    bool IsEmpty() const { return type_ == varEmpty; }
    bool IsNull() const { return type_ == varNull; }

    bool AsBoolean() const;
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    Currency AsCurrency() const;
    TDateTime AsDateTime() const;
    std::string AsString() const;
    std::vector<uint8_t> AsBytes() const;

    // Same type and same value (doubles compare as numbers, so NaN is unequal to itself).
    friend bool operator==(const Variant& a, const Variant& b);

  private:
    [[noreturn]] void CastError(TVarType target) const;
    [[noreturn]] void OverflowError(TVarType target) const;
    int64_t Rounded(TVarType target) const;

    TVarType type_ = varEmpty;
    int64_t integer_ = 0;  // boolean, integers, currency units
    double double_ = 0;    // double, date
    std::string text_;     // string, bytes
};

}  // namespace rtl
