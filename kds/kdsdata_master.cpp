// Master-detail links of TKdsDataSet: the detail follows its master's current record through a
// key range on the leading segments of its active index (FollowMaster, kdsdata_index.cpp). And
// the answers a data provider asks of every Keel dataset.
#include <set>

#include "kds/kdsdata.h"
#include "kds/kdsquery.h"

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

// ---- Data-provider support --------------------------------------------------------------------

bool TKdsDataSet::ProviderInTransaction() {
    TKdsConnection* c = KdsConnection();
    return c != nullptr && c->IsConnected() && c->TransactionActive();
}

void TKdsDataSet::ProviderStartTransaction() {
    if (KdsConnection() != nullptr) KdsConnection()->BeginTransaction();
}

void TKdsDataSet::ProviderEndTransaction(bool commit) {
    if (KdsConnection() == nullptr) return;
    if (commit) {
        KdsConnection()->Commit();
    } else {
        KdsConnection()->Rollback();
    }
}

int TKdsDataSet::ProviderExecuteStatement(const std::string& sql, db::TParams* params,
                                          std::unique_ptr<db::TDataSet>* result) {
    TKdsConnection* connection = KdsConnection();
    if (connection == nullptr) KdsDatabaseError(this, msg::kProviderNeedsConnection);
    if (result == nullptr) return connection->ExecuteSQL(sql, params, nullptr, true);
    KDSHANDLE cursor = 0;
    int count = connection->ExecuteSQL(sql, params, &cursor, true);
    auto query = std::make_unique<TKdsQuery>();
    query->Close();
    if (cursor != 0 && cursor != kNoKdsHandle) {
        query->AdoptCursor(cursor);
        try {
            query->Open();
        } catch (...) {
            query->AdoptCursor(kNoKdsHandle);
            KdsCloseTable(cursor);
            throw;
        }
    }
    *result = std::move(query);
    return count;
}

void TKdsDataSet::ProviderReset() {
    db::TDataSet::ProviderReset();
    if (!Active()) return;
    CheckKdsStatus(this, KdsGotoTop(TableHandle()));
    ForgetCursorPosition();
}

bool TKdsDataSet::ProviderUpdateRecord(db::TUpdateKind kind, db::TDataSet& delta) {
    if (!onUpdateRecord_) return false;
    int action = 0;
    onUpdateRecord_(delta, kind, action);
    return action == kUpdateApplied;
}

}  // namespace kds
