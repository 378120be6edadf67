// Index orders, index definitions, index files, key editing, key searches, key ranges and string
// scopes of TKdsDataSet.
//
// The order: OrderHandle is the active index (or TableHandle itself for the natural order),
// chosen by IndexName, by IndexFieldNames or by the dictionary's default index. Every move, seek,
// scope and range uses it. Changing it rebuilds the record buffers, since a bookmark's length
// depends on the order.
//
// Keys: six key buffers (search key, range start and end, the applied range start and end, and a
// backup) each hold a record image in the engine's layout plus one mark per field telling whether
// the field was assigned. A raw key is built from the assigned fields that are segments of the
// active index, in segment order. A key range is a top and a bottom scope on the active index; a
// string scope (ScopeBegin, ScopeEnd, Scoped) uses the same engine scopes with text keys, so the
// two exclude each other.
#include <cstring>
#include <vector>

#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "dataset/names.h"
#include "kds/kdsdata.h"
#include "kds/kdsdata_limits.h"
#include "kds/kdsengine.h"
#include "kds/kdsindex.h"
#include "rtl/format.h"
#include "rtl/paths.h"
#include "rtl/textutils.h"

namespace kds {

namespace {

// Bytes of a raw key the engine builds for a seek and for a scope, and the longest scope text.
constexpr UNSIGNED16 kSeekKeyCapacity = 256;
constexpr UNSIGNED16 kScopeKeyCapacity = 257;
constexpr size_t kMaxScopeText = 257;
// Key buffer header: the assigned-value count and the buffer's size; the mark of a field that
// holds no key value.
constexpr int kKeyCountOffset = 4;
constexpr int kKeySizeOffset = 8;
constexpr uint16_t kUnassigned = 0xFFFF;
// How the active order was chosen (IndexSelection).
constexpr uint8_t kOrderNatural = 0;
constexpr uint8_t kOrderByName = 1;
constexpr uint8_t kOrderByFields = 2;
constexpr uint8_t kOrderDictionaryDefault = 3;
// The IndexName that stands for the dictionary's default index of the table.
constexpr char kDictionaryDefaultIndex[] = "KDS_DEFAULT";

std::string TextOf(const UNSIGNED8* buffer, UNSIGNED16 length) {
    std::string text(reinterpret_cast<const char*>(buffer), length);
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

}  // namespace

// ---- Typed key values -----------------------------------------------------------------------

void TTypedValue::AssignTo(db::TField& field) const {
    switch (kind_) {
        case Kind::Integer:
            field.SetIntegerValue(static_cast<int32_t>(integer_));
            return;
        case Kind::Boolean:
            field.SetBooleanValue(integer_ != 0);
            return;
        case Kind::Char:
        case Kind::String:
            field.SetStringValue(text_);
            return;
        case Kind::Float:
            field.SetFloatValue(float_);
            return;
        case Kind::Currency:
            field.SetCurrencyValue(currency_);
            return;
        case Kind::Variant:
            if (!variant_.IsEmpty()) field.SetVariantValue(variant_);
            return;
        case Kind::Object:
            if (field_ == nullptr) {
                field.Clear();
            } else {
                field.SetVariantValue(field_->VariantValue());
            }
            return;
        case Kind::Pointer:
            return;
        case Kind::Int64:
            break;
    }
    throw db::EDatabaseError(rtl::Format(db::msg::kFieldValueError, {field.DisplayName()}));
}

// ---- Index files ----------------------------------------------------------------------------

int TKdsIndexFiles::Add(const std::string& value) {
    if (dataSet_->Active()) dataSet_->AddIndexFile(value);
    dataSet_->IndexDefs().SetUpdated(false);
    return rtl::TStringList::Add(value);
}

void TKdsIndexFiles::Insert(int index, const std::string& value) {
    rtl::TStringList::Insert(index, value);
    if (dataSet_->Active()) dataSet_->AddIndexFile(value);
    dataSet_->IndexDefs().SetUpdated(false);
}

void TKdsIndexFiles::Delete(int index) {
    if (dataSet_->Active()) dataSet_->DropIndexFile(Get(index));
    dataSet_->IndexDefs().SetUpdated(false);
    rtl::TStringList::Delete(index);
}

void TKdsIndexFiles::Clear() {
    if (dataSet_->Active()) {
        for (int i = 0; i < Count(); ++i) dataSet_->DropIndexFile(Get(i));
    }
    rtl::TStringList::Clear();
}

void TKdsDataSet::AddIndexFile(const std::string& name) {
    if (!Active()) KdsDatabaseError(this, msg::kTableMustBeActive);
    // On this platform '/' separates folders as well as '\': either makes the name a path.
    bool isPath = name.find('\\') != std::string::npos || name.find('/') != std::string::npos;
    std::string path = isPath ? name : DatabasePath() + "\\" + name;
    KDSHANDLE handles[kMaxIndexes];
    UNSIGNED16 count = kMaxIndexes;
    CheckKdsStatus(this, KdsOpenIndex(TableHandle(), KceText(path), handles, &count));
    IndexDefs().SetUpdated(false);
}

void TKdsDataSet::DropIndexFile(const std::string& name) {
    if (!Active()) KdsDatabaseError(this, msg::kTableMustBeActive);
    std::string file = rtl::ExtractFileName(name);
    // A bare name without extension is compared with the engine's name without extension.
    UNSIGNED16 option =
        file.find('.') == std::string::npos ? KCE_INDEX_FILE_BASE_NAME : KCE_INDEX_FILE_NAME;
    auto fileOf = [&](KDSHANDLE index) {
        UNSIGNED8 buffer[kIndexNameCapacity + 1] = {};
        UNSIGNED16 length = kIndexNameCapacity;
        CheckKdsStatus(this, KdsGetIndexFilename(index, option, buffer, &length));
        return TextOf(buffer, length);
    };
    bool activeInFile = HasActiveIndex() && rtl::SameText(fileOf(OrderHandle()), file);
    KDSHANDLE handles[kMaxIndexes];
    UNSIGNED16 count = kMaxIndexes;
    CheckKdsStatus(this, KdsGetAllIndexes(TableHandle(), handles, &count));
    for (UNSIGNED16 i = 0; i < count; ++i) {
        if (!rtl::SameText(fileOf(handles[i]), file)) continue;
        CheckKdsStatus(this, KdsCloseIndex(handles[i]));
        if (activeInFile) SetIndexName("");
        return;
    }
}

// ---- Choosing the order ---------------------------------------------------------------------

bool TKdsDataSet::HasActiveIndex() const {
    return OrderHandle() != kNoKdsHandle && OrderHandle() != TableHandle();
}

void TKdsDataSet::SetIndexFieldNames(const std::string& value) {
    if (Scoped()) SetScoped(false);
    std::string fields = rtl::Trim(value);
    std::string oldFields = indexFieldNames_;
    uint8_t oldSelection = indexSelection_;
    indexFieldNames_ = fields;
    indexName_.clear();
    indexSelection_ = fields.empty() ? kOrderNatural : kOrderByFields;
    if (!CursorIsOpen()) return;
    try {
        ActivateIndexOrder();
    } catch (...) {
        indexFieldNames_ = oldFields;
        indexSelection_ = oldSelection;
        throw;
    }
    if (Active()) RefillBuffers({});
}

void TKdsDataSet::SetIndexName(const std::string& value) {
    std::string oldName = indexName_;
    uint8_t oldSelection = indexSelection_;
    indexName_ = value;
    indexFieldNames_.clear();
    indexSelection_ = value.empty() ? kOrderNatural : kOrderByName;
    if (rtl::UpperCase(value) == kDictionaryDefaultIndex) indexSelection_ = kOrderDictionaryDefault;
    if (!CursorIsOpen()) return;
    try {
        if (Scoped()) {
            SetScoped(false);
        } else {
            ResetKeyRange();
        }
        ActivateIndexOrder();
    } catch (...) {
        indexName_ = oldName;
        indexSelection_ = oldSelection;
        throw;
    }
    if (!Active()) return;
    RefillBuffers({});
    // The range of the master's key is made again on the new order.
    if (!MasterFields().empty() && FollowsActiveMaster()) FollowMaster();
}

void TKdsDataSet::ActivateIndexOrder() {
    SyncCursor();
    KDSHANDLE order = TableHandle();
    switch (indexSelection_) {
        case kOrderByName:
            CheckKdsStatus(this, KdsGetIndexHandle(TableHandle(), KceText(indexName_), &order));
            break;
        case kOrderByFields:
            order = IndexHandleForFields(indexFieldNames_);
            if (order == 0) {
                KdsDatabaseError(this, std::string(msg::kInvalidIndexFieldName) + indexFieldNames_);
            }
            break;
        case kOrderDictionaryDefault:
            CheckKdsStatus(this,
                           KdsGetIndexHandle(TableHandle(), KceText(DefaultIndexName()), &order));
            break;
        default:
            break;
    }
    SetOrderHandle(order);
    // A bookmark's length depends on the order: the buffers are made again for the new layout.
    RebuildRecordBuffers([this] { ComputeRecordLayout(); });
}

// The dictionary's default index orders the tables of a dictionary connection whose IndexName is
// empty or "KDS_DEFAULT". The dictionary is asked only while the connection is connected; the
// connection asks again for every attached table once it connects. A table the dictionary does
// not hold (a free table beside it) and any other refusal leave everything as it is.
void TKdsDataSet::ApplyDictionaryDefaultIndex() {
    TKdsConnection* connection = KdsConnection();
    if (connection == nullptr || !connection->IsDictionaryConnection()) return;
    if (!connection->IsConnected()) return;
    constexpr UNSIGNED16 kCapacity = 200;
    UNSIGNED8 name[kCapacity + 1] = {};
    UNSIGNED16 length = kCapacity;
    KCESTATUS status = KdsDDGetTableProperty(connection->ConnectionHandle(), KceText(tableName_),
                                             KCE_DD_TABLE_DEFAULT_INDEX, name, &length);
    if (status == KCE_SUCCESS) {
        defaultIndexName_.assign(reinterpret_cast<const char*>(name), length);
        if (indexName_ == kDictionaryDefaultIndex || (indexName_.empty() && !IsLoading())) {
            indexSelection_ = kOrderDictionaryDefault;
            indexName_ = kDictionaryDefaultIndex;
        }
    } else if (status == KCE_NO_PROPERTY) {
        if (indexName_ == kDictionaryDefaultIndex) SetIndexName("");
    }
}

KDSHANDLE TKdsDataSet::IndexHandleForFields(const std::string& fields) {
    db::TIndexDef* def = IndexDefs().GetIndexForFields(fields, false);
    if (def == nullptr) return 0;
    KDSHANDLE index = 0;
    CheckKdsStatus(this, KdsGetIndexHandle(TableHandle(), KceText(def->Name()), &index));
    return index;
}

void TKdsDataSet::RefreshIndexDefs() {
    db::TIndexDefs& defs = IndexDefs();
    if (defs.Updated()) return;
    KDSHANDLE table = TableHandle();
    bool ownCursor = table == kNoKdsHandle;
    if (ownCursor) table = OpenTableCursor();
    try {
        defs.BeginUpdate();
        defs.Clear();
        KDSHANDLE handles[kMaxIndexes];
        UNSIGNED16 count = kMaxIndexes;
        CheckKdsStatus(this, KdsGetAllIndexes(table, handles, &count));
        for (UNSIGNED16 i = 0; i < count; ++i) {
            UNSIGNED8 name[kIndexNameCapacity + 1] = {};
            UNSIGNED16 nameLength = kIndexNameCapacity;
            CheckKdsStatus(this, KdsGetIndexName(handles[i], name, &nameLength));
            UNSIGNED16 segments = 0;
            CheckKdsStatus(this, KdsGetNumSegments(handles[i], &segments));
            std::string fields;
            for (UNSIGNED16 s = 0; s < segments; ++s) {
                UNSIGNED8 segment[kSegmentNameCapacity + 1] = {};
                UNSIGNED16 segmentLength = kSegmentNameCapacity;
                CheckKdsStatus(this,
                               KdsGetSegmentFieldname(handles[i], s, segment, &segmentLength));
                if (s > 0) fields += ';';
                fields += TextOf(segment, segmentLength);
            }
            db::TIndexOptions options;
            UNSIGNED16 flag = 0;
            CheckKdsStatus(this, KdsIsIndexDescending(handles[i], &flag));
            if (flag == 1) options.insert(db::ixDescending);
            CheckKdsStatus(this, KdsIsIndexUnique(handles[i], &flag));
            if (flag == 1) options.insert(db::ixUnique);
            defs.Add(TextOf(name, nameLength), rtl::UpperCase(fields), options);
        }
        defs.EndUpdate();
    } catch (...) {
        defs.EndUpdate();
        if (ownCursor) KdsCloseTable(table);
        throw;
    }
    if (ownCursor) KdsCloseTable(table);
    defs.SetUpdated(true);
}

std::string TKdsDataSet::CurrentIndexFields() {
    switch (indexSelection_) {
        case kOrderByFields:
            return indexFieldNames_;
        case kOrderByName: {
            int at = IndexDefs().IndexOf(indexName_);
            return at < 0 ? std::string() : IndexDefs().Item(at).Fields();
        }
        default:
            return {};
    }
}

// ---- Segments -------------------------------------------------------------------------------

std::string TKdsDataSet::SegmentFieldName(int position, UNSIGNED16 capacity) const {
    std::vector<UNSIGNED8> name(capacity + 1u, 0);
    UNSIGNED16 length = capacity;
    CheckKdsStatus(this, KdsGetSegmentFieldname(OrderHandle(), static_cast<UNSIGNED16>(position),
                                                name.data(), &length));
    return TextOf(name.data(), length);
}

int TKdsDataSet::GetSegmentFieldNum(int position) const {
    if (!HasActiveIndex()) KdsDatabaseError(this, msg::kNoActiveIndexSegment);
    int at = FieldDescriptions().PositionOfName(SegmentFieldName(position, kSegmentNameCapacity));
    return at < 0 ? 0 : FieldDescriptions().Item(at).FieldNum;
}

int TKdsDataSet::SegmentCount() const {
    if (!HasActiveIndex()) return 0;
    UNSIGNED16 count = 0;
    CheckKdsStatus(this, KdsGetNumSegments(OrderHandle(), &count));
    return count;
}

db::TField& TKdsDataSet::SegmentField(int position) const {
    return FieldNamed(SegmentFieldName(position, kSegmentNameCapacity));
}

bool TKdsDataSet::FieldIsIndexed(const db::TField& field) const {
    int segments = SegmentCount();
    if (State() == db::DataSetState::SetKey && segments == 0) return true;
    if (field.FieldNo() <= 0) return false;
    for (int i = 0; i < segments; ++i) {
        if (GetSegmentFieldNum(i) == field.FieldNo()) return true;
    }
    return false;
}

bool TKdsDataSet::IsIndexField(const db::TField& field) const { return FieldIsIndexed(field); }

// ---- Key buffers ----------------------------------------------------------------------------

bool TKdsDataSet::KeyModified(int kind) { return KeyBuffer(kind)[0] != 0; }

void TKdsDataSet::SetKeyModified(int kind, bool modified) { KeyBuffer(kind)[0] = modified ? 1 : 0; }

void TKdsDataSet::CopyKeyBuffer(int from, int to) {
    uint32_t size = 0;
    std::memcpy(&size, KeyBuffer(from) + kKeySizeOffset, sizeof size);
    std::memcpy(KeyBuffer(to), KeyBuffer(from), size);
}

bool TKdsDataSet::SameKey(int a, int b) {
    return std::memcmp(KeyBuffer(a), KeyBuffer(b), kKeyRecordOffset + RecordLength()) == 0;
}

// ---- Key editing ----------------------------------------------------------------------------

void TKdsDataSet::BeginKeyEdit(int kind, bool clear) {
    if (!HasActiveIndex()) KdsDatabaseError(this, msg::kIndexNotSet);
    EnsureBrowseMode();
    SetCurrentKeyBuffer(kind);
    CopyKeyBuffer(kind, kbBackup);
    if (clear) ClearKeyBuffer(kind);
    SetState(db::DataSetState::SetKey);
    SetKeyModified(kind, true);
    SetModified(true);
    NotifyDataEvent(db::DataEventCode::DataSetChange);
}

void TKdsDataSet::BeginRangeStart() { BeginKeyEdit(kbRangeStart, true); }

void TKdsDataSet::BeginRangeEnd() { BeginKeyEdit(kbRangeEnd, true); }

void TKdsDataSet::EndKeyEdit(bool keep) {
    NotifyDataEvent(db::DataEventCode::BrowseModeCheck);
    if (keep) {
        SetKeyModified(CurrentKeyBuffer(), Modified());
    } else {
        CopyKeyBuffer(kbBackup, CurrentKeyBuffer());
    }
    SetState(db::DataSetState::Browse);
    NotifyDataEvent(db::DataEventCode::DataSetChange);
}

void TKdsDataSet::Post() {
    bool outer = postingNewRecord_;
    postingNewRecord_ = State() == db::DataSetState::Insert;
    try {
        db::TDataSet::Post();
    } catch (...) {
        postingNewRecord_ = outer;
        throw;
    }
    postingNewRecord_ = outer;
    if (State() == db::DataSetState::SetKey) EndKeyEdit(true);
}

void TKdsDataSet::Cancel() {
    db::TDataSet::Cancel();
    if (State() == db::DataSetState::SetKey) EndKeyEdit(false);
}

void TKdsDataSet::AssignKeyValues(int kind, const std::vector<TTypedValue>& values) {
    IndexDefs().Update();
    std::vector<std::string> names = db::SplitNames(CurrentIndexFields());
    if (names.empty()) KdsDatabaseError(this, msg::kNoKeyExpressions);
    if (names.size() < values.size()) KdsDatabaseError(this, msg::kTooManyKeyValues);
    db::DataSetState previous = EnterTempState(db::DataSetState::SetKey);
    try {
        ClearKeyBuffer(kind);
        SetCurrentKeyBuffer(kind);
        for (int i = static_cast<int>(values.size()) - 1; i >= 0; --i) {
            values[i].AssignTo(FieldNamed(names[i]));
        }
        int32_t count = static_cast<int32_t>(values.size());
        std::memcpy(KeyBuffer(kind) + kKeyCountOffset, &count, sizeof count);
        SetKeyModified(kind, Modified());
    } catch (...) {
        LeaveTempState(previous);
        throw;
    }
    LeaveTempState(previous);
}

void TKdsDataSet::BuildRawKey(int kind, UNSIGNED8* key, UNSIGNED16* length) {
    const KDSHANDLE order = OrderHandle();
    CheckKdsStatus(this, KdsInitRawKey(order));
    const char* image = KeyBuffer(kind) + kKeyRecordOffset;
    for (UNSIGNED16 segment = 0;; ++segment) {
        UNSIGNED8 name[kSegmentNameCapacity + 1] = {};
        UNSIGNED16 nameLength = kSegmentNameCapacity;
        if (KdsGetSegmentFieldname(order, segment, name, &nameLength) != KCE_SUCCESS) break;
        std::string fieldName = TextOf(name, nameLength);
        int at = FieldDescriptions().PositionOfName(fieldName);
        if (at < 0) continue;
        const TKCEFieldDef& d = FieldDescriptions().Item(at);
        if (KeyAssignedMark(kind, d.FieldNum - 1) == kUnassigned) continue;
        const auto* bytes = reinterpret_cast<const UNSIGNED8*>(image + d.Offset);
        CheckKdsStatus(this, d.FieldType == KCE_STRING
                                 ? KdsSetField(order, KceText(fieldName), bytes, d.Length)
                                 : KdsSetFieldRaw(order, KceText(fieldName), bytes, d.Length));
    }
    CheckKdsStatus(this, KdsBuildRawKey(order, key, length));
}

// ---- Key searches ---------------------------------------------------------------------------

bool TKdsDataSet::SeekKey(const std::vector<TTypedValue>& values) {
    EnsureBrowseMode();
    AssignKeyValues(kbSearch, values);
    return SeekCurrentKey();
}

bool TKdsDataSet::SeekCurrentKey() {
    EnsureBrowseMode();
    FireBeforeScroll();
    ForgetCursorPosition();
    uint32_t shown = IsEmpty() ? 0 : BookmarkRecordNumber(ActiveBuffer());
    UNSIGNED8 key[kSeekKeyCapacity] = {};
    UNSIGNED16 length = kSeekKeyCapacity;
    BuildRawKey(kbSearch, key, &length);
    UNSIGNED16 found = 0;
    CheckKdsStatus(this, KdsSeek(OrderHandle(), key, length, KCE_RAWKEY, KCE_HARDSEEK, &found));
    SetFound(found != 0);
    if (found) {
        RefillBuffers({db::rmExact, db::rmCenter});
        FireAfterScroll();
        return true;
    }
    // The dataset keeps showing what it showed; the engine cursor goes back there.
    if (AtEOF()) {
        Last();
    } else if (AtBOF()) {
        First();
    } else {
        KCESTATUS status = KdsGotoRecord(TableHandle(), shown);
        if (status == KCE_INVALID_RECORD) {
            Last();
        } else {
            CheckKdsStatus(this, status);
        }
    }
    return false;
}

// ---- Key ranges -----------------------------------------------------------------------------

void TKdsDataSet::SetKeyRange(const std::vector<TTypedValue>& startValues,
                              const std::vector<TTypedValue>& endValues) {
    EnsureBrowseMode();
    AssignKeyValues(kbRangeStart, startValues);
    AssignKeyValues(kbRangeEnd, endValues);
    ApplyKeyRange();
}

void TKdsDataSet::ApplyKeyRange() {
    EnsureBrowseMode();
    if (ApplyRangeScopes()) First();
}

bool TKdsDataSet::ApplyRangeScopes() {
    if (Scoped()) KdsDatabaseError(this, msg::kRangeWithScope);
    if (SameKey(kbRangeStart, kbAppliedStart) && SameKey(kbRangeEnd, kbAppliedEnd)) return false;
    UNSIGNED16 keyLength = 0;
    CheckKdsStatus(this, KdsGetKeyLength(OrderHandle(), &keyLength));
    auto applySide = [&](int side, int applied, UNSIGNED16 which) {
        if (!KeyModified(side)) return;
        UNSIGNED8 key[kScopeKeyCapacity] = {};
        UNSIGNED16 length = kScopeKeyCapacity;
        BuildRawKey(side, key, &length);
        CheckKdsStatus(this, KdsSetScope(OrderHandle(), which, key, length, KCE_RAWKEY));
        CopyKeyBuffer(side, applied);
    };
    applySide(kbRangeStart, kbAppliedStart, KCE_TOP);
    applySide(kbRangeEnd, kbAppliedEnd, KCE_BOTTOM);
    SetState(db::DataSetState::Browse);
    return true;
}

void TKdsDataSet::FollowMaster() {
    EnsureBrowseMode();
    const std::vector<db::TField*>& masters = masterLink_->Fields();
    db::DataSetState previous = EnterTempState(db::DataSetState::SetKey);
    try {
        ClearKeyBuffer(kbRangeStart);
        SetCurrentKeyBuffer(kbRangeStart);
        SetKeyModified(kbRangeStart, true);
        for (size_t i = 0; i < masters.size(); ++i) {
            SegmentField(static_cast<int>(i)).SetVariantValue(masters[i]->VariantValue());
        }
        int32_t count = static_cast<int32_t>(masters.size());
        std::memcpy(KeyBuffer(kbRangeStart) + kKeyCountOffset, &count, sizeof count);
    } catch (...) {
        LeaveTempState(previous);
        throw;
    }
    LeaveTempState(previous);
    CopyKeyBuffer(kbRangeStart, kbRangeEnd);
    ApplyKeyRange();
}

void TKdsDataSet::CancelKeyRange() {
    EnsureBrowseMode();
    SyncCursor();
    if (ResetKeyRange()) RefillBuffers({});
}

bool TKdsDataSet::ResetKeyRange() {
    if (Scoped()) return true;
    if (!KeyModified(kbAppliedStart) && !KeyModified(kbAppliedEnd)) return false;
    CheckKdsStatus(this, KdsClearAllScopes(TableHandle()));
    UNSIGNED16 atEof = 0, atBof = 0;
    CheckKdsStatus(this, KdsAtEOF(TableHandle(), &atEof));
    CheckKdsStatus(this, KdsAtBOF(TableHandle(), &atBof));
    if (atEof && atBof) CheckKdsStatus(this, KdsGotoTop(OrderHandle()));
    ClearKeyBuffer(kbAppliedStart);
    ClearKeyBuffer(kbAppliedEnd);
    return true;
}

// ---- String scopes --------------------------------------------------------------------------

void TKdsDataSet::SetScopeBegin(const std::string& text) {
    if (text.size() > kMaxScopeText) KdsDatabaseError(this, msg::kScopeTooLong);
    scopeBegin_ = text;
}

void TKdsDataSet::SetScopeEnd(const std::string& text) {
    if (text.size() > kMaxScopeText) KdsDatabaseError(this, msg::kScopeTooLong);
    scopeEnd_ = text;
}

void TKdsDataSet::ActivateScope() {
    if (!HasActiveIndex()) KdsDatabaseError(this, msg::kScopeWithoutIndex);
    // A scope already there is a key range.
    if (OrderHasScope()) KdsDatabaseError(this, msg::kScopeWithRange);
    auto set = [&](const std::string& text, UNSIGNED16 which) {
        if (text.empty()) return;
        CheckKdsStatus(this, KdsSetScope(OrderHandle(), which, KceText(text),
                                         static_cast<UNSIGNED16>(text.size()), KCE_STRINGKEY));
    };
    set(scopeBegin_, KCE_TOP);
    set(scopeEnd_, KCE_BOTTOM);
}

void TKdsDataSet::DeactivateScope() {
    if (!HasActiveIndex()) return;
    for (UNSIGNED16 which : {UNSIGNED16(KCE_TOP), UNSIGNED16(KCE_BOTTOM)}) {
        KCESTATUS status = KdsClearScope(OrderHandle(), which);
        if (status != KCE_NO_SCOPE) CheckKdsStatus(this, status);
    }
}

void TKdsDataSet::SetScoped(bool value) {
    if (value == scoped_) return;
    if (Active()) {
        // The engine record number (the bookmark's first word) names the record whatever the
        // order, also where the record information holds a relative position.
        uint32_t shown = IsEmpty() ? 0 : BookmarkRecordNumber(ActiveBuffer());
        if (value) {
            ActivateScope();
            SyncCursor();
            UNSIGNED16 visible = 0;
            KCESTATUS status = KdsIsRecordVisible(OrderHandle(), &visible);
            if (status == KCE_NO_CURRENT_RECORD) {
                visible = 0;
            } else {
                CheckKdsStatus(this, status);
            }
            if (visible) {
                RefillBuffers({});
            } else {
                First();
            }
        } else {
            DeactivateScope();
            if (AtBOF() && AtEOF()) {
                First();
            } else {
                if (KdsGotoRecord(TableHandle(), shown) == KCE_INVALID_RECORD) Next();
                RefillBuffers({});
            }
        }
    }
    scoped_ = value;
}

}  // namespace kds
