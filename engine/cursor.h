// A table cursor: what a table handle holds. Several cursors may share one Storage.
//
// Positions (the diagram of every transition):
//
//            GotoTop/GotoBottom/Skip/GotoRecord land on a record
//   +-----+  ------------------------------------------------>  +-----------+
//   | BOF |                                                     | ON RECORD |
//   +-----+  <-- Skip(-n) before the first / empty table -----  +-----------+
//      ^                                                          |     ^
//      |     Skip(+n) past the last / GotoRecord of no record     v     | Skip back
//      +------------------- empty table ------------------->  +-----+  |
//                                                             | EOF | -+
//                                                             +-----+
//
// On an empty table GotoTop and GotoBottom set both EOF and BOF. Skip(-1) from EOF lands on the
// last record; Skip(+1) from BOF on the first.
//
// A move that fails (a record that cannot be read, a filter that cannot be evaluated) leaves the
// cursor where it stood before the call: the same record, with that record's image. Records are
// read aside while the cursor looks for its next one, and only a record it lands on replaces the
// image, so the record number and the image always belong together.
//
// Editing: a cursor has at most one pending change: an append (a reserved record number, the
// empty image, no record in the table yet) or an edit of the current record (a copy of its image).
// Set* calls change the pending image and blobs; Write stores them; Cancel, a move or the close of
// the handle discards them.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/handles.h"
#include "engine/order.h"
#include "engine/storage.h"

namespace kce {

class TableCursor;

// The record-number order of a storage.
class NaturalOrder : public Order {
  public:
    KCESTATUS First(TableCursor& cursor, UNSIGNED32* recno) override;
    KCESTATUS Last(TableCursor& cursor, UNSIGNED32* recno) override;
    KCESTATUS Next(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) override;
    KCESTATUS Prev(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) override;
};

// An index handle: an order over a table cursor. The index layer derives from it.
class OrderHandle : public HandleObject {
  public:
    OrderHandle(std::shared_ptr<TableCursor> cursor, std::shared_ptr<Order> order)
        : cursor_(std::move(cursor)), order_(std::move(order)) {}
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_INDEX; }
    TableCursor& Cursor() { return *cursor_; }
    const std::shared_ptr<TableCursor>& SharedCursor() const { return cursor_; }
    Order& GetOrder() { return *order_; }

  private:
    std::shared_ptr<TableCursor> cursor_;
    std::shared_ptr<Order> order_;
};

