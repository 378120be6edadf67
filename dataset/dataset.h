// TDataSet: a cursor over records with typed fields, a state machine, and a small window of
// record buffers that a descendant fills from its storage engine.
//
// The descendant supplies the engine access through the hooks (NewRecordBuffer ... WriteFieldData,
// all pure virtual here); navigation, the editing protocol, events and messages live here once.
//
// States and their transitions (temporary states return to the state they were entered from):
//
//                      Open (CursorOpen ok)
//        +----------+ --------------------------> +--------+  Edit (window not empty) +------+
//        | Inactive |                             | Browse | -----------------------> | Edit |
//        +----------+ <-------------------------- +--------+ <----------------------- +------+
//              ^        Close (from any state;     |  ^  ^      Post / Cancel / Delete /
//              |        pending change dropped)    |  |  |      EnsureBrowseMode
//              |                                   |  |  |
//              | Open fails (CursorOpen raised):   |  |  |  Post / Cancel / Delete (cancels) /
//              | back to Inactive, torn down       |  |  |  EnsureBrowseMode /
//              +-------------------------------    |  |  |  OnNewRecord raised
//                                                  |  |  +----------------------- +--------+
//       Append / Insert / Edit on an empty window  +--|--------------------------> | Insert |
//                                                     |                            +--------+
//        key entry (descendant: SetKey)   +--------+  |  Post / Cancel of the key
//        Browse ------------------------> | SetKey | -+
//                                         +--------+
//
//   EnterTempState / LeaveTempState (FillCalcFields, the filter event, FieldValueInState):
//        any open state <-> CalcFields | Filter | InternalCalc | NewValue | OldValue | CurValue
//
// Guarantees held by each state (checked after every public operation in debug builds):
//   Inactive         no buffers, WindowSize 0, FilledCount 0, Modified false.
//   open states      WindowSize >= 1; WindowSize + 1 buffers; 0 <= FilledCount <= WindowSize;
//                    ActiveIndex inside the filled part (0 when empty); CursorIndex -1 or inside
//                    the filled part; an empty window has AtBOF and AtEOF both true.
//   Browse           Modified false.
//   Edit, Insert     the window holds the pending record (FilledCount >= 1).
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/db_errors.h"
#include "dataset/db_types.h"
#include "dataset/fielddefs.h"
#include "dataset/fields.h"
#include "dataset/indexdefs.h"
#include "rtl/component.h"
#include "rtl/format.h"
#include "rtl/streams.h"
#include "rtl/variant.h"

namespace db {

class TDataSource;
class TParams;
class TDataLink;

class TDataSet : public rtl::TComponent {
  public:
    using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
    using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TDataAction&)>;
    using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

    explicit TDataSet(rtl::TComponent* owner = nullptr);
    ~TDataSet() override;

    // ---- Public operations -------------------------------------------------------------------
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    bool Active() const {
        return state_ != DataSetState::Inactive && state_ != DataSetState::Opening;
    }
    virtual void SetActive(bool active);

    void First();
    void Last();
    void Next() { Skip(1); }
    void Prior() { Skip(-1); }
    int Skip(int distance);
    // The first, last, next or prior record that the dataset's Filter accepts, also while
    // Filtered is off; false (and no move) when there is none. Base: nothing is found.
    bool FindFirst() { return FindFilteredRecord(true, true); }
    bool FindLast() { return FindFilteredRecord(true, false); }
    bool FindNext() { return FindFilteredRecord(false, true); }
    bool FindPrior() { return FindFilteredRecord(false, false); }
    bool AtBOF() const { return atBOF_; }
    bool AtEOF() const { return atEOF_; }

    void Append();
    void Insert();
    void Edit();
    virtual void Post();
    virtual void Cancel();
    void Delete();
    void Refresh();
    void EnsureBrowseMode();

    TField& FieldNamed(const std::string& name) const;
    TField* FieldNamedOrNull(const std::string& name) const;
    // Resolves "A;B;C"; adds each field to the list when one is given.
    void FieldsNamed(std::vector<TField*>* list, const std::string& names) const;
    int NumFields() const { return fields_.Count(); }
    TField& FieldAt(int index) const { return fields_.At(index); }
    TFields& Fields() { return fields_; }
    const TFields& Fields() const { return fields_; }
    TFieldDefs& FieldDefs() { return fieldDefs_; }
    const TFieldDefs& FieldDefs() const { return fieldDefs_; }

