// Variant access of every field class: VariantValue, its writer, and assignment between fields.
//
// A null (or empty) variant means blank. Any other variant is converted to the class's own kind
// and written through that kind's writer; a variant that does not convert raises
// "Invalid value for field '%s'". Range and text errors of the writer pass through unchanged.
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "rtl/format.h"
#include "rtl/variant.h"

namespace db {

namespace {

bool MeansBlank(const rtl::Variant& value) { return value.IsNull() || value.IsEmpty(); }

}  // namespace

// Runs a conversion of the variant; a variant that does not convert becomes this field's error.
#define DB_CONVERT_VARIANT(expression)    \
    try {                                 \
        expression;                       \
    } catch (const rtl::EVariantError&) { \
        ValueError();                     \
    }

rtl::Variant TField::VariantValue() const { AccessError("Variant"); }
void TField::SetVariantValue(const rtl::Variant&) { AccessError("Variant"); }

void TField::AssignField(const TField* source) {
    if (source == nullptr) {
        Clear();
        return;
    }
    SetVariantValue(source->VariantValue());
}

// ---- Strings
// --------------------------------------------------------------------------------------

rtl::Variant TStringField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant(StringValue());
}

void TStringField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    std::string text;
    DB_CONVERT_VARIANT(text = value.AsString());
    SetStringValue(text);
}

// ---- Numbers
// --------------------------------------------------------------------------------------

rtl::Variant TIntegerField::VariantValue() const {
    int32_t value = 0;
    if (!ReadInteger(value)) return rtl::Variant::Null();
    return rtl::Variant(value);
}

void TIntegerField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    int32_t number = 0;
    DB_CONVERT_VARIANT(number = value.AsInteger());
    SetIntegerValue(number);
}

rtl::Variant TLargeintField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant(LargeintValue());
}

void TLargeintField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    int64_t number = 0;
    DB_CONVERT_VARIANT(number = value.AsInt64());
    SetLargeintValue(number);
}

rtl::Variant TFloatField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant(FloatValue());
}

void TFloatField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    double number = 0;
    DB_CONVERT_VARIANT(number = value.AsDouble());
    SetFloatValue(number);
}

rtl::Variant TBCDField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant(CurrencyValue());
}

void TBCDField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    rtl::Currency amount;
    DB_CONVERT_VARIANT(amount = value.AsCurrency());
    SetCurrencyValue(amount);
}

// ---- Booleans, dates
// ------------------------------------------------------------------------------

rtl::Variant TBooleanField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant(BooleanValue());
}

void TBooleanField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    bool flag = false;
    DB_CONVERT_VARIANT(flag = value.AsBoolean());
    SetBooleanValue(flag);
}

rtl::Variant TDateTimeField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant::FromDateTime(DateTimeValue());
}

void TDateTimeField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    double moment = 0;
    DB_CONVERT_VARIANT(moment = value.AsDateTime());
    SetDateTimeValue(moment);
}

// ---- Bytes
// ----------------------------------------------------------------------------------------

rtl::Variant TBinaryField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    std::string bytes = StringValue();
    return rtl::Variant(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void TBinaryField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    // Only a byte array that fits is taken; anything else names the field.
    if (value.VarType() != rtl::varBytes || static_cast<int>(value.AsBytes().size()) > Size()) {
        throw EDatabaseError(rtl::Format(msg::kInvalidVarByteArray, {DisplayName()}));
    }
    std::vector<uint8_t> bytes = value.AsBytes();
    SetStringValue(std::string(bytes.begin(), bytes.end()));
}

// ---- Blobs
// ----------------------------------------------------------------------------------------

rtl::Variant TBlobField::VariantValue() const {
    if (IsBlank()) return rtl::Variant::Null();
    return rtl::Variant(StringValue());
}

void TBlobField::SetVariantValue(const rtl::Variant& value) {
    if (MeansBlank(value)) return Clear();
    std::string bytes;
    DB_CONVERT_VARIANT(bytes = value.AsString());
    SetStringValue(bytes);
}

#undef DB_CONVERT_VARIANT

}  // namespace db
