// TField base: binding to the dataset, the data exchange protocol, validation, the access errors
// of unsupported readers and writers; and the dataset's field list.
#include <cstring>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "dataset/names.h"
#include "rtl/exceptions.h"

namespace db {

// ---- TFields
// --------------------------------------------------------------------------------------

TField& TFields::At(int index) const {
    if (index < 0 || index >= Count()) rtl::ListIndexError(index);
    return *items_[index];
}

TField* TFields::Find(const std::string& name) const {
    if (items_.empty()) return nullptr;
    if (byName_.empty()) {
        for (TField* field : items_) {
            byName_.emplace(field->FieldName(), field);
            byFolded_.emplace(FoldName(field->FieldName()), field);
        }
    }
    if (auto found = byName_.find(name); found != byName_.end()) return found->second;
    auto found = byFolded_.find(FoldName(name));
    return found == byFolded_.end() ? nullptr : found->second;
}

int TFields::IndexOf(const TField* field) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] == field) return static_cast<int>(i);
    }
    return -1;
}

void TFields::Add(TField* field) {
    if (field->FieldName().empty()) DatabaseError(std::string(msg::kFieldNameMissing), dataSet_);
    if (Find(field->FieldName()) != nullptr) {
        DatabaseErrorFmt(msg::kDuplicateFieldName, {field->FieldName()}, dataSet_);
    }
    items_.push_back(field);
    NamesChanged();
    if (dataSet_) dataSet_->NotifyDataEvent(DataEventCode::FieldListChange);
}

void TFields::Remove(TField* field) {
    std::erase(items_, field);
    NamesChanged();
    if (dataSet_) dataSet_->NotifyDataEvent(DataEventCode::FieldListChange);
}

void TFields::Move(int from, int to) {
    At(from);
    At(to);
    TField* field = items_[from];
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, field);
    NamesChanged();
}

// ---- TField
// ---------------------------------------------------------------------------------------

TField::TField(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TField::~TField() {
    if (dataSet_) dataSet_->Fields().Remove(this);
}

void TField::SetDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_) return;
    if (dataSet_) dataSet_->RequireInactive();
    if (dataSet) dataSet->RequireInactive();
    if (dataSet) dataSet->Fields().Add(this);
    if (dataSet_) dataSet_->Fields().Remove(this);
    dataSet_ = dataSet;
}

void TField::SetFieldKind(TFieldKind kind) { fieldKind_ = kind; }

void TField::SetFieldName(const std::string& name) {
    if (dataSet_ && !SameName(name, fieldName_)) {
        TField* other = dataSet_->Fields().Find(name);
        if (other != nullptr && other != this) {
            DatabaseErrorFmt(msg::kDuplicateFieldName, {name}, dataSet_);
        }
    }
    fieldName_ = name;
    if (dataSet_) dataSet_->Fields().NamesChanged();
}

const std::string& TField::DisplayName() const {
    return displayLabel_.empty() ? fieldName_ : displayLabel_;
}

int TField::Index() const { return dataSet_ ? dataSet_->Fields().IndexOf(this) : -1; }

void TField::SetIndex(int index) {
    if (dataSet_) dataSet_->Fields().Move(Index(), index);
}

void TField::SetSize(int size) {
    CheckTypeSize(size);
    size_ = size;
}

void TField::CheckTypeSize(int size) const {
    if (size != 0) throw EDatabaseError(std::string(msg::kInvalidFieldSize));
}

bool TField::CanModify() const {
    if (readOnly_ || fieldKind_ == fkLookup || fieldKind_ == fkCalculated) return false;
    if (!dataSet_) return true;
    return dataSet_->IsModifiable();
}

TDataSet& TField::RequireDataSet() const {
    if (dataSet_ == nullptr) {
        throw EDatabaseError(rtl::Format(msg::kFieldNoDataSet, {DisplayName()}));
    }
    return *dataSet_;
}

void TField::AccessError(const char* typeWord) const {
    throw EDatabaseError(rtl::Format(msg::kFieldAccessError, {DisplayName(), typeWord}));
}

void TField::RangeError(double value, double minimum, double maximum) const {
    throw EDatabaseError(
        rtl::Format(msg::kFieldRangeError, {value, DisplayName(), minimum, maximum}));
}

void TField::ValueError() const {
    throw EDatabaseError(rtl::Format(msg::kFieldValueError, {DisplayName()}));
}

