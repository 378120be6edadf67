// TKdsDataSet core: construction, the properties that decide how a table is opened, resolving
// DatabaseName into a connection or folder, opening and closing, and the field descriptions.
#include "kds/kdsdata.h"

#include <cstring>

#include "gui/application.h"
#include "kds/kdscnnct.h"
#include "kds/kdsdata_limits.h"
#include "rtl/textutils.h"

namespace kds {
namespace {

// A name with a folder separator is a path, never an alias.
bool HasPathSeparator(const std::string& text) {
    return text.find_first_of("\\/") != std::string::npos;
}

TKdsTableTypes TableTypeOfAlias(TKdsAliasTableType type) {
    switch (type) {
        case atCDX:
            return ttKdsCDX;
        case atNTX:
            return ttKdsNTX;
        default:
            return ttKdsKDT;
    }
}

// The field type and size for an engine field; false for a code without one.
bool MapFieldType(UNSIGNED16 code, UNSIGNED32 length, UNSIGNED16 decimals, db::TFieldType& type,
                  int& size) {
    size = 0;
    switch (code) {
        case KCE_LOGICAL:
            type = db::ftBoolean;
            return true;
        case KCE_NUMERIC:
            type = (decimals > 0 || length >= 5) ? db::ftFloat : db::ftSmallint;
            return true;
        case KCE_DATE:
        case KCE_COMPACTDATE:
            type = db::ftDate;
            return true;
        case KCE_STRING:
            type = db::ftString;
            size = static_cast<int>(length);
            return true;
        case KCE_MEMO:
        case KCE_VARCHAR:
            type = db::ftMemo;
            size = 1;
            return true;
        case KCE_BINARY:
        case KCE_IMAGE:
            type = db::ftBlob;
            size = 1;
            return true;
        case KCE_DOUBLE:
            type = db::ftFloat;
            return true;
        case KCE_INTEGER:
            type = db::ftInteger;
            return true;
        case KCE_SHORTINT:
            type = db::ftSmallint;
            return true;
        case KCE_TIME:
            type = db::ftTime;
            return true;
        case KCE_TIMESTAMP:
            type = db::ftDateTime;
            return true;
        case KCE_AUTOINC:
            type = db::ftAutoInc;
            return true;
        case KCE_RAW:
            type = db::ftBytes;
            size = static_cast<int>(length);
            return true;
        case KCE_CURDOUBLE:
            type = db::ftCurrency;
            return true;
        default:
            return false;
    }
}

}  // namespace

UNSIGNED16 EngineTableTypeOf(TKdsTableTypes type) {
    switch (type) {
        case ttKdsCDX:
            return KCE_CDX;
        case ttKdsNTX:
            return KCE_NTX;
        default:
            return KCE_KDT;
    }
}

rtl::TThreadList<TKdsDataSet>& DataSetRegistry() {
    // Never destroyed: datasets of static lifetime may leave it during program exit.
    static auto* registry = new rtl::TThreadList<TKdsDataSet>();
    return *registry;
}

// ---- Options and descriptions
// -----------------------------------------------------------------------

void TKdsTableOptions::RequireInactiveOwner() const {
    if (owner_ != nullptr && owner_->Active()) {
        KdsDatabaseError(owner_, msg::kTableMustNotBeActive);
    }
}

void TKdsTableOptions::SetKdsLockType(TKdsLockTypes value) {
    RequireInactiveOwner();
    lockType_ = value;
}

void TKdsTableOptions::SetKdsCharType(TKdsCharTypes value) {
    RequireInactiveOwner();
    charType_ = value;
}

void TKdsTableOptions::SetKdsRightsCheck(bool value) {
    RequireInactiveOwner();
    rightsCheck_ = value;
}

int TKCEFieldDefs::PositionOfName(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (rtl::SameText(items_[i].Name, name)) return static_cast<int>(i);
    }
    return -1;
}

TKdsIndexFiles::TKdsIndexFiles(TKdsDataSet* dataSet) : dataSet_(dataSet) {
    SetSorted(true);
    SetDuplicates(rtl::dupIgnore);
}

// ---- Construction
// -----------------------------------------------------------------------------------

