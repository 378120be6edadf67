// Unit kdsdata: TKdsDataSet, the dataset that keeps its records in engine tables.
//
// The dataset model (db::TDataSet) walks records through a window of record buffers; this class
// allocates those buffers, fills them from the engine cursor and converts between the engine's raw
// record image and the native forms of the field objects. Its work is split by subject:
//   kdsdata.cpp          construction, properties, opening and closing, field descriptions
//   kdsdata_buffers.cpp  the record buffer layout, fetching, cursor moves, bookmarks, counts
//   kdsdata_fields.cpp   field data: null tests and conversions of every engine type
//   kdsdata_edit.cpp     editing and posting
//   kdsdata_index.cpp    indexes, orders, keys, ranges and scopes
//   kdsdata_blob.cpp     blob fields and their per-buffer caches
//
// A record buffer has five consecutive areas:
//   [0, RecordLength)                  the engine's raw record image
//   [RecordLength, BlobSlotOffset)     calculated fields: per field a flag byte, then the value
//   [BlobSlotOffset, RecordInfoOffset) one blob cache pointer per blob field
//   [RecordInfoOffset, +8)             record number (32-bit), status byte, bookmark-flag byte
//   [BookmarkOffset, RecordBufferSize) the engine bookmark; its first 32-bit word is the engine
//                                      record number
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/datalink.h"
#include "dataset/dataset.h"
#include "dataset/indexdefs.h"
#include "kds/kdscnnct.h"
#include "kds/kdsengine.h"
#include "kds/kdsimage.h"
#include "kds/kdsindex.h"
#include "rtl/stringlist.h"
#include "rtl/threads.h"

namespace kds {

class TKdsDataSet;
class TKdsBlobCache;

// The action an OnUpdateRecord handler sets when it applied the update itself (it starts at 0,
// failed).
inline constexpr int kUpdateApplied = 4;

// A dataset's engine handle when it has none.
inline constexpr KDSHANDLE kNoKdsHandle = 0xFFFFFFFFu;
// The largest record buffer (record image, calculated fields, blob slots, record information and
// bookmark) a dataset allocates: the dataset model counts buffer sizes in int.
inline constexpr uint64_t kMaxRecordBufferSize = 0x7FFFFFFF;

enum TKdsTableTypes : uint8_t { ttKdsCDX = 0, ttKdsNTX = 1, ttKdsKDT = 2, ttKdsDefault = 3 };
enum TKdsLockTypes : uint8_t { Proprietary = 0, Compatible = 1 };
enum TKdsCharTypes : uint8_t { ANSI = 0, OEM = 1 };
enum TKdsRespectFilters : uint8_t { IGNORE_WHEN_COUNTING = 0, RESPECT_WHEN_COUNTING = 1 };
enum TKdsRespectScopes : uint8_t {
    IGNORE_SCOPES_WHEN_COUNTING = 0,
    RESPECT_SCOPES_WHEN_COUNTING = 1
};
using TKdsIndexPageSizes = int32_t;

// The engine's table-type code for a table type: 2 CDX, 1 NTX, 3 KDT (also for the default).
UNSIGNED16 EngineTableTypeOf(TKdsTableTypes type);

// The per-table engine options, owned by their dataset. The options that decide how the table is
// opened refuse to change while it is open; the others are read each time they are used.
class TKdsTableOptions {
  public:
    explicit TKdsTableOptions(TKdsDataSet* owner) : owner_(owner) {}

    TKdsLockTypes KdsLockType() const { return lockType_; }
    void SetKdsLockType(TKdsLockTypes value);
    TKdsCharTypes KdsCharType() const { return charType_; }
    void SetKdsCharType(TKdsCharTypes value);
    TKdsRespectFilters KdsFilterOptions() const { return filterOptions_; }
    void SetKdsFilterOptions(TKdsRespectFilters value) { filterOptions_ = value; }
    TKdsRespectScopes KdsScopeOptions() const { return scopeOptions_; }
    void SetKdsScopeOptions(TKdsRespectScopes value) { scopeOptions_ = value; }
    bool KdsRightsCheck() const { return rightsCheck_; }
    void SetKdsRightsCheck(bool value);
    TKdsDataSet* Owner() const { return owner_; }
    bool KdsOptimizedFilters() const { return optimizedFilters_; }
    // Re-applies an active filter when it changes.
    void SetKdsOptimizedFilters(bool value);
    bool KdsFreshRecordCount() const { return freshRecordCount_; }
    void SetKdsFreshRecordCount(bool value) { freshRecordCount_ = value; }
    bool KdsAOFResolveImmediate() const { return aofResolveImmediate_; }
    void SetKdsAOFResolveImmediate(bool value) { aofResolveImmediate_ = value; }
    // Informational: the page size of the table's first index once it is open.
    TKdsIndexPageSizes KdsIndexPageSize() const { return indexPageSize_; }
    void SetKdsIndexPageSize(TKdsIndexPageSizes value) { indexPageSize_ = value; }

