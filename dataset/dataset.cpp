// TDataSet core: construction, states, opening and closing, field binding, default fields, the
// fetching steps of the record window, field data access and the base virtual operations.
// Navigation lives in dataset_navigation.cpp, the editing protocol in dataset_editing.cpp.
#include "dataset/dataset.h"

#include <cassert>
#include <cmath>
#include <cstring>

#include "dataset/datalink.h"
#include "dataset/db_errors.h"
#include "dataset/names.h"
#include "rtl/datetime.h"
#include "rtl/exceptions.h"

namespace db {

TDataSet::TDataSet(rtl::TComponent* owner)
    : rtl::TComponent(owner), fieldDefs_(this), fields_(this) {}

TDataSet::~TDataSet() {
    // The hooks are gone by now (the descendant's destructor ran), so a descendant closes itself
    // with CloseForDestruction(). What is left here is only what the base can release alone.
    assert(!Active() && "a descendant must call CloseForDestruction() in its destructor");
    while (!dataSources_.empty()) dataSources_.back()->SetDataSet(nullptr);
    // Fields outlive their dataset only detached: they must not point at a dead dataset.
    for (int i = 0; i < fields_.Count(); ++i) fields_.At(i).dataSet_ = nullptr;
    fields_.Clear();
}

void TDataSet::CloseForDestruction() {
    SetComponentState(ComponentState() | rtl::csDestroying);
    SetActive(false);
}

// ---- Errors
// ---------------------------------------------------------------------------------------

void TDataSet::Error(const std::string& message) const { DatabaseError(message, this); }

void TDataSet::ErrorFmt(std::string_view pattern,
                        std::initializer_list<rtl::FormatArg> args) const {
    DatabaseErrorFmt(pattern, args, this);
}

// ---- State
// ----------------------------------------------------------------------------------------

void TDataSet::SetState(DataSetState state) {
    if (state_ == state) return;
    state_ = state;
    modified_ = false;
    NotifyDataEvent(DataEventCode::StateChange);
}

DataSetState TDataSet::EnterTempState(DataSetState state) {
    DataSetState previous = state_;
    state_ = state;
    ++suppressCount_;
    modified_ = false;
    return previous;
}

void TDataSet::LeaveTempState(DataSetState previous) {
    state_ = previous;
    --suppressCount_;
    modified_ = false;
}

void TDataSet::CheckStateInvariants() const {
#ifndef NDEBUG
    if (state_ == DataSetState::Inactive) {
        assert(buffers_.empty());
        assert(windowSize_ == 0 && filledCount_ == 0);
        assert(!modified_);
        return;
    }
    assert(windowSize_ >= 1);
    assert(static_cast<int>(buffers_.size()) == windowSize_ + 1);
    assert(filledCount_ >= 0 && filledCount_ <= windowSize_);
    assert(activeIndex_ >= 0 && activeIndex_ < std::max(filledCount_, 1));
    assert(cursorIndex_ >= -1 && cursorIndex_ < std::max(filledCount_, 1));
    assert(filledCount_ > 0 || (atBOF_ && atEOF_));
    if (state_ == DataSetState::Browse) assert(!modified_);
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) assert(filledCount_ >= 1);
#endif
}

TRecordBuffer TDataSet::ActiveBuffer() const {
    if (buffers_.empty()) return nullptr;
    return buffers_[activeIndex_];
}

TRecordBuffer TDataSet::StateBuffer() const {
    switch (state_) {
        case DataSetState::Inactive:
        case DataSetState::Opening:
            return nullptr;
        case DataSetState::CalcFields:
        case DataSetState::InternalCalc:
            return calcTarget_;
        case DataSetState::Browse:
            return filledCount_ == 0 ? nullptr : ActiveBuffer();
        case DataSetState::Filter:
            return filterBuffer_ != nullptr ? filterBuffer_ : ActiveBuffer();
        default:
            return ActiveBuffer();
    }
}

// ---- Opening and closing
// --------------------------------------------------------------------------

