#include "engine/index/index_order.h"

#include <cstring>

#include "engine/status.h"

namespace kce {

void IndexOrder::SetScope(int which, std::string key, std::string text) {
    if (which == 1) {
        hasTop_ = true;
        topKey_ = std::move(key);
        topText_ = std::move(text);
    } else {
        hasBottom_ = true;
        bottomKey_ = std::move(key);
        bottomText_ = std::move(text);
    }
}

bool IndexOrder::Scope(int which, std::string* text) const {
    if (which == 1 ? !hasTop_ : !hasBottom_) return false;
    *text = which == 1 ? topText_ : bottomText_;
    return true;
}

void IndexOrder::ClearScope(int which) {
    if (which == 1) {
        hasTop_ = false;
        topKey_.clear();
    } else {
        hasBottom_ = false;
        bottomKey_.clear();
    }
}

KeyRange IndexOrder::Range() const {
    KeyRange r;
    if (hasTop_ && !topKey_.empty()) {
        r.hasLo = true;
        r.lo = topKey_;
    }
    if (hasBottom_) {
        std::string hi = PrefixSuccessor(bottomKey_);
        if (!hi.empty()) {
            r.hasHi = true;
            r.hi = std::move(hi);
        }
    }
    return r;
}

KCESTATUS IndexOrder::Land(const KeyPos& pos, bool found, UNSIGNED32* recno) {
    if (!found) {
        *recno = 0;
        return KCE_SUCCESS;
    }
    Remember(pos);
    *recno = pos.recno;
    return KCE_SUCCESS;
}

KCESTATUS IndexOrder::First(TableCursor&, UNSIGNED32* recno) {
    KeyPos pos;
    bool found = false;
    if (KCESTATUS s = index_->Store().First(Range(), &pos, &found)) return s;
    return Land(pos, found, recno);
}

KCESTATUS IndexOrder::Last(TableCursor&, UNSIGNED32* recno) {
    KeyPos pos;
    bool found = false;
    if (KCESTATUS s = index_->Store().Last(Range(), &pos, &found)) return s;
    return Land(pos, found, recno);
}

KCESTATUS IndexOrder::PositionOf(TableCursor& cursor, UNSIGNED32 recno, KeyPos* pos, bool* found) {
    *found = false;
    Storage& storage = cursor.Store();
    std::vector<uint8_t> image(storage.Layout().recordLength);
    bool exists = false, deleted = false;
    if (KCESTATUS s = storage.ReadRecord(recno, image.data(), &exists, &deleted)) return s;
    if (!exists) return KCE_SUCCESS;
    return PositionOfImage(storage, recno, image.data(), deleted, pos, found);
}

KCESTATUS IndexOrder::PositionOfImage(Storage& storage, UNSIGNED32 recno, const uint8_t* image,
                                      bool deleted, KeyPos* pos, bool* found) {
    *found = false;
    bool included = false;
    std::string key;
    if (KCESTATUS s = index_->KeyOfImage(storage, recno, image, deleted, &key, &included)) return s;
    if (!included || !Range().Contains(key)) return KCE_SUCCESS;
    pos->key = std::move(key);
    pos->recno = recno;
    *found = true;
    return KCE_SUCCESS;
}

// Where a move from `from` starts: the position this order last answered when it is that
// record's and no key of the index moved since; otherwise the record's current key; for a record
// that is gone, the remembered position.
KCESTATUS StartOf(IndexOrder& order, TableCursor& cursor, UNSIGNED32 from, KeyPos* start,
                  bool* known) {
    if (order.haveLast_ && order.last_.recno == from &&
        order.lastChanges_ == order.index_->Changes()) {
        *start = order.last_;
        *known = true;
        return KCE_SUCCESS;
    }
    if (KCESTATUS s = order.PositionOf(cursor, from, start, known)) return s;
    if (!*known && order.haveLast_ && order.last_.recno == from) {
        *start = order.last_;
        *known = true;
    }
    return KCE_SUCCESS;
}

KCESTATUS IndexOrder::Next(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) {
    KeyPos start;
    bool known = false;
    if (KCESTATUS s = StartOf(*this, cursor, from, &start, &known)) return s;
    if (!known) return First(cursor, recno);
    KeyPos pos;
    bool found = false;
    if (KCESTATUS s = index_->Store().After(start, Range(), &pos, &found)) return s;
    return Land(pos, found, recno);
}

KCESTATUS IndexOrder::Prev(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) {
    KeyPos start;
    bool known = false;
    if (KCESTATUS s = StartOf(*this, cursor, from, &start, &known)) return s;
    if (!known) return Last(cursor, recno);
    KeyPos pos;
    bool found = false;
    if (KCESTATUS s = index_->Store().Before(start, Range(), &pos, &found)) return s;
    return Land(pos, found, recno);
}

KCESTATUS IndexOrder::InScope(TableCursor& cursor, UNSIGNED32 recno, const uint8_t* image,
                              bool deleted, bool* inside) {
    KeyPos pos;
    return PositionOfImage(cursor.Store(), recno, image, deleted, &pos, inside);
}

void IndexHandle::InitRawKey() {
    TableCursor& cursor = Cursor();
    scratch_.assign(cursor.Layout().recordLength, 0);
    cursor.Store().NullRecord(scratch_.data());
    setLength_.assign(order_->Index().Key().SegmentFields().size(), -1);
    building_ = true;
}

KCESTATUS IndexHandle::SetKeyField(int field, const uint8_t* bytes, UNSIGNED32 len, bool raw) {
    if (!building_) InitRawKey();
    const auto& segments = order_->Index().Key().SegmentFields();
    size_t segment = 0;
    while (segment < segments.size() && segments[segment] != field) ++segment;
    const FieldDesc& f = Cursor().Layout().fields[size_t(field)];
    if (segment == segments.size()) {
        return Fail(KCE_NOT_INDEX_FIELD, "field " + f.name + " in index " +
                                             order_->Index().Definition().name + " (key \"" +
                                             order_->Index().Definition().key + "\")");
    }
    if (len > f.length && (raw || f.type == KCE_STRING || f.type == KCE_RAW)) {
        return Fail(KCE_KEY_TOO_LONG, "field " + f.name + " of index " +
                                          order_->Index().Definition().name + " takes " +
                                          std::to_string(f.length) + " bytes, given " +
                                          std::to_string(len));
    }
    uint8_t* dest = scratch_.data() + f.offset;
    if (raw || f.type == KCE_STRING || f.type == KCE_RAW) {
        if (raw && len != f.length && f.type != KCE_STRING) {
            return Fail(KCE_INVALID_ARGUMENT, "raw value of field " + f.name + " must be " +
                                                  std::to_string(f.length) + " bytes, given " +
                                                  std::to_string(len));
        }
        std::memset(dest, f.type == KCE_STRING ? ' ' : 0, f.length);
        if (len) std::memcpy(dest, bytes, len);
    } else {
        std::string_view text(reinterpret_cast<const char*>(bytes), len);
        if (KCESTATUS s = Cursor().Store().FieldFromText(field, text, scratch_.data())) return s;
        len = f.length;
    }
    setLength_[segment] = f.type == KCE_STRING ? int(len) : int(f.length);
    return KCE_SUCCESS;
}

KCESTATUS IndexHandle::BuildRawKey(std::string* key) {
    if (!building_) InitRawKey();
    const IndexKey& k = order_->Index().Key();
    TableCursor& cursor = Cursor();
    ExprSchema schema = SchemaOfLayout(cursor.Layout());
    ImageRecord record(schema, scratch_.data(), scratch_.size());
    // The key is made of the leading segments that were set; a character segment given fewer
    // bytes than its width ends the key there, so that it matches as a prefix.
    int segments = 0;
    while (segments < int(setLength_.size()) && setLength_[size_t(segments)] >= 0) ++segments;
    int lastLength = -1;
    if (segments > 0) {
        const FieldDesc& f =
            cursor.Layout().fields[size_t(k.SegmentFields()[size_t(segments - 1)])];
        if (f.type == KCE_STRING && setLength_[size_t(segments - 1)] < int(f.length)) {
            lastLength = setLength_[size_t(segments - 1)];
        }
    }
    KCESTATUS s = k.PartialKeyOf(record, segments, lastLength, key);
    building_ = false;
    return s;
}

}  // namespace kce
