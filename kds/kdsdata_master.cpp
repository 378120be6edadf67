// Master-detail links of TKdsDataSet: the detail follows its master's current record through a
// key range on the leading segments of its active index (FollowMaster, kdsdata_index.cpp).
#include <set>

#include "kds/kdsdata.h"

namespace kds {

db::TDataSource* TKdsDataSet::MasterSource() const { return masterLink_->DataSource(); }

void TKdsDataSet::SetMasterSource(db::TDataSource* source) {
    // The chain of masters from the new source must not come back to this dataset.
    std::set<const db::TDataSet*> seen;
    for (db::TDataSource* s = source; s != nullptr && s->DataSet() != nullptr;
         s = s->DataSet()->MasterDataSource()) {
        if (s->DataSet() == this) KdsDatabaseError(this, msg::kCircularDataLink);
        if (!seen.insert(s->DataSet()).second) break;
    }
    masterLink_->SetDataSource(source);
    if (source == nullptr) SetMasterFields("");
}

const std::string& TKdsDataSet::MasterFields() const { return masterLink_->FieldNames(); }

void TKdsDataSet::SetMasterFields(const std::string& names) { masterLink_->SetFieldNames(names); }

bool TKdsDataSet::FollowsActiveMaster() const {
    return masterLink_->Active() && !masterLink_->Fields().empty();
}

void TKdsDataSet::FireOnNewRecord() {
    if (masterLink_->Active()) {
        const std::vector<db::TField*>& masters = masterLink_->Fields();
        for (size_t i = 0; i < masters.size(); ++i) {
            SegmentField(static_cast<int>(i)).SetVariantValue(masters[i]->VariantValue());
        }
    }
    db::TDataSet::FireOnNewRecord();
}

}  // namespace kds
