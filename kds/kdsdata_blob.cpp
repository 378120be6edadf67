// TKdsDataSet blob fields: the per-buffer blob caches and blob streams.
//
// No cache exists yet: every slot stays empty and the raw marker written by ReadCurrentRecord
// (0 empty, -1 not empty) answers whether a blob field has a value.
#include "kds/kdsdata.h"

namespace kds {

void TKdsDataSet::CreateBlobCaches(db::TRecordBuffer buffer) {
    for (int slot = 0; slot < BlobCount(); ++slot) SetBlobSlot(buffer, slot, nullptr);
}

void TKdsDataSet::DestroyBlobCaches(db::TRecordBuffer) {}

void TKdsDataSet::DiscardBlobCaches(db::TRecordBuffer) {}

int64_t TKdsDataSet::ModifiedBlobSize(const db::TField&, db::TRecordBuffer) { return -1; }

}  // namespace kds
