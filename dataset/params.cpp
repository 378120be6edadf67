#include "dataset/params.h"

#include <cstdint>
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

// ---- Stored form
// ------------------------------------------------------------------------------------
//
// "KPRM", a version byte (1), the count (u32), then per parameter: the name (u32 length, bytes),
// data type and parameter type (u8 each), null and bound flags (u8 each), the variant's kind (u8)
// and its value: nothing for empty and null, an i64 for booleans, integers and currency units, the
// 8 bytes of a double for doubles and dates, u32 length and bytes for strings and byte arrays.
// Numbers are little-endian.

namespace {

constexpr char kParamsMagic[4] = {'K', 'P', 'R', 'M'};
constexpr uint8_t kParamsVersion = 1;

void PutU8(std::string& out, uint8_t v) { out.push_back(static_cast<char>(v)); }
void PutU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutBytes(std::string& out, const std::string& bytes) {
    PutU32(out, static_cast<uint32_t>(bytes.size()));
    out += bytes;
}

[[noreturn]] void BadForm() { throw rtl::EReadError("Invalid stream format"); }

struct Reader {
    rtl::TStream& stream;
    uint8_t U8() {
        uint8_t v = 0;
        stream.ReadBuffer(&v, 1);
        return v;
    }
    uint32_t U32() {
        uint8_t b[4];
        stream.ReadBuffer(b, 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    uint64_t U64() {
        uint8_t b[8];
        stream.ReadBuffer(b, 8);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
        return v;
    }
    std::string Bytes() {
        uint32_t n = U32();
        // A length past the rest of the stream is a damaged form, not a huge allocation.
        if (n > stream.Size() - stream.Position()) BadForm();
        std::string s(n, '\0');
        if (n) stream.ReadBuffer(s.data(), n);
        return s;
    }
};

uint64_t DoubleBits(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return bits;
}

double BitsDouble(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

void PutVariant(std::string& out, const rtl::Variant& v) {
    PutU8(out, static_cast<uint8_t>(v.VarType()));
    switch (v.VarType()) {
        case rtl::varEmpty:
        case rtl::varNull:
            break;
        case rtl::varBoolean:
            PutU64(out, v.AsBoolean() ? 1 : 0);
            break;
        case rtl::varInteger:
        case rtl::varInt64:
            PutU64(out, static_cast<uint64_t>(v.AsInt64()));
            break;
        case rtl::varCurrency:
            PutU64(out, static_cast<uint64_t>(v.AsCurrency().Units));
            break;
        case rtl::varDouble:
            PutU64(out, DoubleBits(v.AsDouble()));
            break;
        case rtl::varDate:
            PutU64(out, DoubleBits(v.AsDateTime()));
            break;
        case rtl::varString:
        case rtl::varBytes:
            PutBytes(out, v.AsString());
            break;
    }
}

rtl::Variant GetVariant(Reader& in) {
    switch (in.U8()) {
        case rtl::varEmpty:
            return rtl::Variant();
        case rtl::varNull:
            return rtl::Variant::Null();
        case rtl::varBoolean:
            return rtl::Variant(in.U64() != 0);
        case rtl::varInteger: {
            int64_t n = static_cast<int64_t>(in.U64());
            if (n < INT32_MIN || n > INT32_MAX) BadForm();
            return rtl::Variant(static_cast<int32_t>(n));
        }
        case rtl::varInt64:
            return rtl::Variant(static_cast<int64_t>(in.U64()));
        case rtl::varCurrency: {
            rtl::Currency c{};
            c.Units = static_cast<int64_t>(in.U64());
            return rtl::Variant(c);
        }
        case rtl::varDouble:
            return rtl::Variant(BitsDouble(in.U64()));
        case rtl::varDate:
            return rtl::Variant::FromDateTime(BitsDouble(in.U64()));
        case rtl::varString:
            return rtl::Variant(in.Bytes());
        case rtl::varBytes: {
            std::string bytes = in.Bytes();
            return rtl::Variant(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        }
        default:
            BadForm();
    }
}

}  // namespace

void TParams::WriteData(rtl::TStream& stream) const {
    std::string out(kParamsMagic, 4);
    PutU8(out, kParamsVersion);
    PutU32(out, static_cast<uint32_t>(items_.size()));
    for (const auto& p : items_) {
        PutBytes(out, p->Name());
        PutU8(out, static_cast<uint8_t>(p->DataType()));
        PutU8(out, static_cast<uint8_t>(p->ParamType()));
        PutU8(out, p->IsNull() ? 1 : 0);
        PutU8(out, p->Bound() ? 1 : 0);
        PutVariant(out, p->Value());
    }
    stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TParams::ReadData(rtl::TStream& stream) {
    Reader in{stream};
    char magic[4];
    stream.ReadBuffer(magic, 4);
    if (std::memcmp(magic, kParamsMagic, 4) != 0 || in.U8() != kParamsVersion) BadForm();
    uint32_t count = in.U32();
    std::vector<std::unique_ptr<TParam>> items;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name = in.Bytes();
        uint8_t dataType = in.U8(), paramType = in.U8();
        if (dataType >= kFieldTypeCount || paramType > ptResult) BadForm();
        auto p = std::make_unique<TParam>(this, std::move(name), static_cast<TFieldType>(dataType),
                                          static_cast<TParamType>(paramType));
        p->null_ = in.U8() != 0;
        p->bound_ = in.U8() != 0;
        p->value_ = GetVariant(in);
        items.push_back(std::move(p));
    }
    items_ = std::move(items);
}

}  // namespace db
