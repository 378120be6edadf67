// TKdsDataSet editing and posting: starting an edit, appending and posting records, deleting and
// cancelling. Not built yet: each operation refuses with a clear message, so a dataset can be
// opened, read and emptied but not changed record by record.
#include "kds/kdsdata.h"

namespace kds {
namespace {

[[noreturn]] void EditingNotAvailable(const TKdsDataSet* dataSet) {
    KdsDatabaseError(dataSet, "Record editing is not available yet");
}

}  // namespace

void TKdsDataSet::CursorEdit() { EditingNotAvailable(this); }

void TKdsDataSet::CursorCancel() {
    // Nothing reached the engine: an insert or edit lives only in the record buffer until posted.
}

void TKdsDataSet::CursorPost() { EditingNotAvailable(this); }

void TKdsDataSet::CursorDelete() { EditingNotAvailable(this); }

void TKdsDataSet::InternalAddRecord(db::TRecordBuffer, bool) { EditingNotAvailable(this); }

}  // namespace kds