  private:
    void RequireInactiveOwner() const;

    TKdsLockTypes lockType_ = Proprietary;
    TKdsCharTypes charType_ = ANSI;
    TKdsRespectFilters filterOptions_ = IGNORE_WHEN_COUNTING;
    TKdsRespectScopes scopeOptions_ = IGNORE_SCOPES_WHEN_COUNTING;
    bool rightsCheck_ = true;
    TKdsDataSet* owner_;
    bool optimizedFilters_ = true;
    bool freshRecordCount_ = false;
    bool aofResolveImmediate_ = false;
    TKdsIndexPageSizes indexPageSize_ = 512;
};

// The engine's description of one field, read once per open.
struct TKCEFieldDef {
    std::string Name;
    uint16_t FieldNum = 0;   // 1-based engine ordinal
    uint32_t Offset = 0;     // in the raw record image
    uint32_t Length = 0;     // bytes in the raw record image
    uint16_t FieldType = 0;  // engine field-type code (KCE_LOGICAL ... KCE_CURDOUBLE)
    uint16_t Decimals = 0;   // numeric fields only
};

class TKCEFieldDefs {
  public:
    TKCEFieldDef& Add() { return items_.emplace_back(); }
    const TKCEFieldDef& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
    int Count() const { return static_cast<int>(items_.size()); }
    // The first item of that name (letter case ignored), or -1.
    int PositionOfName(const std::string& name) const;
    void Clear() { items_.clear(); }

  private:
    std::vector<TKCEFieldDef> items_;
};

// Index file names opened with the table: sorted, duplicates ignored. A bare name is taken in
// the dataset's DatabasePath.
class TKdsIndexFiles : public rtl::TStringList {
  public:
    explicit TKdsIndexFiles(TKdsDataSet* dataSet);
    TKdsDataSet* DataSet() const { return dataSet_; }

    // While the table is open, adding an entry opens the file and deleting one closes it; either
    // marks the index definitions out of date.
    int Add(const std::string& value) override;
    // Refused by the sorted list ("Operation not allowed on sorted list").
    void Insert(int index, const std::string& value) override;
    void Delete(int index) override;
    // Closes every listed file of an open table; the index definitions stay as they are.
    void Clear() override;

  private:
    TKdsDataSet* dataSet_;
};

class TKdsDataSet : public db::TDataSet {
  public:
    explicit TKdsDataSet(rtl::TComponent* owner = nullptr);
    ~TKdsDataSet() override;

    // ---- Properties ---------------------------------------------------------------------------
    const std::string& DatabaseName() const { return databaseName_; }
    // Resolves the name to a connection (by Name, or Owner.Name), an alias or a folder.
    virtual void SetDatabaseName(const std::string& value);
    // The folder the tables are opened in, without a trailing "\"; empty when nothing names one.
    // Resolving may make the table type follow an alias or the connection's alias.
    std::string DatabasePath();
    const std::string& TableName() const { return tableName_; }
    virtual void SetTableName(const std::string& value);
    TKdsTableTypes TableType() const { return tableType_; }
    virtual void SetTableType(TKdsTableTypes value);
    bool Exclusive() const { return exclusive_; }
    void SetExclusive(bool value);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    TKdsConnection* KdsConnection() const { return connection_; }
    virtual void SetKdsConnection(TKdsConnection* value);
    TKdsTableOptions& KdsTableOptions() { return *options_; }
    const TKdsTableOptions& KdsTableOptions() const { return *options_; }
    TKdsIndexFiles& IndexFiles() { return *indexFiles_; }
    db::TIndexDefs& IndexDefs() { return *indexDefs_; }
    bool StoreDefs() const { return storeDefs_; }
    void SetStoreDefs(bool value) { storeDefs_ = value; }
    const std::string& IndexName() const { return indexName_; }
    virtual void SetIndexName(const std::string& value);
    const std::string& IndexFieldNames() const { return indexFieldNames_; }
    virtual void SetIndexFieldNames(const std::string& value);
    bool StoreActive() const { return storeActive_; }
    void SetStoreActive(bool value) { storeActive_ = value; }
    // "6.11 (" + the engine's version text + ")"; writing it does nothing.
    std::string Version() const;
    void SetVersion(const std::string&) {}
    bool Sequenced() const { return sequenced_; }
    void SetSequenced(bool value) { sequenced_ = value; }

