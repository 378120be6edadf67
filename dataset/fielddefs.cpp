#include "dataset/fielddefs.h"

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/names.h"
#include "rtl/exceptions.h"

namespace db {

TFieldDef::TFieldDef(TFieldDefs* owner, std::string name, TFieldType dataType, int size,
                     bool required)
    : owner_(owner), name_(std::move(name)), dataType_(dataType), size_(size) {
    if (required) attributes_.insert(faRequired);
}

void TFieldDef::SetName(const std::string& name) {
    name_ = name;
    Changed();
}
void TFieldDef::SetDataType(TFieldType type) {
    dataType_ = type;
    Changed();
}
void TFieldDef::SetSize(int size) {
    size_ = size;
    Changed();
}
void TFieldDef::SetPrecision(int precision) {
    precision_ = precision;
    Changed();
}
void TFieldDef::SetAttributes(const TFieldAttributes& attributes) {
    attributes_ = attributes;
    Changed();
}
void TFieldDef::SetInternalCalcField(bool on) {
    internalCalc_ = on;
    Changed();
}

int TFieldDef::FieldNo() const { return owner_ ? owner_->IndexOf(this) + 1 : 0; }

void TFieldDef::Changed() {
    if (owner_) owner_->ItemChanged();
}

TFieldDef& TFieldDefs::Item(int index) const {
    if (index < 0 || index >= Count()) rtl::ListIndexError(index);
    return *items_[index];
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType dataType, int size, bool required) {
    if (name.empty()) DatabaseError(std::string(msg::kFieldNameMissing), dataSet_);
    items_.push_back(std::make_unique<TFieldDef>(this, name, dataType, size, required));
    ItemChanged();
    return *items_.back();
}

void TFieldDefs::Clear() {
    items_.clear();
    ItemChanged();
}

TFieldDef* TFieldDefs::Find(const std::string& name) const {
    for (const auto& def : items_) {
        if (SameName(def->Name(), name)) return def.get();
    }
    return nullptr;
}

int TFieldDefs::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
    }
    return -1;
}

int TFieldDefs::IndexOf(const TFieldDef* def) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == def) return static_cast<int>(i);
    }
    return -1;
}

void TFieldDefs::ItemChanged() {
    updated_ = false;
    if (updateCount_ == 0 && dataSet_ != nullptr) dataSet_->DefinitionsChanged(this);
}

}  // namespace db