    virtual TBookmark TakeBookmark();
    void MoveToBookmark(const TBookmark& bookmark);
    virtual void DisposeBookmark(TBookmark& bookmark);
    virtual bool IsBookmarkValid(const TBookmark& bookmark);
    virtual int CompareBookmarkOrder(const TBookmark& a, const TBookmark& b);
    bool BookmarkAvailable() const;

    void SyncCursor();
    void ForgetCursorPosition() { cursorIndex_ = -1; }
    DataSetState EnterTempState(DataSetState state);
    void LeaveTempState(DataSetState previous);

    bool Found() const { return found_; }
    void SetFound(bool found) { found_ = found; }

    DataSetState State() const { return state_; }
    bool Modified() const { return modified_; }
    bool DefaultFields() const { return defaultFields_; }
    bool IsEmpty() const { return filledCount_ == 0; }
    int BookmarkLength() const { return bookmarkLength_; }
    int WindowSize() const { return windowSize_; }
    int FilledCount() const { return filledCount_; }
    int ActiveIndex() const { return activeIndex_; }
    int CursorIndex() const { return cursorIndex_; }
    int CalcAreaSize() const { return calcAreaSize_; }
    int BlobCount() const { return blobCount_; }
    bool HasInternalCalcs() const { return hasInternalCalcs_; }
    int FieldNumberBase() const { return 1; }

    // The buffer of the active record (the pending record while editing); none while closed.
    TRecordBuffer ActiveBuffer() const;
    // The buffer the field operations address in the current state: the one being calculated in
    // CalcFields/InternalCalc, else the active buffer; none in Browse with an empty window.
    TRecordBuffer StateBuffer() const;
    TRecordBuffer CalcTarget() const { return calcTarget_; }
    TRecordBuffer WindowBuffer(int index) const { return buffers_.at(index); }
    // The spare buffer past the window: fetches land there before they join the window, and a
    // descendant may use it between operations (a filter or search buffer).
    TRecordBuffer ScratchBuffer() const { return buffers_.empty() ? nullptr : buffers_.back(); }
    // The buffer field access uses in the Filter state (none: the active buffer).
    TRecordBuffer FilterBuffer() const { return filterBuffer_; }
    void SetFilterBuffer(TRecordBuffer buffer) { filterBuffer_ = buffer; }