    // ---- Run-time members ---------------------------------------------------------------------
    KDSHANDLE TableHandle() const { return tableHandle_; }
    // The handle the cursor moves on: the active index, or TableHandle in natural order.
    KDSHANDLE OrderHandle() const { return orderHandle_; }
    // 0 none, 1 IndexName, 2 IndexFieldNames, 3 the dictionary's default index.
    uint8_t IndexSelection() const { return indexSelection_; }
    UNSIGNED16 EngineTableType() const { return engineTableType_; }
    // The buffer layout is 32-bit: a record image may take all 65,535 bytes the engine allows, and
    // the buffer adds calculated fields, blob slots, record information and the bookmark to it.
    uint32_t RecordLength() const { return recordLength_; }
    uint32_t RecordBufferSize() const { return recordBufferSize_; }
    uint32_t BlobSlotOffset() const { return blobSlotOffset_; }
    uint32_t RecordInfoOffset() const { return recordInfoOffset_; }
    uint32_t BookmarkOffset() const { return bookmarkOffset_; }
    const TKCEFieldDefs& FieldDescriptions() const { return fieldDescriptions_; }
    bool CursorReady() const { return cursorReady_; }
    const std::string& DefaultIndexName() const { return defaultIndexName_; }
    const std::string& ResolvedAliasPath() const { return resolvedAliasPath_; }

    bool Scoped() const { return scoped_; }
    // Switching on applies ScopeBegin and ScopeEnd to the active index (refused while a key
    // range is applied); switching off removes them. The active record stays where it can.
    void SetScoped(bool value);
    const std::string& ScopeBegin() const { return scopeBegin_; }
    // Texts longer than 257 characters are refused; the active scope changes at the next
    // activation only.
    void SetScopeBegin(const std::string& text);
    const std::string& ScopeEnd() const { return scopeEnd_; }
    void SetScopeEnd(const std::string& text);

    // The last autoincrement value the table assigned; above 2147483647 a range error.
    virtual int32_t LastAutoIncValue() = 0;

    // ---- Keys, ranges and scopes (kdsdata_index.cpp) ------------------------------------------
    // Searches the active index for the record whose leading key fields hold the values (one per
    // field of the order, in order); true and that record active when found, else the record
    // shown before stays.
    bool SeekKey(const std::vector<TTypedValue>& values);
    bool SeekCurrentKey();
    // Restricts the records to the keys from the start values to the end values (each as a key
    // prefix) and moves to the first; applying the same range again changes nothing.
    void SetKeyRange(const std::vector<TTypedValue>& startValues,
                     const std::vector<TTypedValue>& endValues);
    void ApplyKeyRange();
    void CancelKeyRange();
    // Key entry (the SetKey state): field writes go to the range start or end key until Post
    // keeps them or Cancel puts back what was there.
    void BeginRangeStart();
    void BeginRangeEnd();
    // The field list of the active order: IndexFieldNames, or the fields of the IndexName index.
    std::string CurrentIndexFields();
    // The engine field number of segment `position` of the active index.
    int GetSegmentFieldNum(int position) const;
    int SegmentCount() const;
    db::TField& SegmentField(int position) const;
    // Opening and closing an index file of the open table ("Table must be Active." otherwise).
    void AddIndexFile(const std::string& name);
    void DropIndexFile(const std::string& name);