TKdsDataSet::TKdsDataSet(rtl::TComponent* owner)
    : db::TDataSet(owner),
      options_(std::make_unique<TKdsTableOptions>(this)),
      indexFiles_(std::make_unique<TKdsIndexFiles>(this)),
      indexDefs_(std::make_unique<db::TIndexDefs>(this)),
      masterLink_(std::make_unique<db::TMasterDataLink>(this)) {
    masterLink_->SetOnMasterChange([this] { FollowMaster(); });
    masterLink_->SetOnMasterDisable([this] { CancelKeyRange(); });
    DataSetRegistry().Add(this);
}

TKdsDataSet::~TKdsDataSet() {
    try {
        CloseForDestruction();
    } catch (...) {
        // A table that cannot be closed while its component is destroyed: the handle is
        // forgotten either way (CursorClose resets it before reporting).
    }
    masterLink_.reset();
    if (connection_ != nullptr) connection_->UnregisterDataSet(this);
    connection_ = nullptr;
    oldRecordImage_.clear();
    DataSetRegistry().Remove(this);
}

// ---- Properties
// -------------------------------------------------------------------------------------

bool TKdsDataSet::NamesConnection(const TKdsConnection& connection) const {
    if (rtl::SameText(connection.Name(), databaseName_)) return true;
    return connection.Owner() != nullptr &&
           rtl::SameText(connection.Owner()->Name() + "." + connection.Name(), databaseName_);
}

void TKdsDataSet::SetDatabaseName(const std::string& value) {
    if (Active()) KdsDatabaseError(this, msg::kOpenDataSet);
    if (value.empty()) {
        databaseName_.clear();
        resolvedAliasPath_.clear();
        DatabasePath();
        return;
    }
    TKdsConnection* match = nullptr;
    {
        rtl::TLockedList<TKdsConnection> registry(ConnectionRegistry());
        for (TKdsConnection* connection : registry.Items()) {
            if (rtl::SameText(connection->Name(), value) && connection->Owner() == Owner()) {
                match = connection;
                break;
            }
        }
        if (match == nullptr) {
            for (TKdsConnection* connection : registry.Items()) {
                bool byName = rtl::SameText(connection->Name(), value);
                bool byOwner =
                    connection->Owner() != nullptr &&
                    rtl::SameText(connection->Owner()->Name() + "." + connection->Name(), value);
                if (byName || byOwner) {
                    match = connection;
                    break;
                }
            }
        }
    }
    if (match != nullptr) {
        databaseName_ = value;
        resolvedAliasPath_.clear();
        SetKdsConnection(match);
        return;
    }
    TKdsAlias alias;
    databaseName_ = value;
    if (!HasPathSeparator(value) && FindAlias(value, alias)) {
        resolvedAliasPath_ = alias.Path;
        tableType_ = TableTypeOfAlias(alias.TableType);
        engineTableType_ = EngineTableTypeOf(tableType_);
    } else {
        resolvedAliasPath_.clear();
    }
}