    // ---- Published properties and events ------------------------------------------------------
    bool AutoCalcFields() const { return autoCalcFields_; }
    void SetAutoCalcFields(bool on) { autoCalcFields_ = on; }
    const std::string& Filter() const { return filter_; }
    virtual void SetFilter(const std::string& text) { filter_ = text; }
    bool Filtered() const { return filtered_; }
    virtual void SetFiltered(bool on) { filtered_ = on; }
    const TFilterOptions& FilterOptions() const { return filterOptions_; }
    virtual void SetFilterOptions(const TFilterOptions& options) { filterOptions_ = options; }
    const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
    virtual void SetOnFilterRecord(TFilterRecordEvent handler) {
        onFilterRecord_ = std::move(handler);
    }

#define DB_DATASET_EVENT(Name)                                  \
    const TDataSetNotifyEvent& Name() const { return Name##_; } \
    void Set##Name(TDataSetNotifyEvent handler) { Name##_ = std::move(handler); }
    DB_DATASET_EVENT(BeforeOpen)
    DB_DATASET_EVENT(AfterOpen)
    DB_DATASET_EVENT(BeforeClose)
    DB_DATASET_EVENT(AfterClose)
    DB_DATASET_EVENT(BeforeInsert)
    DB_DATASET_EVENT(AfterInsert)
    DB_DATASET_EVENT(BeforeEdit)
    DB_DATASET_EVENT(AfterEdit)
    DB_DATASET_EVENT(BeforePost)
    DB_DATASET_EVENT(AfterPost)
    DB_DATASET_EVENT(BeforeCancel)
    DB_DATASET_EVENT(AfterCancel)
    DB_DATASET_EVENT(BeforeDelete)
    DB_DATASET_EVENT(AfterDelete)
    DB_DATASET_EVENT(BeforeScroll)
    DB_DATASET_EVENT(AfterScroll)
    DB_DATASET_EVENT(BeforeRefresh)
    DB_DATASET_EVENT(AfterRefresh)
    DB_DATASET_EVENT(OnCalcFields)
    DB_DATASET_EVENT(OnNewRecord)
#undef DB_DATASET_EVENT
    const TDataSetErrorEvent& OnPostError() const { return onPostError_; }
    void SetOnPostError(TDataSetErrorEvent h) { onPostError_ = std::move(h); }
    const TDataSetErrorEvent& OnEditError() const { return onEditError_; }
    void SetOnEditError(TDataSetErrorEvent h) { onEditError_ = std::move(h); }
    const TDataSetErrorEvent& OnDeleteError() const { return onDeleteError_; }
    void SetOnDeleteError(TDataSetErrorEvent h) { onDeleteError_ = std::move(h); }

    // Loading from a stored definition: Active is recorded and applied when loading ends.
    void Loaded() override;

    // ---- Data links ---------------------------------------------------------------------------
    // Data sources serving this dataset, and the window sizing they drive.
    void AddDataSource(TDataSource* source);
    void RemoveDataSource(TDataSource* source);
    const std::vector<TDataSource*>& DataSources() const { return dataSources_; }
    // Recomputes WindowSize from the links; an open dataset gets or drops buffers and refills.
    void UpdateBufferCount();

    // ---- Virtual operations (base behaviour; descendants override) ----------------------------
    // The data-provider block: a provider reads tables, passes parameters and reports updates
    // through these. The base answers false, nothing or none; the Keel datasets answer them.
    virtual void ProviderEndTransaction(bool /*commit*/) {}
    virtual void ProviderExecute() {}
    // Runs a statement; with a result holder, the result cursor's dataset goes there.
    virtual int ProviderExecuteStatement(const std::string& /*sql*/, TParams* /*params*/,
                                         std::unique_ptr<TDataSet>* /*result*/) {
        return 0;
    }
    virtual void ProviderAttributes(std::vector<std::pair<std::string, rtl::Variant>>&) {}
    virtual std::unique_ptr<TIndexDef> ProviderDefaultOrder() { return nullptr; }
    virtual std::string ProviderKeyFields() { return {}; }
    virtual TParams* ProviderParams() { return nullptr; }
    virtual std::string ProviderQuoteChar() { return {}; }
    virtual std::string ProviderTableName() { return {}; }
    virtual std::unique_ptr<TIndexDefs> ProviderIndexDefs(const TIndexOptions&) { return nullptr; }
    virtual std::exception_ptr ProviderUpdateException(std::exception_ptr) { return nullptr; }
    virtual bool ProviderInTransaction() { return false; }
    virtual bool ProviderIsSQLBased() { return false; }
    virtual bool ProviderIsSQLSupported() { return false; }
    virtual void ProviderReset() {}
    virtual void ProviderSetParams(TParams& /*params*/) {}
    virtual void ProviderSetCommandText(const std::string& /*text*/) {}
    virtual void ProviderStartTransaction() {}
    virtual bool ProviderUpdateRecord(TUpdateKind /*kind*/, TDataSet& /*delta*/) { return false; }

    virtual void ComputeCalcFields(TRecordBuffer buffer);
    virtual void RequireActive() const;
    virtual void CheckFieldAgainstDef(const TField& field, const TFieldDef& def);
    virtual void RequireInactive();
    virtual void ResetBufferWindow();
    virtual void ClearCalcArea(TRecordBuffer buffer);
    virtual void ReleaseBlob(TField& field);
    virtual void TearDownCursor();
    virtual void CreateDefaultFields();
    // Converts one field's data between the native form the descendant stores and the value form
    // the field classes work with (date-time doubles, currency counts).
    virtual void ConvertFieldData(const TField& field, const void* source, void* destination,
                                  bool toNative);
    virtual void NotifyDataEvent(DataEventCode event, const void* argument = nullptr);
    virtual void DefinitionsChanged(void* collection);
    virtual void DestroyDefaultFields();

    virtual void FireAfterCancel();
    virtual void FireAfterClose();
    virtual void FireAfterDelete();
    virtual void FireAfterEdit();
    virtual void FireAfterInsert();
    virtual void FireAfterOpen();
    virtual void FireAfterPost();
    virtual void FireAfterRefresh();
    virtual void FireAfterScroll();
    virtual void FireBeforeCancel();
    virtual void FireBeforeClose();
    virtual void FireBeforeDelete();
    virtual void FireBeforeEdit();
    virtual void FireBeforeInsert();
    virtual void FireBeforeOpen();
    virtual void FireBeforePost();
    virtual void FireBeforeRefresh();
    virtual void FireBeforeScroll();
    virtual void FireOnCalcFields();
    virtual void FireOnNewRecord();

    virtual bool FindFilteredRecord(bool restart, bool forward);
    virtual void ReleaseFieldBuffers();
    virtual void ActivateBufferWindow();
    // The active record's bookmark bytes, empty when none is available.
    virtual std::string BookmarkText();
    virtual void SetBookmarkText(const std::string& text);
    virtual void FillCalcFields(TRecordBuffer buffer);
    virtual bool IsModifiable();
    virtual TDataSource* MasterDataSource() const { return nullptr; }
    // A new field object of the class that serves the type; none for a type without one.
    virtual std::unique_ptr<TField> FieldClassFor(TFieldType type);
    virtual std::string FullFieldName(const TField& field) const;
    virtual rtl::Variant FieldValueInState(DataSetState state, TField& field);
    virtual bool FieldIsIndexed(const TField& field) const;
    virtual int FillForward();
    virtual bool FetchNext();
    virtual int FillBackward();
    virtual bool FetchPrior();
    virtual int CountRecords();
    virtual int RecordNumber();
    virtual void SetRecordNumber(int number);
    virtual void LoadFieldDefs();
    virtual void InitRecordBuffer(TRecordBuffer buffer);
    virtual void CursorCancel() {}
    virtual void CursorEdit() {}
    virtual void CursorInsert() {}
    virtual void CursorRefresh() {}
    virtual void SetUpCursor(bool informationOnly);
    virtual void RefreshInternalCalcFields(TRecordBuffer buffer);
    virtual void PositionCursorAt(int index);
    virtual void RefreshIndexDefs() {}

    // The whole content of a blob field through OpenBlobStream; answers its size.
    virtual int ReadBlobBytes(int fieldNumber, std::string& bytes);
    // Native-form field data of the buffer the state chooses. Without a destination only the
    // presence of a value is answered. Base: no data.
    virtual bool ReadFieldData(const TField& field, void* destination);
    bool ReadFieldDataByNumber(int fieldNumber, void* destination);
    // Value-form access: converts through ConvertFieldData unless nativeFormat.
    virtual bool ReadFieldData(const TField& field, void* destination, bool nativeFormat);
    virtual void WriteFieldData(TField& field, const void* source, bool nativeFormat);
    virtual bool HasRecordNumbers() const { return true; }
    // Searches by field values: one value per name of keyFields (names separated by ";").
    // Base: nothing is found.
    virtual bool Locate(const std::string& keyFields, const std::vector<rtl::Variant>& keyValues,
                        const TLocateOptions& options);
    bool Locate(const std::string& keyField, const rtl::Variant& keyValue,
                const TLocateOptions& options) {
        return Locate(keyField, std::vector<rtl::Variant>{keyValue}, options);
    }
    // The values of resultFields (one per name) of the record found; a single null when none
    // is found. Base: a single false.
    virtual std::vector<rtl::Variant> Lookup(const std::string& keyFields,
                                             const std::vector<rtl::Variant>& keyValues,
                                             const std::string& resultFields);
    virtual void RefillBuffers(const TResyncMode& mode);
    // Source and destination may be the same string (the field classes translate in place).
    virtual int TranslateText(const std::string& source, std::string& destination, bool toOem);
    virtual int UpdateStatus() const { return 0; }
    // A stream over a blob field's content of the active record; none in the base.
    virtual std::unique_ptr<rtl::TStream> OpenBlobStream(TField& field, TBlobStreamMode mode);
    virtual bool CopyActiveRecord(TRecordBuffer buffer);
    virtual void DetailLinkFields(std::vector<TField*>& masterFields,
                                  std::vector<TField*>& detailFields);

  protected:
    // ---- Hooks a descendant supplies ---------------------------------------------------------
    virtual TRecordBuffer NewRecordBuffer() = 0;
    virtual void DisposeRecordBuffer(TRecordBuffer& buffer) = 0;
    virtual void ReadBookmarkData(TRecordBuffer buffer, void* destination) = 0;
    virtual BookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) = 0;
    virtual FetchResult FetchRecord(TRecordBuffer buffer, FetchMode mode, bool check) = 0;
    virtual int RecordDataSize() = 0;
    virtual void InternalAddRecord(TRecordBuffer buffer, bool append) = 0;
    virtual void CursorClose() = 0;
    virtual void CursorDelete() = 0;
    virtual void CursorFirst() = 0;
    virtual void CursorGoToBookmark(const void* bookmark) = 0;
    virtual void CursorHandleException(std::exception& error) = 0;
    virtual void CursorInitFieldDefs() = 0;
    virtual void CursorInitRecord(TRecordBuffer buffer) = 0;
    virtual void CursorLast() = 0;
    virtual void CursorOpen() = 0;
    virtual void CursorPost() = 0;
    virtual void CursorSetToRecord(TRecordBuffer buffer) = 0;
    virtual bool CursorIsOpen() const = 0;
    virtual void WriteBookmarkFlag(TRecordBuffer buffer, BookmarkFlag flag) = 0;
    virtual void WriteBookmarkData(TRecordBuffer buffer, const void* bookmark) = 0;
    // Stores the field's native data (none: a null value) in the buffer the state chooses, then
    // sends FieldChange.
    virtual void WriteFieldData(TField& field, const void* source) = 0;