    // ---- Master-detail links (kdsdata_master.cpp) ----------------------------------------------
    // The data source of the master this dataset follows, or none.
    db::TDataSource* MasterSource() const;
    // Raises "Circular Data Link" when the source's chain of masters leads back to this dataset
    // (the link stays as it was); none also clears MasterFields.
    void SetMasterSource(db::TDataSource* source);
    const std::string& MasterFields() const;
    // Master field names separated by ";": field i of the master drives segment i of the active
    // index of this dataset.
    void SetMasterFields(const std::string& names);
    // Restricts the records to the key made of the master's current values in the leading
    // segments of the active index (a range of that one key); the same key again changes nothing.
    void FollowMaster();
    db::TDataSource* MasterDataSource() const override { return MasterSource(); }
    // A new record starts with the master's values in its leading index segment fields.
    void FireOnNewRecord() override;

    // ---- Data-provider answers (kdsdata_master.cpp) -------------------------------------------
    // Statements and transactions go through the dataset's KdsConnection; without one a
    // statement is refused and the transaction calls do nothing.
    bool ProviderIsSQLBased() override { return true; }
    bool ProviderIsSQLSupported() override { return true; }
    std::string ProviderQuoteChar() override { return {}; }
    bool ProviderInTransaction() override;
    void ProviderStartTransaction() override;
    void ProviderEndTransaction(bool commit) override;
    // The statement is kept by the connection. With a result holder, a query comes back open on
    // the statement's cursor, any other statement as a closed query.
    int ProviderExecuteStatement(const std::string& sql, db::TParams* params,
                                 std::unique_ptr<db::TDataSet>* result) override;
    // Back to the first record of an open dataset.
    void ProviderReset() override;
    // Asks OnUpdateRecord; true when its handler sets the action to kUpdateApplied.
    bool ProviderUpdateRecord(db::TUpdateKind kind, db::TDataSet& delta) override;
    using TUpdateRecordEvent =
        std::function<void(db::TDataSet& delta, db::TUpdateKind kind, int& action)>;
    void SetOnUpdateRecord(TUpdateRecordEvent handler) { onUpdateRecord_ = std::move(handler); }

    // ---- Operations ---------------------------------------------------------------------------
    // Removes every record: on the open table (after EnsureBrowseMode), or through a private
    // handle when the dataset is closed.
    void EmptyTable();
    [[noreturn]] void BatchMove();
    [[noreturn]] void RenameTable();
    int UpdateStatus() const override;
    // In the SetKey state Post keeps the key entered and Cancel puts back the one before.
    void Post() override;
    void Cancel() override;
    // While a new record is posted the engine cursor is not moved to the end or the start of
    // the table first (see the definition).
    void PositionCursorAt(int index) override;
    bool FieldIsIndexed(const db::TField& field) const override;
    // A TKdsBlobStream over the field's value in the record the state addresses.
    std::unique_ptr<rtl::TStream> OpenBlobStream(db::TField& field,
                                                 db::TBlobStreamMode mode) override;
    void ReleaseBlob(db::TField& field) override;

    // ---- Dataset-model operations -------------------------------------------------------------
    int CountRecords() override;
    int RecordNumber() override;
    void SetRecordNumber(int number) override;
    bool IsBookmarkValid(const db::TBookmark& bookmark) override;
    int CompareBookmarkOrder(const db::TBookmark& a, const db::TBookmark& b) override;
    bool CopyActiveRecord(db::TRecordBuffer buffer) override;
    bool HasRecordNumbers() const override { return sequenced_; }
    void SetFilter(const std::string& text) override;
    void SetFiltered(bool on) override;
    bool FindFilteredRecord(bool restart, bool forward) override;
    bool Locate(const std::string& keyFields, const std::vector<rtl::Variant>& keyValues,
                const db::TLocateOptions& options) override;
    using db::TDataSet::Locate;
    std::vector<rtl::Variant> Lookup(const std::string& keyFields,
                                     const std::vector<rtl::Variant>& keyValues,
                                     const std::string& resultFields) override;
    bool IsModifiable() override { return cursorReady_ && !readOnly_; }
    void NotifyDataEvent(db::DataEventCode event, const void* argument = nullptr) override;
    void FireAfterOpen() override;
    void LoadFieldDefs() override;
    bool ReadFieldData(const db::TField& field, void* destination) override;
    using db::TDataSet::ReadFieldData;
    using db::TDataSet::WriteFieldData;
    void InitRecordBuffer(db::TRecordBuffer buffer) override;
    void ClearCalcArea(db::TRecordBuffer buffer) override;
    void CursorInsert() override;
    void CursorRefresh() override;
    void CursorEdit() override;
    void CursorCancel() override;
    void RefreshIndexDefs() override;
    // A change of the field or index definitions made by the user (not their refresh from the
    // table) makes them part of the stored definition.
    void DefinitionsChanged(void* collection) override;

