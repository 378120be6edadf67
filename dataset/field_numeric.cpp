// Numeric fields: integers of 16, 32 and 64 bits, floats and currency, and fixed-point decimals.
//
// Every rounding to a whole number or to ten-thousandths takes halves to the even neighbour, so
// the same value rounds the same way whichever reader or writer it passes through.
#include <cmath>
#include <cstring>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "rtl/format.h"
#include "rtl/numconv.h"

namespace db {

// ---- 32-bit integers and their narrower kinds
// -----------------------------------------------------

TIntegerField::TIntegerField(rtl::TComponent* owner) : TNumericField(owner) {
    SetDataType(ftInteger);
    SetAlignment(taRightJustify);
}

bool TIntegerField::ReadInteger(int32_t& value) const {
    int32_t data = 0;
    if (!ReadData(&data)) return false;
    value = data;
    return true;
}

void TIntegerField::WriteInteger(int32_t value) { WriteData(&value); }

void TIntegerField::CheckRange(int64_t value) const {
    int64_t lo = classMin_, hi = classMax_;
    if (minValue_ != 0 || maxValue_ != 0) {
        lo = minValue_;
        hi = maxValue_;
    }
    if (value < lo || value > hi) {
        RangeError(static_cast<double>(value), static_cast<double>(lo), static_cast<double>(hi));
    }
}

int32_t TIntegerField::IntegerValue() const {
    int32_t value = 0;
    ReadInteger(value);
    return value;
}

void TIntegerField::SetIntegerValue(int32_t value) {
    CheckRange(value);
    WriteInteger(value);
}

double TIntegerField::FloatValue() const { return IntegerValue(); }

void TIntegerField::SetFloatValue(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) {
        RangeError(value, static_cast<double>(classMin_), static_cast<double>(classMax_));
    }
    int64_t rounded = rtl::Round(value);
    CheckRange(rounded);
    WriteInteger(static_cast<int32_t>(rounded));
}

rtl::Currency TIntegerField::CurrencyValue() const {
    return rtl::Currency{static_cast<int64_t>(IntegerValue()) * 10000};
}

void TIntegerField::SetCurrencyValue(rtl::Currency value) {
    SetFloatValue(rtl::CurrencyToDouble(value));
}

std::string TIntegerField::StringValue() const {
    int32_t value = 0;
    if (!ReadInteger(value)) return {};
    return rtl::IntToStr(value);
}

void TIntegerField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    int32_t parsed = 0;
    if (!rtl::TryStrToInt(value, parsed)) {
        throw EDatabaseError(rtl::Format(msg::kInvalidIntegerValue, {value, DisplayName()}));
    }
    SetIntegerValue(parsed);
}

std::string TIntegerField::GetText(bool) const { return StringValue(); }

TSmallintField::TSmallintField(rtl::TComponent* owner) : TIntegerField(owner) {
    SetDataType(ftSmallint);
    classMin_ = INT16_MIN;
    classMax_ = INT16_MAX;
}

bool TSmallintField::ReadInteger(int32_t& value) const {
    int16_t data = 0;
    if (!ReadData(&data)) return false;
    value = data;
    return true;
}

void TSmallintField::WriteInteger(int32_t value) {
    int16_t data = static_cast<int16_t>(value);
    WriteData(&data);
}

TWordField::TWordField(rtl::TComponent* owner) : TIntegerField(owner) {
    SetDataType(ftWord);
    classMin_ = 0;
    classMax_ = UINT16_MAX;
}

bool TWordField::ReadInteger(int32_t& value) const {
    uint16_t data = 0;
    if (!ReadData(&data)) return false;
    value = data;
    return true;
}

void TWordField::WriteInteger(int32_t value) {
    uint16_t data = static_cast<uint16_t>(value);
    WriteData(&data);
}

TAutoIncField::TAutoIncField(rtl::TComponent* owner) : TIntegerField(owner) {
    SetDataType(ftAutoInc);
}

// ---- 64-bit integers
// ------------------------------------------------------------------------------

TLargeintField::TLargeintField(rtl::TComponent* owner) : TNumericField(owner) {
    SetDataType(ftLargeint);
    SetAlignment(taRightJustify);
}

int64_t TLargeintField::LargeintValue() const {
    int64_t value = 0;
    ReadData(&value);
    return value;
}

void TLargeintField::SetLargeintValue(int64_t value) { WriteData(&value); }

int32_t TLargeintField::IntegerValue() const {
    int64_t value = LargeintValue();
    if (value < INT32_MIN || value > INT32_MAX) {
        RangeError(static_cast<double>(value), INT32_MIN, INT32_MAX);
    }
    return static_cast<int32_t>(value);
}

void TLargeintField::SetIntegerValue(int32_t value) { SetLargeintValue(value); }

double TLargeintField::FloatValue() const { return static_cast<double>(LargeintValue()); }

void TLargeintField::SetFloatValue(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) {
        RangeError(value, static_cast<double>(INT64_MIN), static_cast<double>(INT64_MAX));
    }
    SetLargeintValue(rtl::Round(value));
}

rtl::Currency TLargeintField::CurrencyValue() const { return rtl::DoubleToCurrency(FloatValue()); }

