#include "dataset/datalink.h"

#include <algorithm>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"

namespace db {

TDataSource::TDataSource(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TDataSource::~TDataSource() {
    while (!links_.empty()) links_.back()->SetDataSource(nullptr);
    if (dataSet_) dataSet_->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_) return;
    for (TDataSet* ds = dataSet; ds != nullptr;) {
        TDataSource* master = ds->MasterDataSource();
        if (master == this) DatabaseError(std::string(msg::kCircularDataLink), this);
        ds = master ? master->DataSet() : nullptr;
    }
    if (dataSet_) dataSet_->RemoveDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_) dataSet_->AddDataSource(this);
    UpdateState();
}

void TDataSource::SetEnabled(bool on) {
    enabled_ = on;
    UpdateState();
}

void TDataSource::UpdateState() {
    DataSetState state = enabled_ && dataSet_ ? dataSet_->State() : DataSetState::Inactive;
    if (state == state_) return;
    DataSetState old = state_;
    state_ = state;
    for (TDataLink* link : std::vector<TDataLink*>(links_)) {
        link->DataEvent(DataEventCode::StateChange, nullptr);
    }
    if (onStateChange_) onStateChange_(*this);
    if (old == DataSetState::Inactive && onDataChange_) onDataChange_(*this, nullptr);
}

void TDataSource::DataEvent(DataEventCode event, const void* argument) {
    if (event == DataEventCode::StateChange) {
        UpdateState();
        return;
    }
    if (state_ == DataSetState::Inactive) return;
    // No link here serves a visual control, so the links form one group, told last first.
    std::vector<TDataLink*> links(links_);
    for (auto it = links.rbegin(); it != links.rend(); ++it) (*it)->DataEvent(event, argument);
    switch (event) {
        case DataEventCode::FieldChange:
            if (onDataChange_) {
                onDataChange_(*this, static_cast<TField*>(const_cast<void*>(argument)));
            }
            break;
        case DataEventCode::RecordChange:
        case DataEventCode::DataSetChange:
        case DataEventCode::DataSetScroll:
        case DataEventCode::LayoutChange:
            if (onDataChange_) onDataChange_(*this, nullptr);
            break;
        case DataEventCode::RecordUpdate:
            if (onUpdateData_) onUpdateData_(*this);
            break;
        default:
            break;
    }
}

int TDataSource::BufferCountWanted() const {
    int wanted = 1;
    for (TDataLink* link : links_) wanted = std::max(wanted, link->BufferCount());
    return wanted;
}

void TDataSource::AddLink(TDataLink* link) {
    links_.push_back(link);
    if (dataSet_) dataSet_->UpdateBufferCount();
    link->UpdateFlags();
}

void TDataSource::RemoveLink(TDataLink* link) {
    std::erase(links_, link);
    if (dataSet_) dataSet_->UpdateBufferCount();
}

TDataLink::~TDataLink() {
    if (dataSource_) dataSource_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
    if (source == dataSource_) return;
    if (dataSourceFixed_) DatabaseError(std::string(msg::kDataSourceFixed));
    if (dataSource_) dataSource_->RemoveLink(this);
    dataSource_ = source;
    if (dataSource_) {
        dataSource_->AddLink(this);
    } else {
        UpdateFlags();
    }
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool on) {
    readOnly_ = on;
    UpdateFlags();
}

void TDataLink::SetBufferCount(int count) {
    count = std::max(count, 1);
    if (count == bufferCount_) return;
    bufferCount_ = count;
    if (dataSource_ && dataSource_->DataSet()) dataSource_->DataSet()->UpdateBufferCount();
    KeepFirstRecordInWindow();
}

int TDataLink::ActiveRecord() const {
    TDataSet* ds = DataSet();
    return ds && active_ ? ds->ActiveIndex() - firstRecord_ : 0;
}

void TDataLink::UpdateFlags() {
    DataSetState state = dataSource_ ? dataSource_->State() : DataSetState::Inactive;
    bool active = state != DataSetState::Inactive;
    bool editing = !readOnly_ && (state == DataSetState::Edit || state == DataSetState::Insert ||
                                  state == DataSetState::SetKey);
    if (active != active_) {
        active_ = active;
        if (!active_) firstRecord_ = 0;
        ActiveChanged();
    }
    if (editing != editing_) {
        editing_ = editing;
        EditingChanged();
    }
}

// The link shows BufferCount records starting at FirstRecord; the active record must be among them.
void TDataLink::KeepFirstRecordInWindow() {
    TDataSet* ds = DataSet();
    if (!ds || !active_) return;
    int active = ds->ActiveIndex();
    if (active < firstRecord_) firstRecord_ = active;
    if (active >= firstRecord_ + bufferCount_) firstRecord_ = active - bufferCount_ + 1;
    firstRecord_ = std::max(0, std::min(firstRecord_, std::max(0, ds->FilledCount() - 1)));
}

void TDataLink::DataEvent(DataEventCode event, const void* argument) {
    if (event == DataEventCode::StateChange) {
        UpdateFlags();
        return;
    }
    if (!active_) return;
    switch (event) {
        case DataEventCode::FieldChange:
        case DataEventCode::RecordChange:
            if (!updating_) RecordChanged(static_cast<TField*>(const_cast<void*>(argument)));
            break;
        case DataEventCode::DataSetChange:
            KeepFirstRecordInWindow();
            DataSetChanged();
            break;
        case DataEventCode::DataSetScroll: {
            int distance = argument ? *static_cast<const int*>(argument) : 0;
            firstRecord_ += distance;
            KeepFirstRecordInWindow();
            DataSetScrolled(distance);
            break;
        }
        case DataEventCode::LayoutChange:
            KeepFirstRecordInWindow();
            LayoutChanged();
            break;
        case DataEventCode::RecordUpdate:
            updating_ = true;
            try {
                UpdateData();
            } catch (...) {
                updating_ = false;
                throw;
            }
            updating_ = false;
            break;
        case DataEventCode::BrowseModeCheck:
            CheckBrowseMode();
            break;
        default:
            break;
    }
}

// ---- TMasterDataLink
// -------------------------------------------------------------------------------

bool TMasterDataLink::DetailCanFollow() const {
    return detail_ != nullptr && detail_->Active() && !detail_->IsDestroying();
}

void TMasterDataLink::ActiveChanged() {
    fields_.clear();
    if (Active()) {
        try {
            DataSet()->FieldsNamed(&fields_, fieldNames_);
        } catch (...) {
            fields_.clear();
            throw;
        }
    }
    if (!DetailCanFollow()) return;
    if (Active() && !fields_.empty()) {
        if (onMasterChange_) onMasterChange_();
    } else if (onMasterDisable_) {
        onMasterDisable_();
    }
}

void TMasterDataLink::RecordChanged(TField* field) {
    if (DataSource() == nullptr || DataSource()->State() == DataSetState::SetKey) return;
    if (!DetailCanFollow() || fields_.empty()) return;
    if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) {
        return;
    }
    if (onMasterChange_) onMasterChange_();
}

void TMasterDataLink::CheckBrowseMode() {
    if (detail_ != nullptr && detail_->Active()) detail_->EnsureBrowseMode();
}

void TMasterDataLink::SetFieldNames(const std::string& names) {
    if (names == fieldNames_) return;
    fieldNames_ = names;
    ActiveChanged();
}

}  // namespace db