class TableCursor : public HandleObject {
  public:
    TableCursor(std::shared_ptr<Storage> storage, UNSIGNED32 options, UNSIGNED16 charType,
                KDSHANDLE connection);
    ~TableCursor() override;
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_TABLE; }

    Storage& Store() { return *storage_; }
    const std::shared_ptr<Storage>& SharedStorage() const { return storage_; }
    const RecordLayout& Layout() const { return storage_->Layout(); }
    UNSIGNED32 Options() const { return options_; }
    bool Exclusive() const { return options_ & KCE_OPEN_EXCLUSIVE; }
    bool ReadOnly() const { return options_ & KCE_OPEN_READ_ONLY; }
    UNSIGNED16 CharType() const { return charType_; }
    KDSHANDLE ConnectionHandle() const { return connection_; }
    // For error texts: the table's file name.
    const std::string& Name() const { return name_; }

    // Positioning (order: NaturalOrder for the table handle, an index's Order otherwise).
    KCESTATUS GotoTop(Order& order);
    KCESTATUS GotoBottom(Order& order);
    KCESTATUS Skip(Order& order, SIGNED32 count);
    KCESTATUS GotoRecord(UNSIGNED32 recno);
    // Puts the cursor on recno, whose image the caller has read (index seeks). exists false
    // sets EOF.
    KCESTATUS Land(UNSIGNED32 recno);
    bool AtEof() const { return eof_; }
    bool AtBof() const { return bof_; }
    bool OnRecord() const { return !eof_ && !bof_; }
    // The current record number (the reserved one while an append is pending); 0 at EOF/BOF.
    UNSIGNED32 Recno() const;
    NaturalOrder& Natural() { return natural_; }

    // The image of the current record, or of the pending append/edit. Null at EOF/BOF.
    const uint8_t* Image() const;
    // Whether the current record still exists and is not a hidden deleted record.
    bool CurrentDeleted() const { return deleted_; }
    KCESTATUS Visible(Order& order, bool* visible);
    KCESTATUS Refresh();
    // Whether a record passes the filter (and the deleted rule).
    KCESTATUS Passes(UNSIGNED32 recno, const uint8_t* image, bool deleted, bool* ok);

    // Counting.
    KCESTATUS Count(Order& order, UNSIGNED16 option, UNSIGNED32* count);

    // Editing.
    bool Pending() const { return pending_ != PendingKind::kNone; }
    bool AppendPending() const { return pending_ == PendingKind::kAppend; }
    KCESTATUS Append();
    KCESTATUS SetRaw(int field, const uint8_t* bytes, UNSIGNED32 len);
    KCESTATUS SetText(int field, std::string_view text);
    KCESTATUS SetEmpty(int field);
    KCESTATUS Write();
    KCESTATUS Cancel();
    KCESTATUS Delete();
    // Drops a pending append or edit (a move, a close).
    void DiscardPending();
    // Whether another handle or process holds the record's lock.
    bool LockedByOther(UNSIGNED32 recno);
    // Fails with KCE_TABLE_READ_ONLY when this handle may not write.
    KCESTATUS CheckWritable();
    // Blob value of the current / pending record (pending blobs first).
    KCESTATUS Blob(int field, BlobValue* out);

    // Record locks held by this handle.
    KCESTATUS Lock(UNSIGNED32 recno);
    KCESTATUS Unlock(UNSIGNED32 recno);
    void UnlockAll();

    // The filter the cursor applies while moving (null: none). Set by the filter layer.
    std::shared_ptr<RecordFilter> Filter() const { return filter_; }
    void SetFilter(std::shared_ptr<RecordFilter> filter) { filter_ = std::move(filter); }

    // Index handles opened on this table; closing the table closes them.
    std::vector<KDSHANDLE>& IndexHandles() { return indexHandles_; }

    // Checks the bookkeeping every call leaves behind (position, pending record, record locks)
    // where invariants are compiled in (engine/invariant.h); nothing elsewhere.
    void CheckState() const;

  private:
    enum class PendingKind { kNone, kAppend, kEdit };
    KCESTATUS LoadRecord(UNSIGNED32 recno, bool* exists);
    KCESTATUS BeginEdit();
    KCESTATUS MoveFrom(Order& order, UNSIGNED32 start, bool forward, bool inclusive,
                       UNSIGNED32* found);
    void SetEof();
    void SetBof();

    std::shared_ptr<Storage> storage_;
    std::string name_;
    UNSIGNED32 options_;
    UNSIGNED16 charType_;
    KDSHANDLE connection_;
    NaturalOrder natural_;

    bool eof_ = true;
    bool bof_ = true;
    bool deleted_ = false;
    UNSIGNED32 recno_ = 0;
    std::vector<uint8_t> image_;
    // Where a move reads the records it looks at; swapped with image_ when it lands.
    std::vector<uint8_t> readImage_;

    PendingKind pending_ = PendingKind::kNone;
    UNSIGNED32 pendingRecno_ = 0;
    std::vector<uint8_t> pendingImage_;
    // Where SetText converts a field (only that field's bytes are meaningful).
    std::vector<uint8_t> fieldScratch_;
    PendingBlobs pendingBlobs_;

    std::set<UNSIGNED32> locks_;
    std::shared_ptr<RecordFilter> filter_;
    std::vector<KDSHANDLE> indexHandles_;
};

// Resolves the object a table or index handle names (null when it names none) to its cursor and
// the order it moves in. Both live as long as the caller holds obj.
KCESTATUS ResolveCursor(KDSHANDLE handle, HandleObject* obj, TableCursor** cursor, Order** order);

}  // namespace kce
