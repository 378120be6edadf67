#include "rtl/variant.h"

#include <cmath>

#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/textutils.h"

namespace rtl {

const char* VarTypeName(TVarType type) {
    static const char* const kNames[] = {"Empty",  "Null",         "Boolean",  "Integer",
                                         "Int64",  "Double",       "Currency", "Date",
                                         "String", "Array of Byte"};
    return type >= varEmpty && type <= varBytes ? kNames[type] : "Unknown";
}

Variant Variant::Null() {
    Variant v;
    v.type_ = varNull;
    return v;
}

Variant Variant::FromDateTime(TDateTime value) {
    Variant v;
    v.type_ = varDate;
    v.double_ = value;
    return v;
}

void Variant::CastError(TVarType target) const {
    throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                               {VarTypeName(type_), VarTypeName(target)}));
}

void Variant::OverflowError(TVarType target) const {
    throw EVariantError(Format("Arithmetic overflow converting variant of type (%s) into type (%s)",
                               {VarTypeName(type_), VarTypeName(target)}));
}

// The value as a 64-bit integer, for the integer readers.
int64_t Variant::Rounded(TVarType target) const {
    switch (type_) {
        case varEmpty:
            return 0;
        case varBoolean:
        case varInteger:
        case varInt64:
            return integer_;
        case varDouble:
        case varDate:
            if (std::isnan(double_)) CastError(target);
            if (!(std::fabs(double_) < 9.2e18)) OverflowError(target);
            return Round(double_);
        case varCurrency:
            return Round(CurrencyToDouble(Currency{integer_}));
        case varString: {
            int64_t v;
            if (TryStrToInt64(text_, v)) return v;
            double d;
            if (TryStrToFloat(text_, d)) {
                if (std::isnan(d)) CastError(target);
                if (!(std::fabs(d) < 9.2e18)) OverflowError(target);
                return Round(d);
            }
            CastError(target);
        }
        default:
            CastError(target);
    }
}

int64_t Variant::AsInt64() const { return Rounded(varInt64); }

int32_t Variant::AsInteger() const {
    const int64_t v = Rounded(varInteger);
    if (v < INT32_MIN || v > INT32_MAX) OverflowError(varInteger);
    return static_cast<int32_t>(v);
}

double Variant::AsDouble() const {
    switch (type_) {
        case varEmpty:
            return 0;
        case varBoolean:
        case varInteger:
        case varInt64:
            return static_cast<double>(integer_);
        case varDouble:
        case varDate:
            return double_;
        case varCurrency:
            return CurrencyToDouble(Currency{integer_});
        case varString: {
            double d;
            if (!TryStrToFloat(text_, d)) CastError(varDouble);
            return d;
        }
        default:
            CastError(varDouble);
    }
}

Currency Variant::AsCurrency() const {
    if (type_ == varCurrency) return Currency{integer_};
    if (type_ == varInteger || type_ == varInt64) {
        if (integer_ > INT64_MAX / 10000 || integer_ < INT64_MIN / 10000)
            OverflowError(varCurrency);
        return Currency{integer_ * 10000};
    }
    if (type_ == varNull || type_ == varBytes) CastError(varCurrency);
    const double d = AsDouble();
    if (std::isnan(d)) CastError(varCurrency);
    if (!(std::fabs(d) < 9.2e14)) OverflowError(varCurrency);
    return DoubleToCurrency(d);
}

TDateTime Variant::AsDateTime() const {
    switch (type_) {
        case varString: {
            TDateTime v;
            if (!TryStrToDateTime(text_, v, FormatSettings())) CastError(varDate);
            return v;
        }
        case varNull:
        case varBytes:
            CastError(varDate);
        default:
            return AsDouble();
    }
}

bool Variant::AsBoolean() const {
    switch (type_) {
        case varEmpty:
            return false;
        case varBoolean:
        case varInteger:
        case varInt64:
        case varCurrency:
            return integer_ != 0;
        case varDouble:
        case varDate:
            return double_ != 0;
        case varString: {
            if (SameText(text_, "True")) return true;
            if (SameText(text_, "False")) return false;
            double d;
            if (TryStrToFloat(text_, d)) return d != 0;
            CastError(varBoolean);
        }
        default:
            CastError(varBoolean);
    }
}

std::string Variant::AsString() const {
    switch (type_) {
        case varEmpty:
            return "";
        case varBoolean:
            return integer_ ? "True" : "False";
        case varInteger:
        case varInt64:
            return IntToStr(integer_);
        case varDouble:
            return FloatToStr(double_);
        case varCurrency:
            return CurrToStr(Currency{integer_});
        case varDate:
            return DateTimeToStr(double_);
        case varString:
        case varBytes:
            return text_;
        default:
            CastError(varString);
    }
}

std::vector<uint8_t> Variant::AsBytes() const {
    switch (type_) {
        case varEmpty:
            return {};
        case varString:
        case varBytes:
            return std::vector<uint8_t>(text_.begin(), text_.end());
        default:
            CastError(varBytes);
    }
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.type_ != b.type_) return false;
    switch (a.type_) {
        case varEmpty:
        case varNull:
            return true;
        case varDouble:
        case varDate:
            return a.double_ == b.double_;
        case varString:
        case varBytes:
            return a.text_ == b.text_;
        default:
            return a.integer_ == b.integer_;
    }
}

}  // namespace rtl