    // ---- Services for descendants ------------------------------------------------------------
    // Closes the dataset while its hooks still exist: a descendant's destructor calls it (the
    // base destructor runs after the descendant's overrides are gone). No close events fire.
    void CloseForDestruction();
    void SetState(DataSetState state);
    void SetBookmarkLength(int length) { bookmarkLength_ = length; }
    void SetModified(bool modified) { modified_ = modified; }
    void SetAtBOF(bool on) { atBOF_ = on; }
    void SetAtEOF(bool on) { atEOF_ = on; }
    // Frees every record buffer and obtains as many again, calling `relayout` in between (for a
    // descendant whose buffer layout changed). The window's records are gone afterwards: the
    // caller refills it. A failed allocation closes the dataset and the error propagates.
    // Without buffers (during CursorOpen) only `relayout` runs.
    void RebuildRecordBuffers(const std::function<void()>& relayout);
    // Binds the field list to FieldDefs (CursorOpen calls it once the definitions are known).
    void BindFields(bool binding);
    // The error loop of Edit, Post and Delete around one hook.
    void RunWithErrorLoop(const std::function<void()>& hook, const TDataSetErrorEvent& event);
    // Raises EDatabaseError with this dataset's prefix.
    [[noreturn]] void Error(const std::string& message) const;
    [[noreturn]] void ErrorFmt(std::string_view pattern,
                               std::initializer_list<rtl::FormatArg> args) const;

