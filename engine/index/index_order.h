// An index handle: the order of one index over a table cursor, with its scopes and the raw key
// being built for a seek.
//
// Scopes restrict the order to a key range: the top scope is the least key shown, the bottom
// scope the greatest, both matched as prefixes (a bottom scope "SMI" admits "SMITH"). A record
// outside the scopes, or left out by the index's condition, is not in the order at all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/cursor.h"
#include "engine/index/table_indexes.h"

namespace kce {

class IndexOrder : public Order {
  public:
    explicit IndexOrder(std::shared_ptr<NativeIndex> index) : index_(std::move(index)) {}

    KCESTATUS First(TableCursor& cursor, UNSIGNED32* recno) override;
    KCESTATUS Last(TableCursor& cursor, UNSIGNED32* recno) override;
    KCESTATUS Next(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) override;
    KCESTATUS Prev(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) override;
    KCESTATUS InScope(TableCursor& cursor, UNSIGNED32 recno, const uint8_t* image, bool deleted,
                      bool* inside) override;

    NativeIndex& Index() { return *index_; }
    const std::shared_ptr<NativeIndex>& SharedIndex() const { return index_; }

    // Scopes: 1 top, 2 bottom. The key is already encoded (raw key or converted string key);
    // text is what the caller gave, answered by Scope().
    void SetScope(int which, std::string key, std::string text);
    // False when that scope is not set.
    bool Scope(int which, std::string* text) const;
    void ClearScope(int which);
    KeyRange Range() const;

    // Where the record stands in this index; *found false when it is not in it (gone, left out
    // by the condition or the scopes).
    KCESTATUS PositionOf(TableCursor& cursor, UNSIGNED32 recno, KeyPos* pos, bool* found);
    // Remembers the position the cursor was put on, so that the next move starts there even if
    // the record changes meanwhile.
    void Remember(const KeyPos& pos) {
        last_ = pos;
        haveLast_ = true;
        lastChanges_ = index_->Changes();
    }

  private:
    // PositionOf for a record whose image is at hand.
    KCESTATUS PositionOfImage(Storage& storage, UNSIGNED32 recno, const uint8_t* image,
                              bool deleted, KeyPos* pos, bool* found);
    KCESTATUS Land(const KeyPos& pos, bool found, UNSIGNED32* recno);

    std::shared_ptr<NativeIndex> index_;
    bool hasTop_ = false, hasBottom_ = false;
    std::string topKey_, bottomKey_, topText_, bottomText_;
    KeyPos last_;
    bool haveLast_ = false;
    uint64_t lastChanges_ = 0;
    friend KCESTATUS StartOf(IndexOrder&, TableCursor&, UNSIGNED32, KeyPos*, bool*);
};

// Where a move from `from` starts (index_order.cpp).
KCESTATUS StartOf(IndexOrder& order, TableCursor& cursor, UNSIGNED32 from, KeyPos* start,
                  bool* known);

class IndexHandle : public OrderHandle {
  public:
    IndexHandle(std::shared_ptr<TableCursor> cursor, std::shared_ptr<IndexOrder> order)
        : OrderHandle(cursor, order), cursorRef_(std::move(cursor)), order_(std::move(order)) {}

    IndexOrder& Index() { return *order_; }
    const std::shared_ptr<TableCursor>& CursorRef() const { return cursorRef_; }

    // Raw key building (KdsInitRawKey, KdsSetField on the index handle, KdsBuildRawKey).
    void InitRawKey();
    bool BuildingKey() const { return building_; }
    // Sets a segment field from its raw image bytes (raw) or its text form.
    KCESTATUS SetKeyField(int field, const uint8_t* bytes, UNSIGNED32 len, bool raw);
    KCESTATUS BuildRawKey(std::string* key);

  private:
    std::shared_ptr<TableCursor> cursorRef_;
    std::shared_ptr<IndexOrder> order_;
    bool building_ = false;
    std::vector<uint8_t> scratch_;
    std::vector<int> setLength_;  // per segment: -1 not set, else the bytes given
};

}  // namespace kce