bool TField::ReadData(void* destination, bool nativeFormat) const {
    if (validating_) {
        // During validation the value being written is the field's value.
        if (valueBuffer_ == nullptr) return false;
        if (destination == nullptr) return true;
        if (nativeFormat && !UsesValueForm()) {
            std::memcpy(destination, valueBuffer_, DataSize());
        } else {
            RequireDataSet().ConvertFieldData(*this, valueBuffer_, destination, false);
        }
        return true;
    }
    return RequireDataSet().ReadFieldData(*this, destination, nativeFormat && !UsesValueForm());
}

void TField::WriteData(const void* source, bool nativeFormat) {
    RequireDataSet().WriteFieldData(*this, source, nativeFormat && !UsesValueForm());
}

void TField::Validate(const void* data) {
    if (!onValidate_) return;
    // A nested write (OnValidate writing this field) keeps the outer value readable.
    bool outer = validating_;
    const void* saved = valueBuffer_;
    if (!outer) valueBuffer_ = data;
    validating_ = true;
    try {
        onValidate_(*this);
    } catch (...) {
        validating_ = outer;
        valueBuffer_ = saved;
        throw;
    }
    validating_ = outer;
    valueBuffer_ = saved;
}

void TField::Change() {
    if (onChange_) onChange_(*this);
}

bool TField::IsBlank() const { return !ReadData(nullptr); }

void TField::Clear() { WriteData(nullptr); }

// The base class supports no reader or writer; each class opens the ones of its table.
bool TField::BooleanValue() const { AccessError("Boolean"); }
rtl::Currency TField::CurrencyValue() const { AccessError("Float"); }
double TField::DateTimeValue() const { AccessError("DateTime"); }
double TField::FloatValue() const { AccessError("Float"); }
int32_t TField::IntegerValue() const { AccessError("Integer"); }
std::string TField::StringValue() const { AccessError("String"); }
void TField::SetBooleanValue(bool) { AccessError("Boolean"); }
void TField::SetCurrencyValue(rtl::Currency) { AccessError("Float"); }
void TField::SetDateTimeValue(double) { AccessError("DateTime"); }
void TField::SetFloatValue(double) { AccessError("Float"); }
void TField::SetIntegerValue(int32_t) { AccessError("Integer"); }
void TField::SetStringValue(const std::string&) { AccessError("String"); }

std::string TField::GetText(bool) const { return StringValue(); }

std::string TField::TextFor(bool displayText) const {
    std::string text;
    if (onGetText_) {
        onGetText_(const_cast<TField&>(*this), text, displayText);
        return text;
    }
    return GetText(displayText);
}

void TField::SetEditText(const std::string& text) {
    if (onSetText_) {
        onSetText_(*this, text);
    } else {
        SetStringValue(text);
    }
}

// ---- Field classes per type
// -----------------------------------------------------------------------

std::unique_ptr<TField> CreateFieldForType(TFieldType type) {
    std::unique_ptr<TField> field;
    switch (type) {
        case ftString:
        case ftFixedChar:
            field = std::make_unique<TStringField>();
            break;
        case ftWideString:
            field = std::make_unique<TWideStringField>();
            break;
        case ftGuid:
            field = std::make_unique<TGuidField>();
            break;
        case ftSmallint:
            field = std::make_unique<TSmallintField>();
            break;
        case ftInteger:
            field = std::make_unique<TIntegerField>();
            break;
        case ftWord:
            field = std::make_unique<TWordField>();
            break;
        case ftAutoInc:
            field = std::make_unique<TAutoIncField>();
            break;
        case ftLargeint:
            field = std::make_unique<TLargeintField>();
            break;
        case ftFloat:
            field = std::make_unique<TFloatField>();
            break;
        case ftCurrency:
            field = std::make_unique<TCurrencyField>();
            break;
        case ftBCD:
            field = std::make_unique<TBCDField>();
            break;
        case ftBoolean:
            field = std::make_unique<TBooleanField>();
            break;
        case ftDate:
            field = std::make_unique<TDateField>();
            break;
        case ftTime:
            field = std::make_unique<TTimeField>();
            break;
        case ftDateTime:
            field = std::make_unique<TDateTimeField>();
            break;
        case ftBytes:
            field = std::make_unique<TBytesField>();
            break;
        case ftVarBytes:
            field = std::make_unique<TVarBytesField>();
            break;
        case ftBlob:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftOraBlob:
            field = std::make_unique<TBlobField>();
            break;
        case ftMemo:
        case ftOraClob:
            field = std::make_unique<TMemoField>();
            break;
        case ftGraphic:
            field = std::make_unique<TGraphicField>();
            break;
        default:
            return nullptr;
    }
    field->SetFieldType(type);
    return field;
}

}  // namespace db
