#include "dataset/indexdefs.h"

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/names.h"
#include "rtl/exceptions.h"

namespace db {

TIndexDef::TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options)
    : owner_(owner),
      name_(std::move(name)),
      fields_(std::move(fields)),
      options_(std::move(options)) {}

void TIndexDef::SetName(const std::string& name) {
    name_ = name;
    Changed();
}
void TIndexDef::SetFields(const std::string& fields) {
    fields_ = fields;
    Changed();
}
void TIndexDef::SetOptions(const TIndexOptions& options) {
    options_ = options;
    Changed();
}
void TIndexDef::SetExpression(const std::string& expression) {
    expression_ = expression;
    Changed();
}
void TIndexDef::SetDescFields(const std::string& fields) {
    descFields_ = fields;
    Changed();
}
void TIndexDef::SetCaseInsFields(const std::string& fields) {
    caseInsFields_ = fields;
    Changed();
}
void TIndexDef::SetSource(const std::string& source) {
    source_ = source;
    Changed();
}
void TIndexDef::SetGroupingLevel(int level) {
    groupingLevel_ = level;
    Changed();
}

void TIndexDef::Assign(const TIndexDef& other) {
    name_ = other.name_;
    fields_ = other.fields_;
    options_ = other.options_;
    expression_ = other.expression_;
    descFields_ = other.descFields_;
    caseInsFields_ = other.caseInsFields_;
    source_ = other.source_;
    groupingLevel_ = other.groupingLevel_;
    Changed();
}

void TIndexDef::Changed() {
    if (owner_) owner_->ItemChanged();
}

TIndexDef& TIndexDefs::Item(int index) const {
    if (index < 0 || index >= Count()) rtl::ListIndexError(index);
    return *items_[index];
}

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields,
                           const TIndexOptions& options) {
    if (IndexOf(name) >= 0) DatabaseErrorFmt(msg::kDuplicateIndexName, {name}, dataSet_);
    items_.push_back(std::make_unique<TIndexDef>(this, name, fields, options));
    ItemChanged();
    return *items_.back();
}

void TIndexDefs::Delete(int index) {
    Item(index);
    items_.erase(items_.begin() + index);
    ItemChanged();
}

void TIndexDefs::Clear() {
    items_.clear();
    ItemChanged();
}

int TIndexDefs::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
    }
    return -1;
}

TIndexDef& TIndexDefs::Find(const std::string& name) const {
    int index = IndexOf(name);
    if (index < 0) DatabaseErrorFmt(msg::kIndexNotFound, {name}, dataSet_);
    return *items_[index];
}

void TIndexDefs::Update() {
    if (updated_ || dataSet_ == nullptr) return;
    dataSet_->RefreshIndexDefs();
    updated_ = true;
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& fields, bool caseInsensitive) {
    Update();
    auto qualifies = [&](const TIndexDef& def) {
        const TIndexOptions& o = def.Options();
        if (o.count(ixDescending) || o.count(ixExpression)) return false;
        return !caseInsensitive || o.count(ixCaseInsensitive) != 0;
    };
    for (const auto& def : items_) {
        if (qualifies(*def) && SameName(def->Fields(), fields)) return def.get();
    }
    // Second pass: the list is a leading part of the index's fields, ending at a ";".
    for (const auto& def : items_) {
        const std::string& f = def->Fields();
        if (!qualifies(*def) || f.size() < fields.size()) continue;
        if (SameName(std::string_view(f).substr(0, fields.size()), fields) &&
            (f.size() == fields.size() || f[fields.size()] == ';')) {
            return def.get();
        }
    }
    return nullptr;
}

TIndexDef& TIndexDefs::FindIndexForFields(const std::string& fields, bool caseInsensitive) {
    TIndexDef* def = GetIndexForFields(fields, caseInsensitive);
    if (def == nullptr) DatabaseErrorFmt(msg::kNoIndexForFields, {fields}, dataSet_);
    return *def;
}

std::unique_ptr<TIndexDefs> TIndexDefs::SelectByOptions(const TIndexOptions& options) {
    Update();
    if (items_.empty()) return nullptr;
    auto copy = std::make_unique<TIndexDefs>(nullptr);
    for (const auto& def : items_) {
        copy->Add(def->Name(), def->Fields(), def->Options()).Assign(*def);
    }
    try {
        for (int i = copy->Count() - 1; i >= 0; --i) {
            const TIndexDef& def = copy->Item(i);
            bool shares = false;
            for (TIndexOption o : def.Options()) shares = shares || options.count(o) != 0;
            bool fieldsKnown = true;
            if (shares && dataSet_ != nullptr) {
                try {
                    dataSet_->FieldsNamed(nullptr, def.Fields());
                } catch (const EDatabaseError&) {
                    fieldsKnown = false;
                }
            }
            if (!shares || !fieldsKnown) copy->Delete(i);
        }
    } catch (const std::exception&) {
        copy->Clear();
    }
    if (copy->Count() == 0) return nullptr;
    return copy;
}

void TIndexDefs::ItemChanged() {
    updated_ = false;
    if (updateCount_ == 0 && dataSet_ != nullptr) dataSet_->DefinitionsChanged(this);
}

}  // namespace db
