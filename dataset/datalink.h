// Data sources and data links: how objects follow a dataset. A link that wants to see several
// records at once asks for more buffers; the dataset's window is the largest count any link of
// any of its data sources asks for.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dataset/db_types.h"
#include "rtl/component.h"

namespace db {

class TDataSet;
class TDataLink;
class TField;

class TDataSource : public rtl::TComponent {
  public:
    using TNotifyEvent = std::function<void(TDataSource&)>;
    using TDataChangeEvent = std::function<void(TDataSource&, TField*)>;

    explicit TDataSource(rtl::TComponent* owner = nullptr);
    ~TDataSource() override;

    TDataSet* DataSet() const { return dataSet_; }
    // Raises "Circular datalinks are not allowed" (prefixed with this source's name) when the
    // dataset's chain of master sources leads back here.
    void SetDataSet(TDataSet* dataSet);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    bool AutoEdit() const { return autoEdit_; }
    void SetAutoEdit(bool on) { autoEdit_ = on; }
    // The dataset's state while enabled and attached, else Inactive.
    DataSetState State() const { return state_; }

    void SetOnStateChange(TNotifyEvent h) { onStateChange_ = std::move(h); }
    void SetOnDataChange(TDataChangeEvent h) { onDataChange_ = std::move(h); }
    void SetOnUpdateData(TNotifyEvent h) { onUpdateData_ = std::move(h); }

    // Delivery of the dataset's notifications.
    void DataEvent(DataEventCode event, const void* argument);
    // The largest buffer count of the attached links (1 without any).
    int BufferCountWanted() const;
    const std::vector<TDataLink*>& Links() const { return links_; }

  private:
    friend class TDataLink;
    void AddLink(TDataLink* link);
    void RemoveLink(TDataLink* link);
    void UpdateState();

    TDataSet* dataSet_ = nullptr;
    bool enabled_ = true;
    bool autoEdit_ = true;
    DataSetState state_ = DataSetState::Inactive;
    std::vector<TDataLink*> links_;
    TNotifyEvent onStateChange_, onUpdateData_;
    TDataChangeEvent onDataChange_;
};

// Base of every link. The reactions are virtual; the base ones of the scroll and layout events
// fall back to DataSetChanged, which falls back to RecordChanged with no field.
class TDataLink {
  public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    // Raises "DataSource cannot be changed" for a link with a fixed source.
    void SetDataSource(TDataSource* source);
    TDataSet* DataSet() const;
    bool Active() const { return active_; }
    bool Editing() const { return editing_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on);
    int BufferCount() const { return bufferCount_; }
    // Resizes the dataset's window when the link is attached.
    void SetBufferCount(int count);
    // Window index of the link's first record, kept inside the window on scroll and change.
    int FirstRecord() const { return firstRecord_; }
    // The active record's position relative to FirstRecord.
    int ActiveRecord() const;

  protected:
    void SetDataSourceFixed(bool on) { dataSourceFixed_ = on; }
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    virtual void RecordChanged(TField*) {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int) { DataSetChanged(); }
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void UpdateData() {}
    virtual void CheckBrowseMode() {}

  private:
    friend class TDataSource;
    void DataEvent(DataEventCode event, const void* argument);
    void UpdateFlags();
    void KeepFirstRecordInWindow();

    TDataSource* dataSource_ = nullptr;
    bool active_ = false;
    bool editing_ = false;
    bool readOnly_ = false;
    bool dataSourceFixed_ = false;
    bool updating_ = false;
    int bufferCount_ = 1;
    int firstRecord_ = 0;
};

// A link that serves a detail dataset.
class TDetailDataLink : public TDataLink {
  public:
    virtual TDataSet* DetailDataSet() const { return nullptr; }
};

// The link through which a detail dataset follows the current record of its master: it resolves
// the master fields named by FieldNames and calls back into the detail when the master record
// changes (MasterChanged) or the link loses its fields or its master (MasterDisabled).
class TMasterDataLink : public TDetailDataLink {
  public:
    explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}

    TDataSet* DetailDataSet() const override { return detail_; }
    const std::string& FieldNames() const { return fieldNames_; }
    // A changed text resolves the fields again.
    void SetFieldNames(const std::string& names);
    const std::vector<TField*>& Fields() const { return fields_; }
    void SetOnMasterChange(std::function<void()> h) { onMasterChange_ = std::move(h); }
    void SetOnMasterDisable(std::function<void()> h) { onMasterDisable_ = std::move(h); }

  protected:
    void ActiveChanged() override;
    void LayoutChanged() override { ActiveChanged(); }
    void RecordChanged(TField* field) override;
    void CheckBrowseMode() override;

  private:
    bool DetailCanFollow() const;

    TDataSet* detail_;
    std::string fieldNames_;
    std::vector<TField*> fields_;
    std::function<void()> onMasterChange_, onMasterDisable_;
};

}  // namespace db