void TDataSet::SetActive(bool active) {
    if (IsLoading()) {
        storedActive_ = active;
        return;
    }
    if (active == Active()) return;
    if (active) {
        FireBeforeOpen();
        try {
            OpenStep();
        } catch (...) {
            if (openHookDone_) {
                SetState(DataSetState::Browse);
                FireAfterOpen();
            } else {
                SetState(DataSetState::Inactive);
                TearDownCursor();
            }
            throw;
        }
        SetState(DataSetState::Browse);
        FireAfterOpen();
        CheckStateInvariants();
    } else {
        bool destroying = IsDestroying();
        if (!destroying) FireBeforeClose();
        SetState(DataSetState::Inactive);
        TearDownCursor();
        if (!destroying) FireAfterClose();
        CheckStateInvariants();
    }
}

void TDataSet::OpenStep() {
    defaultFields_ = fields_.Count() == 0;
    CursorOpen();
    openHookDone_ = true;
    int wanted = 1;
    for (TDataSource* source : dataSources_) wanted = std::max(wanted, source->BufferCountWanted());
    windowSize_ = wanted;
    try {
        buffers_.reserve(windowSize_ + 1);
        for (int i = 0; i <= windowSize_; ++i) buffers_.push_back(NewRecordBuffer());
    } catch (...) {
        // An open dataset without its buffers could not be used safely: treat a failed
        // allocation as a failed open.
        for (TRecordBuffer& buffer : buffers_) DisposeRecordBuffer(buffer);
        buffers_.clear();
        openHookDone_ = false;
        throw;
    }
    ResetBufferWindow();
    FillForward();
    FillBackward();
    atBOF_ = true;
}

void TDataSet::SetUpCursor(bool informationOnly) {
    if (informationOnly) {
        CursorInitFieldDefs();
    } else if (state_ != DataSetState::Opening) {
        OpenStep();
    }
}

void TDataSet::TearDownCursor() {
    openHookDone_ = false;
    ReleaseFieldBuffers();
    ResetBufferWindow();
    for (TRecordBuffer& buffer : buffers_) DisposeRecordBuffer(buffer);
    buffers_.clear();
    filterBuffer_ = nullptr;
    calcTarget_ = nullptr;
    CursorClose();
    windowSize_ = 0;
    defaultFields_ = false;
}

void TDataSet::RebuildRecordBuffers(const std::function<void()>& relayout) {
    if (buffers_.empty()) {
        relayout();
        return;
    }
    ReleaseFieldBuffers();
    filterBuffer_ = nullptr;
    calcTarget_ = nullptr;
    cursorIndex_ = -1;
    for (TRecordBuffer& buffer : buffers_) DisposeRecordBuffer(buffer);
    buffers_.clear();
    try {
        relayout();
        buffers_.reserve(windowSize_ + 1);
        for (int i = 0; i <= windowSize_; ++i) buffers_.push_back(NewRecordBuffer());
    } catch (...) {
        SetState(DataSetState::Inactive);
        TearDownCursor();
        throw;
    }
}

void TDataSet::LoadFieldDefs() {
    if (!CursorIsOpen()) {
        SetUpCursor(true);
        CursorClose();
    } else {
        CursorInitFieldDefs();
    }
}

void TDataSet::Loaded() {
    rtl::TComponent::Loaded();
    if (!storedActive_) return;
    try {
        SetActive(true);
    } catch (std::exception& e) {
        if (!IsDesigning()) throw;
        CursorHandleException(e);
    }
}

void TDataSet::RequireActive() const {
    if (state_ == DataSetState::Inactive) Error(std::string(msg::kDataSetClosed));
}

void TDataSet::RequireInactive() {
    if (!Active()) return;
    if (IsLoading() || IsDesigning()) {
        Close();
    } else {
        Error(std::string(msg::kDataSetOpen));
    }
}

// ---- Fields
// ---------------------------------------------------------------------------------------

TField* TDataSet::FieldNamedOrNull(const std::string& name) const { return fields_.Find(name); }

TField& TDataSet::FieldNamed(const std::string& name) const {
    TField* field = fields_.Find(name);
    if (field == nullptr) ErrorFmt(msg::kFieldNotFound, {name});
    return *field;
}

