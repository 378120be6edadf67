// The editing protocol: Append, Insert, Edit, Post, Cancel, Delete, EnsureBrowseMode, Refresh,
// and the error loop that offers a failing Edit, Post or Delete hook to its error event.
#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/fields.h"

namespace db {

void TDataSet::RunWithErrorLoop(const std::function<void()>& hook,
                                const TDataSetErrorEvent& event) {
    for (;;) {
        try {
            SyncCursor();
            hook();
            return;
        } catch (EDatabaseError& error) {
            TDataAction action = TDataAction::daFail;
            if (event) event(*this, error, action);
            if (action == TDataAction::daFail) throw;
            if (action == TDataAction::daAbort) rtl::Abort();
            // daRetry: run the hook again.
        }
    }
}

// The update step: pending text of attached controls reaches the record.
void TDataSet::UpdateStep() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert &&
        state_ != DataSetState::SetKey) {
        Error(std::string(msg::kNotEditing));
    }
    NotifyDataEvent(DataEventCode::RecordUpdate);
}

void TDataSet::EnsureBrowseMode() {
    RequireActive();
    NotifyDataEvent(DataEventCode::BrowseModeCheck);
    switch (state_) {
        case DataSetState::Edit:
        case DataSetState::Insert:
            UpdateStep();
            if (modified_) {
                Post();
            } else {
                Cancel();
            }
            break;
        case DataSetState::SetKey:
            Post();
            break;
        default:
            break;
    }
}

void TDataSet::BeginInsertAppend() {
    EnsureBrowseMode();
    if (!IsModifiable()) Error(std::string(msg::kDataSetReadOnly));
    FireBeforeInsert();
    FireBeforeScroll();
}

void TDataSet::EndInsertAppend() {
    SetState(DataSetState::Insert);
    try {
        FireOnNewRecord();
    } catch (...) {
        SyncCursor();
        ReleaseFieldBuffers();
        SetState(DataSetState::Browse);
        RefillBuffers({});
        throw;
    }
    modified_ = false;
    NotifyDataEvent(DataEventCode::DataSetChange);
    FireAfterInsert();
    FireAfterScroll();
    CheckStateInvariants();
}

void TDataSet::InitRecordBuffer(TRecordBuffer buffer) {
    CursorInitRecord(buffer);
    ClearCalcArea(buffer);
    WriteBookmarkFlag(buffer, BookmarkFlag::Inserted);
}

void TDataSet::Append() {
    BeginInsertAppend();
    ResetBufferWindow();
    TRecordBuffer buffer = buffers_[0];
    InitRecordBuffer(buffer);
    WriteBookmarkFlag(buffer, BookmarkFlag::Eof);
    filledCount_ = 1;
    atBOF_ = false;
    FillBackward();
    CursorInsert();
    EndInsertAppend();
}

void TDataSet::Insert() {
    BeginInsertAppend();
    std::string bookmark = BookmarkText();
    MoveBuffer(filledCount_, activeIndex_);
    TRecordBuffer buffer = ActiveBuffer();
    InitRecordBuffer(buffer);
    if (filledCount_ == 0) {
        WriteBookmarkFlag(buffer, BookmarkFlag::Bof);
    } else if (!bookmark.empty()) {
        WriteBookmarkData(buffer, bookmark.data());
    }
    if (filledCount_ < windowSize_) ++filledCount_;
    CursorInsert();
    EndInsertAppend();
}

void TDataSet::Edit() {
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
    if (filledCount_ == 0) {
        Insert();
        return;
    }
    EnsureBrowseMode();
    if (!IsModifiable()) Error(std::string(msg::kDataSetReadOnly));
    FireBeforeEdit();
    RunWithErrorLoop([this] { CursorEdit(); }, onEditError_);
    FillCalcFields(ActiveBuffer());
    SetState(DataSetState::Edit);
    NotifyDataEvent(DataEventCode::RecordChange);
    FireAfterEdit();
    CheckStateInvariants();
}

void TDataSet::CheckRequiredFields() {
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& field = fields_.At(i);
        if (field.Required() && !field.ReadOnly() && field.FieldKind() == fkData &&
            field.IsBlank()) {
            // No control shows the field here, so there is no focus to move.
            throw EDatabaseError(rtl::Format(msg::kFieldRequired, {field.DisplayName()}));
        }
    }
}

void TDataSet::Post() {
    UpdateStep();
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    NotifyDataEvent(DataEventCode::BrowseModeCheck);
    CheckRequiredFields();
    FireBeforePost();
    RunWithErrorLoop([this] { CursorPost(); }, onPostError_);
    ReleaseFieldBuffers();
    SetState(DataSetState::Browse);
    RefillBuffers({});
    FireAfterPost();
    CheckStateInvariants();
}

void TDataSet::Cancel() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    NotifyDataEvent(DataEventCode::BrowseModeCheck);
    FireBeforeCancel();
    bool wasInsert = state_ == DataSetState::Insert;
    if (wasInsert) FireBeforeScroll();
    SyncCursor();
    CursorCancel();
    ReleaseFieldBuffers();
    SetState(DataSetState::Browse);
    RefillBuffers({});
    FireAfterCancel();
    if (wasInsert) FireAfterScroll();
    CheckStateInvariants();
}

void TDataSet::Delete() {
    RequireActive();
    if (state_ == DataSetState::Insert || state_ == DataSetState::SetKey) {
        Cancel();
        return;
    }
    if (filledCount_ == 0) Error(std::string(msg::kDataSetEmpty));
    NotifyDataEvent(DataEventCode::BrowseModeCheck);
    FireBeforeDelete();
    FireBeforeScroll();
    RunWithErrorLoop([this] { CursorDelete(); }, onDeleteError_);
    ReleaseFieldBuffers();
    SetState(DataSetState::Browse);
    RefillBuffers({});
    FireAfterDelete();
    FireAfterScroll();
    CheckStateInvariants();
}

void TDataSet::Refresh() {
    FireBeforeRefresh();
    EnsureBrowseMode();
    SyncCursor();
    try {
        CursorRefresh();
    } catch (...) {
        RefillBuffers({});
        FireAfterRefresh();
        throw;
    }
    RefillBuffers({});
    FireAfterRefresh();
    CheckStateInvariants();
}

}  // namespace db