    // ---- Connection bookkeeping (called by TKdsConnection) ------------------------------------
    // A query forgets its statement handles; tables have nothing to forget.
    virtual void ConnectionLost() {}
    // The dictionary default-index rule: on a dictionary connection a table whose IndexName is
    // empty orders by the dictionary's default index. Runs when TableName is set and when the
    // connection connects.
    virtual void ApplyDictionaryDefaultIndex();
    // The connection is being destroyed: drop the reference without detaching.
    void ForgetConnection() { connection_ = nullptr; }
    // The connection's alias names a table type (1 CDX, 2 NTX, 3 KDT).
    void FollowAliasTableType(TKdsAliasTableType type);

    // The engine's answer for the table type of the open table: 3 native, other codes xBase.
    // Asked once per open cursor (field reads and writes test it for every value).
    UNSIGNED16 OpenTableType();

  protected:
    // ---- Steps supplied by the table and query classes ----------------------------------------
    // A new engine table handle for this dataset's table.
    virtual KDSHANDLE OpenTableCursor() = 0;
    // The record number stored with each fetched record.
    virtual int32_t CursorRecordNumber();

    // ---- Hooks of the dataset model -----------------------------------------------------------
    db::TRecordBuffer NewRecordBuffer() override;
    void DisposeRecordBuffer(db::TRecordBuffer& buffer) override;
    void ReadBookmarkData(db::TRecordBuffer buffer, void* destination) override;
    db::BookmarkFlag ReadBookmarkFlag(db::TRecordBuffer buffer) override;
    db::FetchResult FetchRecord(db::TRecordBuffer buffer, db::FetchMode mode, bool check) override;
    int RecordDataSize() override { return recordLength_; }
    void InternalAddRecord(db::TRecordBuffer buffer, bool append) override;
    void CursorClose() override;
    void CursorDelete() override;
    void CursorFirst() override;
    void CursorGoToBookmark(const void* bookmark) override;
    void CursorHandleException(std::exception& error) override;
    void CursorInitFieldDefs() override;
    void CursorInitRecord(db::TRecordBuffer buffer) override;
    void CursorLast() override;
    void CursorOpen() override;
    void CursorPost() override;
    void CursorSetToRecord(db::TRecordBuffer buffer) override;
    bool CursorIsOpen() const override { return tableHandle_ != kNoKdsHandle; }
    void WriteBookmarkFlag(db::TRecordBuffer buffer, db::BookmarkFlag flag) override;
    void WriteBookmarkData(db::TRecordBuffer buffer, const void* bookmark) override;
    void WriteFieldData(db::TField& field, const void* source) override;

    // ---- Record buffers and fetching (kdsdata_buffers.cpp) ------------------------------------
    // Lays out the five areas; runs after the fields are bound and whenever the order changes.
    void ComputeRecordLayout();
    // Reads the engine's current record into the buffer: raw image, bookmark, blob markers, OEM
    // re-reads, calculated fields, and the record filter.
    db::FetchResult ReadCurrentRecord(db::TRecordBuffer buffer, int length, db::FetchMode mode);
    // The record number of the buffer's record information. The areas of a buffer are packed,
    // so their words are read and written byte-wise.
    int32_t RecordInfoNumber(db::TRecordBuffer buffer) const;
    void SetRecordInfoNumber(db::TRecordBuffer buffer, int32_t number) const;
    // The engine record number: the first 32-bit word of the buffer's bookmark.
    uint32_t BookmarkRecordNumber(db::TRecordBuffer buffer) const;
    // The handle a bookmark is taken from: OrderHandle when it holds one, else TableHandle.
    KDSHANDLE BookmarkHandle() const;

