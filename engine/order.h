// How a cursor walks records: an Order answers record numbers in its sequence, a RecordFilter
// accepts or rejects a record.
//
// A table handle walks its storage in record-number order (NaturalOrder, cursor.cpp). An index
// handle (index layer) owns its own Order over the same cursor; KdsSkip on the index handle moves
// the table's cursor by asking that Order. An Order belongs to one handle and may keep position
// state between calls (a current key, for instance); the cursor tells it where it stands through
// `from`, which may be a record that has just been deleted.
//
// Answers: *recno = 0 means "no record there" (end of the order, or outside its scope). The
// cursor itself skips records that are hidden (deleted) or rejected by its filter, by calling
// Next/Prev again from the rejected record.
#pragma once

#include <cstdint>

#include "engine/kce.h"

namespace kce {

class TableCursor;
struct RecordLayout;
class Storage;

class Order {
  public:
    virtual ~Order() = default;
    virtual KCESTATUS First(TableCursor& cursor, UNSIGNED32* recno) = 0;
    virtual KCESTATUS Last(TableCursor& cursor, UNSIGNED32* recno) = 0;
    virtual KCESTATUS Next(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) = 0;
    virtual KCESTATUS Prev(TableCursor& cursor, UNSIGNED32 from, UNSIGNED32* recno) = 0;
    // Whether record recno, whose image the cursor holds, lies inside the order's scope (an index
    // without scope answers true).
    virtual KCESTATUS InScope(TableCursor& cursor, UNSIGNED32 recno, const uint8_t* image,
                              bool deleted, bool* inside) {
        (void)cursor;
        (void)recno;
        (void)image;
        (void)deleted;
        *inside = true;
        return KCE_SUCCESS;
    }
};

// The record a filter looks at.
struct RecordView {
    const RecordLayout& layout;
    const uint8_t* image;
    UNSIGNED32 recno;
    bool deleted;
    Storage& storage;  // for memo/blob values
};

class RecordFilter {
  public:
    virtual ~RecordFilter() = default;
    virtual KCESTATUS Accepts(const RecordView& record, bool* accepted) = 0;
    // A filter that knows which records can pass (an index served it) narrows a walk in
    // record-number order: *recno the first candidate after `from` (forward; from 0: the first)
    // or before it (from 0: the last), 0 when none, and *narrowed true. A filter that cannot
    // narrow answers *narrowed false and the cursor takes every record in turn. Candidates still
    // go through Accepts.
    virtual KCESTATUS NextCandidate(Storage& storage, UNSIGNED32 from, bool forward,
                                    UNSIGNED32* recno, bool* narrowed) {
        (void)storage;
        (void)from;
        (void)forward;
        *recno = 0;
        *narrowed = false;
        return KCE_SUCCESS;
    }
};

}  // namespace kce