std::string TKdsDataSet::DatabasePath() {
    std::string path;
    TKdsAlias alias;
    if (!resolvedAliasPath_.empty()) {
        path = resolvedAliasPath_;
    } else if (databaseName_.empty() || (connection_ != nullptr && NamesConnection(*connection_))) {
        if (connection_ != nullptr) {
            path = connection_->TablePath();
            FollowAliasTableType(connection_->AliasTableType());
        }
    } else if (!HasPathSeparator(databaseName_) && FindAlias(databaseName_, alias)) {
        resolvedAliasPath_ = alias.Path;
        path = alias.Path;
        TKdsTableTypes type = TableTypeOfAlias(alias.TableType);
        if (type != tableType_) {
            tableType_ = type;
            engineTableType_ = EngineTableTypeOf(type);
        }
    } else {
        path = databaseName_;
    }
    // One trailing separator goes, unless it is all there is (the root folder "/").
    if (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

void TKdsDataSet::FollowAliasTableType(TKdsAliasTableType type) {
    if (type == atNone) return;
    tableType_ = TableTypeOfAlias(type);
    engineTableType_ = EngineTableTypeOf(tableType_);
}

void TKdsDataSet::SetTableName(const std::string& value) {
    if (Active()) KdsDatabaseError(this, msg::kOpenDataSet);
    if (!IsLoading() && value != tableName_) indexFiles_->Clear();
    tableName_ = value;
    ApplyDictionaryDefaultIndex();
    NotifyDataEvent(db::DataEventCode::PropertyChange);
}

void TKdsDataSet::SetTableType(TKdsTableTypes value) {
    if (Active()) KdsDatabaseError(this, msg::kOpenDataSet);
    TKdsAlias alias;
    if (!databaseName_.empty()) {
        if (!HasPathSeparator(databaseName_) && FindAlias(databaseName_, alias) &&
            TableTypeOfAlias(alias.TableType) != value) {
            KdsDatabaseError(this, msg::kAliasTableType);
        }
    } else if (connection_ != nullptr) {
        TKdsAliasTableType type = connection_->AliasTableType();
        if ((type == atCDX && value != ttKdsCDX) || (type == atNTX && value != ttKdsNTX) ||
            (type == atKDT && value != ttKdsKDT)) {
            KdsDatabaseError(this, msg::kAliasTableType);
        }
    }
    tableType_ = value;
    engineTableType_ = EngineTableTypeOf(value);
}

void TKdsDataSet::SetTableTypeFromEngine(UNSIGNED16 engineType) {
    engineTableType_ = engineType;
    tableType_ = engineType == KCE_CDX ? ttKdsCDX : engineType == KCE_NTX ? ttKdsNTX : ttKdsKDT;
}

void TKdsDataSet::SetExclusive(bool value) {
    RequireInactive();
    exclusive_ = value;
}

void TKdsDataSet::SetReadOnly(bool value) {
    RequireInactive();
    readOnly_ = value;
}

void TKdsDataSet::SetKdsConnection(TKdsConnection* value) {
    if (Active()) KdsDatabaseError(this, msg::kTableMustNotBeActive);
    AttachTo(value);
    DatabasePath();
}

void TKdsDataSet::AttachTo(TKdsConnection* connection) {
    if (connection == connection_) return;
    if (connection_ != nullptr) connection_->UnregisterDataSet(this);
    if (connection != nullptr) connection->RegisterDataSet(this);
    connection_ = connection;
}

std::string TKdsDataSet::Version() const { return "6.11 (" + EngineVersionText() + ")"; }

int TKdsDataSet::UpdateStatus() const { KdsDatabaseError(this, msg::kUpdateStatus); }

void TKdsDataSet::BatchMove() { KdsDatabaseError(this, msg::kBatchMove); }

void TKdsDataSet::RenameTable() { KdsDatabaseError(this, msg::kRenameTable); }

void TKdsDataSet::NotifyDataEvent(db::DataEventCode event, const void* argument) {
    if (event == db::DataEventCode::PropertyChange) indexDefs_->SetUpdated(false);
    db::TDataSet::NotifyDataEvent(event, argument);
}

void TKdsDataSet::DefinitionsChanged(void*) { storeDefs_ = true; }

void TKdsDataSet::FireAfterOpen() {
    db::TDataSet::FireAfterOpen();
    if (FollowsActiveMaster()) FollowMaster();
}

UNSIGNED16 TKdsDataSet::OpenTableType() {
    // The type of an open table never changes; the cached answer is dropped with the handle.
    if (openTableType_ != 0 && tableHandle_ != kNoKdsHandle) return openTableType_;
    UNSIGNED16 type = 0;
    CheckKdsStatus(this, KdsGetTableType(tableHandle_, &type));
    if (tableHandle_ != kNoKdsHandle) openTableType_ = type;
    return type;
}

void TKdsDataSet::CursorHandleException(std::exception& error) {
    gui::Application().HandleException(error);
}

// ---- Opening
// ----------------------------------------------------------------------------------------

UNSIGNED32 TKdsDataSet::OpenOptions() {
    UNSIGNED32 options =
        (exclusive_ ? KCE_OPEN_EXCLUSIVE : 0u) | (readOnly_ ? KCE_OPEN_READ_ONLY : 0u);
    if (connection_ != nullptr && connection_->ReadOnly()) {
        options |= KCE_OPEN_READ_ONLY;
        if (!IsDesigning()) readOnly_ = true;
    }
    return options;
}

KDSHANDLE TKdsDataSet::ConnectionHandleForOpen() {
    std::string path = DatabasePath();
    if (path.empty()) KdsDatabaseError(this, msg::kNoDatabaseName);
    KDSHANDLE handle = 0;
    if (connection_ != nullptr) {
        if (!connection_->IsConnected()) connection_->Connect();
        handle = connection_->ConnectionHandle();
    } else {
        handle = DynamicConnList().HandleFor(path);
    }
    if (handle == 0) KdsDatabaseError(this, msg::kInvalidConnectionHandle);
    return handle;
}

void TKdsDataSet::CursorOpen() {
    if (tableHandle_ != kNoKdsHandle) KdsDatabaseError(this, msg::kTableAlreadyOpen);
    // A cursor handed over by a data provider waits in OrderHandle.
    tableHandle_ = orderHandle_ != kNoKdsHandle ? orderHandle_ : OpenTableCursor();
    orderHandle_ = tableHandle_;
    openTableType_ = 0;

    UNSIGNED32 length = 0;
    CheckKdsStatus(this, KdsGetRecordLength(tableHandle_, &length));
    if (length > kMaxRecordBufferSize) {
        KdsDatabaseError(this, "The record of " + std::to_string(length) +
                                   " bytes is wider than the components take (" +
                                   std::to_string(kMaxRecordBufferSize) + " bytes).");
    }
    recordLength_ = length;
    recordBufferSize_ = recordLength_;

    // Informational only: any refusal leaves the default page size.
    KDSHANDLE indexes[kMaxIndexes] = {};
    UNSIGNED16 count = kMaxIndexes;
    UNSIGNED16 pageSize = 0;
    if (KdsGetAllIndexes(tableHandle_, indexes, &count) == KCE_SUCCESS && count > 0 &&
        KdsGetIndexPageSize(indexes[0], &pageSize) == KCE_SUCCESS) {
        options_->SetKdsIndexPageSize(pageSize);
    } else {
        options_->SetKdsIndexPageSize(512);
    }

    UNSIGNED32 bookmarkLength = 0;
    CheckKdsStatus(this, KdsGetBookmarkLength(BookmarkHandle(), &bookmarkLength));
    SetBookmarkLength(static_cast<int>(bookmarkLength));
    cursorReady_ = true;

    AllocateKeyBuffers();
    FieldDefs().SetUpdated(false);
    LoadFieldDefs();
    if (DefaultFields()) CreateDefaultFields();
    BindFields(true);
    ComputeRecordLayout();
    indexDefs_->SetUpdated(false);
    indexDefs_->Update();
    if (tableHandle_ != 0) ActivateIndexOrder();
    ActivateScopeAndFilter();
    if (tableHandle_ != 0) CursorFirst();
}

void TKdsDataSet::CursorClose() {
    if (IsDesigning()) {
        // A designer releases the table at once instead of leaving it to the engine's caches.
        CheckKdsStatus(this, KdsCacheOpenTables(0));
        CheckKdsStatus(this, KdsCacheOpenCursors(0));
    }
    BindFields(false);
    if (DefaultFields()) DestroyDefaultFields();
    FreeKeyBuffers();
    oldRecordImage_.clear();
    KDSHANDLE handle = tableHandle_;
    tableHandle_ = kNoKdsHandle;
    orderHandle_ = kNoKdsHandle;
    openTableType_ = 0;
    cursorReady_ = false;
    // The handle is forgotten before a refusal is raised: the dataset is closed either way.
    if (handle != kNoKdsHandle && handle != 0) CheckKdsStatus(this, KdsCloseTable(handle));
}

void TKdsDataSet::AllocateKeyBuffers() {
    UNSIGNED16 fieldCount = 0;
    CheckKdsStatus(this, KdsGetNumFields(tableHandle_, &fieldCount));
    size_t size = recordLength_ + 2u * fieldCount + kKeyRecordOffset;
    try {
        for (int i = 0; i < kKeyBufferCount; ++i) {
            std::vector<char>& buffer = keyBuffers_[static_cast<size_t>(i)];
            buffer.assign(size, '\0');
            uint32_t total = static_cast<uint32_t>(size);
            std::memcpy(buffer.data() + 8, &total, sizeof total);
            ClearKeyBuffer(i);
        }
    } catch (...) {
        FreeKeyBuffers();
        throw;
    }
    currentKeyBuffer_ = 0;
}

void TKdsDataSet::FreeKeyBuffers() {
    for (std::vector<char>& buffer : keyBuffers_) std::vector<char>().swap(buffer);
}

uint16_t TKdsDataSet::KeyAssignedMark(int index, int position) {
    uint16_t mark = 0;
    std::memcpy(&mark, KeyBuffer(index) + kKeyRecordOffset + recordLength_ + 2 * position, 2);
    return mark;
}

void TKdsDataSet::SetKeyAssignedMark(int index, int position, uint16_t mark) {
    std::memcpy(KeyBuffer(index) + kKeyRecordOffset + recordLength_ + 2 * position, &mark, 2);
}

void TKdsDataSet::ClearKeyBuffer(int index) {
    std::vector<char>& buffer = keyBuffers_[static_cast<size_t>(index)];
    buffer[0] = 0;
    std::memset(buffer.data() + 4, 0, 4);
    size_t marks = (buffer.size() - kKeyRecordOffset - recordLength_) / 2;
    std::memset(buffer.data() + kKeyRecordOffset + recordLength_, 0xFF, marks * 2);
    UNSIGNED32 length = recordLength_;
    CheckKdsStatus(
        this,
        KdsGetNullRecord(tableHandle_,
                         reinterpret_cast<UNSIGNED8*>(buffer.data() + kKeyRecordOffset), &length));
}

// ---- Field descriptions
// -----------------------------------------------------------------------------

void TKdsDataSet::LoadFieldDefs() {
    if (Active() || tableHandle_ != kNoKdsHandle) {
        ReadFieldDescriptions(tableHandle_);
        return;
    }
    KDSHANDLE temporary = OpenTableCursor();
    try {
        ReadFieldDescriptions(temporary);
    } catch (...) {
        KdsCloseTable(temporary);
        throw;
    }
    CheckKdsStatus(this, KdsCloseTable(temporary));
}

void TKdsDataSet::CursorInitFieldDefs() { ReadFieldDescriptions(tableHandle_); }

void TKdsDataSet::ReadFieldDescriptions(KDSHANDLE table) {
    UNSIGNED16 count = 0;
    CheckKdsStatus(this, KdsGetNumFields(table, &count));
    db::TFieldDefs& defs = FieldDefs();
    defs.BeginUpdate();
    try {
        defs.Clear();
        fieldDescriptions_.Clear();
        for (UNSIGNED16 ordinal = 1; ordinal <= count; ++ordinal) {
            UNSIGNED16 code = 0;
            UNSIGNED32 length = 0;
            UNSIGNED16 decimals = 0;
            CheckKdsStatus(this, KdsGetFieldType(table, KceField(ordinal), &code));
            CheckKdsStatus(this, KdsGetFieldLength(table, KceField(ordinal), &length));
            if (code == KCE_NUMERIC) {
                CheckKdsStatus(this, KdsGetFieldDecimals(table, KceField(ordinal), &decimals));
            }
            UNSIGNED8 name[kFieldNameCapacity + 1] = {};
            UNSIGNED16 nameLength = kFieldNameCapacity;
            CheckKdsStatus(this, KdsGetFieldName(table, ordinal, name, &nameLength));
            db::TFieldType type = db::ftUnknown;
            int size = 0;
            if (!MapFieldType(code, length, decimals, type, size)) continue;
            UNSIGNED32 offset = 0;
            CheckKdsStatus(this, KdsGetFieldOffset(table, KceField(ordinal), &offset));
            std::string fieldName(reinterpret_cast<const char*>(name),
                                  strnlen(reinterpret_cast<const char*>(name), nameLength));
            defs.Add(fieldName, type, size, false);
            TKCEFieldDef& description = fieldDescriptions_.Add();
            description.Name = fieldName;
            description.FieldNum = ordinal;
            description.Offset = offset;
            description.Length = length;
            description.FieldType = code;
            description.Decimals = code == KCE_NUMERIC ? decimals : 0;
        }
    } catch (...) {
        defs.EndUpdate();
        throw;
    }
    defs.EndUpdate();
    defs.SetUpdated(true);
}

}  // namespace kds