void TLargeintField::SetCurrencyValue(rtl::Currency value) {
    SetFloatValue(rtl::CurrencyToDouble(value));
}

std::string TLargeintField::StringValue() const {
    int64_t value = 0;
    if (!ReadData(&value)) return {};
    return rtl::IntToStr(value);
}

void TLargeintField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    int64_t parsed = 0;
    if (!rtl::TryStrToInt64(value, parsed)) {
        throw EDatabaseError(rtl::Format(msg::kInvalidIntegerValue, {value, DisplayName()}));
    }
    SetLargeintValue(parsed);
}

std::string TLargeintField::GetText(bool) const { return StringValue(); }

// ---- Floats and currency
// --------------------------------------------------------------------------

TFloatField::TFloatField(rtl::TComponent* owner) : TNumericField(owner) {
    SetDataType(ftFloat);
    SetAlignment(taRightJustify);
}

TCurrencyField::TCurrencyField(rtl::TComponent* owner) : TFloatField(owner) {
    SetDataType(ftCurrency);
    SetCurrency(true);
}

void TFloatField::SetPrecision(int precision) { precision_ = std::clamp(precision, 2, 15); }

double TFloatField::FloatValue() const {
    double value = 0;
    ReadData(&value);
    return value;
}

void TFloatField::SetFloatValue(double value) {
    if ((minValue_ != 0 || maxValue_ != 0) && (value < minValue_ || value > maxValue_)) {
        RangeError(value, minValue_, maxValue_);
    }
    WriteData(&value);
}

int32_t TFloatField::IntegerValue() const {
    double value = FloatValue();
    if (!std::isfinite(value) || value < INT32_MIN - 0.5 || value > INT32_MAX + 0.5) {
        RangeError(value, INT32_MIN, INT32_MAX);
    }
    int64_t rounded = rtl::Round(value);
    if (rounded < INT32_MIN || rounded > INT32_MAX) RangeError(value, INT32_MIN, INT32_MAX);
    return static_cast<int32_t>(rounded);
}

void TFloatField::SetIntegerValue(int32_t value) { SetFloatValue(value); }

rtl::Currency TFloatField::CurrencyValue() const { return rtl::DoubleToCurrency(FloatValue()); }

void TFloatField::SetCurrencyValue(rtl::Currency value) {
    SetFloatValue(rtl::CurrencyToDouble(value));
}

std::string TFloatField::StringValue() const {
    double value = 0;
    if (!ReadData(&value)) return {};
    return rtl::FloatToStr(value);
}

void TFloatField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    double parsed = 0;
    if (!rtl::TryStrToFloat(value, parsed)) {
        throw EDatabaseError(rtl::Format(msg::kInvalidFloatValue, {value, DisplayName()}));
    }
    SetFloatValue(parsed);
}

std::string TFloatField::GetText(bool displayText) const {
    double value = 0;
    if (!ReadData(&value)) return {};
    // Money shows two decimals; other values the general form with the field's precision.
    if (displayText && currency_) return rtl::Format("%.2n", {value});
    return rtl::FloatToStrGeneral(value, precision_, rtl::DecimalSeparator());
}

// ---- Fixed-point decimals
// -------------------------------------------------------------------------

TBCDField::TBCDField(rtl::TComponent* owner) : TNumericField(owner) {
    SetDataType(ftBCD);
    SetAlignment(taRightJustify);
    SetSize(4);
}

void TBCDField::CheckTypeSize(int size) const {
    if (size < 0 || size > 4) throw EDatabaseError(std::string(msg::kInvalidFieldSize));
}

rtl::Currency TBCDField::CurrencyValue() const {
    rtl::Currency value;
    ReadData(&value.Units);
    return value;
}

void TBCDField::SetCurrencyValue(rtl::Currency value) { WriteData(&value.Units); }

double TBCDField::FloatValue() const { return rtl::CurrencyToDouble(CurrencyValue()); }

void TBCDField::SetFloatValue(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e14) {
        throw EDatabaseError(rtl::Format(msg::kFieldOutOfRange, {DisplayName()}));
    }
    SetCurrencyValue(rtl::DoubleToCurrency(value));
}

int32_t TBCDField::IntegerValue() const {
    int64_t rounded = rtl::Round(FloatValue());
    if (rounded < INT32_MIN || rounded > INT32_MAX) {
        RangeError(static_cast<double>(rounded), INT32_MIN, INT32_MAX);
    }
    return static_cast<int32_t>(rounded);
}

void TBCDField::SetIntegerValue(int32_t value) {
    SetCurrencyValue(rtl::Currency{static_cast<int64_t>(value) * 10000});
}

std::string TBCDField::StringValue() const {
    rtl::Currency value;
    if (!ReadData(&value.Units)) return {};
    return rtl::CurrToStr(value);
}

void TBCDField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    double parsed = 0;
    if (!rtl::TryStrToFloat(value, parsed)) {
        throw EDatabaseError(rtl::Format(msg::kInvalidFloatValue, {value, DisplayName()}));
    }
    SetFloatValue(parsed);
}

std::string TBCDField::GetText(bool) const { return StringValue(); }

}  // namespace db