    // The debug-only check of the guarantees drawn at the top of this file.
    void CheckStateInvariants() const;

  private:
    friend class TField;
    friend class TFields;

    void OpenStep();
    void BeginInsertAppend();
    void EndInsertAppend();
    void UpdateStep();
    void CheckRequiredFields();
    void MoveBuffer(int from, int to);
    int ScratchIndex() const { return windowSize_; }
    void FireEvent(const TDataSetNotifyEvent& event);
    void OwnDefaultField(std::unique_ptr<TField> field);

    DataSetState state_ = DataSetState::Inactive;
    bool atBOF_ = false;
    bool atEOF_ = true;
    bool modified_ = false;
    bool defaultFields_ = false;
    bool openHookDone_ = false;
    bool storedActive_ = false;
    bool autoCalcFields_ = true;
    bool filtered_ = false;
    bool found_ = false;
    std::string filter_;
    TFilterOptions filterOptions_;
    std::vector<TRecordBuffer> buffers_;
    int windowSize_ = 0;
    int filledCount_ = 0;
    int activeIndex_ = 0;
    int cursorIndex_ = -1;
    int calcAreaSize_ = 0;
    int blobCount_ = 0;
    bool hasInternalCalcs_ = false;
    TRecordBuffer calcTarget_ = nullptr;
    TRecordBuffer filterBuffer_ = nullptr;
    int bookmarkLength_ = 0;
    int suppressCount_ = 0;
    bool layoutChangePending_ = false;

    TFieldDefs fieldDefs_;
    TFields fields_;
    std::vector<std::unique_ptr<TField>> defaultFieldObjects_;
    std::vector<TDataSource*> dataSources_;

    TDataSetNotifyEvent BeforeOpen_, AfterOpen_, BeforeClose_, AfterClose_, BeforeInsert_,
        AfterInsert_, BeforeEdit_, AfterEdit_, BeforePost_, AfterPost_, BeforeCancel_, AfterCancel_,
        BeforeDelete_, AfterDelete_, BeforeScroll_, AfterScroll_, BeforeRefresh_, AfterRefresh_,
        OnCalcFields_, OnNewRecord_;
    TDataSetErrorEvent onPostError_, onEditError_, onDeleteError_;
    TFilterRecordEvent onFilterRecord_;
};

}  // namespace db
