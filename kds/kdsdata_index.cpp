// TKdsDataSet indexes and orders: choosing the order opened with the table, index definitions,
// key buffers in use, ranges and scopes, and the dictionary's default index.
//
// Only the natural order exists so far: IndexName and IndexFieldNames are kept but choose
// nothing yet, and the index definitions are not read from the table.
#include "kds/kdsdata.h"

namespace kds {

void TKdsDataSet::SetIndexName(const std::string& value) { indexName_ = value; }

void TKdsDataSet::SetIndexFieldNames(const std::string& value) { indexFieldNames_ = value; }

void TKdsDataSet::ActivateIndexOrder() {
    orderHandle_ = tableHandle_;
    indexSelection_ = 0;
}

void TKdsDataSet::ActivateScopeAndFilter() {}

bool TKdsDataSet::IsIndexField(const db::TField&) const { return false; }

void TKdsDataSet::RefreshIndexDefs() {}

void TKdsDataSet::ApplyDictionaryDefaultIndex() {}

}  // namespace kds