void TDataSet::FieldsNamed(std::vector<TField*>* list, const std::string& names) const {
    for (const std::string& name : SplitNames(names)) {
        TField& field = FieldNamed(name);
        if (list) list->push_back(&field);
    }
}

std::unique_ptr<TField> TDataSet::FieldClassFor(TFieldType type) {
    return CreateFieldForType(type);
}

std::string TDataSet::FullFieldName(const TField& field) const { return field.FieldName(); }

void TDataSet::CreateDefaultFields() {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
        const TFieldDef& def = fieldDefs_[i];
        if (def.DataType() == ftUnknown || IsObjectType(def.DataType())) continue;
        if (def.Attributes().count(faHiddenCol)) continue;
        std::unique_ptr<TField> field = FieldClassFor(def.DataType());
        if (!field) {
            throw EDatabaseError(rtl::Format(msg::kUnknownFieldType, {def.Name()}));
        }
        field->SetFieldName(def.Name());
        // Only the classes with a size take the definition's; a size reported for a fixed-width
        // type (an integer's 4 bytes) says nothing the class does not know.
        TFieldType t = def.DataType();
        if (t == ftString || t == ftFixedChar || t == ftWideString || t == ftGuid || t == ftBytes ||
            t == ftVarBytes || t == ftBCD || IsBlobType(t)) {
            field->SetSize(def.Size());
        }
        field->SetRequired(def.Required());
        field->SetReadOnly(def.Attributes().count(faReadonly) != 0);
        if (auto* s = dynamic_cast<TStringField*>(field.get())) {
            s->SetFixedChar(def.DataType() == ftFixedChar || def.Attributes().count(faFixed));
        }
        if (auto* b = dynamic_cast<TBCDField*>(field.get())) b->SetPrecision(def.Precision());
        if (def.InternalCalcField()) field->SetFieldKind(fkInternalCalc);
        field->SetDataSet(this);
        defaultFieldObjects_.push_back(std::move(field));
    }
}

void TDataSet::DestroyDefaultFields() {
    // Destroying a field takes it out of the list.
    while (!defaultFieldObjects_.empty()) defaultFieldObjects_.pop_back();
    fields_.Clear();
}

namespace {

// The groups within which a field and its definition may differ in type.
int TypeGroup(TFieldType type) {
    switch (type) {
        case ftString:
        case ftFixedChar:
        case ftGuid:
            return ftString;
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return ftInteger;
        case ftFloat:
        case ftCurrency:
            return ftFloat;
        case ftDate:
        case ftTime:
        case ftDateTime:
            return ftDateTime;
        case ftInterface:
        case ftIDispatch:
            return ftInterface;
        case ftUnknown:
        case ftCursor:
        case ftWideString:
            return ftUnknown;
        default:
            return IsBlobType(type) ? ftBlob : type;
    }
}

}  // namespace

void TDataSet::CheckFieldAgainstDef(const TField& field, const TFieldDef& def) {
    if (TypeGroup(field.DataType()) != TypeGroup(def.DataType())) {
        ErrorFmt(msg::kFieldTypeMismatch, {field.DisplayName(), FieldTypeName(field.DataType()),
                                           FieldTypeName(def.DataType())});
    }
    TFieldType t = field.DataType();
    if ((t == ftBCD || t == ftBytes || t == ftVarBytes || t == ftReference) &&
        field.Size() != def.Size()) {
        ErrorFmt(msg::kFieldSizeMismatch, {field.DisplayName(), field.Size(), def.Size()});
    }
}

