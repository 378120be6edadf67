// Blob fields of the Keel datasets: the per-record value caches and the streams handed out for
// memo, binary, image and varchar fields (engine types 5 to 8).
//
// A blob value is not part of the raw record image; the image holds only a 32-bit marker (0 empty,
// -1 holds a value). Each record buffer owns one TKdsBlobCache per blob field of the dataset. A
// cache is in one of three conditions:
//
//     discarded --Load--> loaded --Write/Empty--> modified --Flush (at Post)--> loaded
//         ^                  |                        |
//         +---- Discard -----+------------------------+   (every fetch into the buffer, a new
//                                                          record, Cancel's re-read)
//
// A value is read from the engine lazily, by the first stream opened on it, and kept as long as
// table, record and field stay the same, so reading a field's text and then its size costs one
// engine read. Changes wait in the cache until the record is posted.
#pragma once

#include <cstdint>

#include "dataset/db_types.h"
#include "engine/kce.h"
#include "rtl/streams.h"

namespace db {
class TBlobField;
}

namespace kds {

class TKdsDataSet;

class TKdsBlobCache : public rtl::TMemoryStream {
  public:
    TKdsBlobCache() = default;

    // Writing also marks the content modified.
    int64_t Write(const void* buffer, int64_t count) override;

    // Brings the value of (table, field ordinal, record number) into the cache. Without reload a
    // cache that already holds that value keeps it, unposted changes included, and only rewinds.
    // Record number 0 (a record not yet appended) is an empty value without any engine call.
    // Engine statuses 5068 and 5022 while reading give an empty value and no error. True when
    // the engine cursor was moved to the record to read it (also when the read then failed).
    bool Load(KDSHANDLE table, uint32_t fieldOrdinal, uint32_t recordNumber, bool reload);
    // Empties the content and marks it modified (a write stream starts so).
    void Empty();
    // Forgets everything: no table, no record, no field, not modified.
    void Discard();
    // Writes modified content into the engine's pending record and clears Modified.
    void Flush();

    bool Modified() const { return modified_; }
    KDSHANDLE CachedTable() const { return cachedTable_; }
    uint32_t CachedRecord() const { return cachedRecord_; }
    uint32_t CachedField() const { return cachedField_; }

  private:
    // Sets *moved before anything can fail, so that a caller knows even when this throws.
    void ReadFromEngine(bool* moved);

    KDSHANDLE cachedTable_ = static_cast<KDSHANDLE>(-1);
    uint32_t cachedRecord_ = 0;
    bool modified_ = false;
    uint32_t cachedField_ = 0;
};

// A stream over one blob field of the record the dataset's state addresses. It never owns the
// cache it works on; whoever asked for the stream destroys it.
class TKdsBlobStream : public rtl::TStream {
  public:
    TKdsBlobStream(db::TBlobField& field, db::TBlobStreamMode mode);
    // A stream that wrote (or was opened for writing) tells the dataset that the field changed.
    ~TKdsBlobStream() override;
    TKdsBlobStream(const TKdsBlobStream&) = delete;
    TKdsBlobStream& operator=(const TKdsBlobStream&) = delete;

    // Without a cache (a state without a record) reading and seeking answer 0.
    int64_t Read(void* buffer, int64_t count) override;
    // Raises "Error modifying read only blob." on a read stream and "Cannot write to blob in
    // current state." without a cache.
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override;
    // The size of a blob changes only through writes and a write stream's emptying.
    void SetSize(int64_t) override {}

    db::TBlobField& Field() const { return field_; }
    db::TBlobStreamMode Mode() const { return mode_; }
    TKdsBlobCache* Cache() const { return cache_; }
    bool Modified() const { return modified_; }

  private:
    db::TBlobField& field_;
    db::TBlobStreamMode mode_;
    TKdsBlobCache* cache_ = nullptr;
    bool modified_ = false;
};

}  // namespace kds
