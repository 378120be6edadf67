// A small descendant of TDataSet that keeps its records in memory, for the tests and the
// benchmark of the dataset model. Its hooks are honest: raw record buffers laid out per field, a
// bookmark (the record's id) and a bookmark flag in every buffer, and a cursor that moves over the
// rows.
//
// Buffer layout: for each definition, one presence byte and DataSize native bytes; then the
// calculated-field area; then the 4-byte bookmark and the flag byte. Blob contents live beside
// the buffers (one slot per blob field and buffer).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dataset/dataset.h"

namespace dstest {

struct ColumnSpec {
    std::string name;
    db::TFieldType type;
    int size = 0;
    bool required = false;
    db::TFieldAttributes attributes = {};
};

class TMemoryDataSet : public db::TDataSet {
  public:
    // A stored record: native data per column (none: blank), blobs as their bytes.
    struct Row {
        int id = 0;
        std::vector<std::optional<std::string>> values;
    };

    explicit TMemoryDataSet(std::vector<ColumnSpec> columns, rtl::TComponent* owner = nullptr);
    ~TMemoryDataSet() override;

    // Test controls.
    std::vector<Row>& Rows() { return rows_; }
    int PostCount() const { return postCount_; }
    int FetchCount() const { return fetchCount_; }
    void SetFailOpen(bool on) { failOpen_ = on; }
    // The next `count` CursorPost calls raise EDatabaseError with this text.
    void FailPosts(int count, std::string text) {
        failPosts_ = count;
        failText_ = std::move(text);
    }
    void SetReadOnlyTable(bool on) { readOnlyTable_ = on; }
    // Appends a stored row from texts written through a scratch field of each column's class;
    // an empty optional leaves the column blank.
    void AddRow(const std::vector<std::optional<std::string>>& nativeValues);
    int LiveBuffers() const { return static_cast<int>(blobs_.size()); }

    std::unique_ptr<rtl::TStream> OpenBlobStream(db::TField& field,
                                                 db::TBlobStreamMode mode) override;
    bool ReadFieldData(const db::TField& field, void* destination) override;
    using db::TDataSet::ReadFieldData;
    using db::TDataSet::WriteFieldData;
    bool IsModifiable() override { return !readOnlyTable_; }
    void ClearCalcArea(db::TRecordBuffer buffer) override;

    // Stores the bytes of a blob written through a stream for the state's buffer.
    void StoreBlob(const db::TField& field, std::string bytes);

  protected:
    db::TRecordBuffer NewRecordBuffer() override;
    void DisposeRecordBuffer(db::TRecordBuffer& buffer) override;
    void ReadBookmarkData(db::TRecordBuffer buffer, void* destination) override;
    db::BookmarkFlag ReadBookmarkFlag(db::TRecordBuffer buffer) override;
    db::FetchResult FetchRecord(db::TRecordBuffer buffer, db::FetchMode mode, bool check) override;
    int RecordDataSize() override;
    void InternalAddRecord(db::TRecordBuffer buffer, bool append) override;
    void CursorClose() override;
    void CursorDelete() override;
    void CursorFirst() override { pos_ = -1; }
    void CursorGoToBookmark(const void* bookmark) override;
    void CursorHandleException(std::exception&) override {}
    void CursorInitFieldDefs() override;
    void CursorInitRecord(db::TRecordBuffer buffer) override;
    void CursorLast() override { pos_ = static_cast<int>(rows_.size()); }
    void CursorOpen() override;
    void CursorPost() override;
    void CursorSetToRecord(db::TRecordBuffer buffer) override;
    bool CursorIsOpen() const override { return open_; }
    void WriteBookmarkFlag(db::TRecordBuffer buffer, db::BookmarkFlag flag) override;
    void WriteBookmarkData(db::TRecordBuffer buffer, const void* bookmark) override;
    void WriteFieldData(db::TField& field, const void* source) override;

  private:
    int ColumnOffset(int column) const { return offsets_[column]; }
    int ColumnSize(int column) const;
    db::TRecordBuffer BufferFor(const db::TField& field) const;
    void RowToBuffer(const Row& row, db::TRecordBuffer buffer);
    Row BufferToRow(db::TRecordBuffer buffer, int id);
    int FindRow(int id) const;
    int BufferId(db::TRecordBuffer buffer) const;

    std::vector<ColumnSpec> columns_;
    std::vector<Row> rows_;
    std::vector<int> offsets_;
    int dataSize_ = 0;
    int calcOffset_ = 0;
    int bookmarkOffset_ = 0;
    int recordSize_ = 0;
    int pos_ = -1;
    int nextId_ = 1;
    bool open_ = false;
    bool failOpen_ = false;
    bool readOnlyTable_ = false;
    int failPosts_ = 0;
    std::string failText_;
    int postCount_ = 0;
    int fetchCount_ = 0;
    std::map<db::TRecordBuffer, std::vector<std::optional<std::string>>> blobs_;
};

}  // namespace dstest
