#include "dataset/params.h"

#include <cstring>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "dataset/names.h"
#include "rtl/exceptions.h"

namespace db {

// ---- TParam
// ---------------------------------------------------------------------------------------

TParam::TParam(TParams* owner, std::string name, TFieldType dataType, TParamType paramType)
    : owner_(owner), name_(std::move(name)), dataType_(dataType), paramType_(paramType) {}

TParam& TParam::Shared() {
    if (owner_) {
        if (TParam* first = owner_->FindParam(name_)) return *first;
    }
    return *this;
}

const TParam& TParam::Shared() const { return const_cast<TParam*>(this)->Shared(); }

void TParam::SetName(const std::string& name) { name_ = name; }

TFieldType TParam::DataType() const { return Shared().dataType_; }

void TParam::SetDataType(TFieldType type) {
    TParam& p = Shared();
    p.dataType_ = type;
    p.value_ = rtl::Variant();
    p.null_ = true;
}

bool TParam::IsNull() const { return Shared().null_; }
bool TParam::Bound() const { return Shared().bound_; }
void TParam::SetBound(bool bound) { Shared().bound_ = bound; }
const rtl::Variant& TParam::Value() const { return Shared().value_; }

void TParam::SetValue(const rtl::Variant& value) {
    TParam& p = Shared();
    p.bound_ = !value.IsEmpty();
    p.null_ = value.IsEmpty() || value.IsNull();
    if (p.dataType_ == ftUnknown) {
        switch (value.VarType()) {
            case rtl::varInteger:
                p.dataType_ = ftInteger;
                break;
            case rtl::varDouble:
                p.dataType_ = ftFloat;
                break;
            case rtl::varCurrency:
                p.dataType_ = ftBCD;
                break;
            case rtl::varDate:
                p.dataType_ = ftDateTime;
                break;
            case rtl::varString:
                p.dataType_ = ftString;
                break;
            case rtl::varBoolean:
                p.dataType_ = ftBoolean;
                break;
            default:
                break;
        }
    }
    p.value_ = value;
}

void TParam::Clear() {
    TParam& p = Shared();
    p.null_ = true;
    p.value_ = rtl::Variant();
}

void TParam::Store(TFieldType type, const rtl::Variant& value) {
    Shared().dataType_ = type;
    SetValue(value);
}

void TParam::SetAsString(const std::string& value) { Store(ftString, rtl::Variant(value)); }
void TParam::SetAsMemo(const std::string& value) { Store(ftMemo, rtl::Variant(value)); }
void TParam::SetAsBlob(const std::string& bytes) { Store(ftBlob, rtl::Variant(bytes)); }
void TParam::SetAsSmallInt(int16_t value) { Store(ftSmallint, rtl::Variant(value)); }
void TParam::SetAsWord(uint16_t value) { Store(ftWord, rtl::Variant(value)); }
void TParam::SetAsInteger(int32_t value) { Store(ftInteger, rtl::Variant(value)); }
void TParam::SetAsBoolean(bool value) { Store(ftBoolean, rtl::Variant(value)); }
void TParam::SetAsFloat(double value) { Store(ftFloat, rtl::Variant(value)); }
void TParam::SetAsCurrency(double value) { Store(ftCurrency, rtl::Variant(value)); }
void TParam::SetAsBCD(rtl::Currency value) { Store(ftBCD, rtl::Variant(value)); }
void TParam::SetAsDate(double value) { Store(ftDate, rtl::Variant::FromDateTime(value)); }
void TParam::SetAsTime(double value) { Store(ftTime, rtl::Variant::FromDateTime(value)); }
void TParam::SetAsDateTime(double value) { Store(ftDateTime, rtl::Variant::FromDateTime(value)); }

std::string TParam::AsString() const {
    if (IsNull()) return {};
    if (DataType() == ftBoolean) return Value().AsBoolean() ? "True" : "False";
    return Value().AsString();
}

int32_t TParam::AsInteger() const { return IsNull() ? 0 : Value().AsInteger(); }
double TParam::AsFloat() const { return IsNull() ? 0.0 : Value().AsDouble(); }
rtl::Currency TParam::AsCurrency() const {
    return IsNull() ? rtl::Currency{} : Value().AsCurrency();
}
double TParam::AsDateTime() const { return IsNull() ? 0.0 : Value().AsDateTime(); }
bool TParam::AsBoolean() const { return IsNull() ? false : Value().AsBoolean(); }

void TParam::AssignField(const TField& field) {
    TFieldType type = field.DataType();
    if (auto* s = dynamic_cast<const TStringField*>(&field); s && s->FixedChar())
        type = ftFixedChar;
    if (type == ftMemo && field.Size() >= 256) type = ftString;
    TParam& p = Shared();
    p.dataType_ = type;
    rtl::Variant value = field.VariantValue();
    p.value_ = value.IsNull() ? rtl::Variant() : value;
    p.null_ = value.IsNull() || value.IsEmpty();
    p.bound_ = true;
    name_ = field.FieldName();
}

void TParam::AssignParam(const TParam& other) {
    TParam& p = Shared();
    p.dataType_ = other.DataType();
    p.value_ = other.IsNull() ? rtl::Variant() : other.Value();
    p.null_ = other.IsNull();
    p.bound_ = other.Bound();
    name_ = other.Name();
    if (paramType_ == ptUnknown) paramType_ = other.ParamType();
}

namespace {

template <typename T>
std::string Bytes(T value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

std::string TParam::NativeData() const {
    TFieldType type = DataType();
    const rtl::Variant& v = Value();
    TDataSet* ds = owner_ ? owner_->Owner() : nullptr;
    switch (type) {
        case ftUnknown:
            DatabaseErrorFmt(msg::kUnknownFieldType, {name_}, ds);
        case ftString:
        case ftMemo:
        case ftFixedChar: {
            std::string text = AsString();
            return std::string(text.c_str(), strlen(text.c_str())) + '\0';
        }
        case ftSmallint:
            return Bytes(static_cast<int16_t>(AsInteger()));
        case ftWord:
            return Bytes(static_cast<uint16_t>(AsInteger()));
        case ftInteger:
        case ftAutoInc:
            return Bytes(AsInteger());
        case ftBoolean:
            return Bytes(static_cast<int16_t>(AsBoolean() ? 1 : 0));
        case ftFloat:
        case ftCurrency:
            return Bytes(AsFloat());
        case ftBCD:
            return Bytes(AsCurrency().Units);
        case ftDate: {
            double value = AsDateTime();
            return Bytes(static_cast<int32_t>(static_cast<int64_t>(value) + rtl::kDateDelta));
        }
        case ftTime: {
            double value = AsDateTime();
            double fraction = value - static_cast<int64_t>(value);
            if (fraction < 0) fraction = -fraction;
            return Bytes(static_cast<int32_t>(fraction * rtl::kMSecsPerDay + 0.5));
        }
        case ftDateTime: {
            double value = AsDateTime();
            double days = static_cast<double>(static_cast<int64_t>(value));
            double fraction = value - days;
            if (fraction < 0) fraction = -fraction;
            double ms =
                (days + rtl::kDateDelta) * rtl::kMSecsPerDay +
                static_cast<double>(static_cast<int64_t>(fraction * rtl::kMSecsPerDay + 0.5));
            return Bytes(ms);
        }
        case ftBytes:
        case ftVarBytes: {
            if (IsNull()) return {};
            std::vector<uint8_t> bytes = v.AsBytes();
            return std::string(bytes.begin(), bytes.end());
        }
        case ftBlob:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
            return AsString();
        case ftCursor:
        case ftADT:
        case ftArray:
        case ftReference:
        case ftDataSet:
            return {};
        default:
            DatabaseErrorFmt(msg::kUnsupportedFieldType, {name_}, ds);
    }
}

// ---- TParams
// --------------------------------------------------------------------------------------

TParam& TParams::Item(int index) const {
    if (index < 0 || index >= Count()) rtl::ListIndexError(index);
    return *items_[index];
}

TParam& TParams::Add(const std::string& name, TFieldType dataType, TParamType paramType) {
    items_.push_back(std::make_unique<TParam>(this, name, dataType, paramType));
    return *items_.back();
}

TParam* TParams::FindParam(const std::string& name) const {
    for (const auto& p : items_) {
        if (SameName(p->name_, name)) return p.get();
    }
    return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) const {
    TParam* p = FindParam(name);
    if (p == nullptr) DatabaseErrorFmt(msg::kParamNotFound, {name}, owner_);
    return *p;
}

void TParams::AssignValues(const TParams& source) {
    for (const auto& from : source.items_) {
        if (TParam* to = FindParam(from->Name())) to->AssignParam(*from);
    }
}

bool TParams::IsEqual(const TParams& other) const {
    if (Count() != other.Count()) return false;
    for (int i = 0; i < Count(); ++i) {
        const TParam& a = Item(i);
        const TParam& b = other.Item(i);
        if (!(a.Value() == b.Value()) || a.Name() != b.Name() || a.DataType() != b.DataType() ||
            a.IsNull() != b.IsNull() || a.Bound() != b.Bound() || a.ParamType() != b.ParamType()) {
            return false;
        }
    }
    return true;
}

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

bool IsNameDelimiter(char c) {
    return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';';
}

}  // namespace

std::string TParams::ParseStatementText(const std::string& text, bool create) {
    if (create) Clear();
    std::string out;
    out.reserve(text.size());
    bool literal = false;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (IsQuote(c)) {
            literal = !literal;
            out += c;
            ++i;
        } else if (c == ':' && !literal && i + 1 < text.size() && text[i + 1] == ':') {
            out += ':';
            i += 2;
        } else if (c == ':' && !literal) {
            // The name runs to the first delimiter outside a literal, so a quoted name may hold
            // blanks; its surrounding quotes are not part of it.
            size_t j = i + 1;
            while (j < text.size() && (literal || !IsNameDelimiter(text[j]))) {
                if (IsQuote(text[j])) literal = !literal;
                ++j;
            }
            std::string name = text.substr(i + 1, j - i - 1);
            if (name.size() >= 2 && IsQuote(name.front()) && name.back() == name.front()) {
                name = name.substr(1, name.size() - 2);
            }
            if (create) Add(name);
            out += '?';
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace db
