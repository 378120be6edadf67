#include "support/memory_dataset.h"

#include <cstring>

#include "dataset/db_errors.h"
#include "rtl/streams.h"

namespace dstest {

using namespace db;

namespace {

// Native bytes of a column; blob columns keep nothing in the buffer.
int NativeSize(const ColumnSpec& c) {
    switch (c.type) {
        case ftString:
        case ftFixedChar:
        case ftWideString:
        case ftGuid:
            return c.size + 1;
        case ftSmallint:
        case ftWord:
        case ftBoolean:
            return 2;
        case ftInteger:
        case ftAutoInc:
        case ftDate:
        case ftTime:
            return 4;
        case ftLargeint:
        case ftFloat:
        case ftCurrency:
        case ftDateTime:
        case ftBCD:
            return 8;
        case ftBytes:
            return c.size;
        case ftVarBytes:
            return c.size + 2;
        default:
            return 0;
    }
}

constexpr int kBookmarkSize = 4;

}  // namespace

TMemoryDataSet::TMemoryDataSet(std::vector<ColumnSpec> columns, rtl::TComponent* owner)
    : TDataSet(owner), columns_(std::move(columns)) {
    int offset = 0;
    for (const ColumnSpec& c : columns_) {
        offsets_.push_back(offset);
        offset += 1 + NativeSize(c);
    }
    dataSize_ = offset;
}

TMemoryDataSet::~TMemoryDataSet() { CloseForDestruction(); }

int TMemoryDataSet::ColumnSize(int column) const { return NativeSize(columns_[column]); }

void TMemoryDataSet::AddRow(const std::vector<std::optional<std::string>>& nativeValues) {
    Row row;
    row.id = nextId_++;
    row.values = nativeValues;
    row.values.resize(columns_.size());
    rows_.push_back(std::move(row));
}

// ---- Opening ----------------------------------------------------------------------------------

void TMemoryDataSet::CursorInitFieldDefs() {
    FieldDefs().BeginUpdate();
    FieldDefs().Clear();
    for (const ColumnSpec& c : columns_) {
        db::TFieldDef& def = FieldDefs().Add(c.name, c.type, c.size, c.required);
        if (!c.attributes.empty()) {
            db::TFieldAttributes attributes = c.attributes;
            if (c.required) attributes.insert(db::faRequired);
            def.SetAttributes(attributes);
        }
    }
    FieldDefs().EndUpdate();
    FieldDefs().SetUpdated(true);
}

void TMemoryDataSet::CursorOpen() {
    open_ = true;
    if (failOpen_) throw EDatabaseError("cannot open the rows");
    CursorInitFieldDefs();
    if (DefaultFields()) CreateDefaultFields();
    BindFields(true);
    calcOffset_ = dataSize_;
    bookmarkOffset_ = calcOffset_ + CalcAreaSize();
    recordSize_ = bookmarkOffset_ + kBookmarkSize + 1;
    SetBookmarkLength(kBookmarkSize);
    pos_ = -1;
}

void TMemoryDataSet::CursorClose() {
    BindFields(false);
    if (DefaultFields()) DestroyDefaultFields();
    open_ = false;
}

// ---- Buffers ----------------------------------------------------------------------------------

TRecordBuffer TMemoryDataSet::NewRecordBuffer() {
    TRecordBuffer buffer = new char[recordSize_]();
    blobs_[buffer].assign(columns_.size(), std::nullopt);
    return buffer;
}

void TMemoryDataSet::DisposeRecordBuffer(TRecordBuffer& buffer) {
    blobs_.erase(buffer);
    delete[] buffer;
    buffer = nullptr;
}

int TMemoryDataSet::RecordDataSize() { return dataSize_; }

void TMemoryDataSet::ReadBookmarkData(TRecordBuffer buffer, void* destination) {
    std::memcpy(destination, buffer + bookmarkOffset_, kBookmarkSize);
}

void TMemoryDataSet::WriteBookmarkData(TRecordBuffer buffer, const void* bookmark) {
    std::memcpy(buffer + bookmarkOffset_, bookmark, kBookmarkSize);
}

BookmarkFlag TMemoryDataSet::ReadBookmarkFlag(TRecordBuffer buffer) {
    return static_cast<BookmarkFlag>(buffer[bookmarkOffset_ + kBookmarkSize]);
}

void TMemoryDataSet::WriteBookmarkFlag(TRecordBuffer buffer, BookmarkFlag flag) {
    buffer[bookmarkOffset_ + kBookmarkSize] = static_cast<char>(flag);
}

int TMemoryDataSet::BufferId(TRecordBuffer buffer) const {
    int id;
    std::memcpy(&id, buffer + bookmarkOffset_, sizeof id);
    return id;
}

void TMemoryDataSet::ClearCalcArea(TRecordBuffer buffer) {
    std::memset(buffer + calcOffset_, 0, CalcAreaSize());
}

void TMemoryDataSet::CursorInitRecord(TRecordBuffer buffer) {
    std::memset(buffer, 0, recordSize_);
    blobs_[buffer].assign(columns_.size(), std::nullopt);
}

void TMemoryDataSet::RowToBuffer(const Row& row, TRecordBuffer buffer) {
    std::memset(buffer, 0, dataSize_);
    auto& blobs = blobs_[buffer];
    for (size_t c = 0; c < columns_.size(); ++c) {
        const auto& value = row.values[c];
        if (IsBlobType(columns_[c].type)) {
            blobs[c] = value;
            continue;
        }
        if (!value) continue;
        buffer[offsets_[c]] = 1;
        std::memcpy(buffer + offsets_[c] + 1, value->data(),
                    std::min<size_t>(value->size(), ColumnSize(c)));
    }
    std::memcpy(buffer + bookmarkOffset_, &row.id, sizeof row.id);
}

TMemoryDataSet::Row TMemoryDataSet::BufferToRow(TRecordBuffer buffer, int id) {
    Row row;
    row.id = id;
    row.values.resize(columns_.size());
    const auto& blobs = blobs_[buffer];
    for (size_t c = 0; c < columns_.size(); ++c) {
        if (IsBlobType(columns_[c].type)) {
            row.values[c] = blobs[c];
        } else if (buffer[offsets_[c]] != 0) {
            row.values[c] = std::string(buffer + offsets_[c] + 1, ColumnSize(c));
        }
    }
    return row;
}

int TMemoryDataSet::FindRow(int id) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

// ---- Cursor -----------------------------------------------------------------------------------

FetchResult TMemoryDataSet::FetchRecord(TRecordBuffer buffer, FetchMode mode, bool) {
    int count = static_cast<int>(rows_.size());
    switch (mode) {
        case FetchMode::Next:
            if (pos_ >= count - 1) {
                pos_ = count;
                return FetchResult::Eof;
            }
            ++pos_;
            break;
        case FetchMode::Prior:
            if (pos_ <= 0) {
                pos_ = -1;
                return FetchResult::Bof;
            }
            pos_ = std::min(pos_, count) - 1;
            break;
        case FetchMode::Current:
            if (pos_ < 0 || pos_ >= count) return FetchResult::Error;
            break;
    }
    ++fetchCount_;
    RowToBuffer(rows_[pos_], buffer);
    WriteBookmarkFlag(buffer, BookmarkFlag::Current);
    FillCalcFields(buffer);
    return FetchResult::OK;
}

void TMemoryDataSet::CursorSetToRecord(TRecordBuffer buffer) {
    int id = BufferId(buffer);
    CursorGoToBookmark(&id);
}

void TMemoryDataSet::CursorGoToBookmark(const void* bookmark) {
    int id;
    std::memcpy(&id, bookmark, sizeof id);
    // A vanished record leaves the cursor nowhere, so an exact refill reports it.
    pos_ = FindRow(id);
}

void TMemoryDataSet::CursorPost() {
    if (failPosts_ > 0) {
        --failPosts_;
        throw EDatabaseError(failText_);
    }
    ++postCount_;
    TRecordBuffer buffer = ActiveBuffer();
    if (State() == DataSetState::Edit) {
        rows_[pos_] = BufferToRow(buffer, rows_[pos_].id);
        return;
    }
    // A new record goes before the record whose bookmark the buffer carries (Insert), at the
    // start (an Insert into an empty window) or at the end (Append).
    Row row = BufferToRow(buffer, nextId_++);
    int at = static_cast<int>(rows_.size());
    BookmarkFlag flag = ReadBookmarkFlag(buffer);
    if (flag == BookmarkFlag::Bof) {
        at = 0;
    } else if (flag != BookmarkFlag::Eof) {
        int before = FindRow(BufferId(buffer));
        if (before >= 0) at = before;
    }
    rows_.insert(rows_.begin() + at, std::move(row));
    pos_ = at;
}

void TMemoryDataSet::InternalAddRecord(TRecordBuffer buffer, bool append) {
    Row row = BufferToRow(buffer, nextId_++);
    int at = append ? static_cast<int>(rows_.size()) : std::max(pos_, 0);
    rows_.insert(rows_.begin() + at, std::move(row));
    pos_ = at;
}

void TMemoryDataSet::CursorDelete() {
    if (pos_ < 0 || pos_ >= static_cast<int>(rows_.size())) {
        throw EDatabaseError("no current row");
    }
    rows_.erase(rows_.begin() + pos_);
}

// ---- Field data -------------------------------------------------------------------------------

TRecordBuffer TMemoryDataSet::BufferFor(const TField& /*field*/) const { return StateBuffer(); }

bool TMemoryDataSet::ReadFieldData(const TField& field, void* destination) {
    TRecordBuffer buffer = BufferFor(field);
    if (buffer == nullptr) return false;
    if (field.FieldNo() < 0) {
        char* slot = buffer + calcOffset_ + field.Offset();
        if (slot[0] == 0) return false;
        if (destination) std::memcpy(destination, slot + 1, field.DataSize());
        return true;
    }
    int column = field.FieldNo() - 1;
    if (IsBlobType(columns_[column].type)) {
        const auto& content = blobs_[buffer][column];
        return content.has_value();
    }
    if (buffer[offsets_[column]] == 0) return false;
    if (destination) std::memcpy(destination, buffer + offsets_[column] + 1, ColumnSize(column));
    return true;
}

void TMemoryDataSet::WriteFieldData(TField& field, const void* source) {
    DataSetState state = State();
    bool calcState = state == DataSetState::CalcFields || state == DataSetState::InternalCalc;
    if (!calcState && state != DataSetState::Edit && state != DataSetState::Insert &&
        state != DataSetState::SetKey) {
        Error("Dataset not in edit or insert mode");
    }
    TRecordBuffer buffer = BufferFor(field);
    if (state == DataSetState::Edit || state == DataSetState::Insert) field.Validate(source);
    if (field.FieldNo() < 0) {
        char* slot = buffer + calcOffset_ + field.Offset();
        slot[0] = source ? 1 : 0;
        if (source) std::memcpy(slot + 1, source, field.DataSize());
    } else {
        int column = field.FieldNo() - 1;
        if (IsBlobType(columns_[column].type)) {
            blobs_[buffer][column] = std::nullopt;
        } else {
            buffer[offsets_[column]] = source ? 1 : 0;
            std::memset(buffer + offsets_[column] + 1, 0, ColumnSize(column));
            if (source) std::memcpy(buffer + offsets_[column] + 1, source, ColumnSize(column));
        }
    }
    if (!calcState) NotifyDataEvent(DataEventCode::FieldChange, &field);
}

namespace {

// A write stream stores its bytes into the record buffer when it is closed.
class BlobWriter : public rtl::TStringStream {
  public:
    BlobWriter(TMemoryDataSet& ds, const TField& field) : ds_(ds), field_(field) {}
    ~BlobWriter() override { ds_.StoreBlob(field_, DataString()); }

  private:
    TMemoryDataSet& ds_;
    const TField& field_;
};

}  // namespace

std::unique_ptr<rtl::TStream> TMemoryDataSet::OpenBlobStream(TField& field, TBlobStreamMode mode) {
    TRecordBuffer buffer = BufferFor(field);
    if (mode == TBlobStreamMode::bmRead) {
        if (buffer == nullptr) return std::make_unique<rtl::TStringStream>();
        const auto& content = blobs_[buffer][field.FieldNo() - 1];
        return std::make_unique<rtl::TStringStream>(content.value_or(std::string()));
    }
    if (State() != DataSetState::Edit && State() != DataSetState::Insert) {
        Error("Dataset not in edit or insert mode");
    }
    return std::make_unique<BlobWriter>(*this, field);
}

void TMemoryDataSet::StoreBlob(const TField& field, std::string bytes) {
    TRecordBuffer buffer = BufferFor(field);
    if (buffer == nullptr) return;
    blobs_[buffer][field.FieldNo() - 1] = std::move(bytes);
}

}  // namespace dstest