    // ---- Field data (kdsdata_fields.cpp) ------------------------------------------------------
    // The buffer a field access works on in the current state, or none.
    db::TRecordBuffer GetRecordBufferForState();
    bool IsFieldEmpty(const char* bytes, int length, int fieldType);
    // The image layout of the open table (kdsimage.h).
    image::TableKind ImageKind();
    bool IsBlobFieldEmpty(const db::TField& field, db::TRecordBuffer buffer);
    void ReadFieldValue(const db::TField& field, db::TRecordBuffer buffer, void* destination);
    void WriteFieldValue(int fieldNumber, db::TFieldType dataType, const void* source,
                         db::TRecordBuffer buffer);
    const TKCEFieldDef& DescriptionOf(int fieldNumber) const;

    // ---- Key buffers (layout here, use in kdsdata_index.cpp) ----------------------------------
    // Each key buffer: Modified byte at 0, assigned-value count (32-bit) at 4, total size
    // (32-bit) at 8, a record image at 12, then one 16-bit assigned mark per engine field.
    static constexpr int kKeyBufferCount = 6;
    static constexpr int kKeyRecordOffset = 12;
    char* KeyBuffer(int index) { return keyBuffers_[static_cast<size_t>(index)].data(); }
    int CurrentKeyBuffer() const { return currentKeyBuffer_; }
    void SetCurrentKeyBuffer(int index) { currentKeyBuffer_ = index; }
    uint16_t KeyAssignedMark(int index, int position);
    void SetKeyAssignedMark(int index, int position, uint16_t mark);
    void ClearKeyBuffer(int index);

    // ---- Indexes (kdsdata_index.cpp) ----------------------------------------------------------
    // Chooses OrderHandle from IndexName / IndexFieldNames at open.
    virtual void ActivateIndexOrder();
    // Applies Scoped and Filtered at open.
    virtual void ActivateScopeAndFilter();
    virtual bool IsIndexField(const db::TField& field) const;
    // Whether a scope is set on the active index.
    bool OrderHasScope();
    bool HasActiveIndex() const;
    KDSHANDLE IndexHandleForFields(const std::string& fields);
    virtual void ActivateScope();
    virtual void DeactivateScope();

    // ---- Filters, Locate and Lookup (kdsdata_filter.cpp) --------------------------------------
    // Installs Filter as the engine filter (optimized or plain, after KdsOptimizedFilters); an
    // empty Filter removes it.
    virtual void ActivateFilter();
    virtual void DeactivateFilter();
    // The Filter text as the engine takes it, and its exact-match setting: a string literal that
    // ends in an asterisk loses it and makes the comparison a leading-part one (exact 0).
    std::pair<std::string, UNSIGNED16> PrepareFilterText();
    // The engine expression comparing each field with its value in the filter buffer.
    std::string BuildFilterString(const std::vector<db::TField*>& fields, bool caseInsensitive);
    // The common search of Locate and Lookup; leaves the engine cursor on the record found.
    bool FindMatchingRecord(const std::string& keyFields,
                            const std::vector<rtl::Variant>& keyValues,
                            const db::TLocateOptions& options);
    // The key buffers, by role.
    enum TKdsKeyBuffer : int {
        kbSearch = 0,
        kbRangeStart,
        kbRangeEnd,
        kbAppliedStart,
        kbAppliedEnd,
        kbBackup
    };
    void BeginKeyEdit(int kind, bool clear);
    void EndKeyEdit(bool keep);
    void AssignKeyValues(int kind, const std::vector<TTypedValue>& values);
    void BuildRawKey(int kind, UNSIGNED8* key, UNSIGNED16* length);
    bool ApplyRangeScopes();
    bool ResetKeyRange();
    void SetOrderHandle(KDSHANDLE handle) { orderHandle_ = handle; }
    void SetIndexSelection(uint8_t selection) { indexSelection_ = selection; }
    void SetDefaultIndexName(const std::string& name) { defaultIndexName_ = name; }

