// The write side of TKdsDataSet: record locks, new records, posting field by field, cancelling
// and deleting.
//
// A record reaches the table only at Post: Insert and Append prepare a blank image in the buffer
// and mark it "not appended" (record number 0 in its bookmark). Post appends it in the engine,
// flags the buffer Inserted, writes every field and the modified blobs, then the record. A Post
// that fails after the append leaves the engine's pending record and the Inserted flag in place,
// so a retried Post writes into that same record instead of appending a second one; Cancel
// discards it.
//
// Locks: on a shared table Edit takes exactly one record lock, released by a successful Post or
// by Cancel; a failed Post keeps it (the dataset stays in Edit). An exclusive table takes none.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dataset/fields.h"
#include "kds/kdsblob.h"
#include "kds/kdsdata.h"
#include "kds/kdsengine.h"

namespace kds {

namespace {

void SetBookmarkRecordNumber(char* bookmark, uint32_t recordNumber) {
    std::memcpy(bookmark, &recordNumber, sizeof recordNumber);
}

}  // namespace

void TKdsDataSet::CursorEdit() {
    db::TRecordBuffer buffer = ActiveBuffer();
    uint32_t recordNumber = BookmarkRecordNumber(buffer);
    if (!Exclusive()) {
        KCESTATUS status = KdsLockRecord(TableHandle(), recordNumber);
        if (status == KCE_STATIC_CURSOR)
            KdsDatabaseError(this, msg::kStaticView, KCE_STATIC_CURSOR);
        CheckKdsStatus(this, status);
    }
    // The edit starts from the record as it is stored now; this also resets the blob caches.
    ReadCurrentRecord(buffer, RecordLength(), db::FetchMode::Current);
    // Room for one byte more than the image, allocated once and reused by later edits.
    std::vector<char>& old = OldRecordImage();
    if (old.empty()) old.assign(RecordLength() + 1u, '\0');
    std::memcpy(old.data(), buffer, RecordLength());
}

void TKdsDataSet::CursorPost() {
    const KDSHANDLE table = TableHandle();
    db::TRecordBuffer buffer = ActiveBuffer();
    if (State() == db::DataSetState::Edit) {
        CheckKdsStatus(this, KdsGotoRecord(table, BookmarkRecordNumber(buffer)));
    } else if (State() == db::DataSetState::Insert &&
               ReadBookmarkFlag(buffer) != db::BookmarkFlag::Inserted) {
        CheckKdsStatus(this, KdsAppendRecord(table));
        WriteBookmarkFlag(buffer, db::BookmarkFlag::Inserted);
        UNSIGNED32 recordNumber = 0;
        CheckKdsStatus(this, KdsGetRecordNum(table, KCE_IGNORE_FILTERS, &recordNumber));
        SetBookmarkRecordNumber(buffer + BookmarkOffset(), recordNumber);
    }

    UNSIGNED16 count = 0;
    CheckKdsStatus(this, KdsGetNumFields(table, &count));
    for (int ordinal = count; ordinal >= 1; --ordinal) {
        const TKCEFieldDef& d = FieldDescriptions().Item(ordinal - 1);
        if (image::IsBlobType(d.FieldType) || d.FieldType == KCE_AUTOINC) {
            continue;
        }
        const auto* bytes = reinterpret_cast<const UNSIGNED8*>(buffer + d.Offset);
        const UNSIGNED8* field = KceField(d.FieldNum);
        if (d.FieldType == KCE_STRING) {
            bool blank = std::all_of(bytes, bytes + d.Length, [](UNSIGNED8 b) { return b == ' '; });
            CheckKdsStatus(this, blank ? KdsSetEmpty(table, field)
                                       : KdsSetField(table, field, bytes, d.Length));
        } else if (ImageKind() == image::TableKind::XBase &&
                   image::IsPendingEmptyNumber({d.FieldType, static_cast<int>(d.Length), 0},
                                               reinterpret_cast<const char*>(bytes))) {
            // An empty binary number of a DBF table: the engine stores null where the field can
            // be null and zero where it cannot (its empty value as a number would be stored).
            CheckKdsStatus(this, KdsSetEmpty(table, field));
        } else {
            CheckKdsStatus(this, KdsSetFieldRaw(table, field, bytes, d.Length));
        }
    }

    for (int i = 0; i < Fields().Count(); ++i) {
        db::TField& field = Fields().At(i);
        if (!field.IsBlob() || field.FieldNo() <= 0) continue;
        TKdsBlobCache* cache = BlobSlot(buffer, field.Offset());
        if (cache == nullptr || !cache->Modified()) continue;
        const TKCEFieldDef& d = FieldDescriptions().Item(field.FieldNo() - 1);
        int32_t marker = cache->Size() > 0 ? -1 : 0;
        std::memcpy(buffer + d.Offset, &marker, sizeof marker);
        cache->Flush();
    }

    CheckKdsStatus(this, KdsWriteRecord(table));
    if (State() == db::DataSetState::Edit && !Exclusive()) {
        CheckKdsStatus(this, KdsUnlockRecord(table, BookmarkRecordNumber(buffer)));
    }
}

void TKdsDataSet::InternalAddRecord(db::TRecordBuffer buffer, bool /*append*/) {
    if (buffer != ActiveBuffer()) KdsDatabaseError(this, msg::kUnexpectedAddRecord);
    CursorPost();
}

void TKdsDataSet::CursorCancel() {
    const KDSHANDLE table = TableHandle();
    KCESTATUS status = KdsCancelUpdate(table);
    if (status != KCE_NO_CURRENT_RECORD && status != KCE_NO_UPDATE_PENDING) {
        CheckKdsStatus(this, status);
    }
    if (State() == db::DataSetState::Insert) {
        if (AtEOF()) {
            CursorLast();
            return;
        }
        // The record that was active before Insert sits just after the new one in the window.
        db::TRecordBuffer previous = WindowBuffer(ActiveIndex() + 1);
        CheckKdsStatus(this, KdsGotoBookmark(table, BookmarkRecordNumber(previous)));
    }
    db::TRecordBuffer buffer = ActiveBuffer();
    uint32_t recordNumber = BookmarkRecordNumber(buffer);
    ReadCurrentRecord(buffer, RecordLength(), db::FetchMode::Current);
    if (State() == db::DataSetState::Edit && !Exclusive()) {
        CheckKdsStatus(this, KdsUnlockRecord(table, recordNumber));
    }
}

void TKdsDataSet::CursorDelete() {
    const KDSHANDLE table = TableHandle();
    KCESTATUS status = KdsDeleteRecord(table);
    if (status == KCE_SUCCESS) status = KdsWriteRecord(table);
    if (status != KCE_SUCCESS) {
        // The error is built first: the cancel below replaces the engine's last error text.
        try {
            CheckKdsStatus(this, status);
        } catch (...) {
            KdsCancelUpdate(table);
            throw;
        }
        KdsCancelUpdate(table);
    }
    UNSIGNED16 shown = 0;
    CheckKdsStatus(this, KdsGetDeleted(&shown));
    if (!shown) CheckKdsStatus(this, KdsSkip(OrderHandle(), 1));
}

}  // namespace kds
