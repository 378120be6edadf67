// Blob values of TKdsDataSet: the caches, the streams and OpenBlobStream.
#include <cstring>

#include "dataset/fields.h"
#include "kds/kdsblob.h"
#include "kds/kdsdata.h"
#include "kds/kdsengine.h"

namespace kds {

// ---- TKdsBlobCache --------------------------------------------------------------------------

int64_t TKdsBlobCache::Write(const void* buffer, int64_t count) {
    int64_t written = rtl::TMemoryStream::Write(buffer, count);
    modified_ = true;
    return written;
}

bool TKdsBlobCache::Load(KDSHANDLE table, uint32_t fieldOrdinal, uint32_t recordNumber,
                         bool reload) {
    if (!reload && cachedTable_ == table && cachedRecord_ == recordNumber &&
        cachedField_ == fieldOrdinal) {
        SetPosition(0);
        return false;
    }
    Clear();
    cachedTable_ = table;
    cachedRecord_ = recordNumber;
    cachedField_ = fieldOrdinal;
    modified_ = false;
    if (recordNumber == 0) return false;
    bool moved = false;
    try {
        ReadFromEngine(&moved);
    } catch (const EKDSDatabaseError& error) {
        cachedRecord_ = 0;
        Clear();
        if (error.ErrorCode() != KCE_NO_CURRENT_RECORD && error.ErrorCode() != KCE_INVALID_RECORD) {
            throw;
        }
    }
    return moved;
}

void TKdsBlobCache::ReadFromEngine(bool* moved) {
    const UNSIGNED8* field = KceField(static_cast<int>(cachedField_));
    UNSIGNED32 current = 0;
    CheckKdsStatus(nullptr, KdsGetRecordNum(cachedTable_, KCE_IGNORE_FILTERS, &current));
    if (current != cachedRecord_) {
        *moved = true;
        CheckKdsStatus(nullptr, KdsGotoRecord(cachedTable_, cachedRecord_));
    }

    UNSIGNED16 type = 0;
    CheckKdsStatus(nullptr, KdsGetFieldType(cachedTable_, field, &type));
    bool text = type == KCE_VARCHAR;
    if (type == KCE_MEMO) {
        UNSIGNED16 memoType = 0;
        CheckKdsStatus(nullptr, KdsGetMemoDataType(cachedTable_, field, &memoType));
        text = memoType == KCE_MEMO;
    }
    UNSIGNED32 length = 0;
    KCESTATUS status = text ? KdsGetMemoLength(cachedTable_, field, &length)
                            : KdsGetBinaryLength(cachedTable_, field, &length);
    if (status == KCE_NO_CURRENT_RECORD) {
        cachedRecord_ = 0;
        return;
    }
    CheckKdsStatus(nullptr, status);
    // Text gets room for the zero the engine writes after it.
    if (text) ++length;
    SetSize(length);
    UNSIGNED32 got = length;
    // A zero-length value still needs a valid buffer address.
    UNSIGNED8 none = 0;
    UNSIGNED8* content = length > 0 ? reinterpret_cast<UNSIGNED8*>(Memory()) : &none;
    CheckKdsStatus(nullptr, KdsGetField(cachedTable_, field, content, &got, 0));
    if (got != length) SetSize(got);
    SetPosition(0);
}

void TKdsBlobCache::Empty() {
    Clear();
    modified_ = true;
}

void TKdsBlobCache::Discard() {
    Clear();
    cachedTable_ = static_cast<KDSHANDLE>(-1);
    cachedField_ = 0;
    cachedRecord_ = 0;
    modified_ = false;
}

void TKdsBlobCache::Flush() {
    if (!modified_) return;
    // Every blob type is written the same way; an empty content stores an empty value.
    UNSIGNED8 none = 0;
    const UNSIGNED8* content =
        Size() > 0 ? reinterpret_cast<const UNSIGNED8*>(Data().data()) : &none;
    CheckKdsStatus(nullptr, KdsSetField(cachedTable_, KceField(static_cast<int>(cachedField_)),
                                        content, static_cast<UNSIGNED32>(Size())));
    modified_ = false;
}

// ---- TKdsBlobStream -------------------------------------------------------------------------

TKdsBlobStream::TKdsBlobStream(db::TBlobField& field, db::TBlobStreamMode mode)
    : field_(field), mode_(mode) {
    auto* dataSet = dynamic_cast<TKdsDataSet*>(field.DataSet());
    if (dataSet == nullptr) throw rtl::EInvalidCast("Invalid class typecast");
    db::DataSetState state = dataSet->State();
    bool stateHasRecord = state == db::DataSetState::Browse || state == db::DataSetState::Edit ||
                          state == db::DataSetState::Insert ||
                          state == db::DataSetState::CalcFields ||
                          state == db::DataSetState::NewValue;
    db::TRecordBuffer buffer = stateHasRecord ? dataSet->GetRecordBufferForState() : nullptr;
    if (buffer == nullptr) return;

    KDSHANDLE table = dataSet->TableHandle();
    UNSIGNED16 type = 0;
    CheckKdsStatus(dataSet, KdsGetFieldType(table, KceField(field.FieldNo()), &type));
    if (type < KCE_MEMO || type > KCE_VARCHAR) {
        KdsDatabaseError(dataSet, msg::kNotABlobField);
    }
    cache_ = dataSet->BlobSlot(buffer, field.Offset());
    uint32_t recordNumber = dataSet->BookmarkRecordNumber(buffer);
    bool editing = state == db::DataSetState::Edit || state == db::DataSetState::Insert;
    bool reload = editing && mode == db::TBlobStreamMode::bmReadWrite && !cache_->Modified();
    // Loading may move the engine cursor; the dataset must then put it back before its next
    // move. When the cursor already stood on the record (a forward walk reading each record's
    // blob), its place is kept.
    try {
        if (cache_->Load(table, static_cast<uint32_t>(field.FieldNo()), recordNumber, reload))
            dataSet->ForgetCursorPosition();
    } catch (...) {
        dataSet->ForgetCursorPosition();
        throw;
    }
    if (mode == db::TBlobStreamMode::bmWrite) {
        cache_->Empty();
        modified_ = true;
    }
}

TKdsBlobStream::~TKdsBlobStream() {
    if (!modified_) return;
    try {
        if (db::TDataSet* dataSet = field_.DataSet()) {
            dataSet->NotifyDataEvent(db::DataEventCode::FieldChange, &field_);
        }
    } catch (...) {
        // A destructor cannot pass the failure of a change handler on. The blob field's own
        // writes notify the change again after the stream is gone, and that one propagates.
    }
}

int64_t TKdsBlobStream::Read(void* buffer, int64_t count) {
    return cache_ ? cache_->Read(buffer, count) : 0;
}

int64_t TKdsBlobStream::Write(const void* buffer, int64_t count) {
    if (mode_ == db::TBlobStreamMode::bmRead) KdsDatabaseError(nullptr, msg::kReadOnlyBlob);
    if (cache_ == nullptr) KdsDatabaseError(nullptr, msg::kBlobWriteNoCache);
    int64_t written = cache_->Write(buffer, count);
    modified_ = true;
    return written;
}

int64_t TKdsBlobStream::Seek(int64_t offset, rtl::TSeekOrigin origin) {
    return cache_ ? cache_->Seek(offset, origin) : 0;
}

// ---- TKdsDataSet ----------------------------------------------------------------------------

std::unique_ptr<rtl::TStream> TKdsDataSet::OpenBlobStream(db::TField& field,
                                                          db::TBlobStreamMode mode) {
    if (mode != db::TBlobStreamMode::bmRead && State() != db::DataSetState::Edit &&
        State() != db::DataSetState::Insert) {
        KdsDatabaseError(this, msg::kBlobWriteState);
    }
    auto* blob = dynamic_cast<db::TBlobField*>(&field);
    if (blob == nullptr) throw rtl::EInvalidCast("Invalid class typecast");
    return std::make_unique<TKdsBlobStream>(*blob, mode);
}

void TKdsDataSet::ReleaseBlob(db::TField&) {}

void TKdsDataSet::CreateBlobCaches(db::TRecordBuffer buffer) {
    // Slots are cleared first, so that a failed creation leaves nothing to free twice.
    for (int slot = 0; slot < BlobCount(); ++slot) SetBlobSlot(buffer, slot, nullptr);
    try {
        for (int slot = 0; slot < BlobCount(); ++slot) {
            SetBlobSlot(buffer, slot, new TKdsBlobCache);
        }
    } catch (...) {
        DestroyBlobCaches(buffer);
        throw;
    }
}

void TKdsDataSet::DestroyBlobCaches(db::TRecordBuffer buffer) {
    for (int slot = 0; slot < BlobCount(); ++slot) {
        delete BlobSlot(buffer, slot);
        SetBlobSlot(buffer, slot, nullptr);
    }
}

void TKdsDataSet::DiscardBlobCaches(db::TRecordBuffer buffer) {
    for (int slot = 0; slot < BlobCount(); ++slot) {
        if (TKdsBlobCache* cache = BlobSlot(buffer, slot)) cache->Discard();
    }
}

int64_t TKdsDataSet::ModifiedBlobSize(const db::TField& field, db::TRecordBuffer buffer) {
    TKdsBlobCache* cache = BlobSlot(buffer, field.Offset());
    return cache != nullptr && cache->Modified() ? cache->Size() : -1;
}

}  // namespace kds