    // ---- Blob caches (kdsdata_blob.cpp) -------------------------------------------------------
    TKdsBlobCache* BlobSlot(db::TRecordBuffer buffer, int slot) const;
    void SetBlobSlot(db::TRecordBuffer buffer, int slot, TKdsBlobCache* cache) const;
    virtual void CreateBlobCaches(db::TRecordBuffer buffer);
    virtual void DestroyBlobCaches(db::TRecordBuffer buffer);
    virtual void DiscardBlobCaches(db::TRecordBuffer buffer);
    // The content size when the buffer's cache of the field holds modified content; -1 else.
    virtual int64_t ModifiedBlobSize(const db::TField& field, db::TRecordBuffer buffer);

    // ---- Editing (kdsdata_edit.cpp) -----------------------------------------------------------
    std::vector<char>& OldRecordImage() { return oldRecordImage_; }

    // Opens the table with the dataset's options, as opening and EmptyTable do.
    KDSHANDLE OpenCursorWithOptions() { return OpenTableCursor(); }
    // Opening options for OpenTableCursor: exclusive 1, read-only 2 (the connection's ReadOnly
    // adds read-only and makes the dataset's ReadOnly true).
    UNSIGNED32 OpenOptions();
    // The connection handle to open a table with (connects on demand, or the per-folder one).
    KDSHANDLE ConnectionHandleForOpen();
    void SetTableTypeFromEngine(UNSIGNED16 engineType);
    // The read-only state an open cursor reports (a query's result set).
    void SetReadOnlyFromCursor(bool value) { readOnly_ = value; }

  private:
    friend class TKdsTableOptions;
    friend class TKdsBlobStream;
    std::string SegmentFieldName(int position, UNSIGNED16 capacity) const;
    bool KeyModified(int kind);
    void SetKeyModified(int kind, bool modified);
    void CopyKeyBuffer(int from, int to);
    bool SameKey(int a, int b);
    void AttachTo(TKdsConnection* connection);
    bool NamesConnection(const TKdsConnection& connection) const;
    void ReadFieldDescriptions(KDSHANDLE table);
    void AllocateKeyBuffers();
    void FreeKeyBuffers();
    bool StateAllowsBlobDiscard() const;
    // An active master link with fields: the detail follows it.
    bool FollowsActiveMaster() const;

    // Properties
    std::string databaseName_;
    std::string tableName_;
    TKdsTableTypes tableType_ = ttKdsKDT;
    bool exclusive_ = false;
    bool readOnly_ = false;
    TKdsConnection* connection_ = nullptr;
    std::unique_ptr<TKdsTableOptions> options_;
    std::unique_ptr<TKdsIndexFiles> indexFiles_;
    std::unique_ptr<db::TIndexDefs> indexDefs_;
    std::unique_ptr<db::TMasterDataLink> masterLink_;
    TUpdateRecordEvent onUpdateRecord_;
    bool storeDefs_ = false;
    std::string indexName_;
    std::string indexFieldNames_;
    bool scoped_ = false;
    std::string scopeBegin_;
    std::string scopeEnd_;
    bool storeActive_ = true;
    bool sequenced_ = false;

    // Run-time members
    KDSHANDLE tableHandle_ = kNoKdsHandle;
    KDSHANDLE orderHandle_ = kNoKdsHandle;
    uint8_t indexSelection_ = 0;
    UNSIGNED16 engineTableType_ = 3;
    uint32_t recordLength_ = 0;
    uint32_t recordBufferSize_ = 0;
    uint32_t blobSlotOffset_ = 0;
    uint32_t recordInfoOffset_ = 0;
    uint32_t bookmarkOffset_ = 0;
    TKCEFieldDefs fieldDescriptions_;
    std::array<std::vector<char>, kKeyBufferCount> keyBuffers_;
    int currentKeyBuffer_ = 0;
    bool cursorReady_ = false;
    // OpenTableType of the open cursor; 0 until it is first asked.
    UNSIGNED16 openTableType_ = 0;
    // Set while Post runs for a record in the Insert state.
    bool postingNewRecord_ = false;
    std::vector<char> oldRecordImage_;
    std::string defaultIndexName_;
    std::string resolvedAliasPath_;
};

// Every live Keel dataset, in creation order.
rtl::TThreadList<TKdsDataSet>& DataSetRegistry();

}  // namespace kds
