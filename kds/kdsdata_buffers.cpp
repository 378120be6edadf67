// TKdsDataSet record buffers and navigation: the buffer layout, fetching the engine's current
// record into a buffer, cursor moves, bookmarks, record numbers and record counts.
//
// The cursor always moves on OrderHandle (the active index, or the table in natural order); the
// raw record, the end tests and bookmark positioning use TableHandle.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kds/kdsdata.h"
#include "kds/kdsdata_limits.h"

namespace kds {
namespace {

constexpr int kRecordInfoSize = 8;
constexpr int kStatusByte = 4;
constexpr int kBookmarkFlagByte = 5;

}  // namespace

KDSHANDLE TKdsDataSet::BookmarkHandle() const {
    return orderHandle_ != 0 && orderHandle_ != kNoKdsHandle ? orderHandle_ : tableHandle_;
}

void TKdsDataSet::ComputeRecordLayout() {
    UNSIGNED32 bookmarkLength = 0;
    CheckKdsStatus(this, KdsGetBookmarkLength(BookmarkHandle(), &bookmarkLength));
    // Summed in 64 bits and checked before anything is stored: a layout that does not fit is
    // refused, never wrapped into a buffer smaller than what is written into it.
    const uint64_t blobSlots = uint64_t{recordLength_} + uint64_t(std::max(CalcAreaSize(), 0));
    const uint64_t recordInfo = blobSlots + sizeof(TKdsBlobCache*) * uint64_t(BlobCount());
    const uint64_t bookmark = recordInfo + kRecordInfoSize;
    const uint64_t total = bookmark + bookmarkLength;
    if (total > kMaxRecordBufferSize) {
        KdsDatabaseError(this, "The record of " + std::to_string(recordLength_) +
                                   " bytes needs a record buffer of " + std::to_string(total) +
                                   " bytes; the components take at most " +
                                   std::to_string(kMaxRecordBufferSize) + ".");
    }
    SetBookmarkLength(static_cast<int>(bookmarkLength));
    blobSlotOffset_ = static_cast<uint32_t>(blobSlots);
    recordInfoOffset_ = static_cast<uint32_t>(recordInfo);
    bookmarkOffset_ = static_cast<uint32_t>(bookmark);
    recordBufferSize_ = static_cast<uint32_t>(total);
}

int32_t TKdsDataSet::RecordInfoNumber(db::TRecordBuffer buffer) const {
    int32_t number = 0;
    std::memcpy(&number, buffer + recordInfoOffset_, sizeof number);
    return number;
}

void TKdsDataSet::SetRecordInfoNumber(db::TRecordBuffer buffer, int32_t number) const {
    std::memcpy(buffer + recordInfoOffset_, &number, sizeof number);
}

uint32_t TKdsDataSet::BookmarkRecordNumber(db::TRecordBuffer buffer) const {
    uint32_t number = 0;
    std::memcpy(&number, buffer + bookmarkOffset_, sizeof number);
    return number;
}

TKdsBlobCache* TKdsDataSet::BlobSlot(db::TRecordBuffer buffer, int slot) const {
    TKdsBlobCache* cache = nullptr;
    std::memcpy(&cache, buffer + blobSlotOffset_ + sizeof cache * slot, sizeof cache);
    return cache;
}

void TKdsDataSet::SetBlobSlot(db::TRecordBuffer buffer, int slot, TKdsBlobCache* cache) const {
    std::memcpy(buffer + blobSlotOffset_ + sizeof cache * slot, &cache, sizeof cache);
}

// ---- Buffer hooks
// -----------------------------------------------------------------------------------

db::TRecordBuffer TKdsDataSet::NewRecordBuffer() {
    // Zeroed, so that the record information and the blob slots start defined. Aligned for the
    // record information's 32-bit word and the blob slots' pointers.
    // (new[] of char is aligned for any fundamental type.)
    db::TRecordBuffer buffer = new char[recordBufferSize_];
    std::memset(buffer, 0, recordBufferSize_);
    try {
        CreateBlobCaches(buffer);
    } catch (...) {
        delete[] buffer;
        throw;
    }
    return buffer;
}

void TKdsDataSet::DisposeRecordBuffer(db::TRecordBuffer& buffer) {
    if (buffer == nullptr) return;
    DestroyBlobCaches(buffer);
    delete[] buffer;
    buffer = nullptr;
}

void TKdsDataSet::ReadBookmarkData(db::TRecordBuffer buffer, void* destination) {
    std::memcpy(destination, buffer + bookmarkOffset_, BookmarkLength());
}

void TKdsDataSet::WriteBookmarkData(db::TRecordBuffer buffer, const void* bookmark) {
    std::memcpy(buffer + bookmarkOffset_, bookmark, BookmarkLength());
}

db::BookmarkFlag TKdsDataSet::ReadBookmarkFlag(db::TRecordBuffer buffer) {
    return static_cast<db::BookmarkFlag>(buffer[recordInfoOffset_ + kBookmarkFlagByte]);
}

void TKdsDataSet::WriteBookmarkFlag(db::TRecordBuffer buffer, db::BookmarkFlag flag) {
    buffer[recordInfoOffset_ + kBookmarkFlagByte] = static_cast<char>(flag);
}

void TKdsDataSet::ClearCalcArea(db::TRecordBuffer buffer) {
    std::memset(buffer + recordLength_, 0, CalcAreaSize());
}

void TKdsDataSet::InitRecordBuffer(db::TRecordBuffer buffer) {
    db::TDataSet::InitRecordBuffer(buffer);
    SetRecordInfoNumber(buffer, -1);
    buffer[recordInfoOffset_ + kStatusByte] = 0;
    WriteBookmarkFlag(buffer, db::BookmarkFlag::Current);
    std::memset(buffer + bookmarkOffset_, 0, std::min(BookmarkLength(), 4));
}

void TKdsDataSet::CursorInsert() {
    std::memset(ActiveBuffer() + bookmarkOffset_, 0, std::min(BookmarkLength(), 4));
}

// ---- Fetching
// ---------------------------------------------------------------------------------------

db::FetchResult TKdsDataSet::FetchRecord(db::TRecordBuffer buffer, db::FetchMode mode, bool) {
    if (tableHandle_ == kNoKdsHandle || State() == db::DataSetState::Insert) {
        return db::FetchResult::Error;
    }
    switch (mode) {
        case db::FetchMode::Next:
            CheckKdsStatus(this, KdsSkip(orderHandle_, 1));
            break;
        case db::FetchMode::Prior:
            CheckKdsStatus(this, KdsSkip(orderHandle_, -1));
            break;
        case db::FetchMode::Current:
            break;
        default:
            return db::FetchResult::Error;
    }
    db::FetchResult result = ReadCurrentRecord(buffer, recordBufferSize_, mode);
    if (result == db::FetchResult::OK) {
        buffer[recordInfoOffset_ + kStatusByte] = 0;
        WriteBookmarkFlag(buffer, db::BookmarkFlag::Current);
        SetRecordInfoNumber(buffer, CursorRecordNumber());
    }
    return result;
}

bool TKdsDataSet::StateAllowsBlobDiscard() const {
    switch (State()) {
        case db::DataSetState::Browse:
        case db::DataSetState::Edit:
        case db::DataSetState::Insert:
        case db::DataSetState::CalcFields:
        case db::DataSetState::NewValue:
            return true;
        default:
            return false;
    }
}

db::FetchResult TKdsDataSet::ReadCurrentRecord(db::TRecordBuffer buffer, int length,
                                               db::FetchMode mode) {
    for (;;) {
        UNSIGNED16 atEnd = 0;
        CheckKdsStatus(this, KdsAtEOF(tableHandle_, &atEnd));
        if (atEnd != 0 && (mode == db::FetchMode::Current || mode == db::FetchMode::Next)) {
            return db::FetchResult::Eof;
        }
        UNSIGNED16 atStart = 0;
        CheckKdsStatus(this, KdsAtBOF(tableHandle_, &atStart));
        if (atStart != 0 && (mode == db::FetchMode::Current || mode == db::FetchMode::Prior)) {
            return db::FetchResult::Bof;
        }
        UNSIGNED16 visible = 0;
        KCESTATUS status = KdsIsRecordVisible(orderHandle_, &visible);
        // No current record: nothing to show, the same answer as a hidden record.
        if (status == KCE_NO_CURRENT_RECORD)
            visible = 0;
        else
            CheckKdsStatus(this, status);
        if (visible == 0) return db::FetchResult::Error;

        UNSIGNED32 recordLength = static_cast<UNSIGNED32>(length);
        CheckKdsStatus(
            this, KdsGetRecord(tableHandle_, reinterpret_cast<UNSIGNED8*>(buffer), &recordLength));
        UNSIGNED32 bookmarkLength = static_cast<UNSIGNED32>(BookmarkLength());
        CheckKdsStatus(this,
                       KdsGetBookmark60(BookmarkHandle(),
                                        reinterpret_cast<UNSIGNED8*>(buffer + bookmarkOffset_),
                                        &bookmarkLength));
        if (BlobCount() > 0) {
            for (int i = 0; i < fieldDescriptions_.Count(); ++i) {
                const TKCEFieldDef& d = fieldDescriptions_.Item(i);
                if (!image::IsBlobType(d.FieldType)) continue;
                UNSIGNED16 empty = 0;
                CheckKdsStatus(this, KdsIsEmpty(tableHandle_, KceField(d.FieldNum), &empty));
                int32_t marker = empty != 0 ? 0 : -1;
                std::memcpy(buffer + d.Offset, &marker, sizeof marker);
            }
            if (StateAllowsBlobDiscard()) DiscardBlobCaches(buffer);
        }
        if (options_->KdsCharType() == OEM) {
            for (int i = 0; i < fieldDescriptions_.Count(); ++i) {
                const TKCEFieldDef& d = fieldDescriptions_.Item(i);
                if (d.FieldType != KCE_STRING) continue;
                // The engine ends the text with a zero: read it aside so that nothing past the
                // field is touched, then lay the text (and its zero, when shorter) over the field.
                std::vector<UNSIGNED8> text(d.Length + 1);
                UNSIGNED32 capacity = d.Length + 1;
                KCESTATUS textStatus =
                    KdsGetField(tableHandle_, KceField(d.FieldNum), text.data(), &capacity, 0);
                if (textStatus == KCE_SUCCESS) {
                    std::memcpy(buffer + d.Offset, text.data(), std::min(capacity + 1, d.Length));
                }
                CheckKdsStatus(this, textStatus);
            }
        }
        FillCalcFields(buffer);
        if (OnFilterRecord() && Filtered()) {
            bool accepted = true;
            db::DataSetState saved = EnterTempState(db::DataSetState::Filter);
            db::TRecordBuffer savedFilterBuffer = FilterBuffer();
            SetFilterBuffer(buffer);
            try {
                OnFilterRecord()(*this, accepted);
            } catch (std::exception& error) {
                // Reported like any handler's failure; the record is judged as the handler
                // left it and reading goes on.
                CursorHandleException(error);
            }
            SetFilterBuffer(savedFilterBuffer);
            LeaveTempState(saved);
            if (!accepted) {
                CheckKdsStatus(this, KdsSkip(orderHandle_, mode == db::FetchMode::Prior ? -1 : 1));
                continue;
            }
        }
        return db::FetchResult::OK;
    }
}

int32_t TKdsDataSet::CursorRecordNumber() {
    if ((indexName_.empty() && indexFieldNames_.empty()) || !sequenced_) {
        UNSIGNED32 number = 0;
        CheckKdsStatus(this, KdsGetRecordNum(tableHandle_, KCE_IGNORE_FILTERS, &number));
        return static_cast<int32_t>(number);
    }
    UNSIGNED32 count = 0;
    CheckKdsStatus(this, KdsGetRecordCount(tableHandle_, KCE_IGNORE_FILTERS, &count));
    double position = 0;
    KCESTATUS status = KdsGetRelKeyPos(orderHandle_, &position);
    if (status == KCE_NO_POSITION) {
        position = 0;
    } else {
        CheckKdsStatus(this, status);
    }
    return static_cast<int32_t>(count * position);
}

// ---- Cursor moves
// -----------------------------------------------------------------------------------

void TKdsDataSet::CursorFirst() {
    CheckKdsStatus(this, KdsGotoTop(orderHandle_));
    CheckKdsStatus(this, KdsSkip(orderHandle_, -1));
}

void TKdsDataSet::CursorLast() {
    CheckKdsStatus(this, KdsGotoBottom(orderHandle_));
    CheckKdsStatus(this, KdsSkip(orderHandle_, 1));
}

void TKdsDataSet::PositionCursorAt(int index) {
    // A new record being posted is not in the table yet, and CursorPost appends it wherever the
    // engine cursor stands: moving the cursor past the end (an appended record) or before the
    // start first would only cost the engine a record read per Post. A bookmark move is skipped
    // in the Insert state anyway (CursorGoToBookmark). After the post the window is refilled
    // from the record just written; a failed post leaves the Insert state, whose Cancel puts
    // the cursor back itself.
    if (postingNewRecord_ && State() == db::DataSetState::Insert && index == ActiveIndex()) {
        db::BookmarkFlag flag = ReadBookmarkFlag(WindowBuffer(index));
        if (flag == db::BookmarkFlag::Bof || flag == db::BookmarkFlag::Eof) return;
    }
    db::TDataSet::PositionCursorAt(index);
}

void TKdsDataSet::CursorGoToBookmark(const void* bookmark) {
    if (State() == db::DataSetState::Insert) return;
    uint32_t word = 0;
    std::memcpy(&word, bookmark, sizeof word);
    KCESTATUS status = KdsGotoBookmark(tableHandle_, word);
    if (status != KCE_INVALID_RECORD) CheckKdsStatus(this, status);
}

void TKdsDataSet::CursorSetToRecord(db::TRecordBuffer buffer) {
    CursorGoToBookmark(buffer + bookmarkOffset_);
}

void TKdsDataSet::CursorRefresh() {
    KCESTATUS status = KdsRefreshRecord(tableHandle_);
    if (status != KCE_NO_CURRENT_RECORD) CheckKdsStatus(this, status);
}

// ---- Bookmarks, record numbers and counts
// -----------------------------------------------------------

int TKdsDataSet::CompareBookmarkOrder(const db::TBookmark& a, const db::TBookmark& b) {
    if (a.empty() && b.empty()) return 0;
    if (b.empty()) return -1;
    if (a.empty()) return 1;
    SIGNED32 result = 0;
    CheckKdsStatus(this,
                   KdsCompareBookmarks(reinterpret_cast<const UNSIGNED8*>(a.data()),
                                       reinterpret_cast<const UNSIGNED8*>(b.data()), &result));
    return result;
}

bool TKdsDataSet::CopyActiveRecord(db::TRecordBuffer buffer) {
    if (IsEmpty() || ReadBookmarkFlag(ActiveBuffer()) != db::BookmarkFlag::Current) return false;
    SyncCursor();
    std::memcpy(buffer, ActiveBuffer(), recordLength_);
    return true;
}

bool TKdsDataSet::IsBookmarkValid(const db::TBookmark& bookmark) {
    if (!Active() || bookmark.size() < sizeof(uint32_t)) return false;
    ForgetCursorPosition();
    uint32_t word = 0;
    std::memcpy(&word, bookmark.data(), sizeof word);
    if (KdsGotoBookmark(tableHandle_, word) != KCE_SUCCESS) return false;
    UNSIGNED16 atEnd = 0;
    if (KdsAtEOF(tableHandle_, &atEnd) != KCE_SUCCESS || atEnd != 0) return false;
    if (tableType_ == ttKdsCDX || tableType_ == ttKdsNTX) {
        UNSIGNED16 deleted = 0;
        CheckKdsStatus(this, KdsIsRecordDeleted(tableHandle_, &deleted));
        if (deleted != 0) {
            UNSIGNED16 shown = 0;
            CheckKdsStatus(this, KdsGetDeleted(&shown));
            return shown != 0;
        }
    }
    return true;
}

int TKdsDataSet::RecordNumber() {
    RequireActive();
    if (State() == db::DataSetState::CalcFields) {
        return static_cast<int>(BookmarkRecordNumber(CalcTarget()));
    }
    return RecordInfoNumber(ActiveBuffer());
}

void TKdsDataSet::SetRecordNumber(int number) {
    EnsureBrowseMode();
    FireBeforeScroll();
    if (indexSelection_ == 0) {
        if (Filtered()) {
            CheckKdsStatus(this, KdsGotoTop(tableHandle_));
            CheckKdsStatus(this, KdsSkip(tableHandle_, number - 1));
        } else {
            CheckKdsStatus(this, KdsGotoRecord(tableHandle_, static_cast<UNSIGNED32>(number)));
        }
    } else {
        UNSIGNED32 count = 0;
        CheckKdsStatus(this, KdsGetRecordCount(tableHandle_, KCE_IGNORE_FILTERS, &count));
        double position = count == 0 ? 0.0 : static_cast<double>(number) / count;
        position = std::min(position, 1.0);
        CheckKdsStatus(this, KdsSetRelKeyPos(orderHandle_, position));
    }
    RefillBuffers({db::rmCenter});
    FireAfterScroll();
}

int TKdsDataSet::CountRecords() {
    RequireActive();
    UNSIGNED16 option = KCE_IGNORE_FILTERS;
    if (options_->KdsFilterOptions() == RESPECT_WHEN_COUNTING) {
        option = KCE_RESPECT_FILTERS;
    } else if (options_->KdsScopeOptions() == RESPECT_SCOPES_WHEN_COUNTING) {
        option = KCE_RESPECT_SCOPES;
    }
    KDSHANDLE handle = orderHandle_;
    if (option == KCE_RESPECT_FILTERS && orderHandle_ != tableHandle_) {
        // An index without a condition or scope holds every record: the table counts faster.
        UNSIGNED32 flags = 0;
        CheckKdsStatus(this, KdsGetIndexFlags(orderHandle_, &flags));
        if (tableType_ == ttKdsKDT || (flags & KCE_INDEX_UNIQUE) == 0) {
            UNSIGNED8 condition[kIndexConditionCapacity + 1] = {};
            UNSIGNED16 length = kIndexConditionCapacity;
            CheckKdsStatus(this, KdsGetIndexCondition(orderHandle_, condition, &length));
            if (length == 0 && condition[0] == 0 && !OrderHasScope()) handle = tableHandle_;
        }
    }
    if (options_->KdsFreshRecordCount()) option |= KCE_REFRESHCOUNT;
    UNSIGNED32 count = 0;
    CheckKdsStatus(this, KdsGetRecordCount(handle, option, &count));
    return static_cast<int>(count);
}

bool TKdsDataSet::OrderHasScope() {
    if (orderHandle_ == tableHandle_) return false;
    for (UNSIGNED16 which : {UNSIGNED16{KCE_TOP}, UNSIGNED16{KCE_BOTTOM}}) {
        UNSIGNED16 length = 0;
        KCESTATUS status = KdsGetScope(orderHandle_, which, nullptr, &length);
        if (status != KCE_NO_SCOPE) return true;
    }
    return false;
}

}  // namespace kds