void TDataSet::BindFields(bool binding) {
    calcAreaSize_ = 0;
    blobCount_ = 0;
    hasInternalCalcs_ = false;
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& field = fields_.At(i);
        if (!binding) {
            field.SetFieldNo(0);
            continue;
        }
        TFieldKind kind = field.FieldKind();
        if (kind == fkCalculated || kind == fkLookup) {
            TFieldType t = field.DataType();
            if (!((t >= ftString && t <= ftDateTime) || t == ftLargeint || t == ftVariant)) {
                ErrorFmt(msg::kInvalidCalcType, {field.DisplayName()});
            }
            field.SetFieldNo(-1);
            field.SetOffset(calcAreaSize_);
            calcAreaSize_ += field.DataSize() + 1;
        } else if (kind == fkAggregate) {
            field.SetFieldNo(-1);
        } else {
            TFieldDef* def = fieldDefs_.Find(FullFieldName(field));
            if (def == nullptr) ErrorFmt(msg::kFieldNotFound, {field.DisplayName()});
            if (kind == fkInternalCalc) hasInternalCalcs_ = true;
            field.SetFieldNo(def->FieldNo());
            CheckFieldAgainstDef(field, *def);
            if (field.IsBlob()) {
                field.SetSize(def->Size());
                field.SetOffset(blobCount_++);
            }
        }
    }
}

// ---- Fetching into the window
// ---------------------------------------------------------------------

void TDataSet::ResetBufferWindow() {
    filledCount_ = 0;
    activeIndex_ = 0;
    cursorIndex_ = -1;
    atBOF_ = true;
    atEOF_ = true;
}

void TDataSet::ActivateBufferWindow() {
    filledCount_ = 1;
    activeIndex_ = 0;
    cursorIndex_ = 0;
    atBOF_ = false;
    atEOF_ = false;
}

// Moves the buffer at `from` to `to`, shifting the ones between by one place.
void TDataSet::MoveBuffer(int from, int to) {
    if (from == to) return;
    TRecordBuffer moving = buffers_[from];
    if (from < to) {
        for (int i = from; i < to; ++i) buffers_[i] = buffers_[i + 1];
    } else {
        for (int i = from; i > to; --i) buffers_[i] = buffers_[i - 1];
    }
    buffers_[to] = moving;
}

void TDataSet::PositionCursorAt(int index) {
    if (index == cursorIndex_) return;
    TRecordBuffer buffer = buffers_[index];
    switch (ReadBookmarkFlag(buffer)) {
        case BookmarkFlag::Current:
        case BookmarkFlag::Inserted:
            CursorSetToRecord(buffer);
            break;
        case BookmarkFlag::Bof:
            CursorFirst();
            break;
        case BookmarkFlag::Eof:
            CursorLast();
            break;
    }
    cursorIndex_ = index;
}

void TDataSet::SyncCursor() {
    if (filledCount_ > 0) PositionCursorAt(activeIndex_);
}

bool TDataSet::FetchNext() {
    FetchMode mode = FetchMode::Next;
    if (filledCount_ > 0) {
        PositionCursorAt(filledCount_ - 1);
        if (state_ == DataSetState::Insert && cursorIndex_ == activeIndex_ &&
            ReadBookmarkFlag(ActiveBuffer()) == BookmarkFlag::Current) {
            mode = FetchMode::Current;
        }
    }
    // The buffer just past the filled part: a free one, or the spare one of a full window.
    if (FetchRecord(buffers_[filledCount_], mode, true) != FetchResult::OK) {
        ForgetCursorPosition();
        return false;
    }
    if (filledCount_ == 0) {
        ActivateBufferWindow();
    } else if (filledCount_ < windowSize_) {
        ++filledCount_;
    } else {
        MoveBuffer(0, filledCount_);
    }
    cursorIndex_ = filledCount_ - 1;
    return true;
}

bool TDataSet::FetchPrior() {
    if (filledCount_ > 0) PositionCursorAt(0);
    if (FetchRecord(buffers_[filledCount_], FetchMode::Prior, true) != FetchResult::OK) {
        ForgetCursorPosition();
        return false;
    }
    if (filledCount_ == 0) {
        ActivateBufferWindow();
    } else {
        MoveBuffer(filledCount_, 0);
        if (filledCount_ < windowSize_) {
            ++filledCount_;
            ++activeIndex_;
        }
    }
    cursorIndex_ = 0;
    return true;
}

int TDataSet::FillForward() {
    int arrived = 0;
    while (filledCount_ < windowSize_ && FetchNext()) ++arrived;
    return arrived;
}

int TDataSet::FillBackward() {
    int arrived = 0;
    while (filledCount_ < windowSize_ && FetchPrior()) ++arrived;
    return arrived;
}

// ---- Calculated fields
// ----------------------------------------------------------------------------

void TDataSet::ComputeCalcFields(TRecordBuffer buffer) {
    calcTarget_ = buffer;
    // Lookup fields would be filled here; no lookup source exists in this framework yet.
    if (state_ != DataSetState::InternalCalc) ClearCalcArea(buffer);
    FireOnCalcFields();
}

void TDataSet::ClearCalcArea(TRecordBuffer) {}

void TDataSet::FillCalcFields(TRecordBuffer buffer) {
    if (calcAreaSize_ == 0 && !hasInternalCalcs_) return;
    DataSetState saved = state_;
    state_ = DataSetState::CalcFields;
    try {
        ComputeCalcFields(buffer);
    } catch (...) {
        state_ = saved;
        throw;
    }
    state_ = saved;
}

// ---- Notifications
// --------------------------------------------------------------------------------

void TDataSet::NotifyDataEvent(DataEventCode event, const void* argument) {
    switch (event) {
        case DataEventCode::FieldChange: {
            auto* field = static_cast<TField*>(const_cast<void*>(argument));
            if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) {
                modified_ = true;
            }
            if (state_ != DataSetState::SetKey) {
                if (hasInternalCalcs_ && field->FieldKind() == fkData) {
                    RefreshInternalCalcFields(ActiveBuffer());
                } else if (calcAreaSize_ > 0 && autoCalcFields_ && field->FieldKind() == fkData) {
                    ComputeCalcFields(ActiveBuffer());
                }
                field->Change();
            }
            break;
        }
        case DataEventCode::PropertyChange:
            fieldDefs_.SetUpdated(false);
            break;
        default:
            // LayoutChange and FieldListChange would mark a flat list of nested fields stale;
            // this framework keeps none.
            break;
    }
    if (suppressCount_ > 0) {
        if (event == DataEventCode::LayoutChange) layoutChangePending_ = true;
        return;
    }
    for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) {
        source->DataEvent(event, argument);
    }
}

void TDataSet::DefinitionsChanged(void*) {}

// ---- Event firers
// ---------------------------------------------------------------------------------

void TDataSet::FireEvent(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
}

void TDataSet::FireAfterCancel() { FireEvent(AfterCancel_); }
void TDataSet::FireAfterClose() { FireEvent(AfterClose_); }
void TDataSet::FireAfterDelete() { FireEvent(AfterDelete_); }
void TDataSet::FireAfterEdit() { FireEvent(AfterEdit_); }
void TDataSet::FireAfterInsert() { FireEvent(AfterInsert_); }
void TDataSet::FireAfterOpen() { FireEvent(AfterOpen_); }
void TDataSet::FireAfterPost() { FireEvent(AfterPost_); }
void TDataSet::FireAfterRefresh() { FireEvent(AfterRefresh_); }
void TDataSet::FireAfterScroll() { FireEvent(AfterScroll_); }
void TDataSet::FireBeforeCancel() { FireEvent(BeforeCancel_); }
void TDataSet::FireBeforeClose() { FireEvent(BeforeClose_); }
void TDataSet::FireBeforeDelete() { FireEvent(BeforeDelete_); }
void TDataSet::FireBeforeEdit() { FireEvent(BeforeEdit_); }
void TDataSet::FireBeforeInsert() { FireEvent(BeforeInsert_); }
void TDataSet::FireBeforeOpen() { FireEvent(BeforeOpen_); }
void TDataSet::FireBeforePost() { FireEvent(BeforePost_); }
void TDataSet::FireBeforeRefresh() { FireEvent(BeforeRefresh_); }
void TDataSet::FireBeforeScroll() { FireEvent(BeforeScroll_); }
void TDataSet::FireOnCalcFields() { FireEvent(OnCalcFields_); }
void TDataSet::FireOnNewRecord() { FireEvent(OnNewRecord_); }

// ---- Inert defaults
// -------------------------------------------------------------------------------

void TDataSet::ReleaseBlob(TField&) {}
bool TDataSet::FindFilteredRecord(bool, bool) { return false; }
bool TDataSet::IsModifiable() { return true; }
bool TDataSet::FieldIsIndexed(const TField&) const { return false; }
int TDataSet::CountRecords() { return -1; }
int TDataSet::RecordNumber() { return -1; }
void TDataSet::SetRecordNumber(int) {}
bool TDataSet::IsBookmarkValid(const TBookmark&) { return false; }
int TDataSet::CompareBookmarkOrder(const TBookmark&, const TBookmark&) { return 0; }
bool TDataSet::CopyActiveRecord(TRecordBuffer) { return false; }
void TDataSet::DetailLinkFields(std::vector<TField*>&, std::vector<TField*>&) {}
int TDataSet::TranslateText(const std::string& source, std::string& destination, bool) {
    destination = source;
    return static_cast<int>(destination.size());
}

void TDataSet::ReleaseFieldBuffers() {
    for (int i = 0; i < fields_.Count(); ++i) fields_.At(i).ReleaseBuffers();
}

// ---- Field data
// -----------------------------------------------------------------------------------

bool TDataSet::ReadFieldData(const TField&, void*) { return false; }

bool TDataSet::ReadFieldDataByNumber(int fieldNumber, void* destination) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& field = fields_.At(i);
        if (field.FieldNo() == fieldNumber) return ReadFieldData(field, destination);
    }
    return false;
}

namespace {
// Room for the native data of every fixed-size class that converts (dates, times, BCD).
constexpr size_t kScratchBytes = 16;
}  // namespace

bool TDataSet::ReadFieldData(const TField& field, void* destination, bool nativeFormat) {
    if (nativeFormat || destination == nullptr) return ReadFieldData(field, destination);
    alignas(8) char scratch[kScratchBytes] = {};
    assert(field.DataSize() <= static_cast<int>(kScratchBytes));
    if (!ReadFieldData(field, scratch)) return false;
    ConvertFieldData(field, scratch, destination, false);
    return true;
}

void TDataSet::WriteFieldData(TField& field, const void* source, bool nativeFormat) {
    if (nativeFormat || source == nullptr) {
        WriteFieldData(field, source);
        return;
    }
    alignas(8) char scratch[kScratchBytes] = {};
    assert(field.DataSize() <= static_cast<int>(kScratchBytes));
    ConvertFieldData(field, source, scratch, true);
    WriteFieldData(field, scratch);
}

namespace {

int64_t PowerOfTen(int exponent) {
    int64_t p = 1;
    while (exponent-- > 0) p *= 10;
    return p;
}

}  // namespace

void TDataSet::ConvertFieldData(const TField& field, const void* source, void* destination,
                                bool toNative) {
    switch (field.DataType()) {
        case ftDate: {
            if (toNative) {
                double value;
                std::memcpy(&value, source, sizeof value);
                int32_t day = static_cast<int32_t>(std::trunc(value) + rtl::kDateDelta);
                std::memcpy(destination, &day, sizeof day);
            } else {
                int32_t day;
                std::memcpy(&day, source, sizeof day);
                double value = day > 0 ? static_cast<double>(day - rtl::kDateDelta) : 0.0;
                std::memcpy(destination, &value, sizeof value);
            }
            return;
        }
        case ftTime: {
            if (toNative) {
                double value;
                std::memcpy(&value, source, sizeof value);
                double fraction = std::fabs(value - std::trunc(value));
                int32_t ms = static_cast<int32_t>(std::llround(fraction * rtl::kMSecsPerDay));
                std::memcpy(destination, &ms, sizeof ms);
            } else {
                int32_t ms;
                std::memcpy(&ms, source, sizeof ms);
                double value = ms >= 0 && ms < rtl::kMSecsPerDay
                                   ? static_cast<double>(ms) / rtl::kMSecsPerDay
                                   : 0.0;
                std::memcpy(destination, &value, sizeof value);
            }
            return;
        }
        case ftDateTime: {
            if (toNative) {
                double value;
                std::memcpy(&value, source, sizeof value);
                double days = std::trunc(value);
                double fraction = std::fabs(value - days);
                double ms = (days + rtl::kDateDelta) * rtl::kMSecsPerDay +
                            std::round(fraction * rtl::kMSecsPerDay);
                std::memcpy(destination, &ms, sizeof ms);
            } else {
                double ms;
                std::memcpy(&ms, source, sizeof ms);
                double value = 0.0;
                // Day 1 is the first valid day; anything before it (or not a number) reads as 0.
                if (std::isfinite(ms) && ms >= rtl::kMSecsPerDay) {
                    double day = std::floor(ms / rtl::kMSecsPerDay);
                    double time = (ms - day * rtl::kMSecsPerDay) / rtl::kMSecsPerDay;
                    double days = day - rtl::kDateDelta;
                    value = days >= 0 ? days + time : days - time;
                }
                std::memcpy(destination, &value, sizeof value);
            }
            return;
        }
        case ftBCD: {
            // Value form: ten-thousandths. Native form: the amount scaled to Size decimals,
            // at most Precision digits in all.
            int decimals = std::clamp(field.Size(), 0, 4);
            int precision = 18;
            if (auto* bcd = dynamic_cast<const TBCDField*>(&field)) {
                if (bcd->Precision() > 0) precision = std::min(bcd->Precision(), 18);
            }
            int64_t limit = PowerOfTen(precision);
            int64_t units;
            std::memcpy(&units, source, sizeof units);
            int64_t result;
            if (toNative) {
                int64_t divisor = PowerOfTen(4 - decimals);
                result = units / divisor;
                int64_t rest = units % divisor;
                // Halves to even, as every rounding of money here.
                if (2 * std::llabs(rest) > divisor ||
                    (2 * std::llabs(rest) == divisor && (result % 2 != 0))) {
                    result += units < 0 ? -1 : 1;
                }
                if (result >= limit || result <= -limit) {
                    ErrorFmt(msg::kFieldOutOfRange, {field.DisplayName()});
                }
            } else {
                int64_t factor = PowerOfTen(4 - decimals);
                if (units >= limit || units <= -limit || std::llabs(units) > INT64_MAX / factor) {
                    ErrorFmt(msg::kFieldOutOfRange, {field.DisplayName()});
                }
                result = units * factor;
            }
            std::memcpy(destination, &result, sizeof result);
            return;
        }
        default:
            std::memcpy(destination, source, field.DataSize());
            return;
    }
}

// ---- Data links
// -----------------------------------------------------------------------------------

void TDataSet::AddDataSource(TDataSource* source) {
    dataSources_.push_back(source);
    UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
    std::erase(dataSources_, source);
    UpdateBufferCount();
}

void TDataSet::UpdateBufferCount() {
    if (!Active()) return;
    int wanted = 1;
    for (TDataSource* source : dataSources_) wanted = std::max(wanted, source->BufferCountWanted());
    if (wanted == windowSize_) return;
    // Keep the active record: drop to browse, resize, then refill around the cursor's record.
    EnsureBrowseMode();
    SyncCursor();
    ReleaseFieldBuffers();
    int oldActive = activeIndex_;
    filterBuffer_ = nullptr;
    while (static_cast<int>(buffers_.size()) > wanted + 1) {
        DisposeRecordBuffer(buffers_.back());
        buffers_.pop_back();
    }
    while (static_cast<int>(buffers_.size()) < wanted + 1) buffers_.push_back(NewRecordBuffer());
    windowSize_ = wanted;
    filledCount_ = std::min(filledCount_, windowSize_);
    activeIndex_ = std::min(oldActive, windowSize_ - 1);
    if (filledCount_ > 0) {
        // The cursor stands on the active record (SyncCursor above): refill around it.
        cursorIndex_ = -1;
        RefillBuffers({});
    }
    CheckStateInvariants();
}

}  // namespace db
